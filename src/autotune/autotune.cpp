#include "autotune/autotune.h"

#include "autotune/autotune_offline.h"
#include "eprom/edit_step.h"
#include "eprom/eprom_image.h"
#include "maps/blend_shares.h"
#include "maps/map_trace.h"
#include "maps/table_editor.h"
#include "monitor/conversions.h"
#include "platform/clock.h"
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

// The user's own target and error texts of a zone as kept in the settings, filtered.
std::string SavedTargetText(SettingsStore& settings, std::size_t zone) {
    return KeepNumberCharacters(
        settings.GetSetting(kAutotuneSettingsSection, "TargetAFR_" + std::to_string(zone), kDefaultTargets[zone]));
}

std::string SavedErrorText(SettingsStore& settings, std::size_t zone) {
    return KeepNumberCharacters(
        settings.GetSetting(kAutotuneSettingsSection, "TargetAFRError_" + std::to_string(zone), kDefaultError));
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

bool CatMapForcesZone(std::string_view mapName, int zone) {
    return mapName == kCatMap && zone != static_cast<int>(AutotuneZone::Wot);
}

bool IsBaseFuelMap(std::string_view mapName) {
    return std::find(kBaseFuelMaps.begin(), kBaseFuelMaps.end(), mapName) != kBaseFuelMaps.end();
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

CellState JudgeMixture(double afr, const AutotuneBand& band) {
    if (afr > band.high) return CellState::Lean;
    if (afr < band.low) return CellState::Rich;
    return CellState::Tuned;
}

std::array<AutotuneBand, kAutotuneZoneCount> SavedBands(SettingsStore& settings, std::string_view mapName) {
    std::array<AutotuneBand, kAutotuneZoneCount> bands{};
    for (std::size_t i = 0; i < kAutotuneZoneCount; ++i) {
        const bool forced = CatMapForcesZone(mapName, static_cast<int>(i));
        bands[i] = ClampBand(forced ? kStoichiometric : SavedTargetText(settings, i),
                             forced ? kDefaultError : SavedErrorText(settings, i));
    }
    return bands;
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

double MeanOfTenth(const std::vector<float>& values, bool last) {
    if (values.empty()) return 0.0;
    const std::size_t n = std::max<std::size_t>(1, values.size() / 10);
    const auto from = last ? values.end() - static_cast<std::ptrdiff_t>(n) : values.begin();
    double sum = 0.0;
    for (auto it = from; it != from + static_cast<std::ptrdiff_t>(n); ++it) sum += *it;
    return sum / static_cast<double>(n);
}

Autotune::Autotune(UserMessages& messages, SettingsStore& settings, AutotuneHost& host, Clock& clock)
    : messages_(messages), settings_(settings), host_(host), clock_(clock) {
    LoadSettings();
}

std::size_t Autotune::Index(int zone) { return static_cast<std::size_t>(std::clamp(zone, 0, kAutotuneZoneCount - 1)); }

void Autotune::LoadSettings() {
    for (std::size_t i = 0; i < kAutotuneZoneCount; ++i) {
        const std::string n = std::to_string(i);
        target_[i] = SavedTargetText(settings_, i);
        error_[i] = SavedErrorText(settings_, i);
        const std::string on = settings_.GetSetting(kAutotuneSettingsSection, "Enable_" + n, "1");
        enabled_[i] = std::atoi(on.c_str()) != 0;
    }
    const std::string warm = KeepNumberCharacters(settings_.GetSetting(kAutotuneSettingsSection, kWarmEngineKey, ""));
    warmEngineC_ = warm.empty() ? kDefaultWarmEngineC : LeadingNumber(warm);
    const std::string delay =
        KeepNumberCharacters(settings_.GetSetting(kAutotuneSettingsSection, kTransportDelayKey, ""));
    const double delayS = delay.empty() ? kDefaultTransportDelayS : std::clamp(LeadingNumber(delay), 0.0, 5.0);
    delayMs_ = std::llround(delayS * 1000.0);
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
    if (!IsBaseFuelMap(mapName)) {
        messages_.MessageBox("Only the base fuel maps can be auto-tuned.", "Kestrovane", MsgButtons::OK,
                             MsgIcon::Information);
        return false;
    }
    editor_ = &editor;
    image_ = &image;
    mapName_ = std::string(mapName);
    dropped_ = {};
    const auto cells =
        static_cast<std::size_t>(editor.GetYAxisSize()) * static_cast<std::size_t>(editor.GetXAxisSize());
    judgedZone_.assign(cells, -1);
    evidence_.assign(cells, Evidence{});
    judgedErrors_.clear();
    LoadSettings();
    host_.SetMapSelectorEnabled(false);
    return true;
}

bool Autotune::ForcedZone(int zone) const { return CatMapForcesZone(mapName_, zone); }

const std::string& Autotune::TargetText(int zone) const {
    static const std::string stoichiometric = kStoichiometric;
    return ForcedZone(zone) ? stoichiometric : target_[Index(zone)];
}

const std::string& Autotune::ErrorText(int zone) const {
    static const std::string forcedError = kDefaultError;
    return ForcedZone(zone) ? forcedError : error_[Index(zone)];
}

bool Autotune::TargetBoxEnabled(int zone) const {
    if (running_) return false;
    return !ForcedZone(zone);
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
        const int zone = static_cast<int>(i);
        band_[i] = ClampBand(TargetText(zone), ErrorText(zone));
        if (ForcedZone(zone)) continue;
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
    history_.clear();
    std::fill(evidence_.begin(), evidence_.end(), Evidence{});
    judgedErrors_.clear();
    startMs_ = clock_.NowMs();
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
    // A cell marked not visited starts afresh: no visit, no evidence.
    for (int row = 0; row < editor_->GetYAxisSize(); ++row)
        for (int col = 0; col < editor_->GetXAxisSize(); ++col)
            if (editor_->GetCellColor(row, col) == CellStateColour(CellState::NotVisited)) {
                judgedZone_[CellIndex(row, col)] = -1;
                evidence_[CellIndex(row, col)] = Evidence{};
            }
}

bool Autotune::TuneFromRun(const LogRun& run) {
    if (!IsOpen() || running_) return false;
    OfflineTuneOptions o;
    for (std::size_t i = 0; i < kAutotuneZoneCount; ++i) {
        o.bands[i] = ClampBand(TargetText(static_cast<int>(i)), ErrorText(static_cast<int>(i)));
        o.enabled[i] = enabled_[i];
    }
    o.delayS = static_cast<double>(delayMs_) / 1000.0;
    o.warmEngineC = warmEngineC_;
    const EditStep step(image_->Context(), kTuneFromRunStepName);
    const Parsed<OfflineTuneResult> tuned = kv::TuneFromRun(run, *editor_, image_->GetECUType(), o);
    if (!tuned) {
        messages_.MessageBox(tuned.Error(), "Kestrovane", MsgButtons::OK, MsgIcon::Information);
        return false;
    }
    dropped_ = tuned->dropped;
    judgedErrors_ = tuned->judgedErrors;
    return true;
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

bool Autotune::Guarded(const AutotuneSampleData& s, bool settled) {
    if (s.afrAtLawEnd && !settled) {
        // Over-run fuel cut: nothing is burnt, the sensor reads air, also for the transport
        // delay after the unit has ended the cut (while the settling after it runs).
        ++dropped_.fuelCut;
        return true;
    }
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

std::optional<Autotune::PastPoint> Autotune::BurntAt(std::int64_t nowMs) const {
    const std::int64_t then = nowMs - delayMs_;
    std::optional<PastPoint> found;
    for (const PastPoint& p : history_) {
        if (p.ms > then) break;
        found = p;
    }
    return found;
}

double Autotune::CellFuel(int row, int col) const {
    // The unit delivers fuel in proportion to 1 + value x factor.
    return 1.0 + editor_->GetCellValue(row, col) * static_cast<double>(editor_->GetCellFactor());
}

double Autotune::FuelAt(double fx, double fy) const {
    double fuel = 0.0;
    for (const BlendShare& c : BlendShares(fx, fy, editor_->GetXAxisSize(), editor_->GetYAxisSize()))
        fuel += c.share * CellFuel(c.row, c.col);
    return fuel;
}

void Autotune::Sample(const AutotuneSampleData& s) {
    if (!running_ || !IsOpen()) return;
    const std::int64_t now = clock_.NowMs();
    // Where the operating point is, whatever becomes of the sample: the gas burnt here reaches
    // the sensor with a later sample.
    history_.push_back({now, editor_->FindXCoord(s.x), editor_->FindYCoord(s.y), s.zone});
    while (history_.size() > 1 && history_[1].ms <= now - delayMs_) history_.pop_front();
    // Settling runs on every sample.
    if (s.transient) settle_ = kSettleSamples;
    bool settled = true;
    if (settle_ > 0) {
        --settle_;
        settled = false;
    }
    if (Guarded(s, settled) || !settled) return;
    // The gas at the sensor now was burnt the delay ago, in the throttle zone of then: nothing
    // before the run has a say.
    const std::optional<PastPoint> burnt = BurntAt(now);
    if (now - startMs_ < delayMs_ || !burnt || burnt->ms < startMs_) return;
    if (burnt->zone < 0 || burnt->zone >= kAutotuneZoneCount) return;
    const auto zone = static_cast<std::size_t>(burnt->zone);
    if (!enabled_[zone]) return;
    const std::vector<BlendShare> shares =
        BlendShares(burnt->fx, burnt->fy, editor_->GetXAxisSize(), editor_->GetYAxisSize());
    // A cell corrected since the gas was burnt fuelled it with its old value: the sample says
    // nothing certain about any of the cells it blended.
    for (const BlendShare& c : shares)
        if (evidence_[CellIndex(c.row, c.col)].correctedMs >= burnt->ms) return;
    judgedErrors_.push_back(std::abs(s.afr - band_[zone].target));
    const double blended = FuelAt(burnt->fx, burnt->fy);
    for (const BlendShare& c : shares) Charge(c, zone, s.afr, blended, now);
}

void Autotune::Charge(const BlendShare& c, std::size_t zone, float afr, double blended, std::int64_t nowMs) {
    if (c.share < kShareFloor) return;
    const std::uint32_t colour = editor_->GetCellColor(c.row, c.col);
    if (colour == CellStateColour(CellState::Tuned) || colour == CellStateColour(CellState::Forbidden)) return;
    const std::size_t i = CellIndex(c.row, c.col);
    judgedZone_[i] = static_cast<int>(zone);
    Evidence& e = evidence_[i];
    if (e.zone != static_cast<int>(zone)) e = Evidence{0.0, 0.0, 0.0, static_cast<int>(zone), e.correctedMs};
    // The mixture the cell alone would give: the measurement taken back to the fuel the unit
    // blended and referred to the cell's own fuel. A cell that delivers no fuel of its own
    // leaves nothing to refer to: the measurement stands.
    const double own = CellFuel(c.row, c.col);
    const double referred = blended > 0.0 && own > 0.0 ? afr * blended / own : afr;
    e.share += c.share;
    e.weightedAfr += c.share * referred;
    e.weightedMeasured += c.share * afr;
    const double mean = e.weightedAfr / e.share;
    const double measured = e.weightedMeasured / e.share;
    const AutotuneBand& b = band_[zone];
    const CellState judged = JudgeMixture(mean, b);
    const bool inBand = judged == CellState::Tuned;
    const bool enough = e.share >= kEvidenceThreshold - 1e-9;
    // Between cells the blend's error is credited to the richer or the leaner one by its value:
    // a cell judged in band while the blend it was judged in is not would freeze that blend off
    // the band. It is then neither changed nor coloured and gathers afresh while its neighbours
    // are corrected.
    const bool blendInBand = JudgeMixture(measured, b) == CellState::Tuned;
    std::optional<CellState> state;
    if (!inBand)
        state = judged;
    else if (enough && blendInBand)
        state = CellState::Tuned;
    if (state && CellStateColour(*state) != colour) editor_->SetCellColor(c.row, c.col, CellStateColour(*state));
    if (!enough) return;
    if (inBand) {
        if (!blendInBand) e = Evidence{0.0, 0.0, 0.0, static_cast<int>(zone), e.correctedMs};
        return;
    }
    Correct(c.row, c.col, zone, mean);
    e = Evidence{0.0, 0.0, 0.0, static_cast<int>(zone), nowMs};
}

void Autotune::Correct(int row, int col, std::size_t zone, double afr) {
    const AutotuneBand& b = band_[zone];
    const double mid = (static_cast<double>(b.low) + static_cast<double>(b.high)) / 2.0;
    std::int32_t v = editor_->GetCellValue(row, col);
    const EcuType type = image_->GetECUType();
    const bool lh23 = type == EcuType::LH23;
    const bool tunable = lh23 || type == EcuType::LH22;
    if (tunable && afr > mid) {
        double c = (afr / mid - 1.0) * 512.0 * kLeanGain[zone];
        if (c < 1.0) c = 1.0;
        v = std::min(conv::RoundEven(v + c), lh23 ? 127 : 511);
    } else if (tunable) {
        double c = (1.0 - afr / mid) * 512.0 * kRichGain[zone];
        if (c < 1.0) c = 1.0;
        v = std::max(conv::RoundEven(v - c), lh23 ? -128 : -512);
    }
    editor_->SetCellValue(row, col, v);
}

} // namespace kv
