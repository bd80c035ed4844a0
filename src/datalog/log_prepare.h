#pragma once
// The preparation of a recording run: the checks with their messages, the trigger source, the
// raw channels the device samples (in record order, with their address bytes), the aux and
// throttle-switch filters, the rate, and the run's column headers.
#include "datalog/log_catalogue.h"
#include "datalog/log_setup.h"

#include <optional>
#include <string>
#include <vector>

namespace kv {

class AuxInputs;
class DataLogDevice;
class EPROM;

inline constexpr const char* kNoVariableMessage = "You must select at least one variable to be logged.";
inline constexpr const char* kTriggerNeedsEpromMessage =
    "Trigger must be set to 'None (start immediately)' because no EPROM is loaded.";
inline constexpr const char* kNoTriggerSourceMessage = "Error determining trigger condition";
inline constexpr const char* kDeviceErrorMessage = "Error communicating with Kestrovane device";
inline constexpr const char* kNoRateMessage = "No data logging rate selected";

// Trigger sources: the ECU type whose values decide the trigger.
enum class TriggerSource { None = 0, LH23 = 1, EZK = 2, LH22 = 3, EZF = 4 };

// One ECU RAM address as the device takes it: the low byte, plus 0x80 from 0xF700 on.
int LogAddressByte(std::int32_t address);

// Everything a run needs once it is prepared.
struct LogRunPlan {
    LogTrigger trigger = LogTrigger::None;
    TriggerSource source = TriggerSource::None;
    ChannelFlags channels;
    std::vector<int> fieldChannels; // channel numbers in record order
    std::vector<int> addresses;     // address bytes, in record order
    std::vector<int> sizes;
    int recordSize = 0;
    std::vector<int> columnSlots;     // the selected slots in column order
    std::vector<std::string> headers; // "Time [s]", then one per column
    int rate = 0;                     // samples per second
    // The EZK knock counter when the run was prepared; nullopt when it is not logged or could not
    // be read (the first record's counter is then the baseline).
    std::optional<int> knockStart;
};

// How often the knock counter is asked for before a baseline is given up.
inline constexpr int kKnockBaselineReads = 3;

// The EZK knock counter as a stretch's baseline, asked again when the unit does not answer;
// nullopt when it never did.
std::optional<int> ReadKnockBaseline(DataLogDevice& device, const EPROM& ignition);

// The checks, trigger source and channel list only (no device I/O): "" and the plan's trigger,
// source, channels, fields, addresses, sizes, record size, columns and headers; else the message.
std::string PlanLoggingRun(const LogSetup& setup, const EPROM& fuel, const EPROM& ignition, const AuxInputs& aux,
                           LogRunPlan& plan);

// PlanLoggingRun, then the device set-up: record layout, aux filters (and the LH 2.2 / EZF switch
// filters), rate; the knock baseline. "" on success, else the message to show.
std::string PrepareLoggingRun(LogSetup& setup, const EPROM& fuel, const EPROM& ignition, const AuxInputs& aux,
                              DataLogDevice& device, LogRunPlan& plan);

} // namespace kv
