// The "Fuel parameters" page of an LH 2.3 fuel image.
#include "params/page_support.h"
#include "params/param_page.h"

#include <algorithm>
#include <array>

namespace kv {

namespace {

using namespace params;

// Battery-voltage compensation of the injector opening time in ticks of 2.666667 us; entry 6 is
// the value at 13.1 V.
constexpr std::array<int, 9> kOpeningTable{2589, 1704, 1284, 879, 538, 414, 354, 290, 242};
constexpr double kTick = 0.002666667; // ms
// The tables that follow the injector size: the first scaled by the size, the second fixed.
constexpr std::array<int, 8> kInjectorScaled{143, 215, 255, 255, 255, 255, 255, 255};
constexpr std::array<int, 8> kInjectorFixed{191, 210, 230, 255, 255, 255, 255, 255};

// Injector byte of the stock 19 lb/hr injector; a stored 0 reads as it.
constexpr int kStockInjector = 128;

// Up-down ranges. Injector byte 40..128 (60.8 down to 19.0 lb/hr): above 128 the scaled table's
// 255 entries would need more than a byte.
constexpr int kInjectorMin = -128;
constexpr int kInjectorMax = -40;
constexpr int kCrankingMin = 10;  // 0.50 ms
constexpr int kCrankingMax = 200; // 10.00 ms
constexpr int kOpeningMin = 20;   // 0.20 ms
constexpr int kOpeningMax = 300;  // 3.00 ms
// Rev-limit code bytes 10..254: 0 and 1 mean "no limit" and the codes below 10 lie far above any
// engine speed the unit can run.
constexpr int kRpmCodeMin = -254;
constexpr int kRpmCodeMax = -10;
constexpr int kFixedIsvMax = 320; // 320 x 12 = 3840 = 100 %
constexpr int kSustainMax = 170;  // 170 x 1.5 = 255: the second byte stays a byte

int Injector(int b) { return b == 0 ? kStockInjector : b; }

int RpmLow(int b) { return static_cast<int>(conv::RoundToSignificant(conv::LH_RpmCodeLow(b), 3)); }
int RpmHigh(int b) { return static_cast<int>(conv::RoundToSignificant(conv::LH_RpmCodeHigh(b), 3)); }

class LH23Page final : public ParamPage {
public:
    LH23Page(EPROM& image, ParamServices services) : ParamPage(image, std::move(services)) {
        AddInjector();
        AddCranking();
        AddOpeningTime();
        AddBit("decel_cutoff", "Decel cut-off", "Cut off fuel under deceleration", "chkEnableDecelCutoff", 4, 2);
        AddPulsing();
        AddRevLimiter();
        AddFlappy();
        AddOxygen();
        AddIdle();
        AddFixedIsv();
        AddAccEnrich();
        AddCommand({"cmdO2AdaptReset", "Reset values", "Oxygen sensor adaptation"});
    }

    std::string TabKey() const override { return "Parameters"; }

    bool RunCommand(const std::string& name) override {
        if (name != "cmdO2AdaptReset" || image_.GetECUType() != EcuType::LH23 || !services_.resetO2Adaptation)
            return false;
        return services_.resetO2Adaptation();
    }

private:
    void AddInjector() {
        ParamSetting s;
        s.key = "injector_size";
        s.frame = "Injector size";
        s.caption = "Custom size (lb/hr):";
        s.min = kInjectorMin;
        s.max = kInjectorMax;
        s.optionKeys = {"19", "24", "30", "36", "42", "custom"};
        s.optionCaptions = {"19 lb/hr (stock)", "24 lb/hr", "30 lb/hr", "36 lb/hr", "42 lb/hr", "Custom"};
        s.radio = "radioInjectorSize";
        s.upDown = "udInjectorSizeCustom";
        s.textBox = "txtInjectorSizeCustom";
        s.byteLabel = "lblInjectorSizeCustomByte";
        Entry& e = Add(s);
        e.presetValues = {-128, -101, -81, -68, -58};
        e.load = [this](Entry& x) {
            const int b = ReadParam(image_, 3);
            const auto it = std::find(x.presetValues.begin(), x.presetValues.end(), -b);
            x.option = static_cast<int>(it - x.presetValues.begin());
            x.value = -Injector(b);
        };
        e.text = [](int v) { return Fixed(19.0 / (Injector(NegByte(v)) / 128.0), 1); };
        e.byteText = [](int v) { return std::to_string(NegByte(v)); };
        e.write = [this](const Entry& x) {
            const int b = NegByte(x.value);
            WriteParam(image_, 3, b);
            const double f = Injector(b) / 128.0;
            std::vector<std::uint8_t> scaled, fixed;
            for (int t : kInjectorScaled) scaled.push_back(static_cast<std::uint8_t>(conv::RoundEven(t * f) & 0xFF));
            for (int t : kInjectorFixed) fixed.push_back(static_cast<std::uint8_t>(t));
            image_.WriteBlock(Addr(image_, 24), scaled);
            image_.WriteBlock(Addr(image_, 25), fixed);
        };
        e.after = [this](const Entry& x) {
            // The cranking pulse width follows the injector.
            const int b = NegByte(x.value);
            Entry& cranking = At("cranking_pw");
            const int v = conv::RoundEven((((b - 128) * 350.0 / 47.0) + 1575.0) * 0.002666 * 20.0);
            Change(cranking, std::clamp(v, cranking.info.min, cranking.info.max));
        };
    }

    void AddCranking() {
        ParamSetting s;
        s.key = "cranking_pw";
        s.frame = "Cranking pulse width";
        s.caption = "Cranking pulse width (msec) on warm engine:";
        s.min = kCrankingMin;
        s.max = kCrankingMax;
        s.upDown = "udCrankingPW";
        s.textBox = "txtCrankingPW";
        s.extraLabel = "lblCrankingPW";
        Entry& e = Add(s);
        e.load = [this](Entry& x) {
            x.value = conv::RoundEven(Round5(image_.ReadWord(Addr(image_, 11)) * kTick) * 20.0);
        };
        e.text = [](int v) { return Fixed(v / 20.0, 2); };
        e.extraText = [](int v) { return std::to_string(Ticks(v)); };
        e.write = [this](const Entry& x) {
            image_.WriteWord(Addr(image_, 11), Ticks(x.value));
            image_.WriteWord(Addr(image_, 12), Ticks(x.value));
        };
    }
    static int Ticks(int v) { return conv::RoundEven(v / 20.0 * 1000.0 / 2.666667); }

    void AddOpeningTime() {
        ParamSetting s;
        s.key = "injector_opening_time";
        s.frame = "Injector opening time";
        s.caption = "Injector opening time (msec) @ 13.1 V:";
        s.min = kOpeningMin;
        s.max = kOpeningMax;
        s.upDown = "udInjectorOpeningTime";
        s.textBox = "txtInjectorOpeningTime";
        Entry& e = Add(s);
        e.load = [this](Entry& x) {
            x.value = conv::RoundEven(Round5(image_.ReadWord(Addr(image_, 13) + 12) * kTick) * 100.0);
        };
        e.text = [](int v) { return Fixed(v / 100.0, 2); };
        e.write = [this](const Entry& x) {
            const double base = (x.value / 100.0) / kTick;
            for (std::size_t k = 0; k < kOpeningTable.size(); ++k)
                image_.WriteWord(Addr(image_, 13) + 2 * static_cast<int>(k),
                                 conv::RoundEven(base * kOpeningTable[k] / kOpeningTable[6]));
        };
    }

    void AddBit(const std::string& key, const std::string& frame, const std::string& caption, const std::string& check,
                int index, int mask) {
        ParamSetting s;
        s.key = key;
        s.frame = frame;
        s.caption = caption;
        s.kind = SettingKind::Check;
        s.check = check;
        Entry& e = Add(s);
        e.load = [this, index, mask](Entry& x) { x.checked = (ReadParam(image_, index) & mask) != 0; };
        e.write = [this, index, mask](const Entry& x) { WriteBits(image_, index, mask, x.checked ? mask : 0); };
    }

    // An rpm up-down over a rev-limit code byte b = (-v) AND 255.
    Entry& AddRpm(const std::string& key, const std::string& frame, const std::string& caption, const std::string& name,
                  bool high) {
        ParamSetting s;
        s.key = key;
        s.frame = frame;
        s.caption = caption;
        s.min = kRpmCodeMin;
        s.max = kRpmCodeMax;
        s.upDown = "ud" + name;
        s.textBox = "txt" + name;
        s.byteLabel = "lbl" + name + "Byte";
        Entry& e = Add(s);
        e.text = [high](int v) { return std::to_string(high ? RpmHigh(NegByte(v)) : RpmLow(NegByte(v))); };
        e.byteText = [](int v) { return std::to_string(NegByte(v)); };
        return e;
    }

    void AddPulsing() {
        Entry& e = AddRpm("pulsing_rpm", "2:1 pulsing", "Halve injection pulse rate above RPM:", "21PulsingRPM", false);
        // The speed shown is that of the next code: the unit halves the rate above it.
        e.text = [](int v) { return std::to_string(RpmLow((-v - 1) & 0xFF)); };
        e.load = [this](Entry& x) { x.value = -ReadParam(image_, 17); };
        e.write = [this](const Entry& x) { WriteParam(image_, 17, NegByte(x.value)); };
    }

    void AddRevLimiter() {
        Entry& cut = AddRpm("rev_limit_rpm", "Rev limiter", "Fuel cut off RPM:", "RevLimiter", false);
        cut.load = [this](Entry& x) { x.value = -ReadParam(image_, 1); };
        cut.write = [this](const Entry& x) { WriteParam(image_, 1, NegByte(x.value)); };
        cut.after = [this](const Entry& x) {
            // The restore speed cannot pass the cut-off speed. The unit compares the two codes:
            // the restore code may be the cut-off's own (the cut-off reads the low end of its
            // code's speeds, the restore the high end: the same speed) but no faster one.
            Entry& restore = At("rev_restore_rpm");
            restore.dynMax = std::max(x.value, restore.info.min);
            if (!loading_ && restore.value > restore.dynMax) Change(restore, restore.dynMax);
        };
        Entry& restore = AddRpm("rev_restore_rpm", "Rev limiter", "Fuel restore RPM:", "RevLimiterCancel", true);
        restore.load = [this](Entry& x) { x.value = -ReadParam(image_, 2); };
        restore.write = [this](const Entry& x) { WriteParam(image_, 2, NegByte(x.value)); };
        restore.boundBy = [this] { return "it cannot pass the Fuel cut off RPM, " + Text("rev_limit_rpm"); };
    }

    void WriteFlappy() {
        const int open = At("flappy_open_rpm").value;
        const int close = At("flappy_close_rpm").value;
        WriteParam(image_, 5, 254 - NegByte(open));
        WriteParam(image_, 6, close - open - 1);
    }

    void AddFlappy() {
        Entry& open = AddRpm("flappy_open_rpm", "Flappy valve", "Open RPM:", "FlappyOpenRPM", false);
        open.load = [this](Entry& x) { x.value = -(254 - ReadParam(image_, 5)); };
        open.byteText = [](int v) { return std::to_string((254 - NegByte(v)) & 0xFF); };
        open.write = [this](const Entry&) { WriteFlappy(); };
        open.after = [this](const Entry& x) {
            // Close lies at least three codes above open.
            Entry& close = At("flappy_close_rpm");
            close.dynMin = std::min(x.value + 3, close.info.max);
            if (!loading_ && close.value < close.dynMin) Change(close, close.dynMin);
        };
        Entry& close = AddRpm("flappy_close_rpm", "Flappy valve", "Close RPM:", "FlappyCloseRPM", false);
        close.load = [this](Entry& x) { x.value = ReadParam(image_, 6) + At("flappy_open_rpm").value + 1; };
        close.byteText = [this](int v) { return std::to_string((v - At("flappy_open_rpm").value - 1) & 0xFF); };
        close.write = [this](const Entry&) { WriteFlappy(); };
        close.boundBy = [this] { return "it stays three steps above the Open RPM, " + Text("flappy_open_rpm"); };

        ParamSetting s;
        s.key = "flappy_load_threshold";
        s.frame = "Flappy valve";
        s.caption = "Load threshold (1-255):";
        s.min = 1;
        s.max = 255;
        s.upDown = "udFlappyLoadThreshold";
        s.textBox = "txtFlappyLoadThreshold";
        s.typed = true;
        Entry& t = Add(s);
        t.load = [this](Entry& x) { x.value = ReadParam(image_, 10); };
        t.text = [](int v) { return std::to_string(v); };
        t.write = [this](const Entry& x) { WriteParam(image_, 10, x.value); };
    }

    Entry& AddOption(const std::string& key, const std::string& frame, const std::string& radio,
                     std::vector<std::string> keys, std::vector<std::string> captions) {
        ParamSetting s;
        s.key = key;
        s.frame = frame;
        s.kind = SettingKind::Option;
        s.radio = radio;
        s.optionKeys = std::move(keys);
        s.optionCaptions = std::move(captions);
        return Add(s);
    }

    void AddOxygen() {
        Entry& o2 =
            AddOption("o2_sensor", "Oxygen sensor", "radioCodingPlugO2", {"coding-plug", "non-cat", "cat"},
                      {"Obey coding plug", "Force non-cat mode (ignore sensor)", "Force cat mode (use sensor)"});
        o2.load = [this](Entry& x) {
            const int bits = ReadParam(image_, 9) & 3;
            x.option = bits < 3 ? bits : -1;
        };
        o2.write = [this](const Entry& x) { WriteBits(image_, 9, 3, x.option); };
        Entry& co = AddOption("co_pot", "CO pot in non-cat mode", "radioCOpotEnable", {"disabled", "enabled"},
                              {"Disabled", "Enabled"});
        co.load = [this](Entry& x) { x.option = (ReadParam(image_, 9) & 4) != 0 ? 1 : 0; };
        co.write = [this](const Entry& x) { WriteBits(image_, 9, 4, x.option == 1 ? 4 : 0); };
        Entry& adapt = AddOption("o2_adaptation", "Oxygen sensor adaptation", "radioO2AdaptEnable",
                                 {"disabled", "enabled"}, {"Disabled", "Enabled"});
        adapt.load = [this](Entry& x) { x.option = (ReadParam(image_, 28) & 128) != 0 ? 1 : 0; };
        adapt.write = [this](const Entry& x) { WriteBits(image_, 28, 128, x.option == 1 ? 128 : 0); };
    }

    void AddIdle() {
        Entry& e = AddOption("idle_rpm", "Idle speed", "radioIdleSpeed", {"675", "775"},
                             {"675 RPM (S4, GTS)", "775 RPM (GT)"});
        e.load = [this](Entry& x) {
            x.option = -1;
            for (int which = 1; which <= 2; ++which) {
                const auto& table = LH23ReferenceTable(which);
                bool same = true;
                for (std::size_t i = 0; i < table.size(); ++i)
                    same = same && ReadParam(image_, 19, static_cast<int>(i)) == table[i];
                if (same) x.option = which - 1;
            }
        };
        e.write = [this](const Entry& x) {
            const auto& table = LH23ReferenceTable(x.option + 1);
            for (std::size_t i = 0; i < table.size(); ++i) WriteParam(image_, 19, table[i], static_cast<int>(i));
        };
    }

    void AddFixedIsv() {
        ParamSetting s;
        s.key = "fixed_isv";
        s.frame = "Fixed idle valve";
        s.caption = "Disable idle speed controller and use fixed idle air valve position:";
        s.min = 0;
        s.max = kFixedIsvMax;
        s.check = "chkDefeatISV";
        s.upDown = "udFixedISV";
        s.textBox = "txtFixedISV";
        Entry& e = Add(s);
        e.load = [this](Entry& x) {
            x.checked = image_.LH23_IsFixedISVPWEnabled();
            x.value = conv::RoundEven(image_.LH23_GetFixedISVPW() / 12.0);
        };
        e.text = [](int v) { return Fixed((v * 12) / 3840.0 * 100.0, 1) + "%"; };
        e.write = [this](const Entry& x) { image_.LH23_SetFixedISVPW((x.value * 12) & 0xFFFF); };
        e.onCheck = [this](const Entry& x) { image_.LH23_EnableFixedISVPW(x.checked); };
    }

    void AddAccEnrich() {
        const std::string frame = "Acceleration enrichment";
        ParamSetting base;
        base.key = "acc_enrich_base";
        base.frame = frame;
        base.caption = "Base setting:";
        base.min = -64;
        base.max = 64;
        base.upDown = "udAccEnrichZeroOffset";
        base.textBox = "txtAccEnrichZeroOffset";
        Entry& b = Add(base);
        b.load = [this](Entry& x) { x.value = 64 - ReadParam(image_, 21); };
        b.text = [](int v) { return v > 0 ? "+" + std::to_string(v) : std::to_string(v); };
        b.write = [this](const Entry& x) { WriteParam(image_, 21, 64 - x.value); };

        for (int i = 0; i < 4; ++i) {
            ParamSetting w;
            w.key = "acc_enrich_width_" + std::to_string(i + 1);
            w.frame = frame;
            w.caption = i == 0 ? "Width of enrichment in first 4 injection pulses fired after acceleration "
                                 "enrichment triggered:"
                               : std::string();
            w.min = 0;
            w.max = 255;
            w.upDown = "udAccEnrichScaling(" + std::to_string(i) + ")";
            w.textBox = "txtAccEnrichScaling(" + std::to_string(i) + ")";
            Entry& e = Add(w);
            e.load = [this, i](Entry& x) { x.value = ReadParam(image_, 20, i); };
            e.text = [](int v) { return Fixed((v & 255) / 16.0 * 100.0, 0) + "%"; };
            e.write = [this, i](const Entry& x) { WriteParam(image_, 20, x.value, i); };
        }

        ParamSetting sustain;
        sustain.key = "acc_enrich_sustain";
        sustain.frame = frame;
        sustain.caption = "Enrichment sustain:";
        sustain.min = 0;
        sustain.max = kSustainMax;
        sustain.upDown = "udAccEnrichDecay";
        sustain.textBox = "txtAccEnrichDecay";
        Entry& d = Add(sustain);
        d.load = [this](Entry& x) { x.value = ReadParam(image_, 22); };
        d.text = [](int v) { return std::to_string(v); };
        d.write = [this](const Entry& x) {
            WriteParam(image_, 22, x.value);
            WriteParam(image_, 23, conv::RoundEven(x.value * 1.5));
        };
    }
};

} // namespace

std::unique_ptr<ParamPage> MakeLH23Page(EPROM& image, ParamServices services) {
    return std::make_unique<LH23Page>(image, std::move(services));
}

} // namespace kv
