// Live autotune speed on the simulated road drive:
//   autotune_20min_wall_s   wall seconds of `kestrovane-cli --simulate autotune` driving twenty
//                           simulated minutes (the fuel trace every 100 ms through the device
//                           link, the corrections into the running module)
#include "cli/cli.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

int main() {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / "kv_autotune_bench";
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::string in = (dir / "lh.bin").string(), out = (dir / "tuned.bin").string();
    std::ostringstream sink, err;
    if (kv::RunCli({"image", "new", "MRX_D", "-o", in}, {sink, err}) != 0) {
        std::fprintf(stderr, "bench: %s", err.str().c_str());
        return 1;
    }
    const auto start = std::chrono::steady_clock::now();
    const int code =
        kv::RunCli({"--simulate", "--drive-seed", "1", "autotune", in, "-o", out, "--seconds", "1200"}, {sink, err});
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    fs::remove_all(dir);
    if (code != 0) {
        std::fprintf(stderr, "bench: autotune failed: %s", err.str().c_str());
        return 1;
    }
    std::printf("autotune_20min_wall_s: %.2f\n", seconds);
    return 0;
}
