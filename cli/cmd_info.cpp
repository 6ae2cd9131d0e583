// tavirex info: load a configuration through the library and open the link.
#include <cstdio>

#include "api/context.h"
#include "common.h"
#include "tavirex.h"

namespace cli {
namespace {

void print_configuration(const char* path) {
    const tvx::DeviceContext& d = tvx::Device;
    std::printf("configuration %s\n", path);
    std::printf("  link library      %s\n", d.LinkLibraryPath[0] ? d.LinkLibraryPath : "(none)");
    std::printf("  module address    %s  timeout %lu ms  retries %u\n", d.IpAddress[0] ? d.IpAddress : "(none)",
                static_cast<unsigned long>(d.LanTimeout), static_cast<unsigned>(d.LanRetry));
    std::printf("  boot program      %s  (load %u)\n", d.BootPath[0] ? d.BootPath : "(none)",
                static_cast<unsigned>(d.BootLoad));
    std::printf("  ready value       %u  start signal %u  picture pattern %u\n", static_cast<unsigned>(d.InitValue),
                static_cast<unsigned>(d.StartSignal), static_cast<unsigned>(d.PictPattern));
    std::printf("  processing steps ");
    static const char* const names[] = {"DELDC",       "DELSHADW",       "CORRINJLINE",    "PXIMG",
                                        "FILLOPENING", "CORRIMGSIZE",    "DELNOISE",       "BRISMOOTH",
                                        "BRISMOOTH_PANO", "BRISMOOTH_CEPH", "CORRBRISCALE", "EMPHASISCONTRAST",
                                        "2ndCORRBRISCALE", "GammaCorrForCephalo"};
    for (std::size_t i = 0; i < tvx::kProcessFlagCount; ++i)
        if (d.ProcessFlags[i]) std::printf(" %s", names[i]);
    std::printf("\n  display window    centre %ld  width %ld\n", static_cast<long>(Tavirex_GetWindowCenter()),
                static_cast<long>(Tavirex_GetWindowWidth()));
}

}  // namespace

// Shared by `info` and `demo`: Init, report, link up, link down.
int run_info(const char* config) {
    int failures = 0;
    failures += stage("Tavirex_Init", [&] { return Tavirex_Init(config, 1); }) != 0;
    print_configuration(config);
    std::printf("link\n");
    const std::int32_t rc = stage("Tavirex_SetCommInit (link, boot)", [] { return Tavirex_SetCommInit(); });
    if (rc == 0) std::printf("  link library loaded and the module booted\n");
    failures += rc != 0;
    failures += stage("Tavirex_SetDeviceFree", [] { return Tavirex_SetDeviceFree(); }) != 0;
    return failures == 0 ? 0 : 1;
}

int cmd_info(int argc, char** argv) {
    Args args;
    if (!parse_args(argc, argv, 2, {"config"}, {}, &args)) return 2;
    if (args.help) {
        std::printf(
            "usage: tavirex info --config FILE\n\n"
            "Loads the configuration FILE through Tavirex_Init, prints what the library read, then loads\n"
            "the link library it names, opens the link and boots the module (Tavirex_SetCommInit), and\n"
            "unloads it again. Exit status 0 when every call succeeded.\n");
        return 0;
    }
    if (!args.has("config")) {
        std::fprintf(stderr, "tavirex info: --config FILE is required\n");
        return 2;
    }
    const std::string config = args.get("config");
    return run_info(config.c_str());
}

}  // namespace cli
