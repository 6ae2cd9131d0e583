// tavirex demo: run the library against the simulated sensor module.
#include <cerrno>
#include <cstdio>
#include <string>
#include <sys/stat.h>

#include "common.h"
#include "tavirex.h"

#if defined(_WIN32)
#include <direct.h>
#endif

namespace cli {

int run_info(const char* config);

namespace {

bool make_dir(const std::string& dir) {
#if defined(_WIN32)
    return _mkdir(dir.c_str()) == 0 || errno == EEXIST;
#else
    return mkdir(dir.c_str(), 0777) == 0 || errno == EEXIST;
#endif
}

bool write_file(const std::string& path, const std::string& content) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    const bool ok = std::fwrite(content.data(), 1, content.size(), f) == content.size();
    return std::fclose(f) == 0 && ok;
}

// A small stand-in boot program: the simulated module accepts any bytes.
std::string boot_program() {
    std::string bytes;
    for (int i = 0; i < 256; ++i) bytes.push_back(static_cast<char>((i * 37 + 11) & 0xFF));
    return bytes;
}

std::string default_configuration(const std::string& dir) {
    return "; Tavirex demo configuration: the simulated sensor module\r\n"
           "[DLL]\r\nFILENAME=" + sim_module_path() + "\r\n"
           "[LOADPROG]\r\nFLG_BOOT=1\r\nBOOT=" + dir + "boot.bin\r\n"
           "[PICTCNTL]\r\nIPADDRESS=192.168.10.20\r\nLANTIMEOUT=5000\r\nLANRETRY=5\r\nINITVALUE=1\r\n"
           "STARTSIGNAL=1\r\nPICTPATTERN=0\r\n"
           "[INIT_WINDOW]\r\nWINDOW_CENTER=2048\r\nWINDOW_WIDTH=4096\r\n";
}

}  // namespace

int cmd_demo(int argc, char** argv) {
    Args args;
    if (!parse_args(argc, argv, 2, {"out"}, {}, &args)) return 2;
    if (args.help) {
        std::printf(
            "usage: tavirex demo [--out DIR]\n\n"
            "Writes a configuration that points at the simulated sensor module (%s)\n"
            "and a boot program into DIR (default: out), then loads the configuration and opens the link\n"
            "as `tavirex info` does.\n",
            sim_module_path().c_str());
        return 0;
    }
    std::string dir = args.get("out", "out");
    if (!make_dir(dir)) {
        std::fprintf(stderr, "tavirex demo: cannot create folder %s\n", dir.c_str());
        return 1;
    }
    if (dir.back() != '/' && dir.back() != '\\') dir += '/';
    const std::string config = dir + "tavirex-demo.ini";
    if (!write_file(dir + "boot.bin", boot_program()) || !write_file(config, default_configuration(dir))) {
        std::fprintf(stderr, "tavirex demo: cannot write into %s\n", dir.c_str());
        return 1;
    }
    std::printf("demo: simulated sensor module %s\n", sim_module_path().c_str());
    return run_info(config.c_str());
}

}  // namespace cli
