#pragma once
// Decoding of the device's data-log records into the cell texts of a run's columns, and the
// values the trigger conditions are judged on.
#include "datalog/log_prepare.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace kv {

class AuxInputs;
class EPROM;
struct LogKnockDisplay;

// The LH 2.3 revolution period count below which "RPM > 2000" fires (4 us counts).
inline constexpr std::int32_t kLhRpmTriggerCount = 7500;
inline constexpr int kTriggerRpm = 2000;
// The trailer the device appends to every streamed record: start count, then a 24-bit stamp.
inline constexpr int kLogTrailerBytes = 4;
inline constexpr std::int64_t kStampModulus = std::int64_t{1} << 24;
// The physical ranges of the logged values; a record outside them is damaged. An engine stands
// (0 rpm) or turns at 100 rpm at least (the device's own readings read slower as 0) and at most
// 10000 rpm; an injector is open for at most the whole cycle; the knock counter counts at most
// one knock per combustion, four a revolution on an eight-cylinder engine.
inline constexpr int kMinEngineRpm = 100;
inline constexpr int kMaxEngineRpm = 10000;
inline constexpr double kMaxDutyPercent = 100.0;
inline constexpr int kCombustionsPerRevolution = 4;

// The throttle texts: t = 1 idle, 2 cruise, 3 WOT, 0 both switches closed.
int ThrottleFromSwitches(bool idleClosed, bool fullClosed);

class LogRecordDecoder {
public:
    // All references must outlive the decoder. `ramByteOrderFlag` assembles the values read from
    // LH 2.3 and EZK RAM.
    LogRecordDecoder(const LogRunPlan& plan, const EPROM& fuel, const EPROM& ignition, const AuxInputs& aux,
                     bool ramByteOrderFlag);

    // One record of plan.recordSize bytes (a shorter one reads its missing bytes as 0) into one
    // text per column (headers 1..), every channel decoded. `knockPrevious` is the EZK knock
    // counter of the preceding record (none: this record's counter is the baseline and counts no
    // knock); it becomes this record's. When the knock counter is in the record it also goes to
    // `knock` (UpdateKnockCount); `playKnock` is set for a new knock.
    std::vector<std::string> Decode(std::span<const std::uint8_t> record, std::optional<int>& knockPrevious,
                                    LogKnockDisplay& knock, bool& playKnock);

    // Whether every column of the last decoded record lies in its physical range (above).
    bool InRange() const { return inRange_; }

    // Whether the trigger condition has ended, judged on the last decoded record in range.
    bool TriggerEnded(TriggerSource source, LogTrigger trigger) const;

private:
    // The values the trigger conditions are judged on.
    struct Values {
        double lhPeriod = 0;  // seconds per revolution (LH 2.3)
        double lh22Cycle = 0; // seconds per revolution (LH 2.2)
        int lh22Throttle = 2;
        int ezkRpm = 0;
        int ezfRpm = 0;
        int ezfThrottle = 2;
        int lhThrottleByte = 0;
        bool ezkFullThrottle = false;
    };
    std::int64_t Ram(int channel) const;
    std::int64_t LowFirst(int channel) const;
    int Byte(int channel, int k = 0, int absent = 0) const;
    bool Bit(int channel) const;

    const LogRunPlan& plan_;
    const AuxInputs& aux_;
    bool ramOrder_;
    std::array<int, kLogChannelCount> offset_{}; // -1 when the channel is not in the record
    std::array<int, kLogChannelCount> mask_{};
    int creator_ = 0;
    int vacuumCalibration_ = 0;
    std::vector<std::uint8_t> record_;
    Values last_;
    bool inRange_ = true;
};

} // namespace kv
