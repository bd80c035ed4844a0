#pragma once
// A minimal host for tests: frames a request into 33-byte output reports (first report: report
// ID 0 and up to 32 request bytes; continuation reports: 0, 0xFF and 31 bytes) and collects the
// payload of the answer on one channel, checking the type bytes of first and continuation reports.
#include "fakes.h"
#include "sim/sim_backend.h"
#include "sim/sim_crc.h"
#include "sim/sim_device.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kv {

struct HostReply {
    std::vector<std::uint8_t> bytes; // payload of the reply, 31 bytes per report (padding included)
    int reports = 0;
    bool typesOk = true; // first report type T, the others T + 1
};

class SimHost {
public:
    explicit SimHost(HidBackend& backend) : backend_(backend) {}

    // Sends the request; returns the number of reports written.
    int Send(const std::vector<std::uint8_t>& request) {
        int sent = 0;
        std::size_t pos = 0;
        bool first = true;
        while (pos < request.size()) {
            HidReport r{};
            std::size_t at = 1;
            if (!first) r[at++] = 0xFF;
            while (at < r.size() && pos < request.size()) r[at++] = request[pos++];
            if (backend_.Write(r, 200) != HidWriteResult::Ok) return sent;
            ++sent;
            first = false;
        }
        return sent;
    }

    // Reads reports of channel `type` (0x10 DATA, 0x20 DATALOG) until `n` payload bytes came or a
    // read times out; reports of the other channel are kept for later.
    HostReply Receive(std::uint8_t type, std::size_t n, int timeoutMs = 200) {
        HostReply out;
        while (out.bytes.size() < n) {
            HidReport r{};
            if (!Next(type, r, timeoutMs)) break;
            const std::uint8_t expected = out.reports == 0 ? type : static_cast<std::uint8_t>(type + 1);
            if (r[1] != expected) out.typesOk = false;
            out.bytes.insert(out.bytes.end(), r.begin() + 2, r.end());
            ++out.reports;
        }
        return out;
    }

    // One request and the first `n` bytes of its DATA answer (fewer when it did not come).
    std::vector<std::uint8_t> Exchange(const std::vector<std::uint8_t>& request, std::size_t n, int timeoutMs = 200) {
        Drain();
        Send(request);
        auto reply = Receive(0x10, n, timeoutMs);
        if (reply.bytes.size() > n) reply.bytes.resize(n);
        return reply.bytes;
    }

    // Drops everything queued (both channels).
    void Drain() {
        HidReport r{};
        while (backend_.Read(r, 0) == HidReadResult::Ok) {}
        other_.clear();
    }

    std::vector<HidReport> other_; // reports of the channel not asked for, in arrival order

private:
    bool Next(std::uint8_t type, HidReport& r, int timeoutMs) {
        for (auto it = other_.begin(); it != other_.end(); ++it) {
            if (((*it)[1] & 0xF0) == (type & 0xF0)) {
                r = *it;
                other_.erase(it);
                return true;
            }
        }
        for (;;) {
            if (backend_.Read(r, timeoutMs) != HidReadResult::Ok) return false;
            if ((r[1] & 0xF0) == (type & 0xF0)) return true;
            other_.push_back(r);
        }
    }

    HidBackend& backend_;
};

inline std::vector<std::uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

// When the device's answers reach the host: at once (inside the Write, for tests of the device
// model itself) or one USB frame after the request, as on the bus.
enum class SimAnswers { Instant, AfterAFrame };

// A simulated device on a fake clock, opened, with a host to talk to it.
struct SimRig {
    explicit SimRig(SimOptions options = {}, SimAnswers answers = SimAnswers::Instant) {
        options.usbTiming = answers == SimAnswers::AfterAFrame;
        sim = MakeSimulatedBackend(options, clock);
        if (!sim) return;
        const auto found = sim->Enumerate();
        if (!found.empty()) sim->Open(found.front().path);
        host = std::make_unique<SimHost>(*sim);
    }
    SimDevice& Device() { return sim->Device(); }

    FakeClock clock;
    std::unique_ptr<SimulatedBackend> sim;
    std::unique_ptr<SimHost> host;
};

inline std::uint16_t CrcOf(const std::vector<std::uint8_t>& bytes) {
    SimCrc c;
    c.Update(bytes.data(), bytes.size());
    return c.Finish();
}

} // namespace kv
