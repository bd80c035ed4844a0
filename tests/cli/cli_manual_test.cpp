// The installed manual page of kestrovane-cli describes every command the tool lists, so a new
// command cannot ship undocumented.
#include "cli_run.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>

namespace kv {
namespace {

// "group sub" for every command of the usage text (the lines after "commands:"); a line with
// alternatives ("device ping | version | load-pem FILE") gives each of them. A command without
// subcommands ("unpack IN -o OUT") is its group alone.
std::set<std::string> UsageCommands(const std::string& usage) {
    std::set<std::string> commands;
    const auto at = usage.find("commands:");
    if (at == std::string::npos) return commands;
    std::istringstream lines(usage.substr(at));
    std::string line;
    std::getline(lines, line);
    const std::regex subcommand("[a-z][a-z-]*");
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string group;
        if (!(words >> group)) continue;
        std::string rest;
        std::getline(words, rest);
        std::istringstream alternatives(rest);
        std::string alternative;
        while (std::getline(alternatives, alternative, '|')) {
            std::istringstream first(alternative);
            std::string word;
            commands.insert(first >> word && std::regex_match(word, subcommand) ? group + " " + word : group);
        }
    }
    return commands;
}

// The manual page with its roff escapes ("\-", "\fB" ...) and quoting removed.
std::string ManualText() {
    std::ifstream in(KV_CLI_MANUAL);
    std::stringstream text;
    text << in.rdbuf();
    std::string s = std::regex_replace(text.str(), std::regex(R"(\\f[BIRP])"), "");
    s = std::regex_replace(s, std::regex(R"(\\-)"), "-");
    return std::regex_replace(s, std::regex("\""), "");
}

TEST(CliManualTest, DescribesEveryListedCommand) {
    const CliRun usage = Cli({});
    const std::set<std::string> commands = UsageCommands(usage.err);
    ASSERT_GE(commands.size(), 10u) << usage.err;
    const std::string manual = ManualText();
    ASSERT_FALSE(manual.empty()) << KV_CLI_MANUAL;
    for (const std::string& command : commands) {
        const auto space = command.find(' ');
        // A subcommand appears with its group ("map show"), or alone on a line of alternatives
        // ("device ping | version").
        const std::string sub = space == std::string::npos ? command : command.substr(space + 1);
        const bool found =
            manual.find(command) != std::string::npos || std::regex_search(manual, std::regex("\\| *" + sub + "\\b"));
        EXPECT_TRUE(found) << "the manual page does not describe \"" << command << "\"";
    }
}

} // namespace
} // namespace kv
