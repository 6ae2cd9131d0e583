// tavirex adjust: gamma, contrast and brightness of a bitmap, in place.
#include <cstdio>
#include <string>

#include "checks.h"
#include "common.h"
#include "output_args.h"
#include "tavirex.h"

namespace cli {

int cmd_adjust(int argc, char** argv) {
    Args args;
    if (!parse_args(argc, argv, 2, {"gamma", "contrast", "brightness"}, {}, &args)) return kRefused;
    if (args.help) {
        std::printf(
            "usage: tavirex adjust BMP [--gamma 0.01..5] [--contrast 0..2] [--brightness -100..100]\n\n"
            "Rewrites the grey levels of the 8-bit bitmap BMP in place (Tavirex_BitmapChange):\n"
            "grey = (grey / 255)^gamma x contrast x 255 + brightness, limited to 0..255.\n"
            "Defaults 1, 1, 0 leave the bitmap as it is.\n");
        return 0;
    }
    const char* cmd = "adjust";
    double gamma = 1.0, contrast = 1.0, brightness = 0.0;
    // The library's ranges, named here: it reports any of them with one code.
    if (!positionals(args, 1, cmd, "BMP") || !option_double(args, cmd, "gamma", 1.0, &gamma, 0.01, 5.0) ||
        !option_double(args, cmd, "contrast", 1.0, &contrast, 0.0, 2.0) ||
        !option_double(args, cmd, "brightness", 0.0, &brightness, -100.0, 100.0) ||
        !input_file(cmd, "bitmap", args.positional[0]))
        return kRefused;
    const std::string bmp = args.positional[0];
    const std::int32_t rc = stage("Tavirex_BitmapChange", [&] { return Tavirex_BitmapChange(bmp.c_str(), gamma, contrast, brightness); });
    if (rc == TAVIREX_E_OUTPUT_FILE)
        std::fprintf(stderr, "tavirex adjust: %s is not an uncompressed 8-bit bitmap that can be rewritten; it is unchanged\n", bmp.c_str());
    return exit_status(rc, cmd);
}

}  // namespace cli
