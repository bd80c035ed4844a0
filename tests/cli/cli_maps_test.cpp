// kestrovane-cli map, calc and diff commands, run in-process on images made from the base images.
#include "cli/cli.h"
#include "cli_run.h"
#include "eprom/base_images.h"
#include "eprom/eprom_image.h"
#include "maps/map_definitions.h"

#include <gtest/gtest.h>

#include "../eprom/eprom_test_util.h"

#include <charconv>
#include <sstream>

namespace kv {

namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::string line;
    std::istringstream in(text);
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab - start));
        if (tab == std::string::npos) return fields;
        start = tab + 1;
    }
}

TEST(CliCalc, PrintsResultsInTheirOwnPrecision) {
    struct Case {
        std::vector<std::string> args;
        const char* out;
    };
    const Case cases[] = {
        {{"LH_RpmFromByte", "0"}, "6858\n"},
        {{"LH_ByteFromRpm", "6858"}, "0\n"},
        {{"LH_RpmCodeLow", "1"}, "20000\n"},
        {{"CombineWord", "18", "52"}, "4660\n"},
        {{"CombineWord", "18", "52", "1"}, "13330\n"},
        {{"RoundToSignificant", "6858", "2"}, "6900\n"},
        {{"NextTimerInterval", "0.5", "0.1"}, "20\n"},
        {{"DevicePeriodSeconds", "1"}, "1.3333333333333334e-06\n"},
        {{"EZK_IgnitionAdvance", "16", "0"}, "54\n"},
        {{"EZK_IgnitionAdvance", "0", "1000"}, "59.457\n"}, // float: 59.457 reads back to the same float
        {{"IgnitionAdvanceFromTiming", "800", "0"}, "68.4\n"},
        {{"IsDutyCycleHigh", "0.95"}, "true\n"},
        {{"ToSignedByte", "255"}, "-1\n"},
        {{"TempLH23Coolant", "128"}, "21\n"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args{"calc"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const auto r = Cli(args);
        EXPECT_EQ(r.code, kExitOk) << c.args[0] << " " << r.err;
        EXPECT_EQ(r.out, c.out) << c.args[0];
    }
    // Single-precision results read back to the same float; double results to the same double.
    const auto volts = Cli({"calc", "LH23_BatteryVolts", "190"});
    float f = 0;
    ASSERT_EQ(std::from_chars(volts.out.data(), volts.out.data() + volts.out.size() - 1, f).ec, std::errc());
    EXPECT_EQ(f, static_cast<float>(190.5 / 15.83333));
    const auto vacuum = Cli({"calc", "VacuumFromRaw", "1000"});
    double d = 0;
    ASSERT_EQ(std::from_chars(vacuum.out.data(), vacuum.out.data() + vacuum.out.size() - 1, d).ec, std::errc());
    EXPECT_EQ(d, (4.61 - 1000 / 65536.0 * 5) / 0.175);
}

TEST(CliCalc, RefusesBadCalls) {
    const std::vector<std::vector<std::string>> cases = {
        {"calc"},
        {"calc", "NoSuchFunction", "1"},
        {"calc", "LH_RpmFromByte"},
        {"calc", "LH_RpmFromByte", "1", "2"},
        {"calc", "LH_RpmFromByte", "1.5"},
        {"calc", "LH_RpmFromByte", "abc"},
        {"calc", "LH_RpmFromByte", "1e12"},
        {"calc", "VacuumFromRaw", "nan"},
        {"calc", "VacuumFromRaw", "1x"},
    };
    for (const auto& args : cases) {
        const auto r = Cli(args);
        EXPECT_EQ(r.code, kExitUsage) << args.back();
        EXPECT_TRUE(r.out.empty());
        EXPECT_FALSE(r.err.empty());
    }
}

class CliMaps : public testing::Test {
protected:
    std::string NewImage(const std::string& base, const std::string& name) {
        const std::string path = dir.File(name);
        const auto r = Cli({"image", "new", base, "-o", path});
        EXPECT_EQ(r.code, kExitOk) << base << ": " << r.err;
        return path;
    }
    eprom_test::TempDir dir;
};

// `diff` names a differing cell by the map's axis captions and the labels its grid shows, after
// the indexes (which keep their place for scripts): reversed axes, two header lines, numbered
// columns and maps of one row, on each kind of image.
TEST_F(CliMaps, DiffNamesCellsByTheirAxisValues) {
    struct Case {
        const char* base;
        const char* map;
        int row, col;
        const char* text;
        const char* place;
    };
    const Case cases[] = {
        {"MRX_D", "Base fuel map (cat)", 2, 7, "10", "MAF 40 / RPM 2200"},
        {"MRX_D", "WOT enrichment map (non-cat)", 0, 16, "30", "RPM 6300"},
        {"MRX_D", "Warmup enrichment map (cat)", 0, 5, "80",
         "Coolant temperature 20 \xC2\xB0"
         "C (68 \xC2\xB0"
         "F)"},
        {"MRX_LH22_EURO", "Base fuel map", 2, 1, "20", "MAF 54 / RPM 750"},
        {"MRX_LH22_EURO", "Warmup enrichment map", 0, 8, "70",
         "Coolant temperature 22 \xC2\xB0"
         "C (71 \xC2\xB0"
         "F)"},
        {"EZK_D-S4", "Cruise map (98 octane cat)", 1, 3, "30.0", "Load 7 % / RPM 1100"},
        {"EZK_D-S4", "Warmup compensation map (idle)", 0, 2, "1.5", "Coolant temperature column 3"},
        {"EZK_D-S4", "Max knock retard (91 octane)", 0, 3, "20.3", "RPM 1000"},
        {"EZF_USA", "Cruise map", 1, 0, "20.0", "Vac [inHg] 18.0 / RPM 600"},
        {"EZF_USA", "Idle map", 0, 15, "15.0", "RPM 6000"},
        {"EZF_USA", "Air temperature compensation map (WOT)", 0, 1, "-1.0",
         "Air temperature 20 \xC2\xB0"
         "C (68 \xC2\xB0"
         "F)"},
        {"EZF_USA", "Warmup compensation map (idle) ", 0, 4, "1.0",
         "Coolant temperature 80 \xC2\xB0"
         "C (176 \xC2\xB0"
         "F)"},
    };
    for (const Case& c : cases) {
        const std::string in = NewImage(c.base, std::string(c.base) + ".bin");
        const std::string out = dir.File(std::string(c.base) + "-set.bin");
        const auto set =
            Cli({"map", "set", in, c.map, std::to_string(c.row), std::to_string(c.col), c.text, "-o", out});
        ASSERT_EQ(set.code, kExitOk) << c.map << ": " << set.err;
        const auto diff = Cli({"diff", in, out});
        EXPECT_EQ(diff.code, 3) << c.map;
        const auto lines = Lines(diff.out);
        ASSERT_EQ(lines.size(), 1u) << c.map << ": " << diff.out;
        const std::string indexes =
            std::string(c.map) + " (row " + std::to_string(c.row) + ", col " + std::to_string(c.col) + "): ";
        EXPECT_EQ(lines[0].rfind(indexes, 0), 0u) << lines[0];
        const auto fields = Fields(lines[0]);
        ASSERT_EQ(fields.size(), 2u) << lines[0];
        EXPECT_EQ(fields[1], c.place) << c.map;
    }
}

// Where the two images' axes differ, a cell is named in both.
TEST_F(CliMaps, DiffNamesACellInBothImagesWhereTheirAxesDiffer) {
    const std::string map = "WOT map (91 octane)";
    const std::string in = NewImage("EZK_D-S4", "ezk.bin");
    EPROM image;
    ASSERT_EQ(image.LoadFromFile(in), "");
    // The rpm axis of the cruise and WOT maps moves: its first step grows.
    const std::int32_t axis = image.GetEPROMAddress(29);
    ASSERT_GT(axis, 0);
    image.WriteByte(axis, static_cast<std::uint8_t>(image.ReadByte(axis) + 60));
    const std::string out = dir.File("ezk-axis.bin");
    ASSERT_TRUE(image.SaveToFile(out, image.GetFileFormat()));
    const auto headerA = Fields(Lines(Cli({"map", "show", in, map}).out)[0]);
    const auto headerB = Fields(Lines(Cli({"map", "show", out, map}).out)[0]);
    ASSERT_NE(headerA, headerB);

    const auto diff = Cli({"diff", in, out});
    EXPECT_EQ(diff.code, 3);
    int named = 0, namedTwice = 0;
    for (const std::string& line : Lines(diff.out)) {
        if (line.rfind(map + " (row 0, col ", 0) != 0) continue;
        const std::size_t col = std::stoul(line.substr(map.size() + 12));
        ASSERT_LT(col + 1, headerA.size()) << line;
        const std::string a = "RPM " + headerA[col + 1], b = "RPM " + headerB[col + 1];
        const auto fields = Fields(line);
        ASSERT_EQ(fields.size(), 2u) << line;
        EXPECT_EQ(fields[1], a == b ? a : a + " -> " + b) << line;
        ++named;
        if (a != b) ++namedTwice;
    }
    EXPECT_GT(named, 0) << diff.out;
    EXPECT_GT(namedTwice, 0) << diff.out;
}

TEST_F(CliMaps, ListShowsExactTextsAndShowRefusesUnknownNames) {
    const std::string lh22 = NewImage("MRX_LH22_USA", "lh22.bin");
    const auto list = Cli({"map", "list", lh22});
    EXPECT_EQ(list.code, kExitOk);
    EXPECT_EQ(list.out, "Base fuel map\nWOT enrichment map\nWarmup enrichment map\nAcceleration enrichment\n"
                        "Cranking fuel map \n");
    const std::string lh = NewImage("MRX_D", "lh.bin");
    for (const char* name : {"Base fuel map ", "Base fuel map", "Cruise map", ""}) {
        const auto r = Cli({"map", "show", lh, name});
        EXPECT_EQ(r.code, kExitFailure) << "'" << name << "'";
        EXPECT_NE(r.err.find("Unknown map"), std::string::npos);
        EXPECT_TRUE(r.out.empty());
    }
    EXPECT_EQ(Cli({"map", "show", lh}).code, kExitUsage);
    EXPECT_EQ(Cli({"map", "list", dir.File("missing.bin")}).code, kExitFailure);

    const auto show = Cli({"map", "show", lh, "Base fuel map (cat)"});
    ASSERT_EQ(show.code, kExitOk) << show.err;
    const auto lines = Lines(show.out);
    ASSERT_EQ(lines.size(), 17u);
    for (const auto& line : lines) EXPECT_EQ(Fields(line).size(), 17u);
    EXPECT_EQ(Fields(lines[0])[0], "");
}

TEST_F(CliMaps, ShowOfAMapWithoutColumnsSaysItIsEmpty) {
    const std::string lh = NewImage("MRX_D", "lh.bin");
    EPROM image;
    ASSERT_EQ(image.LoadFromFile(lh), "");
    const std::int32_t address = image.GetMapAddr(4);
    image.WriteByte(image.GetCreator() == 2 ? address : address + 1, 0); // the axis count byte
    ASSERT_EQ(image.GetMapXAxisWidth(4), 0);
    const std::string empty = dir.File("empty.bin");
    ASSERT_TRUE(image.SaveToFile(empty, image.GetFileFormat()));
    const auto r = Cli({"map", "show", empty, "WOT enrichment map (cat)"});
    EXPECT_EQ(r.code, kExitFailure);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "The map \"WOT enrichment map (cat)\" is empty\n");
    // the other maps still show
    EXPECT_EQ(Cli({"map", "show", empty, "Base fuel map (cat)"}).code, kExitOk);
}

// An LH 2.2 or EZF EPROM holds its image several times; the unit runs from the top copy, so a
// typed cell must reach every copy of the saved file.
TEST_F(CliMaps, SetReachesEveryCopyOfASmallImage) {
    const struct {
        const char* base;
        const char* format;
        const char* map;
        int mapId;
        std::size_t imageSize;
        std::size_t fileSize;
    } cases[] = {{"EZF_USA", "1", "Cruise map", 33, 2048, 4096},
                 {"MRX_LH22_USA", "3", "Base fuel map", 28, 4096, 32768},
                 {"EZF_EURO", "4", "Cruise map", 33, 2048, 65536}};
    for (const auto& c : cases) {
        const std::string in = dir.File(std::string(c.base) + ".bin");
        ASSERT_EQ(Cli({"image", "new", c.base, "-o", in, "--format", c.format}).code, kExitOk) << c.base;
        const std::string out = dir.File(std::string(c.base) + "-set.bin");
        const auto set = Cli({"map", "set", in, c.map, "0", "0", "10", "-o", out});
        ASSERT_EQ(set.code, kExitOk) << c.base << ": " << set.err;

        const auto before = eprom_test::ReadFile(in);
        const auto after = eprom_test::ReadFile(out);
        ASSERT_EQ(after.size(), c.fileSize) << c.base;
        const std::vector<std::uint8_t> first(after.begin(), after.begin() + static_cast<std::ptrdiff_t>(c.imageSize));
        EXPECT_NE(first,
                  std::vector<std::uint8_t>(before.begin(), before.begin() + static_cast<std::ptrdiff_t>(c.imageSize)))
            << c.base;
        for (std::size_t copy = 1; copy < c.fileSize / c.imageSize; ++copy) {
            const auto at = after.begin() + static_cast<std::ptrdiff_t>(copy * c.imageSize);
            EXPECT_EQ(std::vector<std::uint8_t>(at, at + static_cast<std::ptrdiff_t>(c.imageSize)), first)
                << c.base << ", copy " << copy;
        }
        // What the tool shows of the saved file is what the top copy holds.
        EPROM saved;
        ASSERT_EQ(saved.LoadFromFile(out), "");
        EPROM top;
        top.LoadFromArray({after.end() - static_cast<std::ptrdiff_t>(c.imageSize), after.end()});
        ASSERT_EQ(top.GetKind(), saved.GetKind()) << c.base;
        EXPECT_EQ(top.ReadMapCell(c.mapId, 0, 0), saved.ReadMapCell(c.mapId, 0, 0)) << c.base;
        const auto info = Cli({"image", "info", out});
        EXPECT_EQ(info.code, kExitOk);
        EXPECT_NE(info.out.find("kind: " + std::to_string(saved.GetKind()) + "\n"), std::string::npos) << info.out;
        const std::string topFile = dir.File(std::string(c.base) + "-top.bin");
        ASSERT_TRUE(top.SaveToFile(topFile, static_cast<FileFormat>(std::stoi(c.format))));
        const auto shown = Cli({"map", "show", out, c.map});
        ASSERT_EQ(shown.code, kExitOk) << shown.err;
        EXPECT_EQ(shown.out, Cli({"map", "show", topFile, c.map}).out) << c.base;
        EXPECT_NE(shown.out, Cli({"map", "show", in, c.map}).out) << c.base;
    }
}

TEST_F(CliMaps, SetTypesClampedValuesAndDiffReportsThem) {
    const std::string lh = NewImage("MRX_D", "lh.bin");
    const std::string out = dir.File("lh-set.bin");
    const auto before = Fields(Lines(Cli({"map", "show", lh, "Base fuel map (cat)"}).out)[1])[1];

    auto r = Cli({"map", "set", lh, "Base fuel map (cat)", "0", "0", "200", "-o", out});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    EXPECT_EQ(Fields(Lines(Cli({"map", "show", out, "Base fuel map (cat)"}).out)[1])[1], "127");
    EXPECT_EQ(Fields(Lines(Cli({"map", "show", lh, "Base fuel map (cat)"}).out)[1])[1], before); // input untouched

    auto diff = Cli({"diff", lh, out});
    EXPECT_EQ(diff.code, 3);
    EXPECT_EQ(diff.out, "Base fuel map (cat) (row 0, col 0): " + before + " -> 127\tMAF 20 / RPM 600\n");
    diff = Cli({"diff", lh, lh});
    EXPECT_EQ(diff.code, kExitOk);
    EXPECT_TRUE(diff.out.empty());

    // Typed degrees on an ignition map go through the inverse conversion.
    const std::string ezk = NewImage("EZK_D-S4", "ezk.bin");
    const std::string ezkOut = dir.File("ezk-set.bin");
    r = Cli({"map", "set", ezk, "Max knock retard (91 octane)", "0", "3", "20.3", "-o", ezkOut});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    EXPECT_EQ(Fields(Lines(Cli({"map", "show", ezkOut, "Max knock retard (91 octane)"}).out)[1])[4], "20.3");
    diff = Cli({"diff", ezk, ezkOut});
    EXPECT_EQ(diff.code, 3);
    EXPECT_EQ(Lines(diff.out).size(), 1u);
    EXPECT_EQ(diff.out.rfind("Max knock retard (91 octane) (row 0, col 3): ", 0), 0u) << diff.out;

    EXPECT_EQ(Cli({"diff", lh, ezk}).code, kExitFailure);
    // A Type A image lists the LH maps but has no map addresses.
    auto typeABytes = eprom_test::Filled();
    eprom_test::Put(typeABytes, 16368, std::string("MRX\xFF\xFF", 5));
    const std::string typeA = dir.File("typea.bin");
    eprom_test::WriteFile(typeA, typeABytes);
    struct Bad {
        std::vector<std::string> args;
        int code;
    };
    const Bad bad[] = {
        {{"map", "set", lh, "Base fuel map (cat)", "16", "0", "1", "-o", out}, kExitFailure},
        {{"map", "set", lh, "Base fuel map (cat)", "0", "0", "abc", "-o", out}, kExitFailure},
        {{"map", "set", lh, "No map", "0", "0", "1", "-o", out}, kExitFailure},
        {{"map", "set", lh, "Base fuel map (cat)", "-1", "0", "1", "-o", out}, kExitUsage},
        {{"map", "set", lh, "Base fuel map (cat)", "0", "0", "1"}, kExitUsage},
        {{"map", "frob", lh}, kExitUsage},
        {{"map", "set", typeA, "Base fuel map (cat)", "0", "0", "1", "-o", out}, kExitFailure},
    };
    for (const auto& b : bad) EXPECT_EQ(Cli(b.args).code, b.code) << b.args[1] << " " << b.args.back();
}

TEST_F(CliMaps, DiffReportsParameters) {
    const std::string lh = NewImage("MRX_D", "lh.bin");
    EPROM image;
    ASSERT_EQ(image.LoadFromFile(lh), "");
    const std::int32_t address = image.GetEPROMAddress(1);
    const int old = image.ReadByte(address);
    image.WriteByte(address, static_cast<std::uint8_t>(old ^ 1));
    const std::string changed = dir.File("changed.bin");
    ASSERT_TRUE(image.SaveToFile(changed, image.GetFileFormat()));
    const auto diff = Cli({"diff", lh, changed});
    EXPECT_EQ(diff.code, 3);
    EXPECT_EQ(diff.out, "PARAMETER 1 (address " + std::to_string(address) + "): " + std::to_string(old) + " -> " +
                            std::to_string(old ^ 1) + "\n");
}

// Every listed map of every base image renders with a header in every column, an axis label on
// every row of a two-axis map, a text in every cell, and rpm headers that rise left to right.
TEST_F(CliMaps, EveryBaseImageMapRendersSensibly) {
    for (const auto& base : BaseImageNames()) {
        const std::string path = NewImage(base, base + ".bin");
        EPROM image;
        ASSERT_EQ(image.LoadFromFile(path), "") << base;
        const auto names = Lines(Cli({"map", "list", path}).out);
        EXPECT_FALSE(names.empty()) << base;
        const MapTab tab = image.GetECUFunction() == 2 ? MapTab::Ignition : MapTab::Fuel;
        for (const auto& name : names) {
            const auto r = Cli({"map", "show", path, name});
            ASSERT_EQ(r.code, kExitOk) << base << " " << name << ": " << r.err;
            const auto lines = Lines(r.out);
            const MapDefinition* d = FindMapDefinition(tab, name);
            ASSERT_NE(d, nullptr);
            ASSERT_GE(lines.size(), 2u) << base << " " << name;
            // Temperature axes have a second header row in Fahrenheit.
            const auto second = Fields(lines[1]);
            const bool fahrenheit = second.size() > 1 && second[1].ends_with("\xC2\xB0"
                                                                             "F");
            const std::size_t fixedRows = fahrenheit ? 2 : 1;
            const auto header = Fields(lines[0]);
            ASSERT_GE(header.size(), 2u) << base << " " << name;
            for (std::size_t c = 1; c < header.size(); ++c) EXPECT_FALSE(header[c].empty()) << base << " " << name;
            for (std::size_t row = fixedRows; row < lines.size(); ++row) {
                const auto cells = Fields(lines[row]);
                ASSERT_EQ(cells.size(), header.size());
                if (d->yAxisType != YAxisType::None) {
                    EXPECT_FALSE(cells[0].empty()) << base << " " << name << " row " << row;
                }
                for (std::size_t c = 1; c < cells.size(); ++c) EXPECT_FALSE(cells[c].empty());
            }
            if (d->xCaption == "RPM") {
                for (std::size_t c = 2; c < header.size(); ++c)
                    EXPECT_LE(std::stoi(header[c - 1]), std::stoi(header[c])) << base << " " << name << " col " << c;
                EXPECT_LT(std::stoi(header[1]), std::stoi(header.back())) << base << " " << name;
            }
        }
    }
}

} // namespace

} // namespace kv
