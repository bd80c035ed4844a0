#include "platform/program_args.h"

#ifdef _WIN32
#include "platform/file_io.h"

#include <windows.h>

#include <shellapi.h>
#endif

namespace kv {

std::vector<std::string> ProgramArguments(int argc, char** argv) {
#ifdef _WIN32
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wide) {
        std::vector<std::string> args;
        for (int i = 1; i < count; ++i) args.push_back(PathToUtf8(std::filesystem::path(wide[i])));
        ::LocalFree(wide);
        return args;
    }
#endif
    return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

} // namespace kv
