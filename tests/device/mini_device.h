#pragma once
// A small protocol-level device on top of FakeHid for the firmware and transfer tests: it
// reassembles requests from their reports and answers the presence, loader, firmware-block and
// module commands. Tests change its answers through the public fields.
#include "fake_hid.h"

#include <map>

namespace kv {

class MiniDevice {
public:
    explicit MiniDevice(FakeHid& hid) : hid_(hid) {
        hid_.onWrite = [this](const HidReport& r) { OnReport(r); };
        hid_.onOpen = [this] { OnOpen(); };
    }

    // Answers
    bool answersPing = true;
    std::string version = "6.003";
    bool loaderAnswers = true;
    std::function<bool(int blockNo)> acceptFirmwareBlock = [](int) { return true; };
    // Whether the acknowledgement of firmware-block write number `write` (from 0, every write
    // counted) reaches the program; the block is taken either way.
    std::function<bool(int write)> answerFirmwareBlock = [](int) { return true; };
    // The version reported after a restart that followed firmware blocks; empty = the old one.
    std::string versionAfterUpgrade;
    // After the restart: pings stay unanswered for this many reopens.
    int silentReopensAfterRestart = 0;
    std::function<bool(int address)> acceptPemBlock = [](int) { return true; };
    bool pemUpdateStartOk = true;
    std::function<int(int poll)> detectStatus = [](int) { return 1; };
    bool selectOk = true;
    bool ignitionOn = false;

    // What it received
    // 256-byte payloads with a good CRC, of the upload since the loader was last unlocked
    std::vector<Bytes> firmwareBlocks;
    int firmwareBlockWrites = 0;
    int badCrcBlocks = 0;
    bool restarted = false;
    std::map<int, Bytes> pemBlocks;
    std::vector<std::string> commands;
    int detectPolls = 0;

    // Called by the test after the link reopened the device (see silentReopensAfterRestart).
    void OnOpen() {
        if (restarted && silentReopensAfterRestart > 0) --silentReopensAfterRestart;
    }

private:
    void Reply(const Bytes& b) { hid_.Queue(FrameReply(DATA, b)); }

    void OnReport(const HidReport& r) {
        if (r[1] != 0xFF) {
            request_.assign(r.begin() + 1, r.end());
        } else {
            request_.insert(request_.end(), r.begin() + 2, r.end());
        }
        const std::size_t need = request_[0] == 0x12 ? 260u : request_[0] == 0x91 ? 69u : 1u;
        if (request_.size() < need) return;
        Handle(request_);
        request_.clear();
    }

    void Handle(const Bytes& q) {
        switch (q[0]) {
        case 't':
            commands.push_back("ping");
            if (answersPing && !(restarted && silentReopensAfterRestart > 0)) Reply({'T'});
            break;
        case 'v': {
            Bytes v(version.begin(), version.end());
            v.resize(8, 0);
            Reply(v);
            break;
        }
        case 'F': commands.push_back("bootloader"); break;
        case 'k':
            if (q[1] == 'q' && q[2] == '8' && q[3] == 'v' && loaderAnswers) {
                firmwareBlocks.clear(); // an unlocked loader starts a fresh upload
                Reply({'F'});
            }
            break;
        case 0x12: {
            const Bytes data(q.begin() + 2, q.begin() + 258);
            Crc16 c;
            c.CRC_Init();
            c.CRC_Update(data.data(), data.size());
            c.CRC_Update(q[258]);
            c.CRC_Update(q[259]);
            if (!c.CRC_IsZero()) {
                ++badCrcBlocks;
                Reply({'0'});
            } else if (acceptFirmwareBlock(static_cast<int>(firmwareBlocks.size()))) {
                firmwareBlocks.push_back(data);
                if (answerFirmwareBlock(firmwareBlockWrites++)) Reply({'1'});
            } else {
                Reply({'0'});
            }
            break;
        }
        case 0xD1:
            if (!firmwareBlocks.empty() && !versionAfterUpgrade.empty()) version = versionAfterUpgrade;
            restarted = true;
            commands.push_back("restart");
            Reply({'2'});
            break;
        case 0x91: {
            const int address = q[1] | q[2] << 8;
            if (acceptPemBlock(address)) {
                pemBlocks[address] = Bytes(q.begin() + 3, q.begin() + 67);
                Reply({'1'});
            } else {
                Reply({'0'});
            }
            break;
        }
        case 0x94:
            commands.push_back("pem-update");
            Reply({static_cast<std::uint8_t>(pemUpdateStartOk ? '1' : '0')});
            break;
        case 0x82:
            commands.push_back("detect-start");
            Reply({'1'});
            break;
        case 0x8B: Reply({static_cast<std::uint8_t>(detectStatus(detectPolls++))}); break;
        case 0x8C:
            commands.push_back("detect-stop");
            Reply({'1'});
            break;
        case 0x95:
            commands.push_back("select");
            Reply({static_cast<std::uint8_t>(selectOk ? '1' : '0')});
            break;
        case 0x81: Reply({static_cast<std::uint8_t>(ignitionOn ? '1' : '0')}); break;
        default: break;
        }
    }

    FakeHid& hid_;
    Bytes request_;
};

} // namespace kv
