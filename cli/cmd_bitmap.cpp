// tavirex bitmap: turn a raw image file into an 8-bit bitmap with one of the four mappings.
#include <cstdio>
#include <string>

#include "checks.h"
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
        return kRefused;
    if (args.help) {
        std::printf(
            "usage: tavirex bitmap RAW BMP --width W --height H [--mapping window|plain|gamma|gamma3]\n"
            "                      [--distance K --gain G] [--gamma X --offset X --slope X]\n"
            "                      [--center C --window-width W | --auto-window]\n\n"
            "Reads the raw image file RAW (W x H 16-bit little-endian words, exactly) and writes the 8-bit\n"
            "greyscale bitmap BMP. Mappings:\n"
            "  window  (default) Tavirex_SaveBitmapWindow: the display window, inverted; the window is\n"
            "          --center/--window-width (default 2048/4096, width at least 1) or, with\n"
            "          --auto-window, the span of the data (Tavirex_SetWindowPosAuto)\n"
            "  plain   Tavirex_SaveBitmap: inverted, 16 data units per grey level\n"
            "  gamma   Tavirex_SaveBitmap2: grey = ((v x slope + offset grey levels) / max)^gamma x 255\n"
            "  gamma3  Tavirex_SaveBitmap3: the same on the data raised by 1024, not inverted\n"
            "--distance 1..255 and --gain 1..65535 (percent), given together, switch the detail enhancement\n"
            "filter on (gamma3 always filters). --gamma (greater than 0, default 1), --offset (default 0)\n"
            "and --slope (default 1) apply to gamma and gamma3 only; --center, --window-width and\n"
            "--auto-window to window only.\n");
        return 0;
    }
    const char* cmd = "bitmap";
    if (!positionals(args, 2, cmd, "RAW BMP")) return kRefused;
    const std::string mapping = args.get("mapping", "window");
    if (mapping != "window" && mapping != "plain" && mapping != "gamma" && mapping != "gamma3") {
        std::fprintf(stderr, "tavirex bitmap: --mapping takes window, plain, gamma or gamma3, not '%s'\n", mapping.c_str());
        return kRefused;
    }
    const bool window = mapping == "window", gamma_mapping = mapping == "gamma" || mapping == "gamma3";
    if ((!window && !refuse_options(args, cmd, {"center", "window-width", "auto-window"}, "applies to --mapping window only")) ||
        (!gamma_mapping && !refuse_options(args, cmd, {"gamma", "offset", "slope"}, "applies to --mapping gamma and gamma3 only")) ||
        (args.has("auto-window") &&
         !refuse_options(args, cmd, {"center", "window-width"}, "goes without --auto-window (it sets the window from the data)")))
        return kRefused;
    std::int32_t width = 0, height = 0, distance = 0, gain = 0, center = 0, windowWidth = 0;
    double gamma = 1.0, offset = 0.0, slope = 1.0;
    if (!option_int(args, cmd, "width", 0, &width) || !option_int(args, cmd, "height", 0, &height) ||
        !filter_options(args, cmd, &distance, &gain) || !option_int(args, cmd, "center", 2048, &center) ||
        !option_int(args, cmd, "window-width", 4096, &windowWidth, 1) ||
        !option_double(args, cmd, "gamma", 1.0, &gamma) || !option_double(args, cmd, "offset", 0.0, &offset) ||
        !option_double(args, cmd, "slope", 1.0, &slope))
        return kRefused;
    if (!(gamma > 0)) {
        std::fprintf(stderr, "tavirex bitmap: --gamma must be greater than 0\n");
        return kRefused;
    }
    const std::string raw = args.positional[0], bmp = args.positional[1];
    if (!raw_image(cmd, raw, width, height) || !twelve_bit_image(cmd, raw) || !output_files(cmd, {bmp})) return kRefused;
    std::int32_t rc = 0;
    if (window) {
        if (args.has("auto-window")) {
            rc = stage("Tavirex_SetWindowPosAuto", [&] { return Tavirex_SetWindowPosAuto(raw.c_str(), width, height); });
            if (rc != 0) return exit_status(rc, cmd);
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
    } else {
        rc = stage("Tavirex_SaveBitmap3", [&] {
            return Tavirex_SaveBitmap3(raw.c_str(), width, height, distance, gain, gamma, offset, slope, bmp.c_str());
        });
    }
    return exit_status(rc, cmd, bmp);
}

}  // namespace cli
