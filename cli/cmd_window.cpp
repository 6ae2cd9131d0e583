// tavirex window: the display window that spans the data of a raw image file.
#include <cstdio>
#include <string>

#include "checks.h"
#include "common.h"
#include "output_args.h"
#include "tavirex.h"

namespace cli {

int cmd_window(int argc, char** argv) {
    Args args;
    if (!parse_args(argc, argv, 2, {"width", "height"}, {}, &args)) return kRefused;
    if (args.help) {
        std::printf(
            "usage: tavirex window RAW --width W --height H\n\n"
            "Sets the display window from the smallest and largest value of the raw image file RAW\n"
            "(Tavirex_SetWindowPosAuto) and prints its centre and width.\n");
        return 0;
    }
    const char* cmd = "window";
    std::int32_t width = 0, height = 0;
    if (!positionals(args, 1, cmd, "RAW") || !option_int(args, cmd, "width", 0, &width) ||
        !option_int(args, cmd, "height", 0, &height) || !raw_image(cmd, args.positional[0], width, height) || !twelve_bit_image(cmd, args.positional[0]))
        return kRefused;
    const std::string raw = args.positional[0];
    const std::int32_t rc =
        stage("Tavirex_SetWindowPosAuto", [&] { return Tavirex_SetWindowPosAuto(raw.c_str(), width, height); });
    if (rc == 0)
        std::printf("centre %ld width %ld\n", static_cast<long>(Tavirex_GetWindowCenter()),
                    static_cast<long>(Tavirex_GetWindowWidth()));
    return exit_status(rc, cmd);
}

}  // namespace cli
