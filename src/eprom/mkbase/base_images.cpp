#include "eprom/mkbase/base_images.h"

namespace kv {

namespace mkbase {

std::vector<int> StepCodedAxis(const std::vector<int>& points) {
    if (points.empty() || points.back() < 1 || points.back() > 256) return {};
    std::vector<int> steps(points.size());
    for (std::size_t i = 0; i + 1 < points.size(); ++i) {
        steps[i] = points[i + 1] - points[i];
        if (steps[i] < 0) return {};
    }
    steps.back() = 256 - points.back();
    return steps;
}

std::vector<BaseImage> BuildAllBaseImages() {
    struct Entry {
        const char* name;
        bool packed;
        ImageBuffer (*build)();
    };
    static const Entry kEntries[] = {
        {"MRX_D", true, [] { return BuildLH23(false); }},
        {"MRX_D-SUPERMAF", true, [] { return BuildLH23(true); }},
        {"EZK_D-S4", true, [] { return BuildEZK(EzkMapSet::S4, false); }},
        {"EZK_D-GT", true, [] { return BuildEZK(EzkMapSet::GT, false); }},
        {"EZK_D-GTS", true, [] { return BuildEZK(EzkMapSet::GTS, false); }},
        {"EZK_D-S4-SUPERMAF", true, [] { return BuildEZK(EzkMapSet::S4, true); }},
        {"EZK_D-GT-SUPERMAF", true, [] { return BuildEZK(EzkMapSet::GT, true); }},
        {"EZK_D-GTS-SUPERMAF", true, [] { return BuildEZK(EzkMapSet::GTS, true); }},
        {"MRX_LH22_USA", false, [] { return BuildLH22(Region::USA); }},
        {"MRX_LH22_EURO", false, [] { return BuildLH22(Region::Euro); }},
        {"EZF_USA", false, [] { return BuildEZF(Region::USA); }},
        {"EZF_EURO", false, [] { return BuildEZF(Region::Euro); }},
    };
    std::vector<BaseImage> all;
    for (const Entry& e : kEntries) {
        const ImageBuffer built = e.build();
        all.push_back({e.name, e.packed, built.Bytes(), built.Errors()});
    }
    return all;
}

} // namespace mkbase

} // namespace kv
