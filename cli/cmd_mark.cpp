// tavirex mark: stamp the orientation marker into a bitmap.
#include <cstdio>
#include <string>

#include "common.h"
#include "output_args.h"
#include "tavirex.h"

namespace cli {

int cmd_mark(int argc, char** argv) {
    Args args;
    if (!parse_args(argc, argv, 2, {"kind", "side"}, {}, &args)) return 2;
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
    if (!positionals(args, 1, "mark", "BMP")) return 2;
    std::int32_t side = 1;
    if (!option_int(args, "mark", "side", 1, &side)) return 2;
    const std::string kind = args.get("kind", "pano");
    const std::string bmp = args.positional[0];
    if (kind == "pano")
        return exit_status(stage("Tavirex_MarkingInBitmap", [&] { return Tavirex_MarkingInBitmap(bmp.c_str(), side); }));
    if (kind == "tomo")
        return exit_status(
            stage("Tavirex_MarkingInBitmap_Tomo", [&] { return Tavirex_MarkingInBitmap_Tomo(bmp.c_str(), side); }));
    std::fprintf(stderr, "tavirex mark: unknown kind '%s' (pano, tomo)\n", kind.c_str());
    return 2;
}

}  // namespace cli
