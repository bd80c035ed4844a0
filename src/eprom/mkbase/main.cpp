// kv_mkbase: writes the built-in base images into a folder, one file per resource name
// (NAME.bin), the packed ones in the packed form (mode 1). Each packed file is unpacked again
// and compared with its image before it is written.
// Usage: kv_mkbase OUTDIR. Exit 0 when every image was written, 1 otherwise.
#include "eprom/eprom_image.h"
#include "eprom/mkbase/base_images.h"
#include "eprom/mkbase/packer.h"

#include <cstdio>
#include <fstream>
#include <string>

namespace kv {

namespace {

bool WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    return static_cast<bool>(out);
}

} // namespace

} // namespace kv

using namespace kv;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: kv_mkbase OUTDIR\n");
        return 1;
    }
    const std::string dir = argv[1];
    bool ok = true;
    for (const mkbase::BaseImage& image : mkbase::BuildAllBaseImages()) {
        for (const std::string& e : image.errors)
            std::fprintf(stderr, "kv_mkbase: %s: %s\n", image.name.c_str(), e.c_str());
        if (!image.errors.empty()) {
            ok = false;
            continue;
        }
        std::vector<std::uint8_t> bytes = image.image;
        if (image.packed) {
            bytes = mkbase::PackResource(image.image, mkbase::kPackModeScrambled);
            if (UnpackResource(bytes) != image.image) {
                std::fprintf(stderr, "kv_mkbase: %s: packed form does not unpack to the image\n", image.name.c_str());
                ok = false;
                continue;
            }
        }
        const std::string path = dir + "/" + image.name + ".bin";
        if (!WriteFile(path, bytes)) {
            std::fprintf(stderr, "kv_mkbase: cannot write %s\n", path.c_str());
            ok = false;
        }
    }
    return ok ? 0 : 1;
}
