#pragma once
// The loggable values: the 45 variable slots of the data-logging tab (key, caption, column
// headers, the raw channels each needs) and the raw channels the device samples (address source,
// byte count, record order). Everything else in data logging reads these two tables.
#include <array>
#include <bitset>
#include <cstdint>
#include <string>
#include <vector>

namespace kv {

class AuxInputs;
class EPROM;

inline constexpr int kLogSlotCount = 45;
inline constexpr int kLogChannelCount = 42;

// Slot ranges: the three frames and the four units within them.
inline constexpr int kLh23First = 0, kLh23Last = 12;
inline constexpr int kLh22First = 13, kLh22Last = 22;
inline constexpr int kEzkFirst = 23, kEzkLast = 31;
inline constexpr int kEzfFirst = 32, kEzfLast = 40;
inline constexpr int kAuxSlotFirst = 41, kAuxSlotLast = 44;
inline constexpr int kFuelSlotLast = kLh22Last;
inline constexpr int kIgnitionSlotFirst = kEzkFirst, kIgnitionSlotLast = kEzfLast;
inline constexpr int kKnockRetardSlot = 31;
// The revision from which an EZK image hands over its knock retard block.
inline constexpr int kKnockRetardMinRevision = 2;

// Where a channel's address comes from.
enum class ChannelSource {
    Device,           // a fixed address that the device answers from its own measurements
    FuelVariable,     // GetVariableAddress (n) of the fuel image
    FuelBit,          // the byte of GetBitVariableAddress (n) of the fuel image
    IgnitionVariable, // GetVariableAddress (n) of the ignition image
    IgnitionBit,      // the byte of GetBitVariableAddress (n) of the ignition image
    AuxInput,         // the record address of aux input n
};

struct LogChannel {
    int number; // index into the channel flags
    const char* name;
    ChannelSource source;
    int n; // the fixed address, variable number, bit variable number or aux input
    int bytes;
};

// The channel numbers that the logic refers to by name.
namespace ch {
inline constexpr int LhMarker = 0, LhSpeed = 1, LhMaf = 2, LhWideband = 3, LhMafVolts = 4, LhInjection = 5,
                     LhCoolant = 6, LhThrottle = 7, LhBattery = 8, LhBit4 = 9, LhBit1 = 10, LhBit2 = 11, LhBit3 = 12,
                     LhO2 = 13, IgnMarker = 14, EzkSpeed = 15, EzkAdvance = 16, EzkLoad = 17, EzkKnock = 18,
                     EzkWideband = 19, EzkCoolant = 20, EzkBit1 = 21, EzkBit2 = 22, EzkKnockRetard = 23, Lh22Speed = 24,
                     Lh22Maf = 25, Lh22Wideband = 26, Lh22Injection = 27, Lh22Coolant = 28, Lh22SwitchA = 29,
                     Lh22SwitchB = 30, EzfSpeed = 31, EzfVacuum = 32, EzfWideband = 33, EzfCoolant = 34,
                     EzfAirTemp = 35, EzfSwitchA = 36, EzfSwitchB = 37, Aux1 = 38;
} // namespace ch

// The channels in record order (which differs from their numbering).
const std::array<LogChannel, kLogChannelCount>& LogChannelTable();
// The channel with number `number` (0..41).
const LogChannel& LogChannelByNumber(int number);
// True for the channels whose multi-byte values the ECU hands over in its RAM byte order; the
// device's own measurements come low byte first.
bool ChannelInRamOrder(const LogChannel& channel);

using ChannelFlags = std::bitset<kLogChannelCount>;

struct LogSlotEntry {
    const char* key;        // empty for the aux slots (their key is "AUX" + n)
    const char* caption;    // empty for the aux slots (their caption comes from the input)
    const char* header;     // the column header; null for the knock retard block and the aux slots
    std::uint64_t channels; // bit k = channel number k
};

// The title of every run's column 0.
inline constexpr const char* kTimeHeader = "Time [s]";
// Headers of the fuel unit's columns that other code finds a run's values by.
inline constexpr const char* kRpmHeader = "RPM";
inline constexpr const char* kMafHeader = "MAF signal";
inline constexpr const char* kAfrHeader = "A/F ratio";
inline constexpr const char* kThrottleHeader = "Throttle pos (1=idle, 2=cruise, 3=WOT)";
// Headers of the ignition units' load columns (EZK, EZF).
inline constexpr const char* kEzkLoadHeader = "Load [%]";
inline constexpr const char* kEzfVacuumHeader = "Vacuum [inHg]";
inline constexpr const char* kCoolantCHeader = "Coolant temp [\xC2\xB0"
                                               "C]";

// The catalogue, indexed by slot.
const std::array<LogSlotEntry, kLogSlotCount>& LogSlotTable();
// The channel flags the slot needs.
ChannelFlags SlotChannels(int slot);
// The key of a slot ("AUX1".."AUX4" for the aux slots).
std::string SlotKey(int slot);
// The aux input of an aux slot (1..4), 0 for any other slot.
int SlotAuxInput(int slot);
// The column headers of a selected slot (eight "KR" columns for the knock retard block; the aux
// input's display name with its unit for an aux slot).
std::vector<std::string> SlotHeaders(int slot, const AuxInputs& aux);
// The slots in the order of their columns: LH 2.3, EZK, LH 2.2, EZF, aux.
const std::array<int, kLogSlotCount>& SlotColumnOrder();

// The ECU RAM address of a channel read from the images (or its fixed device address).
std::int32_t ChannelAddress(const LogChannel& channel, const EPROM& fuel, const EPROM& ignition);
// The bit mask of a bit channel (0 for others).
int ChannelBitMask(const LogChannel& channel, const EPROM& fuel, const EPROM& ignition);

} // namespace kv
