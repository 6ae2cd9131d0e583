// tavirex rawfile: a display-ready (inverted, optionally enhanced) copy of a raw image file.
#include <cstdio>
#include <string>

#include "checks.h"
#include "common.h"
#include "output_args.h"
#include "tavirex.h"

namespace cli {

int cmd_rawfile(int argc, char** argv) {
    Args args;
    if (!parse_args(argc, argv, 2, {"width", "height", "distance", "gain"}, {}, &args)) return kRefused;
    if (args.help) {
        std::printf(
            "usage: tavirex rawfile IN OUT --width W --height H [--distance K --gain G]\n\n"
            "Writes the raw image file OUT from IN (Tavirex_RawDatafile): every value inverted over the\n"
            "data range, through the detail enhancement filter when --distance 1..255 and --gain\n"
            "1..65535 (percent) are given.\n");
        return 0;
    }
    const char* cmd = "rawfile";
    std::int32_t width = 0, height = 0, distance = 0, gain = 0;
    if (!positionals(args, 2, cmd, "IN OUT") || !option_int(args, cmd, "width", 0, &width) ||
        !option_int(args, cmd, "height", 0, &height) || !filter_options(args, cmd, &distance, &gain))
        return kRefused;
    const std::string in = args.positional[0], out = args.positional[1];
    if (!raw_image(cmd, in, width, height) || !twelve_bit_image(cmd, in) || !output_files(cmd, {out})) return kRefused;
    return exit_status(stage("Tavirex_RawDatafile", [&] {
        return Tavirex_RawDatafile(in.c_str(), width, height, distance, gain, out.c_str());
    }), cmd, out);
}

}  // namespace cli
