#pragma once
// The power-up steps that the module transfers share: guiding the user to switch the ignition
// off (and waiting for the units to power down), then waiting for the modules to announce
// themselves when the ignition comes on. Both use context.device, context.progress (progress
// window with Cancel; null = none), context.ignition (told of each off / on request and of its
// end; null = nobody) and context.clock (null = the real clock).
#include <string>

namespace kv {

struct EpromContext;

// What a transfer answers when the user pressed Cancel.
inline constexpr const char* kCancelledByUser = "Cancelled by user";
// What a transfer answers when the device is not there or does not answer.
inline constexpr const char* kDeviceNotResponding = "Kestrovane device not responding";

// If the ignition is on: "Turn ignition OFF" until it reads off, then "Ignition is off. Waiting
// for ECUs to power down." for 61 polls of 0.1 s (back to the first window if it comes on
// again). Returns "" when done or at once when the ignition is already off; "Cancelled by user";
// "The ignition was not turned off within 5 minutes" when the driver never completes it.
std::string GuideIgnitionOff(EpromContext& context);

// "Turn ignition ON": module detection with `wantedMask` (bit 0 LH, bit 1 EZK), polled every
// 0.1 s until the status equals the mask or the ignition has read on in 4 polls in a row.
// `status` receives the status last read. Returns "" when detection ended, "Cancelled by user",
// "The ignition was not turned on within 5 minutes",
// or "Kestrovane device not responding" when detection cannot start or the device stays silent
// for 50 polls. The progress window stays open on success.
std::string WaitForModules(EpromContext& context, int wantedMask, int& status);

// Ends the start-up transfers of the module of unit `ecu` (1 LH, 2 EZK): selects it (unless
// `selected`) and sends the finishing command, both answers checked, with up to four attempts
// and a drained reply window before each repeat. "" when the module confirmed the finish;
// otherwise the message to show.
std::string FinishModule(EpromContext& context, int ecu, bool selected);

} // namespace kv
