#include "device/adapters/comms_eprom_device.h"

#include "device/comms.h"
#include "device/firmware.h"
#include "eprom/eprom_image.h"

namespace kv {

bool CommsEpromDevice::EcuWriteEprom(int ecuKind, int address, const std::vector<std::uint8_t>& data) {
    return comms_.EcuWriteEprom(ecuKind, address, data);
}
std::vector<std::uint8_t> CommsEpromDevice::EcuReadEprom(int ecuKind, int address, int n) {
    return comms_.EcuReadEprom(ecuKind, address, n);
}
std::vector<std::uint8_t> CommsEpromDevice::ReadEmulatorBlock(int address, int length) {
    return comms_.ReadEmulatorBlock(address, length);
}
bool CommsEpromDevice::Reopen() { return comms_.Comms_Open(); }
bool CommsEpromDevice::IsIgnitionOn() { return comms_.IsIgnitionOn(); }
bool CommsEpromDevice::PemDetectStart(int mask) { return comms_.PemDetectStart(mask); }
int CommsEpromDevice::PemDetectStatus() { return comms_.PemDetectStatus(); }
bool CommsEpromDevice::PemDetectStop() { return comms_.PemDetectStop(); }
bool CommsEpromDevice::PemSelect(int ecuKind) { return comms_.PemSelect(ecuKind); }
std::string CommsEpromDevice::PemGetFirmwareVersion() { return comms_.PemGetFirmwareVersion(); }
bool CommsEpromDevice::PemWriteBlock(int address, const std::vector<std::uint8_t>& block64) {
    return comms_.PemWriteBlock(address, block64);
}
std::vector<std::uint8_t> CommsEpromDevice::PemReadBlock(int address) { return comms_.PemReadBlock(address); }
bool CommsEpromDevice::PemFinish() { return comms_.PemFinish(); }
void CommsEpromDevice::DrainReplies() { comms_.DrainReplies(); }
bool CommsEpromDevice::UpgradePemFirmware(int ecuKind) { return firmware_.UpgradePemFirmware(ecuKind); }

bool LH_GetMapSetSelector(Comms& comms, const EPROM& image) {
    const int sel = image.ReadByte(image.GetEPROMAddress(9)) & 0x03;
    if (sel == 1) return false;
    if (sel == 2) return true;
    return ((comms.ReadEcuRam(1, image.GetVariableAddress(7), 1) >> 6) & 1) != 0;
}

} // namespace kv
