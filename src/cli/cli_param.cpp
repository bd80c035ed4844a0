// kestrovane-cli param ...: the settings of an image's parameter page, listed as the page shows
// them and changed through the page's own change events. With --simulate (or the real device)
// a change is written through to the running unit as the page's is.
#include "cli/cli.h"
#include "cli/cli_session.h"
#include "eprom/eprom_image.h"
#include "params/param_page.h"

#include <memory>
#include <ostream>

namespace kv {

namespace {

void ParamUsage(std::ostream& err) {
    err << "usage: kestrovane-cli param list FILE\n"
           "       kestrovane-cli [global options] param set FILE KEY VALUE [-o OUT]\n";
}

int Fail(CliIo io, const std::string& message) {
    io.err << message << "\n";
    return kExitFailure;
}

// Loads the image and its page; null (with the message shown) when either fails.
std::unique_ptr<ParamPage> OpenPage(EPROM& image, const std::string& path, CliIo io) {
    if (std::string m = image.LoadFromFile(path); !m.empty()) {
        io.err << m << ": " << path << "\n";
        return nullptr;
    }
    image.Context().wordBigEndian = image.GetCreator() != 2;
    auto page = MakeParamPage(image, {});
    if (!page) {
        io.err << "The image in " << path << " is of no unit with a parameter page\n";
        return nullptr;
    }
    page->Load();
    return page;
}

} // namespace

int RunParamCommand(const std::vector<std::string>& args, const CliOptions& options, CliIo io) {
    std::vector<std::string> positional;
    std::string out;
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "-o") {
            if (i + 1 >= args.size()) {
                ParamUsage(io.err);
                return kExitUsage;
            }
            out = args[++i];
        } else {
            positional.push_back(args[i]);
        }
    }
    const std::string cmd = args.empty() ? std::string() : args[0];
    if (!((cmd == "list" && positional.size() == 1 && out.empty()) || (cmd == "set" && positional.size() == 3))) {
        ParamUsage(io.err);
        return kExitUsage;
    }

    if (cmd == "list") {
        EPROM image;
        auto page = OpenPage(image, positional[0], io);
        if (!page) return kExitFailure;
        for (const auto& s : page->Settings())
            if (s.inImage) io.out << s.key << ": " << page->ListText(s.key) << "\n";
        return kExitOk;
    }

    // Only a change goes to the device: the session is made for `set` with device options.
    DeviceSession session;
    std::unique_ptr<EPROM> image;
    if (options.simulate) {
        if (std::string m = MakeDeviceSession(options, io, session); !m.empty()) return Fail(io, m);
        image = std::make_unique<EPROM>(session.context);
        // The file loads without reaching the unit; only the change is written through.
        session.context.deviceIO = false;
    } else {
        image = std::make_unique<EPROM>();
    }
    auto page = OpenPage(*image, positional[0], io);
    if (!page) return kExitFailure;
    const std::string& key = positional[1];
    session.context.deviceIO = options.simulate;
    std::string note;
    const auto refused = page->Apply(key, positional[2], &note);
    session.context.deviceIO = false;
    int result = kExitOk;
    const std::string target = out.empty() ? positional[0] : out;
    if (refused) {
        result = Fail(io, *refused);
    } else if ((image->HasBeenModified() || !out.empty()) && !image->SaveToFile(target)) {
        // A value the setting holds already leaves the file as it is.
        result = Fail(io, "Failed to save file " + target + ": " + image->LastSaveError());
    } else {
        if (!note.empty()) io.err << note << "\n";
        io.out << key << ": " << page->ListText(key) << "\n";
    }
    return KeepSimulatedState(result, options, session, io);
}

} // namespace kv
