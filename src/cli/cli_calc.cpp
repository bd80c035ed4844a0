// kestrovane-cli `calc FUNCTION ARG...`: one engine value conversion called by its name.
// Integers print as integers; doubles and floats in the shortest form that reads back to the
// same value of their own precision.
#include "cli/cli.h"
#include "monitor/conversions.h"
#include "platform/parsed.h"

#include <array>
#include <charconv>
#include <cmath>
#include <functional>
#include <optional>
#include <ostream>
#include <string_view>
#include <variant>

namespace kv {

namespace {

using Result = std::variant<std::int64_t, double, float, bool>;
using Args = std::vector<double>;

struct Function {
    std::string_view name;
    std::size_t minArgs;
    std::size_t maxArgs;     // trailing missing arguments are 0
    std::size_t integerArgs; // bit mask of the arguments that must be whole numbers
    Result (*call)(const Args&);
};

int I(double v) { return static_cast<int>(v); }
std::int64_t L(double v) { return static_cast<std::int64_t>(v); }

// clang-format off
const std::array<Function, 38> kFunctions{{
    {"DevicePeriodSeconds",        1, 1, 0b1,   [](const Args& a) -> Result { return conv::DevicePeriodSeconds(L(a[0])); }},
    {"RpmFromDevicePeriodLH",      1, 1, 0b1,   [](const Args& a) -> Result { return std::int64_t{conv::RpmFromDevicePeriodLH(L(a[0]))}; }},
    {"RpmFromDevicePeriodEZF",     1, 1, 0b1,   [](const Args& a) -> Result { return std::int64_t{conv::RpmFromDevicePeriodEZF(L(a[0]))}; }},
    {"EZF_PeriodFromDevicePeriod", 1, 1, 0b1,   [](const Args& a) -> Result { return std::int64_t{conv::EZF_PeriodFromDevicePeriod(L(a[0]))}; }},
    {"EZK_RpmFromPeriod",          1, 1, 0b1,   [](const Args& a) -> Result { return std::int64_t{conv::EZK_RpmFromPeriod(L(a[0]))}; }},
    {"EZF_RpmFromPeriod",          1, 1, 0b1,   [](const Args& a) -> Result { return std::int64_t{conv::EZF_RpmFromPeriod(L(a[0]))}; }},
    {"LH_RpmFromByte",             1, 1, 0b1,   [](const Args& a) -> Result { return std::int64_t{conv::LH_RpmFromByte(I(a[0]))}; }},
    {"LH_RpmFromByteNext",         1, 1, 0b1,   [](const Args& a) -> Result { return std::int64_t{conv::LH_RpmFromByteNext(I(a[0]))}; }},
    {"LH_RpmFromByteMid",          1, 1, 0b1,   [](const Args& a) -> Result { return std::int64_t{conv::LH_RpmFromByteMid(I(a[0]))}; }},
    {"LH_ByteFromRpm",             1, 1, 0,     [](const Args& a) -> Result { return std::int64_t{conv::LH_ByteFromRpm(a[0])}; }},
    {"LH_RpmCodeLow",              1, 1, 0b1,   [](const Args& a) -> Result { return std::int64_t{conv::LH_RpmCodeLow(I(a[0]))}; }},
    {"LH_RpmCodeHigh",             1, 1, 0b1,   [](const Args& a) -> Result { return std::int64_t{conv::LH_RpmCodeHigh(I(a[0]))}; }},
    {"LH_RpmFromCode",             1, 1, 0b1,   [](const Args& a) -> Result { return std::int64_t{conv::LH_RpmFromCode(I(a[0]))}; }},
    {"LH_CodeFromRpm",             1, 1, 0,     [](const Args& a) -> Result { return std::int64_t{conv::LH_CodeFromRpm(a[0])}; }},
    {"IgnitionAdvanceFromTiming",  2, 2, 0,     [](const Args& a) -> Result { return conv::IgnitionAdvanceFromTiming(a[0], a[1]); }},
    {"EZK_IgnitionAdvance",        2, 2, 0b01,  [](const Args& a) -> Result { return conv::EZK_IgnitionAdvance(I(a[0]), a[1]); }},
    {"TempLH23Coolant",            1, 1, 0,     [](const Args& a) -> Result { return std::int64_t{conv::TempLH23Coolant(a[0])}; }},
    {"TempEZKCoolant",             1, 1, 0,     [](const Args& a) -> Result { return std::int64_t{conv::TempEZKCoolant(a[0])}; }},
    {"TempLH22Coolant",            1, 1, 0,     [](const Args& a) -> Result { return std::int64_t{conv::TempLH22Coolant(a[0])}; }},
    {"TempEZFCoolant",             1, 1, 0,     [](const Args& a) -> Result { return std::int64_t{conv::TempEZFCoolant(a[0])}; }},
    {"TempEZFAirTemp",             1, 1, 0,     [](const Args& a) -> Result { return std::int64_t{conv::TempEZFAirTemp(a[0])}; }},
    {"FahrenheitFromCelsius",      1, 1, 0,     [](const Args& a) -> Result { return std::int64_t{conv::FahrenheitFromCelsius(a[0])}; }},
    {"DutyCycleFromTicks",         2, 2, 0,     [](const Args& a) -> Result { return conv::DutyCycleFromTicks(a[0], a[1]); }},
    {"DutyCycleFromTicksHalf",     2, 2, 0,     [](const Args& a) -> Result { return conv::DutyCycleFromTicksHalf(a[0], a[1]); }},
    {"IsDutyCycleHigh",            1, 1, 0,     [](const Args& a) -> Result { return conv::IsDutyCycleHigh(a[0]); }},
    {"LH22_MafSignal",             1, 1, 0,     [](const Args& a) -> Result { return conv::LH22_MafSignal(a[0]); }},
    {"LH22_MafLoad",               2, 2, 0b10,  [](const Args& a) -> Result { return std::int64_t{conv::LH22_MafLoad(a[0], L(a[1]))}; }},
    {"LH23_MafVolts",              1, 1, 0b1,   [](const Args& a) -> Result { return conv::LH23_MafVolts(I(a[0])); }},
    {"LH23_BatteryVolts",          1, 1, 0b1,   [](const Args& a) -> Result { return conv::LH23_BatteryVolts(I(a[0])); }},
    {"VacuumFromRaw",              1, 1, 0,     [](const Args& a) -> Result { return conv::VacuumFromRaw(a[0]); }},
    {"VacuumSensorAltitudeOffset", 1, 1, 0,     [](const Args& a) -> Result { return conv::VacuumSensorAltitudeOffset(a[0]); }},
    {"LoByte",                     1, 1, 0b1,   [](const Args& a) -> Result { return std::int64_t{conv::LoByte(L(a[0]))}; }},
    {"HiByte",                     1, 1, 0b1,   [](const Args& a) -> Result { return std::int64_t{conv::HiByte(L(a[0]))}; }},
    {"CombineWord",                2, 3, 0b111, [](const Args& a) -> Result { return std::int64_t{conv::CombineWord(I(a[0]), I(a[1]), a[2] != 0)}; }},
    {"CombineTriple",              3, 4, 0b1111,[](const Args& a) -> Result { return std::int64_t{conv::CombineTriple(I(a[0]), I(a[1]), I(a[2]), a[3] != 0)}; }},
    {"ToSignedByte",               1, 1, 0b1,   [](const Args& a) -> Result { return std::int64_t{conv::ToSignedByte(I(a[0]))}; }},
    {"RoundToSignificant",         2, 2, 0b10,  [](const Args& a) -> Result { return conv::RoundToSignificant(a[0], I(a[1])); }},
    {"NextTimerInterval",          2, 2, 0,     [](const Args& a) -> Result { return std::int64_t{conv::NextTimerInterval(a[0], a[1])}; }},
}};
// clang-format on

void CalcUsage(std::ostream& err) {
    err << "usage: kestrovane-cli calc FUNCTION ARG...\nfunctions:";
    for (const auto& f : kFunctions) err << " " << f.name;
    err << "\n";
}

Parsed<double> ParseNumber(const std::string& s) {
    double v = 0;
    const char* first = s.data();
    const char* last = s.data() + s.size();
    if (first != last && *first == '+') ++first;
    const auto r = std::from_chars(first, last, v);
    if (r.ec != std::errc() || r.ptr != last || !std::isfinite(v)) return ParseError{"not a number"};
    return v;
}

template <typename T>
std::string Shortest(T v) {
    char buffer[64];
    const auto r = std::to_chars(buffer, buffer + sizeof buffer, v);
    return std::string(buffer, r.ptr);
}

std::string Print(const Result& r) {
    struct Visitor {
        std::string operator()(std::int64_t v) const { return std::to_string(v); }
        std::string operator()(double v) const { return Shortest(v); }
        std::string operator()(float v) const { return Shortest(v); }
        std::string operator()(bool v) const { return v ? "true" : "false"; }
    };
    return std::visit(Visitor{}, r);
}

} // namespace

int RunCalcCommand(const std::vector<std::string>& args, const CliOptions&, CliIo io) {
    if (args.empty()) {
        CalcUsage(io.err);
        return kExitUsage;
    }
    const Function* function = nullptr;
    for (const auto& f : kFunctions)
        if (f.name == args[0]) function = &f;
    if (function == nullptr) {
        io.err << "Unknown function: " << args[0] << "\n";
        CalcUsage(io.err);
        return kExitUsage;
    }
    const std::size_t given = args.size() - 1;
    if (given < function->minArgs || given > function->maxArgs) {
        io.err << function->name << " takes " << function->minArgs;
        if (function->maxArgs != function->minArgs) io.err << " to " << function->maxArgs;
        io.err << " argument(s)\n";
        return kExitUsage;
    }
    Args values(function->maxArgs, 0.0);
    for (std::size_t i = 0; i < given; ++i) {
        const auto v = ParseNumber(args[i + 1]);
        const bool integer = (function->integerArgs >> i) & 1u;
        // Whole-number arguments are ECU bytes, words and counts: keep them within 32 bits.
        if (!v || (integer && (std::trunc(*v) != *v || std::fabs(*v) > 2147483647.0))) {
            io.err << "Invalid argument " << (i + 1) << ": \"" << args[i + 1] << "\""
                   << (integer ? " (a whole number is expected)" : "") << "\n";
            return kExitUsage;
        }
        values[i] = *v;
    }
    io.out << Print(function->call(values)) << "\n";
    return kExitOk;
}

} // namespace kv
