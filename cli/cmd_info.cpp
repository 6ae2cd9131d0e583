// tavirex info: load a configuration through the library and open the link.
#include <cstdio>
#include <string>

#include "checks.h"
#include "common.h"
#include "output_args.h"
#include "tavirex.h"

namespace cli {
namespace {

// What the configuration file tells, read with the same profile reader and
// defaults as the library.
void print_configuration(const std::string& path) {
    auto text = [&](const char* section, const char* key) {
        const std::string v = config_string(path, section, key);
        return v.empty() ? std::string("(none)") : v;
    };
    std::printf("configuration %s\n", path.c_str());
    std::printf("  link library      %s\n", text("DLL", "FILENAME").c_str());
    std::printf("  module address    %s  timeout %ld ms  retries %ld\n", text("PICTCNTL", "IPADDRESS").c_str(),
                config_int(path, "PICTCNTL", "LANTIMEOUT", 5000), config_int(path, "PICTCNTL", "LANRETRY", 5));
    std::printf("  boot program      %s  (load %ld)\n", text("LOADPROG", "BOOT").c_str(),
                config_int(path, "LOADPROG", "FLG_BOOT", 1));
    std::printf("  ready value       %ld  start signal %ld  picture pattern %ld\n",
                config_int(path, "PICTCNTL", "INITVALUE", 1), config_int(path, "PICTCNTL", "STARTSIGNAL", 1),
                config_int(path, "PICTCNTL", "PICTPATTERN", 0));
    std::printf("  processing steps ");
    static const char* const names[] = {"DELDC",       "DELSHADW",       "CORRINJLINE",    "PXIMG",
                                        "FILLOPENING", "CORRIMGSIZE",    "DELNOISE",       "BRISMOOTH",
                                        "BRISMOOTH_PANO", "BRISMOOTH_CEPH", "CORRBRISCALE", "EMPHASISCONTRAST",
                                        "2ndCORRBRISCALE", "GammaCorrForCephalo"};
    // Every step is on unless the file says 0; the cephalometric gamma is off unless it says so.
    for (const char* name : names) {
        const bool gamma = std::string(name) == "GammaCorrForCephalo";
        if ((config_int(path, "PROCESS", name, gamma ? 0 : 1) & 0xFF) != 0) std::printf(" %s", name);
    }
    std::printf("\n  display window    centre %ld  width %ld\n", static_cast<long>(Tavirex_GetWindowCenter()),
                static_cast<long>(Tavirex_GetWindowWidth()));
}

}  // namespace

// Shared by `info` and `demo`: Init, report, link up, link down.
int run_info(const char* config) {
    int failures = 0;
    failures += stage("Tavirex_Init", [&] { return Tavirex_Init(config, 1); }) != 0;
    print_configuration(config);
    std::printf("link library and module (%s)\n", config_string(config, "DLL", "FILENAME").c_str());
    const std::int32_t rc = stage("Tavirex_SetCommInit (link, boot)", [] { return Tavirex_SetCommInit(); });
    if (rc == 0) std::printf("  link library loaded and the module booted\n");
    name_configured_files(config, rc);
    failures += rc != 0;
    failures += stage("Tavirex_SetDeviceFree", [] { return Tavirex_SetDeviceFree(); }) != 0;
    return failures == 0 ? 0 : 1;
}

int cmd_info(int argc, char** argv) {
    Args args;
    if (!parse_args(argc, argv, 2, {"config"}, {}, &args)) return kRefused;
    if (args.help) {
        std::printf(
            "usage: tavirex info --config FILE\n\n"
            "Loads the configuration FILE through Tavirex_Init, prints what the library read, then loads\n"
            "the link library it names, opens the link and boots the module (Tavirex_SetCommInit), and\n"
            "unloads it again. Exit status 0 when every call succeeded.\n");
        return 0;
    }
    std::string config;
    if (!positionals(args, 0, "info", "no words besides the options") || !config_option(args, "info", &config))
        return kRefused;
    return run_info(config.c_str());
}

}  // namespace cli
