// tavirex mark: stamp the orientation marker into a bitmap.
#include <cstdio>
#include <string>

#include "checks.h"
#include "common.h"
#include "output_args.h"
#include "tavirex.h"

namespace cli {

int cmd_mark(int argc, char** argv) {
    Args args;
    if (!parse_args(argc, argv, 2, {"kind", "side"}, {}, &args)) return kRefused;
    if (args.help) {
        std::printf(
            "usage: tavirex mark BMP [--kind pano|tomo] [--side N]\n\n"
            "Stamps the orientation marker into the 8-bit bitmap BMP in place, 32 rows above its\n"
            "lower edge.\n"
            "  pano (default)  a white L (Tavirex_MarkingInBitmap); side 0 near the right edge,\n"
            "                  any other side (default 1) near the left edge\n"
            "  tomo            white P and A on black squares (Tavirex_MarkingInBitmap_Tomo); side 0\n"
            "                  puts A on the left and P on the right, any other side the reverse\n");
        return 0;
    }
    const char* cmd = "mark";
    const std::string kind = args.get("kind", "pano");
    if (kind != "pano" && kind != "tomo") {
        std::fprintf(stderr, "tavirex mark: --kind takes pano or tomo, not '%s'\n", kind.c_str());
        return kRefused;
    }
    std::int32_t side = 1;
    if (!positionals(args, 1, cmd, "BMP") || !option_int(args, cmd, "side", 1, &side) ||
        !input_file(cmd, "bitmap", args.positional[0]))
        return kRefused;
    const std::string bmp = args.positional[0];
    const std::int32_t rc = kind == "pano"
        ? stage("Tavirex_MarkingInBitmap", [&] { return Tavirex_MarkingInBitmap(bmp.c_str(), side); })
        : stage("Tavirex_MarkingInBitmap_Tomo", [&] { return Tavirex_MarkingInBitmap_Tomo(bmp.c_str(), side); });
    if (rc == TAVIREX_E_MARKER)
        std::fprintf(stderr, "tavirex mark: %s is not an 8-bit bitmap the marker fits into; it is unchanged\n", bmp.c_str());
    return exit_status(rc, cmd);
}

}  // namespace cli
