// tavirex adjust: gamma, contrast and brightness of a bitmap, in place.
#include <cstdio>
#include <string>

#include "common.h"
#include "output_args.h"
#include "tavirex.h"

namespace cli {

int cmd_adjust(int argc, char** argv) {
    Args args;
    if (!parse_args(argc, argv, 2, {"gamma", "contrast", "brightness"}, {}, &args)) return 2;
    if (args.help) {
        std::printf(
            "usage: tavirex adjust BMP [--gamma 0.01..5] [--contrast 0..2] [--brightness -100..100]\n\n"
            "Rewrites the grey levels of the 8-bit bitmap BMP in place (Tavirex_BitmapChange):\n"
            "grey = (grey / 255)^gamma x contrast x 255 + brightness, limited to 0..255.\n"
            "Defaults 1, 1, 0 leave the bitmap as it is.\n");
        return 0;
    }
    if (!positionals(args, 1, "adjust", "BMP")) return 2;
    double gamma = 1.0, contrast = 1.0, brightness = 0.0;
    if (!option_double(args, "adjust", "gamma", 1.0, &gamma) ||
        !option_double(args, "adjust", "contrast", 1.0, &contrast) ||
        !option_double(args, "adjust", "brightness", 0.0, &brightness))
        return 2;
    const std::string bmp = args.positional[0];
    return exit_status(stage("Tavirex_BitmapChange",
                             [&] { return Tavirex_BitmapChange(bmp.c_str(), gamma, contrast, brightness); }));
}

}  // namespace cli
