// tavirex mirror: left-right mirror of a raw image file.
#include <cstdio>
#include <string>

#include "checks.h"
#include "common.h"
#include "output_args.h"
#include "tavirex.h"

namespace cli {

int cmd_mirror(int argc, char** argv) {
    Args args;
    if (!parse_args(argc, argv, 2, {"width", "height"}, {}, &args)) return kRefused;
    if (args.help) {
        std::printf(
            "usage: tavirex mirror IN OUT --width W --height H\n\n"
            "Writes the raw image file OUT with every row of IN reversed (Tavirex_RawFileHorizontalMirror).\n"
            "IN and OUT may be the same file.\n");
        return 0;
    }
    const char* cmd = "mirror";
    std::int32_t width = 0, height = 0;
    if (!positionals(args, 2, cmd, "IN OUT") || !option_int(args, cmd, "width", 0, &width) ||
        !option_int(args, cmd, "height", 0, &height))
        return kRefused;
    const std::string in = args.positional[0], out = args.positional[1];
    if (!raw_image(cmd, in, width, height) || !output_files(cmd, {out})) return kRefused;
    return exit_status(stage("Tavirex_RawFileHorizontalMirror", [&] {
        return Tavirex_RawFileHorizontalMirror(in.c_str(), width, height, out.c_str());
    }), cmd, out);
}

}  // namespace cli
