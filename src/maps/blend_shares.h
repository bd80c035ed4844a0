#pragma once
// How the units blend a map between its grid points: bilinearly between the four cells around a
// fractional grid point. Live autotune refers the measured mixture to it; the cell statistics of
// a log give each sample to the cells in these shares.
#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace kv {

struct BlendShare {
    int row = 0;
    int col = 0;
    double share = 0; // 0..1; the shares of one point add up to 1
};

// The cells around the fractional grid point (fx, fy) of a map of `cols` x `rows` cells (fx, fy
// from 0 to cols - 1, rows - 1) and the share of each. Past an end of an axis the edge cells take
// it all; cells whose share is 0 are left out, so no cell is listed twice.
inline std::vector<BlendShare> BlendShares(double fx, double fy, int cols, int rows) {
    std::vector<BlendShare> out;
    if (rows < 1 || cols < 1) return out;
    // The lower grid point on an axis and the fraction towards the next one.
    auto split = [](double f, int n) {
        const double c = std::clamp(f, 0.0, static_cast<double>(n - 1));
        const int i = std::min(static_cast<int>(std::floor(c)), n - 1);
        return std::pair{i, i + 1 < n ? c - i : 0.0};
    };
    const auto [x0, tx] = split(fx, cols);
    const auto [y0, ty] = split(fy, rows);
    for (int dy = 0; dy < 2; ++dy)
        for (int dx = 0; dx < 2; ++dx) {
            const double share = (dy == 0 ? 1.0 - ty : ty) * (dx == 0 ? 1.0 - tx : tx);
            if (share > 0.0) out.push_back({y0 + dy, x0 + dx, share});
        }
    return out;
}

} // namespace kv
