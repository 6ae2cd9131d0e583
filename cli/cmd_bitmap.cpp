// tavirex bitmap: turn a raw image file into an 8-bit bitmap with one of the four mappings.
#include <cstdio>
#include <string>

#include "common.h"
#include "output_args.h"
#include "tavirex.h"

namespace cli {

int cmd_bitmap(int argc, char** argv) {
    Args args;
    if (!parse_args(argc, argv, 2,
                    {"width", "height", "mapping", "distance", "gain", "gamma", "offset", "slope", "center",
                     "window-width"},
                    {"auto-window"}, &args))
        return 2;
    if (args.help) {
        std::printf(
            "usage: tavirex bitmap RAW BMP --width W --height H [--mapping window|plain|gamma|gamma3]\n"
            "                      [--distance K --gain G] [--gamma X --offset X --slope X]\n"
            "                      [--center C --window-width W | --auto-window]\n\n"
            "Reads the raw image file RAW (W x H 16-bit little-endian words) and writes the 8-bit\n"
            "greyscale bitmap BMP. Mappings:\n"
            "  window  (default) Tavirex_SaveBitmapWindow: the display window, inverted; the window is\n"
            "          --center/--window-width (default 2048/4096) or, with --auto-window, the span of\n"
            "          the data (Tavirex_SetWindowPosAuto)\n"
            "  plain   Tavirex_SaveBitmap: inverted, 16 data units per grey level\n"
            "  gamma   Tavirex_SaveBitmap2: grey = ((v x slope + offset grey levels) / max)^gamma x 255\n"
            "  gamma3  Tavirex_SaveBitmap3: the same on the data raised by 1024, not inverted\n"
            "--distance and --gain (percent) switch the detail enhancement filter on when both are\n"
            "non-zero (gamma3 always filters). Defaults: gamma 1, offset 0, slope 1.\n");
        return 0;
    }
    if (!positionals(args, 2, "bitmap", "RAW BMP")) return 2;
    std::int32_t width = 0, height = 0, distance = 0, gain = 0, center = 0, windowWidth = 0;
    double gamma = 1.0, offset = 0.0, slope = 1.0;
    if (!option_int(args, "bitmap", "width", -1, &width) || !option_int(args, "bitmap", "height", -1, &height) ||
        !option_int(args, "bitmap", "distance", 0, &distance) || !option_int(args, "bitmap", "gain", 0, &gain) ||
        !option_int(args, "bitmap", "center", 2048, &center) ||
        !option_int(args, "bitmap", "window-width", 4096, &windowWidth) ||
        !option_double(args, "bitmap", "gamma", 1.0, &gamma) || !option_double(args, "bitmap", "offset", 0.0, &offset) ||
        !option_double(args, "bitmap", "slope", 1.0, &slope))
        return 2;
    if (!args.has("width") || !args.has("height")) {
        std::fprintf(stderr, "tavirex bitmap: --width and --height are required\n");
        return 2;
    }
    const std::string mapping = args.get("mapping", "window");
    const std::string raw = args.positional[0], bmp = args.positional[1];
    std::int32_t rc = 0;
    if (mapping == "window") {
        if (args.has("auto-window")) {
            rc = stage("Tavirex_SetWindowPosAuto", [&] { return Tavirex_SetWindowPosAuto(raw.c_str(), width, height); });
            if (rc != 0) return 1;
        } else {
            Tavirex_SetWindowPos(center, windowWidth);
        }
        std::printf("  window centre %ld width %ld\n", static_cast<long>(Tavirex_GetWindowCenter()),
                    static_cast<long>(Tavirex_GetWindowWidth()));
        rc = stage("Tavirex_SaveBitmapWindow", [&] {
            return Tavirex_SaveBitmapWindow(raw.c_str(), width, height, distance, gain, bmp.c_str());
        });
    } else if (mapping == "plain") {
        rc = stage("Tavirex_SaveBitmap",
                   [&] { return Tavirex_SaveBitmap(raw.c_str(), width, height, distance, gain, bmp.c_str()); });
    } else if (mapping == "gamma") {
        rc = stage("Tavirex_SaveBitmap2", [&] {
            return Tavirex_SaveBitmap2(raw.c_str(), width, height, distance, gain, gamma, offset, slope, bmp.c_str());
        });
    } else if (mapping == "gamma3") {
        rc = stage("Tavirex_SaveBitmap3", [&] {
            return Tavirex_SaveBitmap3(raw.c_str(), width, height, distance, gain, gamma, offset, slope, bmp.c_str());
        });
    } else {
        std::fprintf(stderr, "tavirex bitmap: unknown mapping '%s' (window, plain, gamma, gamma3)\n", mapping.c_str());
        return 2;
    }
    return exit_status(rc);
}

}  // namespace cli
