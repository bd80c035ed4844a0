#include "datalog/run_slots.h"

namespace kv {

std::string MaxRunsRecordMessage() {
    return "Maximum number of simultaneously open data logging runs is " + std::to_string(kMaxRuns) +
           ". You must close one or more old runs before you can record a new one.";
}

std::string MaxRunsLoadMessage() {
    return "Maximum number of simultaneously open data logging runs is " + std::to_string(kMaxRuns) +
           ". You must close one or more old runs before you can load a run from disk.";
}

} // namespace kv
