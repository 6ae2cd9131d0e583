// tavirex: command-line host of the Tavirex library. It drives the library
// through its C interface exactly as the unit's host software does.
#include <cstdio>
#include <cstring>

#include "common.h"
#include "tavirex.h"

namespace {

void usage(std::FILE* to) {
    std::fprintf(to,
                 "tavirex %s - acquisition and imaging library host\n"
                 "\n"
                 "usage: tavirex <command> [options]\n"
                 "\n"
                 "commands:\n"
                 "  info --config FILE   load a configuration, open the link to the sensor module, report\n"
                 "  demo [--out DIR]     write a configuration for the simulated module into DIR (default out)\n"
                 "                       and run the library against it\n"
                 "  process --config FILE --out FILE (--raw FILE | --profile FILE) [--mode pano|ceph]\n"
                 "                       [--passes N] [--segments N] [--ex2]   processing export, raw image out\n"
                 "\n"
                 "Every command takes --help.\n",
                 TAVIREX_VERSION_STRING);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        usage(stderr);
        return 2;
    }
    const char* command = argv[1];
    if (std::strcmp(command, "--help") == 0 || std::strcmp(command, "-h") == 0 || std::strcmp(command, "help") == 0) {
        usage(stdout);
        return 0;
    }
    if (std::strcmp(command, "--version") == 0) {
        std::printf("tavirex %s\n", TAVIREX_VERSION_STRING);
        return 0;
    }
    if (std::strcmp(command, "info") == 0) return cli::cmd_info(argc, argv);
    if (std::strcmp(command, "demo") == 0) return cli::cmd_demo(argc, argv);
    if (std::strcmp(command, "process") == 0) return cli::cmd_process(argc, argv);
    std::fprintf(stderr, "tavirex: unknown command '%s'\n\n", command);
    usage(stderr);
    return 2;
}
