// The "Ignition parameters" pages of an EZK and an EZF ignition image, and the "Fuel parameters"
// page of an LH 2.2 fuel image.
#include "auxinputs/aux_inputs.h"
#include "params/page_support.h"
#include "params/param_page.h"
#include "platform/messages.h"
#include "platform/settings_store.h"

#include <algorithm>
#include <array>
#include <charconv>

namespace kv {

namespace {

using namespace params;

// Degrees of one step of the EZK's advance bytes.
std::string Degrees(int v) { return Fixed(v / 16.0 * 6.0, 1); }

ParamSetting Number(const std::string& key, const std::string& frame, const std::string& caption,
                    const std::string& name, int min, int max) {
    ParamSetting s;
    s.key = key;
    s.frame = frame;
    s.caption = caption;
    s.min = min;
    s.max = max;
    s.upDown = "ud" + name;
    s.textBox = "txt" + name;
    return s;
}

// Shape of the knock recovery: how the retard decays over 16 steps.
constexpr std::array<int, 16> kRecoveryShape{255, 246, 235, 223, 210, 198, 185, 172,
                                             160, 148, 135, 123, 104, 75,  54,  38};

class EZKPage final : public ParamPage {
public:
    EZKPage(EPROM& image, ParamServices services) : ParamPage(image, std::move(services)) {
        ParamSetting wot;
        wot.key = "wot_ignored";
        wot.frame = "Wide open throttle";
        wot.caption = "Use cruise map also at WOT (do not use WOT map at all)";
        wot.kind = SettingKind::Check;
        wot.check = "chkEZKIgnoreWOT";
        Entry& w = Add(wot);
        w.load = [this](Entry& x) { x.checked = image_.EZK_IsWOTIgnored(); };
        w.write = [this](const Entry& x) { image_.EZK_SetWOTIgnored(x.checked); };

        const std::string knock = "Knock control";
        // Retard step 0.4 .. 12.0 degrees.
        Entry& step = Add(Number("knock_retard_step", knock,
                                 "Retard step size when knock detected (\xC2\xB0):", "KnockRetardStepSize", 1, 32));
        step.load = [this](Entry& x) { x.value = ReadParam(image_, 34); };
        step.text = Degrees;
        step.write = [this](const Entry& x) { WriteParam(image_, 34, x.value); };

        // Recovery byte 4..255: the tables' first entry is the value itself and none is below 4.
        Entry& rec =
            Add(Number("knock_recovery_s", knock, "Recovery time after knock (sec):", "KnockRecoveryTime", 4, 255));
        rec.load = [this](Entry& x) { x.value = ReadParam(image_, 35); };
        rec.text = [this](int v) { return Fixed(60.0 / 6150.0 / 2.0 * v * ReadParam(image_, 34), 1); };
        rec.write = [this](const Entry& x) {
            std::vector<std::uint8_t> bytes;
            for (int s : kRecoveryShape)
                bytes.push_back(static_cast<std::uint8_t>(std::max(4, conv::RoundEven(s / 255.0 * x.value)) & 0xFF));
            for (int index : {35, 36, 37}) image_.WriteBlock(Addr(image_, index), bytes);
        };

        const std::string retard = "Retard and advance rate";
        // Retards and rate 0 .. 24.0 degrees.
        const std::array<std::pair<const char*, const char*>, 2> throttle{{
            {"retard_throttle_idle", "Retard (\xC2\xB0) when throttle opened at idle:"},
            {"retard_throttle_decel", "Retard (\xC2\xB0) when throttle opened after deceleration:"},
        }};
        for (int i = 0; i < 2; ++i) {
            ParamSetting s = Number(throttle[static_cast<std::size_t>(i)].first, retard,
                                    throttle[static_cast<std::size_t>(i)].second, "", 0, 64);
            s.upDown = "udThrottleOpenedRetard(" + std::to_string(i) + ")";
            s.textBox = "txtThrottleOpenedRetard(" + std::to_string(i) + ")";
            AddByte(s, 38 + i, Degrees);
        }
        AddByte(Number("retard_load_increase", retard,
                       "Retard (\xC2\xB0) when sudden increase of load:", "LoadIncreasedRetard", 0, 64),
                40, Degrees);
        AddByte(Number("advance_increase_rate", retard,
                       "Max advance increase rate (\xC2\xB0 per spark):", "AdvanceIncreaseRate", 0, 64),
                41, Degrees);
    }

    std::string TabKey() const override { return "ParametersEZK"; }

private:
    void AddByte(const ParamSetting& s, int index, std::function<std::string(int)> text) {
        Entry& e = Add(s);
        e.load = [this, index](Entry& x) { x.value = ReadParam(image_, index); };
        e.text = std::move(text);
        e.write = [this, index](const Entry& x) { WriteParam(image_, index, x.value); };
    }
};

// LH 2.2: injector byte of the stock 24 lb/hr injector; a stored 0 reads as it.
constexpr int kLH22StockInjector = 128;
constexpr std::array<int, 9> kLH22InjectorTable{7, 7, 7, 9, 12, 14, 26, 26, 26};
constexpr int kPulsingOn = 0xA7;
constexpr int kPulsingOff = 0x97;

int LH22Injector(int b) { return b == 0 ? kLH22StockInjector : b; }
int LH22Rpm(int b) { return static_cast<int>(conv::RoundToSignificant(conv::RoundEven(60.0 / (b * 0.0001144409)), 3)); }
int LH22CrankingWord(int v) { return conv::RoundEven(v / 20.0 * 1000.0 / 3.5765); }
int LH22OpeningWord(int v) { return conv::RoundEven(Round5(v * 35.8)); }

class LH22Page final : public ParamPage {
public:
    LH22Page(EPROM& image, ParamServices services) : ParamPage(image, std::move(services)) {
        // Cut-off byte 75..150: 7020 down to 3490 rpm.
        ParamSetting rev = Number("rev_limit_rpm", "Rev limiter", "Fuel cut off RPM:", "LH22RevLimiter", -150, -75);
        rev.byteLabel = "lblLH22RevLimiterByte";
        Entry& r = Add(rev);
        r.load = [this](Entry& x) { x.value = -ReadParam(image_, 42); };
        r.text = [](int v) { return std::to_string(LH22Rpm(NegByte(v))); };
        r.byteText = [](int v) { return std::to_string(NegByte(v)); };
        r.write = [this](const Entry& x) { WriteParam(image_, 42, NegByte(x.value)); };

        // Injector byte 40..200: 76.8 down to 15.4 lb/hr (the table stays within a byte).
        ParamSetting inj =
            Number("injector_size", "Injector size", "Custom size (lb/hr):", "InjectorSizeLH22Custom", -200, -40);
        inj.byteLabel = "lblInjectorSizeLH22CustomByte";
        inj.radio = "radioInjectorSizeLH22";
        inj.optionKeys = {"19", "24", "30", "36", "custom"};
        inj.optionCaptions = {"19 lb/hr", "24 lb/hr (stock)", "30 lb/hr", "36 lb/hr", "Custom"};
        Entry& i = Add(inj);
        i.presetValues = {-162, -128, -102, -85};
        i.load = [this](Entry& x) {
            const int b = ReadParam(image_, 46);
            const auto it = std::find(x.presetValues.begin(), x.presetValues.end(), -b);
            x.option = static_cast<int>(it - x.presetValues.begin());
            x.value = -LH22Injector(b);
        };
        i.text = [](int v) { return Fixed(24.0 / (LH22Injector(NegByte(v)) / 128.0), 1); };
        i.byteText = [](int v) { return std::to_string(NegByte(v)); };
        i.write = [this](const Entry& x) {
            const int b = NegByte(x.value);
            WriteParam(image_, 46, b);
            const double f = LH22Injector(b) / 128.0;
            std::vector<std::uint8_t> table;
            for (int t : kLH22InjectorTable)
                table.push_back(
                    static_cast<std::uint8_t>(conv::RoundEven(((t * 512.0 - 503.0) * f + 503.0) / 512.0) & 0xFF));
            image_.WriteBlock(Addr(image_, 54), table);
        };
        i.after = [this](const Entry& x) {
            const int b = NegByte(x.value);
            Entry& cranking = At("cranking_pw");
            const int v = conv::RoundEven((((b - 128) * 350.0 / 47.0) + 1575.0) * 0.7454 * 0.0035765 * 20.0);
            Change(cranking, std::clamp(v, cranking.info.min, cranking.info.max));
        };

        // 0.50 .. 10.00 ms.
        ParamSetting crank = Number("cranking_pw", "Cranking pulse width",
                                    "Cranking pulse width (msec) on warm engine:", "CrankingPWLH22", 10, 200);
        crank.extraLabel = "lblCrankingPWLH22";
        Entry& c = Add(crank);
        c.load = [this](Entry& x) {
            const int word = ReadParam(image_, 47) * 256 + ReadParam(image_, 48);
            x.value = conv::RoundEven(word / 1000.0 * 3.5765 * 20.0);
        };
        c.text = [](int v) { return Fixed(v / 20.0, 2); };
        c.extraText = [](int v) { return std::to_string(LH22CrankingWord(v)); };
        c.write = [this](const Entry& x) {
            const int w = LH22CrankingWord(x.value);
            WriteParam(image_, 47, conv::HiByte(w));
            WriteParam(image_, 48, conv::LoByte(w));
            WriteParam(image_, 49, conv::LoByte(w));
        };

        // Stored word 0 .. 65515: the up-down runs to 1830.
        ParamSetting open = Number("injector_opening_time", "Injector opening time",
                                   "Injector opening time (msec) @ 13.1 V:", "InjectorOpeningTimeLH22", 0, 1830);
        open.extraLabel = "lblInjOpeningTimeLH22";
        open.step = 40; // about 0.01 ms
        Entry& o = Add(open);
        o.load = [this](Entry& x) {
            const int word = ReadParam(image_, 50) * 256 + ReadParam(image_, 51);
            x.value = conv::RoundEven(Round5(word / 35.8));
        };
        o.text = [](int v) { return Fixed(((LH22OpeningWord(v) / 256.0) + 130.0) / 559200.0 * 1000.0, 2); };
        o.extraText = [](int v) { return std::to_string(LH22OpeningWord(v)); };
        o.write = [this](const Entry& x) {
            const int w = LH22OpeningWord(x.value);
            WriteParam(image_, 50, conv::HiByte(w));
            WriteParam(image_, 51, conv::LoByte(w));
        };

        ParamSetting o2;
        o2.key = "o2_loop";
        o2.frame = "Oxygen sensor";
        o2.kind = SettingKind::Option;
        o2.radio = "radioLH22O2Enable";
        o2.optionKeys = {"enabled", "disabled"};
        o2.optionCaptions = {"Enabled", "Disabled"};
        Entry& l = Add(o2);
        l.load = [this](Entry& x) { x.option = image_.LH22_IsO2LoopEnabled() ? 0 : 1; };
        l.write = [this](const Entry& x) { image_.LH22_EnableO2Loop(x.option == 0); };

        ParamSetting pulse;
        pulse.key = "pulsing";
        pulse.frame = "2:1 pulsing";
        pulse.caption = "Halve injection pulse rate under high load and RPM";
        pulse.kind = SettingKind::Check;
        pulse.check = "chkEnable21PulsingLH22";
        Entry& p = Add(pulse);
        p.load = [this](Entry& x) { x.checked = ReadParam(image_, 53) == kPulsingOn; };
        p.write = [this](const Entry& x) { WriteParam(image_, 53, x.checked ? kPulsingOn : kPulsingOff); };
    }

    std::string TabKey() const override { return "ParametersLH22"; }
};

// EZF vacuum sensor calibration byte n (signed) of the up-down value v = -n: -20 .. 64, a sensor
// that gives 5.00 V down to 3.36 V at sea-level atmospheric pressure.
constexpr int kVacCalMin = -64;
constexpr int kVacCalMax = 20;
constexpr const char* kAmbientSection = "Ambient";
constexpr const char* kAltitudeKey = "Altitude";
constexpr int kAuxInput3Channel = 6;
constexpr int kCalibrationReadings = 50;

class EZFPage final : public ParamPage {
public:
    EZFPage(EPROM& image, ParamServices services) : ParamPage(image, std::move(services)) {
        const std::string frame = "Vacuum sensor calibration";
        ParamSetting cal =
            Number("vacuum_sensor_volts", frame,
                   "Vacuum sensor voltage at atmospheric pressure at specified altitude:", "VacSensorCal", kVacCalMin,
                   kVacCalMax);
        cal.byteLabel = "lblVacSensorCalByte";
        Entry& c = Add(cal);
        c.load = [this](Entry& x) { x.value = -conv::ToSignedByte(ReadParam(image_, 55)); };
        c.text = [this](int v) { return Fixed(Volts(v), 2); };
        c.byteText = [](int v) { return std::to_string((-v) & 0xFF); };
        c.write = [this](const Entry& x) {
            const int b = (-x.value) & 0xFF;
            WriteParam(image_, 55, b);
            WriteParam(image_, 56, b < 128 ? 0xE6 : 0xF6);
            WriteParam(image_, 57, b < 128 ? 0xFF : 0x00);
        };

        ParamSetting alt =
            Number("altitude_ft", frame, "Current altitude (above sea level):", "VacSensorAltitude", -5000, 25000);
        alt.step = 100;
        alt.inImage = false;
        alt.textBox = "txtVacSensorAltitude(0)";
        alt.extraLabel = "txtVacSensorAltitude(1)";
        alt.unit = "ft";
        alt.extraUnit = "m";
        Entry& a = Add(alt);
        a.load = [this](Entry& x) {
            x.value = 0;
            if (!services_.settings) return;
            const std::string s = services_.settings->GetSetting(kAmbientSection, kAltitudeKey, "0");
            int v = 0;
            const auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
            if (ec == std::errc() && p == s.data() + s.size()) x.value = std::clamp(v, x.info.min, x.info.max);
        };
        a.text = [](int v) { return std::to_string(v); };
        a.extraText = [](int v) { return std::to_string(conv::RoundEven(v * 0.305)); };
        AddCommand({"cmdVacSensorCal", "Measure now on aux 3", frame});

        // Threshold byte 0..255.
        ParamSetting high = Number("high_load_vacuum_inhg", "High load threshold",
                                   "Vacuum threshold (inHg):", "HighLoadCruiseThreshold", 0, 255);
        Entry& h = Add(high);
        h.load = [this](Entry& x) { x.value = ReadParam(image_, 58); };
        h.text = [this](int v) {
            return Fixed(
                conv::VacuumFromRaw(conv::EZF_VacuumCalibrated((256 - (v & 255)) * 256, ReadParam(image_, 55))), 1);
        };
        h.write = [this](const Entry& x) {
            WriteParam(image_, 58, x.value);
            WriteParam(image_, 59, x.value);
        };

        const std::string advance = "Ignition advance change";
        // An interval of 1..255 sparks; a step of 1..20 (1.8 to 36.0 degrees per spark).
        ParamSetting interval =
            Number("advance_change_interval", advance,
                   "Ignition advance change interval (sparks) at low load:", "EZFAdvChangeInterval", 1, 255);
        Entry& i = Add(interval);
        i.load = [this](Entry& x) { x.value = ReadParam(image_, 60); };
        i.text = [](int v) { return std::to_string(v); };
        i.write = [this](const Entry& x) { WriteParam(image_, 60, x.value); };
        ParamSetting step =
            Number("advance_change_step", advance,
                   "Ignition advance change rate (\xC2\xB0 per spark) at high load:", "EZFAdvChangeStep", 1, 20);
        Entry& s = Add(step);
        s.load = [this](Entry& x) { x.value = ReadParam(image_, 61); };
        s.text = [](int v) { return Fixed(v * 1.8, 1); };
        s.write = [this](const Entry& x) { WriteParam(image_, 61, x.value); };
    }

    std::string TabKey() const override { return "ParametersEZF"; }

    void Leave() override {
        if (services_.settings)
            services_.settings->SaveSetting(kAmbientSection, kAltitudeKey, std::to_string(Value("altitude_ft")));
    }

    bool RunCommand(const std::string& name) override {
        if (name != "cmdVacSensorCal") return false;
        UserMessages* m = services_.messages;
        if (!m || !services_.aux) return false;
        if (m->MessageBox(
                "Please make sure ignition is turned on but engine is not running. Alternatively, you can run "
                "the engine but disconnect the vacuum feed to the EZF so that the EZF is seeing atmospheric "
                "pressure. Click OK to proceed when ready.",
                "Read vacuum sensor voltage", MsgButtons::OKCancel) != MsgResult::OK)
            return false;
        services_.aux->SetAuxInputFilter(kAuxInput3Channel, 0);
        double sum = 0;
        for (int k = 0; k < kCalibrationReadings; ++k)
            sum += services_.aux->ReadAuxInput(kAuxInput3Channel).value_or(0);
        const double a = sum / kCalibrationReadings;
        const double offset = conv::VacuumSensorAltitudeOffset(Value("altitude_ft"));
        const double corrected = a - offset / 5.0 * 65536.0;
        const int n = conv::RoundEven(corrected / 256.0);
        // The up-down whose shown voltage is the one measured: volts = n / 256 x 5 + offset.
        const int v = n - conv::RoundEven(4.61 / 5.0 * 256.0);
        if (n < 0 || n >= 256 || v < Min("vacuum_sensor_volts") || v > Max("vacuum_sensor_volts")) {
            m->MessageBox("No valid vacuum sensor signal was detected on aux input 3. Please make sure that:\r\n"
                          "- The vacuum sensor signal is wired to aux input 3\r\n"
                          "- The vacuum sensor is seeing atmospheric pressure (engine not running or vacuum feed to "
                          "EZF disconnected)\r\n"
                          "- Ignition is turned on\r\n"
                          "- Altitude setting is correct",
                          "Error", MsgButtons::OK, MsgIcon::Critical);
            return false;
        }
        SetValue("vacuum_sensor_volts", v);
        return true;
    }

private:
    double Volts(int v) const {
        return 4.61 - (-v) / 256.0 * 5.0 + conv::VacuumSensorAltitudeOffset(Value("altitude_ft"));
    }
};

} // namespace

std::unique_ptr<ParamPage> MakeEZKPage(EPROM& image, ParamServices services) {
    return std::make_unique<EZKPage>(image, std::move(services));
}

std::unique_ptr<ParamPage> MakeLH22Page(EPROM& image, ParamServices services) {
    return std::make_unique<LH22Page>(image, std::move(services));
}

std::unique_ptr<ParamPage> MakeEZFPage(EPROM& image, ParamServices services) {
    return std::make_unique<EZFPage>(image, std::move(services));
}

std::unique_ptr<ParamPage> MakeParamPage(EPROM& image, ParamServices services) {
    switch (image.GetECUType()) {
    case EcuType::LH23: return MakeLH23Page(image, std::move(services));
    case EcuType::EZK: return MakeEZKPage(image, std::move(services));
    case EcuType::LH22: return MakeLH22Page(image, std::move(services));
    case EcuType::EZF: return MakeEZFPage(image, std::move(services));
    case EcuType::Unknown: break;
    }
    return nullptr;
}

} // namespace kv
