#include "monitor/monitor_record.h"

#include "auxinputs/aux_inputs.h"
#include "monitor/conversions.h"

#include <cmath>
#include <cstdio>
#include <numeric>

namespace kv {

int RecordLayout::RecordSize() const { return std::accumulate(sizes.begin(), sizes.end(), 0); }

void RecordLayout::AppendAuxInputs(const AuxInputs& aux) {
    for (int n = 1; n <= 4; ++n) {
        if (!aux.IsAuxEnabled(n)) continue;
        Add(AuxInputs::GetAuxAddress(n), 2);
        auxInputs.push_back(n);
    }
}

RecordFields::RecordFields(const RecordLayout& layout, const std::vector<std::uint8_t>& record) : layout_(layout) {
    int offset = 0;
    for (int size : layout.sizes) {
        offsets_.push_back(offset);
        offset += size;
    }
    valid_ = !layout.sizes.empty() && static_cast<int>(record.size()) >= offset && record[0] != 0;
    if (valid_) bytes_.assign(record.begin(), record.begin() + offset);
}

int RecordFields::Byte(int field, int k) const {
    if (!valid_ || field < 0 || field >= layout_.FieldCount() || k < 0 || k >= layout_.sizes[field]) return 0;
    return bytes_[offsets_[field] + k];
}

std::int64_t RecordFields::LowFirst(int field) const {
    if (field < 0 || field >= layout_.FieldCount()) return 0;
    std::int64_t v = 0;
    for (int k = layout_.sizes[field] - 1; k >= 0; --k) v = v * 256 + Byte(field, k);
    return v;
}

std::int64_t RecordFields::Ram(int field, bool ramByteOrderFlag) const {
    if (field < 0 || field >= layout_.FieldCount()) return 0;
    switch (layout_.sizes[field]) {
    case 1: return Byte(field);
    case 2: return conv::CombineWord(Byte(field, 0), Byte(field, 1), ramByteOrderFlag);
    case 3: return conv::CombineTriple(Byte(field, 0), Byte(field, 1), Byte(field, 2), ramByteOrderFlag);
    default: return LowFirst(field);
    }
}

namespace {

std::string_view Section(std::string_view format, int index) {
    for (int i = 0; i < index; ++i) {
        auto semi = format.find(';');
        if (semi == std::string_view::npos) return {};
        format.remove_prefix(semi + 1);
    }
    return format.substr(0, format.find(';'));
}

int SectionCount(std::string_view format) {
    int n = 1;
    for (char c : format) n += c == ';';
    return n;
}

int Decimals(std::string_view section) {
    auto dot = section.find('.');
    return dot == std::string_view::npos ? 0 : static_cast<int>(section.size() - dot - 1);
}

// Literal prefix, then the magnitude with the section's decimals.
std::string FormatSection(double magnitude, std::string_view section) {
    std::string prefix;
    std::size_t i = 0;
    while (i < section.size() && section[i] != '0' && section[i] != '#') prefix += section[i++];
    return prefix + conv::FormatFixed(magnitude, Decimals(section.substr(i)));
}

} // namespace

std::string FormatNumber(double value, std::string_view format) {
    if (!std::isfinite(value)) value = 0.0;
    const int sections = SectionCount(format);
    std::string_view positive = Section(format, 0);
    const bool roundsToZero =
        conv::FormatFixed(std::fabs(value), Decimals(positive)).find_first_not_of("0.") == std::string::npos;
    if (roundsToZero) {
        if (sections >= 3) return FormatSection(0.0, Section(format, 2));
        return FormatSection(0.0, positive);
    }
    if (value < 0) {
        if (sections >= 2) return FormatSection(-value, Section(format, 1));
        return "-" + FormatSection(-value, positive);
    }
    return FormatSection(value, positive);
}

std::vector<AuxReading> ReadAuxFields(const RecordLayout& layout, const RecordFields& fields, int firstAuxField,
                                      const AuxInputs& aux, bool ramOrder, bool ramByteOrderFlag) {
    std::vector<AuxReading> out;
    for (std::size_t i = 0; i < layout.auxInputs.size(); ++i) {
        const int n = layout.auxInputs[i];
        const int field = firstAuxField + static_cast<int>(i);
        AuxReading r{n, aux.GetAuxDisplayName(n), kNoData};
        if (fields.Valid()) {
            const double raw =
                static_cast<double>(ramOrder ? fields.Ram(field, ramByteOrderFlag) : fields.LowFirst(field));
            r.text = aux.FormatAuxWithUnit(n, raw);
        }
        out.push_back(std::move(r));
    }
    return out;
}

int NextMonitorInterval(double elapsedMs) { return conv::NextTimerInterval(elapsedMs / 1000.0, 0.1); }

int ThrottleFromSwitchInputs(std::int64_t idleRaw, std::int64_t fullLoadRaw) {
    const bool idle = idleRaw < 32768;
    const bool full = fullLoadRaw < 32768;
    if (idle && full) return kNoItem;
    if (idle) return 0;
    if (full) return 2;
    return 1;
}

} // namespace kv
