#pragma once
// Runs kestrovane-cli in-process for a test: its exit code and what it wrote to each stream.
#include "cli/cli.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace kv {

struct CliRun {
    int code;
    std::string out;
    std::string err;
};

inline CliRun Cli(const std::vector<std::string>& args) {
    std::ostringstream out;
    std::ostringstream err;
    const int code = RunCli(args, CliIo{out, err});
    return {code, out.str(), err.str()};
}

// The bytes of a file (empty when it cannot be read).
inline std::vector<std::uint8_t> ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A test with a folder of its own (emptied before and removed after) and base images made by
// the tool itself.
class CliFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = std::filesystem::path(::testing::TempDir()) /
              ("kv_cli_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->test_suite_name()) +
               "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    std::string Path(const std::string& name) const { return (dir / name).string(); }
    // `image new BASE` into the folder; its path.
    std::string New(const std::string& base) {
        const std::string path = Path(base + ".bin");
        EXPECT_EQ(Cli({"image", "new", base, "-o", path}).code, 0);
        return path;
    }

    // A simulated car whose engine is warm: the path of its state file `name` in the folder.
    std::string WarmCar(const std::string& name = "car.txt") {
        const std::string state = Path(name);
        EXPECT_EQ(Cli({"--simulate", "--sim-state", state, "device", "ping"}).code, 0);
        std::ifstream in(state);
        std::stringstream text;
        text << in.rdbuf();
        std::string s = text.str();
        const auto at = s.find("coolant=");
        if (at != std::string::npos) s.erase(at, s.find('\n', at) - at + 1);
        s.insert(s.find('\n') + 1, "coolant=85\n");
        std::ofstream(state) << s;
        return state;
    }

    std::filesystem::path dir;
};

} // namespace kv
