#pragma once
// The built-in base images: what each one holds and how it is stored as a resource.
#include "eprom/mkbase/image_buffer.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kv {

namespace mkbase {

enum class EzkMapSet { S4, GT, GTS };
enum class Region { USA, Euro };

// LH 2.3 image (kind 3, revision 8), standard MAF or SuperMAF.
ImageBuffer BuildLH23(bool superMaf);
// EZK image (kind 5, revision 8) with the base maps of one model, standard MAF or SuperMAF.
ImageBuffer BuildEZK(EzkMapSet set, bool superMaf);
// LH 2.2 image (kind 6 for the USA, 7 for Euro; revision 1), 4096 bytes.
ImageBuffer BuildLH22(Region region);
// EZF image (kind 8, revision 1), 2048 bytes.
ImageBuffer BuildEZF(Region region);

struct BaseImage {
    std::string name;                // resource name
    bool packed = false;             // stored in the packed form (mode 1) rather than raw
    std::vector<std::uint8_t> image; // the unpacked image
    std::vector<std::string> errors; // construction faults; empty when the image is sound
};

// All twelve base images, in resource order.
std::vector<BaseImage> BuildAllBaseImages();

// Step bytes of a step-coded axis whose points are `points` (ascending, 1..256):
// point(i) = 256 - (s[i] + ... + s[n-1]). Empty when the points cannot be coded that way.
std::vector<int> StepCodedAxis(const std::vector<int>& points);

} // namespace mkbase

} // namespace kv
