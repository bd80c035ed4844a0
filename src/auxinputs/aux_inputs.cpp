#include "auxinputs/aux_inputs.h"

#include "auxinputs/aux_law_grid.h"
#include "monitor/conversions.h"
#include "platform/settings_store.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <map>

namespace kv {

namespace {

constexpr double kRawPerVolt = 65536.0 / 5.0;

bool ValidInput(int n) { return n >= 1 && n <= kAuxInputCount; }

std::string Trim(const std::string& s) {
    const char* ws = " \t\r\n";
    auto b = s.find_first_not_of(ws);
    if (b == std::string::npos) return {};
    auto e = s.find_last_not_of(ws);
    return s.substr(b, e - b + 1);
}

// The leading number of a text; 0 when there is none or it is not finite.
double ReadNumber(const std::string& text) {
    std::string t = Trim(text);
    if (!t.empty() && t[0] == '+') t.erase(0, 1);
    double v = 0.0;
    auto r = std::from_chars(t.data(), t.data() + t.size(), v);
    if (r.ec != std::errc() || !std::isfinite(v)) return 0.0;
    return v;
}

std::vector<double> ReadList(const std::string& text) {
    std::vector<double> out;
    std::size_t start = 0;
    for (;;) {
        auto bar = text.find('|', start);
        out.push_back(ReadNumber(text.substr(start, bar == std::string::npos ? std::string::npos : bar - start)));
        if (bar == std::string::npos) break;
        start = bar + 1;
    }
    return out;
}

std::string WriteList(const std::vector<double>& values) {
    std::string out;
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i) out += '|';
        out += AuxNumberText(values[i]);
    }
    return out;
}

void AppendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Decodes one UTF-8 sequence at s[i]; a malformed byte stands for itself (Latin-1).
std::uint32_t NextCodePoint(const std::string& s, std::size_t& i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    const std::size_t extra = c >= 0xF0 && c <= 0xF4 ? 3 : c >= 0xE0 && c < 0xF0 ? 2 : c >= 0xC2 && c < 0xE0 ? 1 : 0;
    if (extra == 0 || i + extra >= s.size()) {
        ++i;
        return c;
    }
    std::uint32_t cp = c & (0x3F >> extra);
    for (std::size_t k = 1; k <= extra; ++k) {
        const unsigned char cc = static_cast<unsigned char>(s[i + k]);
        if ((cc & 0xC0) != 0x80) {
            ++i;
            return c;
        }
        cp = (cp << 6) | (cc & 0x3F);
    }
    static constexpr std::uint32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kMinimum[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++i;
        return c;
    }
    i += extra + 1;
    return cp;
}

void AppendEscape(std::string& out, std::uint32_t unit) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%%%04X", static_cast<unsigned>(unit & 0xFFFF));
    out += buf;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The code unit of "%XXXX" at text[i], or -1.
long EscapeAt(const std::string& text, std::size_t i) {
    if (i + 4 >= text.size() || text[i] != '%') return -1;
    long v = 0;
    for (std::size_t k = 1; k <= 4; ++k) {
        int h = HexValue(text[i + k]);
        if (h < 0) return -1;
        v = v * 16 + h;
    }
    return v;
}

} // namespace

std::string EscapeAuxText(const std::string& text) {
    std::string out;
    std::size_t i = 0;
    while (i < text.size()) {
        std::uint32_t cp = NextCodePoint(text, i);
        if (cp >= 32 && cp <= 126 && cp != ';' && cp != '=' && cp != '%') {
            out += static_cast<char>(cp);
        } else if (cp > 0xFFFF) {
            std::uint32_t v = cp - 0x10000;
            AppendEscape(out, 0xD800 + (v >> 10));
            AppendEscape(out, 0xDC00 + (v & 0x3FF));
        } else {
            AppendEscape(out, cp);
        }
    }
    return out;
}

std::string UnescapeAuxText(const std::string& text) {
    std::string out;
    std::size_t i = 0;
    while (i < text.size()) {
        long unit = EscapeAt(text, i);
        if (unit < 0) {
            out += text[i++];
            continue;
        }
        i += 5;
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            long low = EscapeAt(text, i);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                i += 5;
                AppendUtf8(out, 0x10000 + ((static_cast<std::uint32_t>(unit) - 0xD800) << 10) +
                                    (static_cast<std::uint32_t>(low) - 0xDC00));
                continue;
            }
            AppendUtf8(out, 0xFFFD);
        } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
            AppendUtf8(out, 0xFFFD);
        } else {
            AppendUtf8(out, static_cast<std::uint32_t>(unit));
        }
    }
    return out;
}

std::string FormatFixed(double value, int decimals) {
    decimals = std::clamp(decimals, 0, 15);
    if (!std::isfinite(value)) value = 0.0;
    char buf[512];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, value);
    std::string s = buf;
    if (!s.empty() && s[0] == '-' && s.find_first_not_of("-0.") == std::string::npos) s.erase(0, 1);
    return s;
}

AuxInputRecord DefaultAuxRecord(int n) {
    AuxInputRecord r;
    if (n == kWbo2Input) {
        r.lawIn = {0.0, 5.0};
        r.lawInRaw = {0.0, 5.0 * kRawPerVolt};
        r.lawOut = {9.0, 19.0};
        r.lawDefault = false;
    }
    return r;
}

std::string EncodeAuxSetting(const AuxInputRecord& r) {
    std::string out;
    out += "Name=" + EscapeAuxText(r.name) + ";";
    out += std::string("Enabled=") + (r.enabled ? "1" : "0") + ";";
    out += "Unit=" + EscapeAuxText(r.unit) + ";";
    out += "Dec=" + std::to_string(r.decimals) + ";";
    out += "Filter=" + std::to_string(r.filter) + ";";
    out += "LawIn=" + WriteList(r.lawIn) + ";";
    out += "LawOut=" + WriteList(r.lawOut) + ";";
    return out;
}

AuxInputRecord DecodeAuxSetting(int n, const std::string& text) {
    // Field name -> value; the first occurrence of a name counts.
    std::map<std::string, std::string> fields;
    std::size_t start = 0;
    while (start < text.size()) {
        auto semi = text.find(';', start);
        std::string item = text.substr(start, semi == std::string::npos ? std::string::npos : semi - start);
        auto eq = item.find('=');
        if (eq != std::string::npos) fields.emplace(Trim(item.substr(0, eq)), item.substr(eq + 1));
        if (semi == std::string::npos) break;
        start = semi + 1;
    }
    auto field = [&](const char* name) -> const std::string* {
        auto it = fields.find(name);
        return it == fields.end() ? nullptr : &it->second;
    };

    AuxInputRecord r = DefaultAuxRecord(n);
    if (auto v = field("Name")) r.name = UnescapeAuxText(*v);
    if (auto v = field("Enabled")) r.enabled = ReadNumber(*v) != 0.0;
    if (auto v = field("Unit")) r.unit = UnescapeAuxText(*v);
    if (auto v = field("Dec")) r.decimals = static_cast<int>(std::clamp(ReadNumber(*v), 0.0, double(kAuxMaxDecimals)));
    if (auto v = field("Filter")) r.filter = static_cast<int>(std::clamp(ReadNumber(*v), 0.0, double(kAuxMaxFilter)));

    auto lawIn = field("LawIn");
    auto lawOut = field("LawOut");
    if (lawIn && lawOut && !Trim(*lawIn).empty() && !Trim(*lawOut).empty()) {
        std::vector<double> in = ReadList(*lawIn);
        std::vector<double> out = ReadList(*lawOut);
        if (in.size() == out.size()) {
            // Rebuild through the insertion rule so the law is ascending with unique voltages.
            AuxInputs scratch;
            AuxInputRecord law;
            law.lawIn = {in[0]};
            law.lawInRaw = {in[0] * kRawPerVolt};
            law.lawOut = {out[0]};
            law.lawDefault = false;
            scratch.SetRecord(1, law);
            for (std::size_t i = 1; i < in.size(); ++i) scratch.AddAuxLawPoint(1, in[i], out[i]);
            const AuxInputRecord& built = scratch.Record(1);
            r.lawIn = built.lawIn;
            r.lawInRaw = built.lawInRaw;
            r.lawOut = built.lawOut;
            r.lawDefault = false;
        }
    }
    return r;
}

AuxInputs::AuxInputs(AuxDevice* device) : device_(device) {
    for (int n = 1; n <= kAuxInputCount; ++n) records_[n - 1] = DefaultAuxRecord(n);
}

AuxInputRecord* AuxInputs::Rec(int n) { return ValidInput(n) ? &records_[n - 1] : nullptr; }

const AuxInputRecord& AuxInputs::Record(int n) const {
    static const AuxInputRecord kNone{};
    return ValidInput(n) ? records_[n - 1] : kNone;
}

void AuxInputs::SetRecord(int n, const AuxInputRecord& record) {
    if (auto r = Rec(n)) {
        *r = record;
        if (r->lawIn.empty() || r->lawIn.size() != r->lawOut.size()) {
            AuxInputRecord d = DefaultAuxRecord(0);
            r->lawIn = d.lawIn;
            r->lawOut = d.lawOut;
            r->lawDefault = true;
        }
        r->lawInRaw.resize(r->lawIn.size());
        for (std::size_t i = 0; i < r->lawIn.size(); ++i) r->lawInRaw[i] = r->lawIn[i] * kRawPerVolt;
    }
}

void AuxInputs::LoadAuxInputs(SettingsStore& settings) {
    for (int n = 1; n <= kAuxInputCount; ++n)
        records_[n - 1] = DecodeAuxSetting(n, settings.GetSetting(kAuxSettingsSection, std::to_string(n)));
    if (device_)
        for (int n = 1; n <= kAuxInputCount; ++n) device_->SetAuxInputFilter(GetAuxChannel(n), records_[n - 1].filter);
}

void AuxInputs::SaveAuxInputs(SettingsStore& settings, int n) const {
    if (!ValidInput(n)) return;
    settings.SaveSetting(kAuxSettingsSection, std::to_string(n), EncodeAuxSetting(records_[n - 1]));
}

bool AuxInputs::SendAllAuxFilters() {
    if (!device_) return false;
    bool ok = true;
    for (int n = 1; n <= 4; ++n) ok = device_->SetAuxInputFilter(GetAuxChannel(n), records_[n - 1].filter) && ok;
    return ok;
}

std::string AuxInputs::GetAuxName(int n) const { return Record(n).name; }
void AuxInputs::SetAuxName(int n, const std::string& name) {
    if (auto r = Rec(n)) r->name = name;
}
bool AuxInputs::IsAuxEnabled(int n) const { return Record(n).enabled; }
void AuxInputs::SetAuxEnabled(int n, bool enabled) {
    if (auto r = Rec(n)) r->enabled = enabled;
}
std::string AuxInputs::GetAuxUnit(int n) const { return Record(n).unit; }
void AuxInputs::SetAuxUnit(int n, const std::string& unit) {
    if (auto r = Rec(n)) r->unit = unit;
}
int AuxInputs::GetAuxDecimals(int n) const { return Record(n).decimals; }
void AuxInputs::SetAuxDecimals(int n, int decimals) {
    if (auto r = Rec(n)) r->decimals = std::clamp(decimals, 0, kAuxMaxDecimals);
}
int AuxInputs::GetAuxFilter(int n) const { return Record(n).filter; }
void AuxInputs::SetAuxFilter(int n, int filter) {
    auto r = Rec(n);
    if (!r) return;
    r->filter = std::clamp(filter, 0, kAuxMaxFilter);
    if (device_) device_->SetAuxInputFilter(GetAuxChannel(n), r->filter);
}

std::string AuxInputs::GetAuxDisplayName(int n) const {
    std::string suffix = "(aux " + std::to_string(n) + ")";
    const AuxInputRecord& r = Record(n);
    if (ValidInput(n) && r.enabled && !Trim(r.name).empty()) return r.name + " " + suffix;
    return suffix;
}

int AuxInputs::GetAuxLawSize(int n) const { return ValidInput(n) ? static_cast<int>(Record(n).lawIn.size()) : 0; }

double AuxInputs::GetAuxLawIn(int n, int i) const {
    const auto& v = Record(n).lawIn;
    return ValidInput(n) && i >= 0 && i < static_cast<int>(v.size()) ? v[i] : 0.0;
}
double AuxInputs::GetAuxLawOut(int n, int i) const {
    const auto& v = Record(n).lawOut;
    return ValidInput(n) && i >= 0 && i < static_cast<int>(v.size()) ? v[i] : 0.0;
}
bool AuxInputs::IsAuxLawDefault(int n) const { return ValidInput(n) && Record(n).lawDefault; }

void AuxInputs::SetAuxLawIn(int n, int i, double volts) {
    auto r = Rec(n);
    if (!r || i < 0 || i >= static_cast<int>(r->lawIn.size())) return;
    r->lawIn[i] = volts;
    r->lawInRaw[i] = volts * kRawPerVolt;
}

void AuxInputs::SetAuxLawOut(int n, int i, double value) {
    auto r = Rec(n);
    if (!r || i < 0 || i >= static_cast<int>(r->lawOut.size())) return;
    r->lawOut[i] = value;
}

void AuxInputs::ResizeAuxLaw(int n, int size) {
    auto r = Rec(n);
    if (!r) return;
    if (size < 1) {
        r->lawIn = {0.0};
        r->lawInRaw = {0.0};
        r->lawOut = {0.0};
        r->lawDefault = true;
        return;
    }
    r->lawIn.resize(size, 0.0);
    r->lawInRaw.resize(size, 0.0);
    r->lawOut.resize(size, 0.0);
}

void AuxInputs::AddAuxLawPoint(int n, double volts, double value) {
    auto r = Rec(n);
    if (!r) return;
    if (r->lawDefault) {
        r->lawDefault = false;
        ResizeAuxLaw(n, 1);
        SetAuxLawIn(n, 0, volts);
        SetAuxLawOut(n, 0, value);
        return;
    }
    const int size = GetAuxLawSize(n);
    for (int i = 0; i < size; ++i) {
        if (r->lawIn[i] == volts) {
            SetAuxLawOut(n, i, value);
            return;
        }
    }
    int at = size;
    for (int i = 0; i < size; ++i) {
        if (r->lawIn[i] > volts) {
            at = i;
            break;
        }
    }
    ResizeAuxLaw(n, size + 1);
    for (int i = size; i > at; --i) {
        SetAuxLawIn(n, i, r->lawIn[i - 1]);
        SetAuxLawOut(n, i, r->lawOut[i - 1]);
    }
    SetAuxLawIn(n, at, volts);
    SetAuxLawOut(n, at, value);
}

void AuxInputs::RemoveAuxLawPoint(int n, int i) {
    auto r = Rec(n);
    const int size = GetAuxLawSize(n);
    if (!r || i < 0 || i >= size) return;
    if (size == 1) {
        ResizeAuxLaw(n, 0);
        return;
    }
    for (int k = i; k < size - 1; ++k) {
        SetAuxLawIn(n, k, r->lawIn[k + 1]);
        SetAuxLawOut(n, k, r->lawOut[k + 1]);
    }
    ResizeAuxLaw(n, size - 1);
}

int AuxInputs::GetAuxChannel(int n) {
    static constexpr int kChannels[] = {2, 3, 4, 5, 0};
    return ValidInput(n) ? kChannels[n - 1] : -1;
}

int AuxInputs::GetAuxAddress(int n) {
    static constexpr int kAddresses[] = {5, 6, 7, 8, 11};
    return ValidInput(n) ? kAddresses[n - 1] : -1;
}

double AuxInputs::ConvertAux(int n, double raw) const {
    if (!ValidInput(n)) return 0.0;
    const AuxInputRecord& r = Record(n);
    return conv::Interpolate(r.lawInRaw, r.lawOut, raw);
}

std::string AuxInputs::FormatAux(int n, double raw) const { return FormatFixed(ConvertAux(n, raw), GetAuxDecimals(n)); }

std::string AuxInputs::FormatAuxWithUnit(int n, double raw) const {
    std::string s = FormatAux(n, raw);
    std::string unit = GetAuxUnit(n);
    if (!unit.empty()) s += " " + unit;
    return s;
}

bool AuxInputs::AtLawEnd(int n, double raw) const {
    if (!ValidInput(n)) return true;
    const AuxInputRecord& r = Record(n);
    if (r.lawInRaw.size() < 2) return true;
    return raw <= r.lawInRaw.front() + 1.0 || raw >= r.lawInRaw.back() - 1.0;
}

float AuxInputs::AfrFromAux(double raw) const { return static_cast<float>(ConvertAux(kWbo2Input, raw)); }

float AuxInputs::EquivalenceRatioFromAux(double raw) const {
    float afr = AfrFromAux(raw);
    return afr == 0.0f ? 0.0f : static_cast<float>(14.7 / afr);
}

} // namespace kv
