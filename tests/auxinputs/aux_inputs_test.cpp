#include "auxinputs/aux_inputs.h"

#include "aux_fakes.h"
#include "fakes.h"

#include <gtest/gtest.h>

namespace kv {

namespace {

std::vector<std::pair<double, double>> Law(const AuxInputs& aux, int n) {
    std::vector<std::pair<double, double>> out;
    for (int i = 0; i < aux.GetAuxLawSize(n); ++i) out.emplace_back(aux.GetAuxLawIn(n, i), aux.GetAuxLawOut(n, i));
    return out;
}

using Points = std::vector<std::pair<double, double>>;

TEST(AuxLaw, DefaultsPerInput) {
    AuxInputs aux;
    for (int n = 1; n <= 4; ++n) {
        EXPECT_EQ(Law(aux, n), (Points{{0, 0}})) << n;
        EXPECT_TRUE(aux.IsAuxLawDefault(n));
    }
    EXPECT_EQ(Law(aux, 5), (Points{{0, 9}, {5, 19}}));
    EXPECT_FALSE(aux.IsAuxLawDefault(5));
    EXPECT_DOUBLE_EQ(aux.ConvertAux(5, 32768), 14.0);
}

TEST(AuxLaw, FirstPointReplacesPlaceholderAndRemovalBringsItBack) {
    AuxInputs aux;
    aux.AddAuxLawPoint(2, 1.5, 30);
    EXPECT_EQ(Law(aux, 2), (Points{{1.5, 30}}));
    EXPECT_FALSE(aux.IsAuxLawDefault(2));
    aux.AddAuxLawPoint(2, 0.5, 10);
    EXPECT_EQ(Law(aux, 2), (Points{{0.5, 10}, {1.5, 30}}));
    aux.RemoveAuxLawPoint(2, 5); // past the end: nothing
    EXPECT_EQ(aux.GetAuxLawSize(2), 2);
    aux.RemoveAuxLawPoint(2, 0);
    EXPECT_EQ(Law(aux, 2), (Points{{1.5, 30}}));
    aux.RemoveAuxLawPoint(2, 0);
    EXPECT_EQ(Law(aux, 2), (Points{{0, 0}}));
    EXPECT_TRUE(aux.IsAuxLawDefault(2));
    aux.AddAuxLawPoint(2, 4, 8); // the placeholder is replaced again, not joined
    EXPECT_EQ(Law(aux, 2), (Points{{4, 8}}));
}

TEST(AuxLaw, InsertKeepsOrderAndEqualVoltageOverwrites) {
    struct Case {
        double volts, value;
        Points expected;
    };
    const Case steps[] = {
        {2.5, 14, {{0, 9}, {2.5, 14}, {5, 19}}},
        {2.5, 15, {{0, 9}, {2.5, 15}, {5, 19}}},
        {-1, 1, {{-1, 1}, {0, 9}, {2.5, 15}, {5, 19}}},
        {6, 30, {{-1, 1}, {0, 9}, {2.5, 15}, {5, 19}, {6, 30}}},
        {1, 10, {{-1, 1}, {0, 9}, {1, 10}, {2.5, 15}, {5, 19}, {6, 30}}},
    };
    AuxInputs aux;
    for (const auto& s : steps) {
        aux.AddAuxLawPoint(5, s.volts, s.value);
        EXPECT_EQ(Law(aux, 5), s.expected) << s.volts;
    }
    aux.RemoveAuxLawPoint(5, 2);
    EXPECT_EQ(Law(aux, 5), (Points{{-1, 1}, {0, 9}, {2.5, 15}, {5, 19}, {6, 30}}));
    // The raw form follows every move: 2.5 V is raw 32768.
    EXPECT_DOUBLE_EQ(aux.ConvertAux(5, 32768), 15.0);
}

TEST(AuxLaw, ConvertClampsOutsideAndInterpolatesBetween) {
    AuxInputs aux;
    aux.AddAuxLawPoint(1, 1.0, 100); // raw 13107.2
    aux.AddAuxLawPoint(1, 3.0, 300); // raw 39321.6
    struct Case {
        double raw, expected;
    } cases[] = {{0, 100}, {13107.2, 100}, {26214.4, 200}, {39321.6, 300}, {65535, 300}, {-5, 100}};
    for (auto c : cases) EXPECT_NEAR(aux.ConvertAux(1, c.raw), c.expected, 1e-9) << c.raw;
    AuxInputs single;
    single.AddAuxLawPoint(3, 2.0, 42);
    EXPECT_DOUBLE_EQ(single.ConvertAux(3, 0), 42);
    EXPECT_DOUBLE_EQ(single.ConvertAux(3, 65535), 42);
    EXPECT_DOUBLE_EQ(aux.ConvertAux(0, 1000), 0);
    EXPECT_DOUBLE_EQ(aux.ConvertAux(6, 1000), 0);
}

TEST(AuxLaw, AfrAndEquivalenceRatioUseInputFive) {
    AuxInputs aux;
    EXPECT_FLOAT_EQ(aux.AfrFromAux(32768), 14.0f);
    EXPECT_FLOAT_EQ(aux.EquivalenceRatioFromAux(32768), static_cast<float>(14.7 / 14.0));
    AuxInputRecord zero = DefaultAuxRecord(5);
    zero.lawOut = {0, 0};
    aux.SetRecord(5, zero);
    EXPECT_FLOAT_EQ(aux.EquivalenceRatioFromAux(1000), 0.0f); // no division by zero
}

// A reading at either end of its law (within one count of 65536, or beyond) says the sensor is
// not measuring: warming up, or unplugged.
TEST(AuxLaw, ReadingsAtEitherEndOfTheLaw) {
    AuxInputs aux; // wide-band: 0 V -> 9, 5 V -> 19
    struct Case {
        double raw;
        bool atEnd;
    };
    for (const Case& c : {Case{0, true}, Case{0.9, true}, Case{2, false}, Case{32768, false}, Case{65534, false},
                          Case{65535, true}, Case{70000, true}}) {
        EXPECT_EQ(aux.AtLawEnd(5, c.raw), c.atEnd) << c.raw;
    }
    aux.AddAuxLawPoint(1, 1.0, 100);
    aux.AddAuxLawPoint(1, 3.0, 300);
    EXPECT_TRUE(aux.AtLawEnd(1, 13107));
    EXPECT_FALSE(aux.AtLawEnd(1, 13109));
    EXPECT_TRUE(aux.AtLawEnd(1, 39321));
    EXPECT_TRUE(aux.AtLawEnd(2, 30000)) << "a law of one point has no inside";
    EXPECT_TRUE(aux.AtLawEnd(0, 30000)) << "an unknown input measures nothing";
}

TEST(AuxFormat, DecimalsAndUnit) {
    struct Case {
        int decimals;
        std::string unit;
        double raw;
        std::string plain, withUnit;
    } cases[] = {
        {0, "", 32768, "14", "14"},
        {2, "AFR", 32768, "14.00", "14.00 AFR"},
        {1, "psi", 0, "9.0", "9.0 psi"},
        {4, "", 65535, "18.9998", "18.9998"},
    };
    for (const auto& c : cases) {
        AuxInputs aux;
        aux.SetAuxDecimals(5, c.decimals);
        aux.SetAuxUnit(5, c.unit);
        EXPECT_EQ(aux.FormatAux(5, c.raw), c.plain);
        EXPECT_EQ(aux.FormatAuxWithUnit(5, c.raw), c.withUnit);
    }
    EXPECT_EQ(FormatFixed(-0.004, 2), "0.00");
    EXPECT_EQ(FormatFixed(-0.4, 0), "0");
    EXPECT_EQ(FormatFixed(-1.25, 1), "-1.2");
}

TEST(AuxNames, DisplayName) {
    struct Case {
        int n;
        bool enabled;
        std::string name, expected;
    } cases[] = {
        {2, true, "", "(aux 2)"},
        {2, true, "   ", "(aux 2)"},
        {1, false, "Boost", "(aux 1)"},
        {1, true, "Boost", "Boost (aux 1)"},
        {5, true, "Lambda", "Lambda (aux 5)"},
    };
    for (const auto& c : cases) {
        AuxInputs aux;
        aux.SetAuxEnabled(c.n, c.enabled);
        aux.SetAuxName(c.n, c.name);
        EXPECT_EQ(aux.GetAuxDisplayName(c.n), c.expected);
    }
}

TEST(AuxChannels, ChannelsAndAddresses) {
    const int channels[] = {2, 3, 4, 5, 0};
    const int addresses[] = {5, 6, 7, 8, 11};
    for (int n = 1; n <= 5; ++n) {
        EXPECT_EQ(AuxInputs::GetAuxChannel(n), channels[n - 1]);
        EXPECT_EQ(AuxInputs::GetAuxAddress(n), addresses[n - 1]);
    }
    EXPECT_EQ(AuxInputs::GetAuxChannel(0), -1);
    EXPECT_EQ(AuxInputs::GetAuxAddress(6), -1);
}

TEST(AuxFilters, SetFilterClampsAndSendsOnItsChannel) {
    FakeAuxDevice dev;
    AuxInputs aux(&dev);
    aux.SetAuxFilter(3, 9);
    aux.SetAuxFilter(5, -2);
    EXPECT_EQ(aux.GetAuxFilter(3), 5);
    EXPECT_EQ(aux.GetAuxFilter(5), 0);
    EXPECT_EQ(dev.sent, (std::vector<std::pair<int, int>>{{4, 5}, {0, 0}}));
    dev.sent.clear();
    aux.SetAuxFilter(1, 2);
    dev.sent.clear();
    EXPECT_TRUE(aux.SendAllAuxFilters());
    EXPECT_EQ(dev.sent, (std::vector<std::pair<int, int>>{{2, 2}, {3, 0}, {4, 5}, {5, 0}}));
    dev.present = false;
    EXPECT_FALSE(aux.SendAllAuxFilters());
}

TEST(AuxSettings, EscapingOfNamesAndUnits) {
    struct Case {
        std::string text, escaped;
    } cases[] = {
        {"Oil;temp", "Oil%003Btemp"},
        {"a=b%c", "a%003Db%0025c"},
        {"Tab\there", "Tab%0009here"},
        {"\xC2\xB0"
         "C",
         "%00B0C"},                         // degree sign
        {"\xE2\x82\xAC", "%20AC"},          // euro sign
        {"\xF0\x9F\x98\x80", "%D83D%DE00"}, // outside the 16-bit range: two halves
        {"~ok!", "~ok!"},
        {"\x7F", "%007F"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EscapeAuxText(c.text), c.escaped) << c.text;
        EXPECT_EQ(UnescapeAuxText(c.escaped), c.text) << c.escaped;
    }
    // Broken escapes are kept as they are; lone halves become the replacement character.
    EXPECT_EQ(UnescapeAuxText("50%"), "50%");
    EXPECT_EQ(UnescapeAuxText("%00G1x"), "%00G1x");
    EXPECT_EQ(UnescapeAuxText("%D83Dx"), "\xEF\xBF\xBDx");
    EXPECT_EQ(UnescapeAuxText("%003b"), ";");
}

TEST(AuxSettings, RoundTripThroughTheStore) {
    MemorySettings store;
    FakeAuxDevice dev;
    AuxInputs aux(&dev);
    const std::string names[] = {"Boost;Press=1%", "\xC3\x96ltemperatur", "", "EGT \xE2\x84\x83", "A/F"};
    for (int n = 1; n <= 5; ++n) {
        aux.SetAuxName(n, names[n - 1]);
        aux.SetAuxEnabled(n, n % 2 == 1);
        aux.SetAuxUnit(n, n == 2 ? "\xC2\xB0"
                                   "C;="
                                 : "u" + std::to_string(n));
        aux.SetAuxDecimals(n, n);
        aux.SetAuxFilter(n, n - 1);
        aux.AddAuxLawPoint(n, 0.1 * n, -1.0 / 3.0);
        aux.AddAuxLawPoint(n, 4.75, 1e6);
        aux.SaveAuxInputs(store, n);
    }
    EXPECT_EQ(store.values.at({"AuxInputs", "1"}),
              "Name=Boost%003BPress%003D1%0025;Enabled=1;Unit=u1;Dec=1;Filter=0;LawIn=0.1|4.75;"
              "LawOut=-0.3333333333333333|1000000;");
    dev.sent.clear();
    AuxInputs loaded(&dev);
    loaded.LoadAuxInputs(store);
    for (int n = 1; n <= 5; ++n) {
        EXPECT_EQ(loaded.GetAuxName(n), aux.GetAuxName(n));
        EXPECT_EQ(loaded.IsAuxEnabled(n), aux.IsAuxEnabled(n));
        EXPECT_EQ(loaded.GetAuxUnit(n), aux.GetAuxUnit(n));
        EXPECT_EQ(loaded.GetAuxDecimals(n), aux.GetAuxDecimals(n));
        EXPECT_EQ(loaded.GetAuxFilter(n), aux.GetAuxFilter(n));
        EXPECT_EQ(Law(loaded, n), Law(aux, n)) << n;
        EXPECT_FALSE(loaded.IsAuxLawDefault(n));
    }
    // Loading sends each input's filter on its channel.
    EXPECT_EQ(dev.sent, (std::vector<std::pair<int, int>>{{2, 0}, {3, 1}, {4, 2}, {5, 3}, {0, 4}}));
}

TEST(AuxSettings, MalformedValuesLoadSanely) {
    struct Case {
        const char* label;
        int n;
        std::string text;
        std::string name;
        bool enabled;
        int decimals, filter;
        Points law;
    } cases[] = {
        {"missing key", 1, "", "", false, 0, 0, {{0, 0}}},
        {"missing key wbo2", 5, "", "", false, 0, 0, {{0, 9}, {5, 19}}},
        {"garbage", 2, "no fields at all", "", false, 0, 0, {{0, 0}}},
        {"bad numbers",
         3,
         "Name=x;Enabled=yes;Dec=abc;Filter=;LawIn=a|2;LawOut=1|b;",
         "x",
         false,
         0,
         0,
         {{0, 1}, {2, 0}}},
        {"out of range", 1, "Dec=99;Filter=-4;Enabled=1;", "", true, 6, 0, {{0, 0}}},
        {"unequal law lists", 5, "LawIn=0|1|2;LawOut=5|6;", "", false, 0, 0, {{0, 9}, {5, 19}}},
        {"unsorted", 2, "LawIn=3|1|2;LawOut=30|10|20;", "", false, 0, 0, {{1, 10}, {2, 20}, {3, 30}}},
        {"duplicates", 2, "LawIn=1|1|2;LawOut=5|6|7;", "", false, 0, 0, {{1, 6}, {2, 7}}},
        {"not finite", 4, "LawIn=nan|inf;LawOut=1|2;", "", false, 0, 0, {{0, 2}}},
        {"fields out of order, no final ;", 1, "Filter=3;Name=Q", "Q", false, 0, 3, {{0, 0}}},
        {"empty law", 4, "LawIn=;LawOut=;", "", false, 0, 0, {{0, 0}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        MemorySettings store;
        store.SaveSetting("AuxInputs", std::to_string(c.n), c.text);
        AuxInputs aux;
        aux.LoadAuxInputs(store);
        EXPECT_EQ(aux.GetAuxName(c.n), c.name);
        EXPECT_EQ(aux.IsAuxEnabled(c.n), c.enabled);
        EXPECT_EQ(aux.GetAuxDecimals(c.n), c.decimals);
        EXPECT_EQ(aux.GetAuxFilter(c.n), c.filter);
        EXPECT_EQ(Law(aux, c.n), c.law);
    }
}

TEST(AuxAccessors, UnknownInputsAreIgnored) {
    AuxInputs aux;
    for (int n : {0, 6, -1}) {
        aux.SetAuxName(n, "x");
        aux.AddAuxLawPoint(n, 1, 1);
        aux.SetAuxLawIn(n, 0, 3);
        EXPECT_EQ(aux.GetAuxName(n), "");
        EXPECT_EQ(aux.GetAuxLawSize(n), 0);
        EXPECT_EQ(aux.GetAuxLawIn(n, 0), 0.0);
    }
    aux.SetAuxLawIn(1, 7, 3.0); // index out of range: no change
    EXPECT_EQ(Law(aux, 1), (Points{{0, 0}}));
}

} // namespace

} // namespace kv
