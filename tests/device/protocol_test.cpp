// The request-length rule against the encoders: the device finds the end of every request the
// program sends exactly where the request ends, in its firmware and in its loader, and knows
// nothing of a request that belongs to the other mode.
#include "device/protocol.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kv {

namespace {

struct LengthCase {
    std::string name;
    Request request;
    bool loader;
};

TEST(RequestLength, EndsEveryEncodedRequestWhereItEnds) {
    const std::vector<std::uint8_t> block64(kPemBlockSize, 0xA5);
    const std::vector<std::uint8_t> block256(kLoaderBlockSize, 0x5A);
    const std::vector<std::uint8_t> write(200, 1);
    const LengthCase cases[] = {
        {"Ping", EncodePing(), false},
        {"Version", EncodeVersion(), false},
        {"EnterLoader", EncodeEnterLoader(), false},
        {"EnterLoader in the loader", EncodeEnterLoader(), true},
        {"LoaderUnlock", EncodeLoaderUnlock(), true},
        {"FirmwareBlock", EncodeFirmwareBlock(block256), true},
        {"Restart", EncodeRestart(), true},
        {"ReadEmulator", EncodeReadEmulator(0x1234, 0x0100), false},
        {"SelectEcuMode", EncodeSelectEcuMode('E'), false},
        {"PemIsReachable", EncodePemIsReachable(1), false},
        {"EcuReadEprom", EncodeEcuReadEprom(2, 0x3FF0, 16), false},
        {"EcuWriteEprom", EncodeEcuWriteEprom(1, 0x0100, write.data(), write.size()), false},
        {"EcuWriteEprom of one byte", EncodeEcuWriteEprom(1, 0x0100, write.data(), 1), false},
        {"PemDetectStart", EncodePemDetectStart(3), false},
        {"PemDetectStatus", EncodePemDetectStatus(), false},
        {"PemDetectStop", EncodePemDetectStop(), false},
        {"PemSelect", EncodePemSelect(2), false},
        {"PemFirmwareVersion", EncodePemFirmwareVersion(), false},
        {"PemWriteBlock", EncodePemWriteBlock(0x0040, block64), false},
        {"PemReadBlock", EncodePemReadBlock(0x0040), false},
        {"PemFinish", EncodePemFinish(), false},
        {"PemFirmwareUpdateStart", EncodePemFirmwareUpdateStart(), false},
        {"ReadEcuRam", EncodeReadEcuRam(1, 0xF710, 3), false},
        {"ResetO2Adaptation", EncodeResetO2Adaptation(), false},
        {"DataLogConfigure", EncodeDataLogConfigure({0x30, 0xF710, 0x40}, {2, 1, 3}), false},
        {"DataLogConfigure empty", EncodeDataLogConfigure({}, {}), false},
        {"DataLogSetRate", EncodeDataLogSetRate(50), false},
        {"DataLogStart", EncodeDataLogStart(), false},
        {"DataLogStop", EncodeDataLogStop(), false},
        {"DataLogReadRecord", EncodeDataLogReadRecord(), false},
        {"DataLogKeepAlive", EncodeDataLogKeepAlive(), false},
        {"ReadAuxInput", EncodeReadAuxInput(4), false},
        {"SetAuxInputFilter", EncodeSetAuxInputFilter(2, 5), false},
        {"ReadRpmPeriod", EncodeReadRpmPeriod(), false},
        {"IsIgnitionOn", EncodeIsIgnitionOn(), false},
    };
    for (const LengthCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Request& r = c.request;
        EXPECT_EQ(RequestLength(r.data(), r.size(), c.loader), static_cast<long>(r.size()));
        // Whatever has come of it so far, the rule never ends the request early.
        for (std::size_t n = 1; n < r.size(); ++n) {
            const long length = RequestLength(r.data(), n, c.loader);
            EXPECT_TRUE(length == -1 || length == static_cast<long>(r.size())) << n << " bytes: " << length;
        }
    }
}

TEST(RequestLength, EachModeKnowsOnlyItsOwnRequests) {
    const std::vector<std::uint8_t> block256(kLoaderBlockSize, 0);
    const LengthCase cases[] = {
        {"Ping in the loader", EncodePing(), true},
        {"PemReadBlock in the loader", EncodePemReadBlock(0), true},
        {"LoaderUnlock in the firmware", EncodeLoaderUnlock(), false},
        {"FirmwareBlock in the firmware", EncodeFirmwareBlock(block256), false},
        {"Restart in the firmware", EncodeRestart(), false},
        {"unknown data-log operation", Request{static_cast<std::uint8_t>(Opcode::DataLog), 'x'}, false},
        {"unknown opcode", Request{0x00}, false},
    };
    for (const LengthCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(RequestLength(c.request.data(), c.request.size(), c.loader), 0);
    }
    EXPECT_EQ(RequestLength(nullptr, 0, false), -1);
}

} // namespace

} // namespace kv
