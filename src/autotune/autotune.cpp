#include "autotune/autotune.h"

#include "eprom/edit_step.h"
#include "eprom/eprom_image.h"
#include "maps/blend_shares.h"
#include "maps/map_trace.h"
#include "maps/table_editor.h"
#include "monitor/conversions.h"
#include "platform/messages.h"
#include "platform/settings_store.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace kv {

namespace {

constexpr std::uint32_t Rgb(std::uint32_t r, std::uint32_t g, std::uint32_t b) { return r | (g << 8) | (b << 16); }

constexpr std::array<std::string_view, 4> kBaseFuelMaps{"Base fuel map (non-cat)", "Base fuel map (cat)",
                                                        "Base fuel map ", "Base fuel map"};
constexpr std::string_view kCatMap = "Base fuel map (cat)";
constexpr std::array<const char*, kAutotuneZoneCount> kDefaultTargets{"14.7", "14.7", "12.0"};
constexpr const char* kDefaultError = "0.1";
constexpr const char* kStoichiometric = "14.7";

// Parameter entries of the LH 2.3 image: the configuration byte and the word that points the
// unit to the map it runs.
constexpr int kConfigEntry = 9;
constexpr int kMapPointerEntry = 16;
constexpr int kCatMapId = 1;
// LH 2.2: the entry whose two bytes switch the oxygen-sensor loop.
constexpr int kO2LoopEntry = 52;

// The number at the start of a filtered text; 0 when there is none.
double LeadingNumber(std::string_view text) {
    const std::string s(text);
    char* end = nullptr;
    const double v = std::strtod(s.c_str(), &end);
    return end == s.c_str() || !std::isfinite(v) ? 0.0 : v;
}

// How far past either end of an axis a value lies, in that end's step (0 within the axis).
float BeyondEnds(const std::vector<std::int32_t>& p, double v) {
    if (p.size() < 2) return 0.0f;
    const std::size_t n = p.size() - 1;
    const bool ascending = p[0] <= p[n];
    const double first = p[0], second = p[1], last = p[n], beforeLast = p[n - 1];
    const double before = ascending ? first - v : v - first;
    const double after = ascending ? v - last : last - v;
    if (before > 0 && first != second) return static_cast<float>(before / std::abs(second - first));
    if (after > 0 && last != beforeLast) return static_cast<float>(after / std::abs(last - beforeLast));
    return 0.0f;
}

} // namespace

std::uint32_t CellStateColour(CellState state) {
    switch (state) {
    case CellState::NotVisited: return Rgb(255, 255, 255);
    case CellState::Tuned: return Rgb(0, 255, 0);
    case CellState::Rich: return Rgb(255, 255, 0);
    case CellState::Lean: return Rgb(255, 0, 0);
    case CellState::Forbidden: return Rgb(208, 208, 208);
    }
    return Rgb(255, 255, 255);
}

std::optional<CellState> CellStateOfColour(std::uint32_t colour) {
    for (CellState s :
         {CellState::NotVisited, CellState::Tuned, CellState::Rich, CellState::Lean, CellState::Forbidden})
        if (CellStateColour(s) == colour) return s;
    return std::nullopt;
}

std::string KeepNumberCharacters(std::string_view text) {
    std::string out;
    for (char c : text)
        if ((c >= '0' && c <= '9') || c == '.') out += c;
    return out;
}

AutotuneBand ClampBand(std::string_view targetText, std::string_view errorText) {
    AutotuneBand b;
    b.target = std::clamp(static_cast<float>(LeadingNumber(KeepNumberCharacters(targetText))), 9.0f, 17.0f);
    float e = static_cast<float>(LeadingNumber(KeepNumberCharacters(errorText)));
    if (e == 0.0f)
        e = 0.1f;
    else if (e < 0.05f)
        e = 0.05f;
    else if (e > 1.0f)
        e = 1.0f;
    b.error = e;
    b.low = b.target - b.error;
    b.high = b.target + b.error;
    return b;
}

AutotuneSampleData AutotuneSampleFromTrace(const TraceSample& trace) {
    AutotuneSampleData s;
    s.x = trace.rpmValue;
    s.y = trace.loadValue;
    s.afr = trace.afrValue;
    s.zone = trace.throttle;
    s.transient = trace.transient;
    s.rpm = trace.rpm;
    s.coolantC = trace.coolantC;
    s.afrAtLawEnd = trace.afrAtLawEnd;
    return s;
}

std::string BandText(float value) {
    // The shortest text of the single value, with at least one decimal.
    for (int decimals = 1; decimals <= 7; ++decimals) {
        const std::string t = conv::FormatFixed(value, decimals, 7);
        if (static_cast<float>(std::strtod(t.c_str(), nullptr)) == value) return t;
    }
    return conv::FormatFixed(value, 7, 7);
}

Autotune::Autotune(UserMessages& messages, SettingsStore& settings, AutotuneHost& host)
    : messages_(messages), settings_(settings), host_(host) {
    LoadSettings();
}

std::size_t Autotune::Index(int zone) { return static_cast<std::size_t>(std::clamp(zone, 0, kAutotuneZoneCount - 1)); }

void Autotune::LoadSettings() {
    for (std::size_t i = 0; i < kAutotuneZoneCount; ++i) {
        const std::string n = std::to_string(i);
        target_[i] =
            KeepNumberCharacters(settings_.GetSetting(kAutotuneSettingsSection, "TargetAFR_" + n, kDefaultTargets[i]));
        error_[i] =
            KeepNumberCharacters(settings_.GetSetting(kAutotuneSettingsSection, "TargetAFRError_" + n, kDefaultError));
        const std::string on = settings_.GetSetting(kAutotuneSettingsSection, "Enable_" + n, "1");
        enabled_[i] = std::atoi(on.c_str()) != 0;
    }
    const std::string warm = KeepNumberCharacters(settings_.GetSetting(kAutotuneSettingsSection, kWarmEngineKey, ""));
    warmEngineC_ = warm.empty() ? kDefaultWarmEngineC : LeadingNumber(warm);
}

void Autotune::SaveSettings() {
    for (std::size_t i = 0; i < kAutotuneZoneCount; ++i) {
        const std::string n = std::to_string(i);
        settings_.SaveSetting(kAutotuneSettingsSection, "TargetAFR_" + n, target_[i]);
        settings_.SaveSetting(kAutotuneSettingsSection, "TargetAFRError_" + n, error_[i]);
        settings_.SaveSetting(kAutotuneSettingsSection, "Enable_" + n, enabled_[i] ? "1" : "0");
    }
}

bool Autotune::CatMap() const { return mapName_ == kCatMap; }

bool Autotune::Open(TableEditor& editor, EPROM& image, std::string_view mapName) {
    if (std::find(kBaseFuelMaps.begin(), kBaseFuelMaps.end(), mapName) == kBaseFuelMaps.end()) {
        messages_.MessageBox("Only the base fuel maps can be auto-tuned.", "Kestrovane", MsgButtons::OK,
                             MsgIcon::Information);
        return false;
    }
    editor_ = &editor;
    image_ = &image;
    mapName_ = std::string(mapName);
    dropped_ = {};
    judgedZone_.assign(
        static_cast<std::size_t>(editor.GetYAxisSize()) * static_cast<std::size_t>(editor.GetXAxisSize()), -1);
    LoadSettings();
    if (CatMap()) {
        // The cat map runs with the oxygen sensor in closed loop at idle and cruise: those zones
        // are tuned to a stoichiometric mixture.
        for (std::size_t i = 0; i < 2; ++i) {
            target_[i] = kStoichiometric;
            error_[i] = kDefaultError;
        }
    }
    host_.SetMapSelectorEnabled(false);
    return true;
}

bool Autotune::TargetBoxEnabled(int zone) const {
    if (running_) return false;
    return !(CatMap() && zone != static_cast<int>(AutotuneZone::Wot));
}

bool Autotune::ErrorBoxEnabled(int zone) const { return TargetBoxEnabled(zone); }

std::string Autotune::StartStopCaption() const { return running_ ? "&Stop auto-tune" : "&Start auto-tune"; }

void Autotune::SetTargetText(int zone, std::string_view text) {
    if (TargetBoxEnabled(zone)) target_[Index(zone)] = KeepNumberCharacters(text);
}

void Autotune::SetErrorText(int zone, std::string_view text) {
    if (ErrorBoxEnabled(zone)) error_[Index(zone)] = KeepNumberCharacters(text);
}

void Autotune::SetEnabled(int zone, bool on) { enabled_[Index(zone)] = on; }

void Autotune::StartStop() {
    if (running_)
        Stop();
    else
        Start();
}

bool Autotune::Start() {
    if (!IsOpen() || running_) return false;
    if (!host_.FuelMapTabSelected()) {
        messages_.MessageBox("Please go to the Fuel map tab before starting auto tune.", "Kestrovane", MsgButtons::OK,
                             MsgIcon::Information);
        return false;
    }
    for (std::size_t i = 0; i < kAutotuneZoneCount; ++i) {
        band_[i] = ClampBand(target_[i], error_[i]);
        target_[i] = BandText(band_[i].target);
        error_[i] = BandText(band_[i].error);
    }
    // The corrections of the run are one undo step; the unit's settings that the run switches
    // and puts back again leave no trace in it.
    runStep_ = std::make_unique<EditStep>(image_->Context(), kAutotuneStepName);
    PrepareImage();
    host_.ResetOperatingPointMarker(*editor_);
    status_ = "Auto-tune running";
    settle_ = 0;
    dropped_ = {};
    lastGridPoint_ = kNoSampleYet;
    sinceArrival_ = kArrivalSamples;
    recent_.clear();
    running_ = true;
    host_.RunningChanged(true);
    return true;
}

void Autotune::Stop() {
    if (!running_) return;
    RestoreImage();
    runStep_.reset();
    status_.clear();
    running_ = false;
    host_.RunningChanged(false);
}

bool Autotune::Close() {
    if (running_ || !IsOpen()) return false;
    for (int row = 0; row < editor_->GetYAxisSize(); ++row)
        for (int col = 0; col < editor_->GetXAxisSize(); ++col)
            editor_->SetCellColor(row, col, CellStateColour(CellState::NotVisited));
    host_.SetMapSelectorEnabled(true);
    SaveSettings();
    editor_ = nullptr;
    image_ = nullptr;
    return true;
}

void Autotune::Abandon() {
    if (!IsOpen()) return;
    runStep_.reset();
    if (running_) host_.RunningChanged(false);
    running_ = false;
    status_.clear();
    savedMapPointer_.reset();
    editor_ = nullptr;
    image_ = nullptr;
    host_.SetMapSelectorEnabled(true);
    SaveSettings();
}

void Autotune::MarkSelected(CellState state) {
    if (!IsOpen()) return;
    editor_->SetSelectedCellsColor(CellStateColour(state));
    if (state != CellState::NotVisited) return;
    for (int row = 0; row < editor_->GetYAxisSize(); ++row)
        for (int col = 0; col < editor_->GetXAxisSize(); ++col)
            if (editor_->GetCellColor(row, col) == CellStateColour(CellState::NotVisited))
                judgedZone_[CellIndex(row, col)] = -1;
}

std::size_t Autotune::CellIndex(int row, int col) const {
    return static_cast<std::size_t>(row) * static_cast<std::size_t>(editor_->GetXAxisSize()) +
           static_cast<std::size_t>(col);
}

std::optional<int> Autotune::JudgedZone(int row, int col) const {
    if (!IsOpen() || row < 0 || col < 0 || row >= editor_->GetYAxisSize() || col >= editor_->GetXAxisSize())
        return std::nullopt;
    const int zone = judgedZone_[CellIndex(row, col)];
    if (zone < 0) return std::nullopt;
    return zone;
}

int Autotune::VisitedCells() const {
    return static_cast<int>(std::count_if(judgedZone_.begin(), judgedZone_.end(), [](int z) { return z >= 0; }));
}

void Autotune::PrepareImage() {
    // A file saved during the run gets the unit's own settings, not the run's.
    switch (image_->GetECUType()) {
    case EcuType::LH22:
        // Open loop: the unit fuels from the base map alone.
        // Both bytes of the loop entry are kept as they are: an image may hold a pair that is
        // neither of the two that switch the loop.
        savedO2Entry_ = {image_->ReadByte(image_->GetEPROMAddress(kO2LoopEntry)),
                         image_->ReadByte(image_->GetEPROMAddress(kO2LoopEntry) + 1)};
        image_->HoldFileBytes(image_->GetEPROMAddress(kO2LoopEntry), 2);
        image_->LH22_EnableO2Loop(false);
        break;
    case EcuType::LH23: {
        const std::int32_t at = image_->GetEPROMAddress(kConfigEntry);
        const std::uint8_t config = image_->ReadByte(at);
        savedConfigBits_ = config & 7;
        std::uint8_t open = static_cast<std::uint8_t>((config | 1) & ~2);
        if (CatMap()) open = static_cast<std::uint8_t>(open & ~4);
        image_->HoldFileBytes(at, 1);
        image_->WriteByte(at, open);
        const std::int32_t pointer = image_->GetEPROMAddress(kMapPointerEntry);
        savedMapPointer_.reset();
        if (CatMap() && pointer != 0) {
            savedMapPointer_ = image_->ReadWord(pointer);
            image_->HoldFileBytes(pointer, 2);
            image_->WriteWord(pointer, image_->GetMapAddr(kCatMapId));
        }
        break;
    }
    default: break;
    }
}

void Autotune::RestoreImage() {
    switch (image_->GetECUType()) {
    case EcuType::LH22: {
        const std::int32_t at = image_->GetEPROMAddress(kO2LoopEntry);
        if (image_->ReadByte(at) != savedO2Entry_[0]) image_->WriteByte(at, savedO2Entry_[0]);
        if (image_->ReadByte(at + 1) != savedO2Entry_[1]) image_->WriteByte(at + 1, savedO2Entry_[1]);
        break;
    }
    case EcuType::LH23: {
        const std::int32_t at = image_->GetEPROMAddress(kConfigEntry);
        const std::uint8_t config = image_->ReadByte(at);
        image_->WriteByte(at, static_cast<std::uint8_t>((config & ~7) | savedConfigBits_));
        // The map pointer goes back to the word it held, not to a fixed map: the unit may have
        // been pointed at either map before the run.
        const std::int32_t pointer = image_->GetEPROMAddress(kMapPointerEntry);
        if (savedMapPointer_ && pointer != 0) image_->WriteWord(pointer, *savedMapPointer_);
        savedMapPointer_.reset();
        break;
    }
    default: break;
    }
    image_->ReleaseFileBytes();
}

bool Autotune::Guarded(const AutotuneSampleData& s) {
    if (s.afrAtLawEnd) {
        ++dropped_.sensor;
        return true;
    }
    if (s.rpm < kCrankingRpm) {
        ++dropped_.cranking;
        return true;
    }
    if (s.coolantC < warmEngineC_) {
        ++dropped_.cold;
        return true;
    }
    return false;
}

double Autotune::FuelAt(float fx, float fy) const {
    // The unit delivers fuel in proportion to 1 + value x factor, blended bilinearly between the
    // four cells around the operating point.
    const double factor = editor_->GetCellFactor();
    double fuel = 0.0;
    for (const BlendShare& b : BlendShares(fx, fy, editor_->GetXAxisSize(), editor_->GetYAxisSize()))
        fuel += b.share * (1.0 + editor_->GetCellValue(b.row, b.col) * factor);
    return fuel;
}

void Autotune::Sample(const AutotuneSampleData& s) {
    if (!running_ || !IsOpen()) return;
    // Where the operating point is, whatever becomes of the sample: its way there matters to the
    // samples that follow.
    const float fy = editor_->FindYCoord(s.y);
    const float fx = editor_->FindXCoord(s.x);
    const int row = conv::RoundEven(fy);
    const int col = conv::RoundEven(fx);
    // Past an end of an axis the distance counts on in the end's step.
    const float dx = std::abs(fx - static_cast<float>(col)) + BeyondEnds(editor_->XAxisPoints(), s.x);
    const float dy = std::abs(fy - static_cast<float>(row)) + BeyondEnds(editor_->YAxisPoints(), s.y);
    const bool atGridPoint = dx <= kGridPointReach && dy <= kGridPointReach;
    const std::pair gridPoint = atGridPoint ? std::pair{row, col} : kOffGrid;
    // Arriving: at another grid point than the sample before, or creeping on from where it
    // arrived.
    const bool moved = lastGridPoint_ != gridPoint || std::abs(fx - arrivedAt_.first) > kCreepLimit ||
                       std::abs(fy - arrivedAt_.second) > kCreepLimit;
    if (moved) {
        recent_.clear();
        arrivedAt_ = {fx, fy};
        if (lastGridPoint_ != kNoSampleYet) sinceArrival_ = 0;
    }
    lastGridPoint_ = gridPoint;
    const bool arriving = sinceArrival_ < kArrivalSamples;
    if (arriving) ++sinceArrival_;

    if (Guarded(s)) return;
    if (s.transient) settle_ = kSettleSamples;
    bool settled = true;
    if (settle_ > 0) {
        --settle_;
        settled = false;
    }
    if (s.zone < 0 || s.zone >= kAutotuneZoneCount) return;
    const auto zone = static_cast<std::size_t>(s.zone);
    if (!enabled_[zone]) return;
    if (!atGridPoint) {
        ++dropped_.offGrid;
        return;
    }
    if (arriving) {
        ++dropped_.arriving;
        return;
    }
    const std::uint32_t colour = editor_->GetCellColor(row, col);
    if (colour == CellStateColour(CellState::Tuned) || colour == CellStateColour(CellState::Forbidden)) return;
    if (row >= 0 && col >= 0 && row < editor_->GetYAxisSize() && col < editor_->GetXAxisSize())
        judgedZone_[CellIndex(row, col)] = s.zone;

    // The mixture the cell alone would give: the measurement taken back to the fuel the unit
    // delivered (blended from the four cells around) and referred to the cell's own fuel. The
    // state follows the mean of the recent samples at this grid point, the correction the sample
    // at hand. A cell that delivers no fuel of its own leaves nothing to refer to: the
    // measurement stands.
    const AutotuneBand& b = band_[zone];
    const double blended = FuelAt(fx, fy);
    const double own = FuelAt(static_cast<float>(col), static_cast<float>(row));
    double afr = s.afr;
    double verdict = afr;
    if (blended > 0.0 && own > 0.0) {
        afr = s.afr * blended / own;
        if (recent_.size() == kMeanSamples) recent_.erase(recent_.begin());
        recent_.push_back(s.afr * blended);
        double sum = 0.0;
        for (double r : recent_) sum += r;
        verdict = sum / static_cast<double>(recent_.size()) / own;
    } else {
        recent_.clear();
    }
    const CellState state = verdict > b.high ? CellState::Lean : verdict < b.low ? CellState::Rich : CellState::Tuned;
    if (CellStateColour(state) != colour) editor_->SetCellColor(row, col, CellStateColour(state));
    if (state == CellState::Tuned || !settled) return;

    const double mid = (static_cast<double>(b.low) + static_cast<double>(b.high)) / 2.0;
    std::int32_t v = editor_->GetCellValue(row, col);
    const EcuType type = image_->GetECUType();
    const bool lh23 = type == EcuType::LH23;
    const bool tunable = lh23 || type == EcuType::LH22;
    if (tunable && state == CellState::Lean) {
        double c = (afr / mid - 1.0) * 512.0 * kLeanGain[zone];
        if (c < 1.0) c = 1.0;
        v = std::min(conv::RoundEven(v + c), lh23 ? 127 : 511);
    } else if (tunable) {
        double c = (1.0 - afr / mid) * 512.0 * kRichGain[zone];
        if (c < 1.0) c = 1.0;
        v = std::max(conv::RoundEven(v - c), lh23 ? -128 : -512);
    }
    editor_->SetCellValue(row, col, v);
    settle_ = 1;
}

} // namespace kv
