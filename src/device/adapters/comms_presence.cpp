#include "device/adapters/comms_presence.h"

#include "device/comms.h"

namespace kv {

bool CommsPresence::Open() { return comms_.Comms_Open(); }
bool CommsPresence::IsOpen() { return comms_.Comms_IsOpen(); }
bool CommsPresence::Ping() { return comms_.Ping(); }
bool CommsPresence::QuickPing() { return comms_.QuickPing(); }
std::string CommsPresence::GetFirmwareVersion() { return comms_.GetFirmwareVersion(); }
bool CommsPresence::IsIgnitionOn() { return comms_.IsIgnitionOn(); }

} // namespace kv
