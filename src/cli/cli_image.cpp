// kestrovane-cli commands on image files: `image info|new|convert|upgrade|supermaf` and `unpack`.
#include "cli/cli.h"
#include "eprom/base_images.h"
#include "eprom/eprom_image.h"
#include "platform/file_io.h"
#include "platform/parsed.h"

#include <cstddef>
#include <optional>
#include <ostream>

namespace kv {

namespace {

// The largest image is 64 kB: anything past this is no image.
constexpr std::size_t kUnpackLimit = 16u * 1024 * 1024;
constexpr const char* kUnrecognizedEprom =
    "Unrecognized EPROM. Only special EPROMs from Dravenholt are supported by Kestrovane.";
constexpr const char* kUpgradeFirst =
    "The image was made by an earlier version: upgrade it first (kestrovane-cli image upgrade)";

void ImageUsage(std::ostream& err) {
    err << "usage: kestrovane-cli image info FILE\n"
           "       kestrovane-cli image new BASE -o OUT [--format N]\n"
           "       kestrovane-cli image convert IN -o OUT --format N\n"
           "       kestrovane-cli image upgrade IN -o OUT [--supermaf yes|no]\n"
           "       kestrovane-cli image supermaf IN -o OUT\n"
           "BASE is one of:";
    for (const std::string& base : BaseImageNames()) err << " " << base;
    err << "\n";
}

// One positional argument followed by options of the form "--name value" / "-o value".
struct ImageArgs {
    std::string input;
    std::string output;
    std::optional<FileFormat> format;
    std::optional<bool> superMAF;
};

Parsed<FileFormat> ParseFormat(const std::string& s) {
    const auto format = s.size() == 1 ? FileFormatOfCode(s[0] - '0') : std::nullopt;
    if (format) return *format;
    return ParseError{"the format is 1, 2, 3 or 4"};
}

// Parses IN followed by the allowed options; a failure on any unknown or malformed option.
Parsed<ImageArgs> Parse(const std::vector<std::string>& args, bool allowFormat, bool allowSuperMAF) {
    if (args.size() < 2 || args[1].rfind("-", 0) == 0) return ParseError{"an input file comes first"};
    ImageArgs p;
    p.input = args[1];
    for (std::size_t i = 2; i < args.size(); i += 2) {
        if (i + 1 >= args.size()) return ParseError{args[i] + " needs a value"};
        const std::string& name = args[i];
        const std::string& value = args[i + 1];
        if (name == "-o" && p.output.empty() && !value.empty()) {
            p.output = value;
        } else if (name == "--format" && allowFormat && !p.format) {
            const Parsed<FileFormat> format = ParseFormat(value);
            if (!format) return ParseError{format.Error()};
            p.format = *format;
        } else if (name == "--supermaf" && allowSuperMAF && !p.superMAF) {
            if (value != "yes" && value != "no") return ParseError{"--supermaf is yes or no"};
            p.superMAF = value == "yes";
        } else {
            return ParseError{"unknown or repeated option " + name};
        }
    }
    if (p.output.empty()) return ParseError{"-o OUT is missing"};
    return p;
}

// The byte order of the tool follows the loaded image, as after every load in the program.
void FollowCreator(EpromContext& context, const EPROM& image) { context.wordBigEndian = image.GetCreator() != 2; }

bool Load(EPROM& image, EpromContext& context, const std::string& path, std::ostream& err) {
    const std::string message = image.LoadFromFile(path);
    if (!message.empty()) {
        err << message << "\n";
        return false;
    }
    FollowCreator(context, image);
    return true;
}

int Save(EPROM& image, const std::string& path, FileFormat format, std::ostream& err) {
    if (!image.SaveToFile(path, format)) {
        err << image.LastSaveError() << "\n";
        return kExitFailure;
    }
    return kExitOk;
}

int Info(const std::vector<std::string>& args, CliIo io) {
    if (args.size() != 2) {
        ImageUsage(io.err);
        return kExitUsage;
    }
    EpromContext context;
    EPROM image(context);
    if (!Load(image, context, args[1], io.err)) return kExitFailure;
    const auto yesNo = [](bool b) { return b ? "yes" : "no"; };
    io.out << "kind: " << image.GetKind() << "\n"
           << "name: " << image.GetName() << "\n"
           << "ecu_type: " << EcuTypeCode(image.GetECUType()) << "\n"
           << "ecu_function: " << image.GetECUFunction() << "\n"
           << "creator: " << image.GetCreator() << "\n"
           << "revision: " << image.GetRevision() << "\n"
           << "maf_type: " << image.LH23EZK_GetMAFType() << "\n"
           << "base_maps: " << image.GetBaseMapsName() << "\n"
           << "file_format: " << FileFormatCode(image.GetFileFormat()) << "\n"
           << "file_format_name: " << EPROM::GetFileFormatName(image.GetFileFormat()) << "\n"
           << "empty: " << yesNo(image.IsEmptyImage()) << "\n"
           << "modified: " << yesNo(image.HasBeenModified()) << "\n";
    return kExitOk;
}

int New(const std::vector<std::string>& args, CliIo io) {
    const auto p = Parse(args, true, false);
    if (!p) {
        ImageUsage(io.err);
        return kExitUsage;
    }
    EpromContext context;
    EPROM image(context);
    const std::string message = LoadBaseImage(p->input, image);
    if (!message.empty()) {
        io.err << message << "\n";
        return kExitFailure;
    }
    return Save(image, p->output, p->format.value_or(image.GetDefaultSaveFormat()), io.err);
}

int Convert(const std::vector<std::string>& args, CliIo io) {
    const auto p = Parse(args, true, false);
    if (!p || !p->format) {
        ImageUsage(io.err);
        return kExitUsage;
    }
    EpromContext context;
    EPROM image(context);
    if (!Load(image, context, p->input, io.err)) return kExitFailure;
    return Save(image, p->output, *p->format, io.err);
}

int Upgrade(const std::vector<std::string>& args, CliIo io) {
    const auto p = Parse(args, false, true);
    if (!p) {
        ImageUsage(io.err);
        return kExitUsage;
    }
    EpromContext context;
    EPROM image(context);
    if (!Load(image, context, p->input, io.err)) return kExitFailure;
    if (image.GetECUType() == EcuType::Unknown && !image.IsEmptyImage()) {
        io.err << kUnrecognizedEprom << "\n";
        return kExitFailure;
    }
    switch (DecideRevision(image)) {
    case RevisionDecision::Refuse:
        io.err << LaterVersionMessage(KV_VERSION_MAJOR, KV_VERSION_MINOR, KV_VERSION_PATCH) << "\n";
        return kExitFailure;
    case RevisionDecision::Keep: break; // already current (or not subject to upgrades): written as it is
    case RevisionDecision::Upgrade: {
        if (UpgradeAsksForSuperMAF(image) && !p->superMAF) {
            io.err << SuperMAFQuestion() << "\n(answer with --supermaf yes|no)\n";
            return kExitUsage;
        }
        const std::string message = UpgradeFromBaseImage(image, UpgradeBaseName(image, p->superMAF.value_or(false)));
        if (!message.empty()) {
            io.err << message << "\n";
            return kExitFailure;
        }
        FollowCreator(context, image);
        break;
    }
    }
    return Save(image, p->output, FileFormat::None, io.err);
}

int SuperMAF(const std::vector<std::string>& args, CliIo io) {
    const auto p = Parse(args, false, false);
    if (!p) {
        ImageUsage(io.err);
        return kExitUsage;
    }
    EpromContext context;
    EPROM image(context);
    if (!Load(image, context, p->input, io.err)) return kExitFailure;
    // The conversion writes at the map and axis addresses of the current layout. Older images
    // (Type A / Type C have no address tables: the tables would send every write to the program
    // code at address 0) and images of a later version are refused, as opening them would.
    if (image.GetECUType() == EcuType::LH23 || image.GetECUType() == EcuType::LH22) {
        switch (DecideRevision(image)) {
        case RevisionDecision::Refuse:
            io.err << LaterVersionMessage(KV_VERSION_MAJOR, KV_VERSION_MINOR, KV_VERSION_PATCH) << "\n";
            return kExitFailure;
        case RevisionDecision::Upgrade: io.err << kUpgradeFirst << "\n"; return kExitFailure;
        case RevisionDecision::Keep: break;
        }
    }
    switch (image.GetECUType()) {
    case EcuType::LH23: image.LH23_MakeSuperMAF(); break;
    case EcuType::LH22: image.LH22_MakeSuperMAF(); break;
    default:
        io.err << "The SuperMAF conversion applies to LH 2.3 and LH 2.2 (fuel injection) EPROMs only\n";
        return kExitFailure;
    }
    return Save(image, p->output, FileFormat::None, io.err);
}

} // namespace

int RunImageCommand(const std::vector<std::string>& args, const CliOptions&, CliIo io) {
    const std::string sub = args.empty() ? "" : args[0];
    if (sub == "info") return Info(args, io);
    if (sub == "new") return New(args, io);
    if (sub == "convert") return Convert(args, io);
    if (sub == "upgrade") return Upgrade(args, io);
    if (sub == "supermaf") return SuperMAF(args, io);
    ImageUsage(io.err);
    return kExitUsage;
}

int RunUnpackCommand(const std::vector<std::string>& args, const CliOptions&, CliIo io) {
    if (args.size() != 3 || args[1] != "-o") {
        io.err << "usage: kestrovane-cli unpack IN -o OUT\n";
        return kExitUsage;
    }
    // A packed input is never longer than its output.
    const Parsed<std::vector<std::uint8_t>> bytes = ReadRegularFile(args[0], kUnpackLimit);
    if (!bytes) {
        io.err << bytes.Error() << "\n";
        return kExitFailure;
    }
    const auto unpacked = UnpackResource(*bytes, kUnpackLimit);
    if (!unpacked) {
        io.err << "The unpacked data would be larger than 16 MB\n";
        return kExitFailure;
    }
    if (const std::string message = SaveFileAtomically(args[2], *unpacked); !message.empty()) {
        io.err << message << "\n";
        return kExitFailure;
    }
    return kExitOk;
}

} // namespace kv
