#pragma once
// How the units blend a map between its grid points: bilinearly between the four cells around a
// fractional grid point. Live autotune refers the measured mixture to it; the cell statistics of
// a log give each sample to the cells in these shares.
#include <algorithm>
#include <array>
#include <cmath>

namespace kv {

struct BlendShare {
    int row = 0;
    int col = 0;
    double share = 0; // 0..1; the four shares add up to 1
};

// The four cells around the fractional grid point (fx, fy) of a map of `cols` x `rows` cells
// (fx, fy from 0 to cols - 1, rows - 1) and the share of each. At the last column or row the
// cells beyond are the last ones again.
inline std::array<BlendShare, 4> BlendShares(double fx, double fy, int cols, int rows) {
    const int x0 = std::clamp(static_cast<int>(std::floor(fx)), 0, std::max(cols - 1, 0));
    const int y0 = std::clamp(static_cast<int>(std::floor(fy)), 0, std::max(rows - 1, 0));
    const int x1 = std::min(x0 + 1, std::max(cols - 1, 0));
    const int y1 = std::min(y0 + 1, std::max(rows - 1, 0));
    const double tx = std::clamp(fx - x0, 0.0, 1.0), ty = std::clamp(fy - y0, 0.0, 1.0);
    return {BlendShare{y0, x0, (1.0 - ty) * (1.0 - tx)}, BlendShare{y0, x1, (1.0 - ty) * tx},
            BlendShare{y1, x0, ty * (1.0 - tx)}, BlendShare{y1, x1, ty * tx}};
}

} // namespace kv
