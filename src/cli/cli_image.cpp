// kestrovane-cli commands on image files: `image ...` and `unpack`.
#include "cli/cli.h"
#include "eprom/eprom_image.h"

#include <fstream>
#include <iterator>
#include <ostream>

namespace {

bool ReadFileBytes(const std::string& path, std::vector<std::uint8_t>& bytes) {
    std::ifstream f(path, std::ios::binary);
    if (!f) return false;
    bytes.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    return !f.bad();
}

bool WriteFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    if (!f) return false;
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    f.close();
    return !f.fail();
}

} // namespace

int RunImageCommand(const std::vector<std::string>& args, const CliOptions&, CliIo io) {
    (void)args;
    io.err << "usage: kestrovane-cli image info|new|convert|upgrade|supermaf ...\n";
    return kExitUsage;
}

int RunUnpackCommand(const std::vector<std::string>& args, const CliOptions&, CliIo io) {
    if (args.size() != 3 || args[1] != "-o") {
        io.err << "usage: kestrovane-cli unpack IN -o OUT\n";
        return kExitUsage;
    }
    std::vector<std::uint8_t> bytes;
    if (!ReadFileBytes(args[0], bytes)) {
        io.err << "Failed to open file\n";
        return kExitFailure;
    }
    if (!WriteFileBytes(args[2], UnpackResource(bytes))) {
        io.err << "Failed to write " << args[2] << "\n";
        return kExitFailure;
    }
    return kExitOk;
}
