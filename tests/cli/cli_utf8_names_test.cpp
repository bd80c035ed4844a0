// Every command family on files whose folder and names hold letters beyond ASCII: each file is
// made, read and found under exactly the name given. The tool's paths are UTF-8 text; on Windows
// a path made from that text directly is read in the system's code page and names another file.
#include "cli_run.h"
#include "platform/file_io.h"
#include "platform/resources.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

namespace kv {
namespace {

struct Step {
    std::vector<std::string> args; // "@NAME" stands for the file NAME in the folder
    int code;
};

struct FamilyCase {
    const char* family;
    std::vector<Step> steps;
    std::set<std::string> files; // every name in the folder afterwards
};

const std::string kImage = "Z\xC3\xBCndung \xC3\xB6.bin"; // "Zündung ö.bin"
const std::string kMap = "Karte \xC3\xA4.bin";            // "Karte ä.bin"
const std::string kState = "Wagen \xC3\xB6.state";        // "Wagen ö.state"
const std::string kRun = "Lauf \xC3\xBC.txt";             // "Lauf ü.txt"
const std::string kFirmware = "Firmware \xC3\xB6.dat";    // "Firmware ö.dat"
const std::string kCells = "Base fuel map (cat)";

const Step kNewImage{{"image", "new", "MRX_D", "-o", "@" + kImage}, 0};

std::vector<FamilyCase> Families() {
    const std::vector<std::string> sim = {"--simulate", "--sim-state", "@" + kState};
    auto simulated = [&sim](std::vector<std::string> words) {
        words.insert(words.begin(), sim.begin(), sim.end());
        return words;
    };
    return {
        {"image", {kNewImage, {{"image", "info", "@" + kImage}, 0}}, {kImage}},
        {"map",
         {kNewImage,
          {{"map", "set", "@" + kImage, kCells, "3", "4", "17", "-o", "@" + kMap}, 0},
          {{"map", "show", "@" + kMap, kCells}, 0}},
         {kImage, kMap}},
        {"param",
         {kNewImage,
          {{"param", "set", "@" + kImage, "rev_limit_rpm", "6500"}, 0},
          {{"param", "list", "@" + kImage}, 0}},
         {kImage}},
        {"diff",
         {kNewImage,
          {{"map", "set", "@" + kImage, kCells, "3", "4", "17", "-o", "@" + kMap}, 0},
          {{"diff", "@" + kImage, "@" + kMap}, 3}},
         {kImage, kMap}},
        {"log",
         {kNewImage,
          {simulated({"log", "record", "--seconds", "5", "--vars", "LH_RPM,LH_MAF,LH_AFR", "--fuel", "@" + kImage, "-o",
                      "@" + kRun}),
           0},
          {{"log", "info", "@" + kRun}, 0},
          {{"log", "convert", "@" + kRun, "-o", "@Lauf \xC3\xBC.csv"}, 0},
          {{"log", "cells", "@" + kRun, "@" + kImage, "--map", kCells}, 0}},
         {kImage, kState, kRun, "Lauf \xC3\xBC.csv"}},
        {"device",
         {kNewImage,
          {simulated({"device", "load-pem", "@" + kImage}), 0},
          {simulated({"device", "read-pem", "lh", "-o",
                      "@zur\xC3\xBC"
                      "ck.bin"}),
           0},
          {{"device", "firmware-check", "@" + kFirmware}, 0}},
         {kImage, kState, kFirmware,
          "zur\xC3\xBC"
          "ck.bin"}},
        {"autotune",
         {kNewImage, {simulated({"autotune", "@" + kImage, "-o", "@" + kMap, "--seconds", "1"}), 0}},
         {kImage, kState, kMap}},
    };
}

TEST(CliUtf8Names, EveryFamilyFindsAndMakesItsFilesUnderTheirNames) {
    const auto firmware = LoadResource("FIRMWARE");
    ASSERT_TRUE(firmware.has_value());
    for (const FamilyCase& c : Families()) {
        SCOPED_TRACE(c.family);
        TempDir tmp;
        const std::filesystem::path folder = PathFromUtf8(tmp.File("")) / PathFromUtf8("Z\xC3\xBCndung \xC3\xB6");
        std::filesystem::create_directory(folder);
        std::ofstream(folder / PathFromUtf8(kFirmware), std::ios::binary)
            .write(reinterpret_cast<const char*>(firmware->data()), static_cast<std::streamsize>(firmware->size()));
        for (const Step& step : c.steps) {
            std::vector<std::string> args;
            for (const std::string& word : step.args)
                args.push_back(word.rfind('@', 0) == 0 ? PathToUtf8(folder / PathFromUtf8(word.substr(1))) : word);
            const CliRun r = Cli(args);
            EXPECT_EQ(r.code, step.code) << args[0] << " " << args[1] << ": " << r.err;
        }
        std::set<std::string> listed;
        for (const auto& entry : std::filesystem::directory_iterator(folder))
            listed.insert(PathToUtf8(entry.path().filename()));
        std::set<std::string> expected = c.files;
        expected.insert(kFirmware);
        EXPECT_EQ(listed, expected);
    }
}

} // namespace
} // namespace kv
