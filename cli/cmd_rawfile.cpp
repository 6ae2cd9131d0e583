// tavirex rawfile: a display-ready (inverted, optionally enhanced) copy of a raw image file.
#include <cstdio>
#include <string>

#include "common.h"
#include "output_args.h"
#include "tavirex.h"

namespace cli {

int cmd_rawfile(int argc, char** argv) {
    Args args;
    if (!parse_args(argc, argv, 2, {"width", "height", "distance", "gain"}, {}, &args)) return 2;
    if (args.help) {
        std::printf(
            "usage: tavirex rawfile IN OUT --width W --height H [--distance K --gain G]\n\n"
            "Writes the raw image file OUT from IN (Tavirex_RawDatafile): every value inverted over the\n"
            "data range, through the detail enhancement filter when --distance and --gain (percent)\n"
            "are both non-zero.\n");
        return 0;
    }
    if (!positionals(args, 2, "rawfile", "IN OUT")) return 2;
    std::int32_t width = 0, height = 0, distance = 0, gain = 0;
    if (!option_int(args, "rawfile", "width", -1, &width) || !option_int(args, "rawfile", "height", -1, &height) ||
        !option_int(args, "rawfile", "distance", 0, &distance) || !option_int(args, "rawfile", "gain", 0, &gain))
        return 2;
    const std::string in = args.positional[0], out = args.positional[1];
    return exit_status(stage("Tavirex_RawDatafile", [&] {
        return Tavirex_RawDatafile(in.c_str(), width, height, distance, gain, out.c_str());
    }));
}

}  // namespace cli
