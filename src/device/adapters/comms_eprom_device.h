#pragma once
// The EpromDevice of the images on top of the device link's commands. The module firmware
// upgrade goes through the Firmware procedures.
#include "eprom/eprom_device.h"

namespace kv {

class Comms;
class Firmware;

class CommsEpromDevice final : public EpromDevice {
public:
    // Both must outlive this object.
    CommsEpromDevice(Comms& comms, Firmware& firmware) : comms_(comms), firmware_(firmware) {}

    bool EcuWriteEprom(int ecuKind, int address, const std::vector<std::uint8_t>& data) override;
    std::vector<std::uint8_t> EcuReadEprom(int ecuKind, int address, int n) override;
    std::vector<std::uint8_t> ReadEmulatorBlock(int address, int length) override;
    bool IsIgnitionOn() override;
    bool PemDetectStart(int mask) override;
    int PemDetectStatus() override;
    bool PemDetectStop() override;
    bool PemSelect(int ecuKind) override;
    std::string PemGetFirmwareVersion() override;
    bool PemWriteBlock(int address, const std::vector<std::uint8_t>& block64) override;
    std::vector<std::uint8_t> PemReadBlock(int address) override;
    bool PemFinish() override;
    void DrainReplies() override;
    bool UpgradePemFirmware(int ecuKind) override;
    bool Reopen() override;

private:
    Comms& comms_;
    Firmware& firmware_;
};

} // namespace kv
