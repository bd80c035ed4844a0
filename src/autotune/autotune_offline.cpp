#include "autotune/autotune_offline.h"

#include "datalog/log_catalogue.h"
#include "datalog/log_run.h"
#include "maps/table_editor.h"
#include "monitor/conversions.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <optional>

namespace kv {

namespace {

// How much a fitted cell is held to its value per sample's worth of evidence it lacks.
constexpr double kDamping = 1.0;
// The unit flags over-run above this speed with the throttle closed (a transient).
constexpr double kOverrunRpm = 1000.0;

struct Point {
    double t;
    double fx, fy;
    int zone;
};

// Solves m x = rhs (m n x n, row by row) by elimination with partial pivoting; m and rhs are
// used up. False when m is singular.
bool Solve(std::vector<double>& m, std::vector<double>& rhs, std::size_t n) {
    for (std::size_t k = 0; k < n; ++k) {
        std::size_t pivot = k;
        for (std::size_t r = k + 1; r < n; ++r)
            if (std::abs(m[r * n + k]) > std::abs(m[pivot * n + k])) pivot = r;
        if (std::abs(m[pivot * n + k]) < 1e-12) return false;
        if (pivot != k) {
            for (std::size_t c = 0; c < n; ++c) std::swap(m[k * n + c], m[pivot * n + c]);
            std::swap(rhs[k], rhs[pivot]);
        }
        for (std::size_t r = k + 1; r < n; ++r) {
            const double f = m[r * n + k] / m[k * n + k];
            if (f == 0.0) continue;
            for (std::size_t c = k; c < n; ++c) m[r * n + c] -= f * m[k * n + c];
            rhs[r] -= f * rhs[k];
        }
    }
    for (std::size_t k = n; k-- > 0;) {
        double s = rhs[k];
        for (std::size_t c = k + 1; c < n; ++c) s -= m[k * n + c] * rhs[c];
        rhs[k] = s / m[k * n + k];
    }
    return true;
}

} // namespace

Parsed<OfflineTuneResult> TuneFromRun(const LogRun& run, TableEditor& editor, EcuType type,
                                      const OfflineTuneOptions& options) {
    const auto& headers = run.Headers();
    auto column = [&](const char* name) -> std::optional<int> {
        const auto it = std::find(headers.begin(), headers.end(), name);
        if (it == headers.end()) return std::nullopt;
        return static_cast<int>(it - headers.begin());
    };
    std::array<int, 5> cols{};
    const std::array<const char*, 5> needed{kTimeHeader, kRpmHeader, kMafHeader, kAfrHeader, kThrottleHeader};
    for (std::size_t i = 0; i < needed.size(); ++i) {
        const std::optional<int> c = column(needed[i]);
        if (!c) return ParseError{std::string("The run has no column \"") + needed[i] + "\""};
        cols[i] = *c;
    }
    const std::optional<int> coolantCol = column(kCoolantCHeader);

    const int rows = editor.GetYAxisSize(), colsN = editor.GetXAxisSize();
    const auto cells = static_cast<std::size_t>(rows) * static_cast<std::size_t>(colsN);
    const double factor = editor.GetCellFactor();
    std::vector<double> fuelIn(cells);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < colsN; ++c)
            fuelIn[static_cast<std::size_t>(r * colsN + c)] = 1.0 + editor.GetCellValue(r, c) * factor;
    auto index = [&](const BlendShare& s) { return static_cast<std::size_t>(s.row * colsN + s.col); };
    auto forbidden = [&](const BlendShare& s) {
        return editor.GetCellColor(s.row, s.col) == CellStateColour(CellState::Forbidden);
    };

    // The judged samples: their shares and what the blend should have been.
    struct Judged {
        std::vector<BlendShare> shares;
        double wanted;
    };
    std::vector<Judged> judged;
    std::vector<double> share(cells, 0.0), weightedAfr(cells, 0.0);
    std::vector<int> zoneOf(cells, -1);
    OfflineTuneResult result;
    std::deque<Point> history;
    int settle = 0;
    double startT = 0.0;
    for (int r = 0; r < run.RowCount(); ++r) {
        const double t = run.Value(r, cols[0]), rpm = run.Value(r, cols[1]), load = run.Value(r, cols[2]);
        const double afr = run.Value(r, cols[3]), throttle = run.Value(r, cols[4]);
        if (!std::isfinite(t) || !std::isfinite(rpm) || !std::isfinite(load) || !std::isfinite(afr) ||
            !std::isfinite(throttle))
            continue;
        const int zone = static_cast<int>(throttle) - 1; // 1 idle, 2 cruise, 3 WOT
        if (zone < 0 || zone >= kAutotuneZoneCount) continue;
        // A run continued after a pause starts afresh: its first gas was burnt before.
        if (history.empty() || t < history.back().t) {
            history.clear();
            settle = 0;
            startT = t;
        }
        history.push_back({t, editor.FindXCoord(conv::LH_CodeFromRpm(rpm)), editor.FindYCoord(load), zone});
        while (history.size() > 1 && history[1].t <= t - options.delayS) history.pop_front();

        const bool transient = zone == static_cast<int>(AutotuneZone::Idle) && rpm > kOverrunRpm;
        if (transient) settle = kSettleSamples;
        bool settled = true;
        if (settle > 0) {
            --settle;
            settled = false;
        }
        const bool atLawEnd = afr >= options.afrHighEnd - 0.005 || afr <= options.afrLowEnd + 0.005;
        if (atLawEnd) {
            ++(transient ? result.dropped.fuelCut : result.dropped.sensor);
            continue;
        }
        if (rpm < kCrankingRpm) {
            ++result.dropped.cranking;
            continue;
        }
        if (coolantCol && run.Value(r, *coolantCol) < options.warmEngineC) {
            ++result.dropped.cold;
            continue;
        }
        if (!settled || t - startT < options.delayS || history.front().t > t - options.delayS) continue;
        const Point& burnt = history.front();
        const auto z = static_cast<std::size_t>(burnt.zone);
        if (!options.enabled[z]) continue;
        const AutotuneBand& band = options.bands[z];
        const double mid = (static_cast<double>(band.low) + static_cast<double>(band.high)) / 2.0;
        Judged j{BlendShares(burnt.fx, burnt.fy, colsN, rows), 0.0};
        double blended = 0.0;
        for (const BlendShare& s : j.shares) blended += s.share * fuelIn[index(s)];
        j.wanted = blended * afr / mid;
        result.judgedErrors.push_back(static_cast<float>(std::abs(afr - static_cast<double>(band.target))));
        for (const BlendShare& s : j.shares) {
            if (s.share < kShareFloor || forbidden(s)) continue;
            const std::size_t i = index(s);
            share[i] += s.share;
            weightedAfr[i] += s.share * afr * blended / fuelIn[i];
            zoneOf[i] = burnt.zone;
        }
        judged.push_back(std::move(j));
    }

    // Each cell with enough evidence: in the band it stays (tuned), otherwise it is fitted.
    std::vector<std::optional<CellState>> state(cells);
    std::vector<int> unknown(cells, -1);
    std::size_t n = 0;
    for (std::size_t i = 0; i < cells; ++i) {
        if (zoneOf[i] < 0) continue;
        ++result.visited;
        const AutotuneBand& band = options.bands[static_cast<std::size_t>(zoneOf[i])];
        const double mean = weightedAfr[i] / share[i];
        const CellState judged = JudgeMixture(mean, band);
        const bool inBand = judged == CellState::Tuned;
        if (!inBand) state[i] = judged;
        if (share[i] < kEvidenceThreshold - 1e-9) continue;
        if (inBand)
            state[i] = CellState::Tuned;
        else
            unknown[i] = static_cast<int>(n++);
    }
    std::vector<double> m(n * n, 0.0), rhs(n, 0.0);
    for (const Judged& j : judged) {
        double fixedPart = 0.0;
        std::vector<std::pair<std::size_t, double>> free;
        for (const BlendShare& s : j.shares) {
            const std::size_t i = index(s);
            if (unknown[i] >= 0 && s.share >= kShareFloor)
                free.emplace_back(static_cast<std::size_t>(unknown[i]), s.share);
            else
                fixedPart += s.share * fuelIn[i];
        }
        for (const auto& [a, wa] : free) {
            rhs[a] += wa * (j.wanted - fixedPart);
            for (const auto& [b, wb] : free) m[a * n + b] += wa * wb;
        }
    }
    for (std::size_t i = 0; i < cells; ++i)
        if (unknown[i] >= 0) {
            const auto k = static_cast<std::size_t>(unknown[i]);
            m[k * n + k] += kDamping;
            rhs[k] += kDamping * fuelIn[i];
        }
    const bool tunable = type == EcuType::LH23 || type == EcuType::LH22;
    const bool solved = n == 0 || Solve(m, rhs, n);
    const int low = type == EcuType::LH23 ? -128 : -512, high = type == EcuType::LH23 ? 127 : 511;
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < colsN; ++c) {
            const auto i = static_cast<std::size_t>(r * colsN + c);
            if (state[i]) editor.SetCellColor(r, c, CellStateColour(*state[i]));
            if (unknown[i] < 0 || !solved || !tunable) continue;
            const double fuel = rhs[static_cast<std::size_t>(unknown[i])];
            const std::int32_t v = std::clamp(conv::RoundEven((fuel - 1.0) / factor), low, high);
            if (v != editor.GetCellValue(r, c)) editor.SetCellValue(r, c, v);
        }
    return result;
}

} // namespace kv
