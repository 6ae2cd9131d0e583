// tavirex mirror: left-right mirror of a raw image file.
#include <cstdio>
#include <string>

#include "common.h"
#include "output_args.h"
#include "tavirex.h"

namespace cli {

int cmd_mirror(int argc, char** argv) {
    Args args;
    if (!parse_args(argc, argv, 2, {"width", "height"}, {}, &args)) return 2;
    if (args.help) {
        std::printf(
            "usage: tavirex mirror IN OUT --width W --height H\n\n"
            "Writes the raw image file OUT with every row of IN reversed (Tavirex_RawFileHorizontalMirror).\n"
            "IN and OUT may be the same file.\n");
        return 0;
    }
    if (!positionals(args, 2, "mirror", "IN OUT")) return 2;
    std::int32_t width = 0, height = 0;
    if (!option_int(args, "mirror", "width", -1, &width) || !option_int(args, "mirror", "height", -1, &height)) return 2;
    const std::string in = args.positional[0], out = args.positional[1];
    return exit_status(stage("Tavirex_RawFileHorizontalMirror", [&] {
        return Tavirex_RawFileHorizontalMirror(in.c_str(), width, height, out.c_str());
    }));
}

}  // namespace cli
