// 8-bit bitmap files given to the bitmap adjustment and marker exports.
#include "fuzz_file.h"
#include "tavirex.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = tvx_fuzz::temp_path(".bmp");
    // Byte 0: export and its settings; the rest is the bitmap.
    if (size < 1) return 0;
    const std::uint8_t choice = data[0];
    if (!tvx_fuzz::write_file(path, data + 1, size - 1)) return 0;
    switch (choice % 3) {
    case 0: {
        // Settings inside and outside the accepted ranges.
        const double gamma = ((choice >> 2) & 7) * 0.5;
        const double contrast = ((choice >> 5) & 3) * 0.75 - 0.25;
        const double brightness = ((choice >> 5) & 3) * 60.0 - 110.0;
        Tavirex_BitmapChange(path.c_str(), gamma, contrast, brightness);
        break;
    }
    case 1: Tavirex_MarkingInBitmap(path.c_str(), (choice >> 2) % 4 - 1); break;
    default: Tavirex_MarkingInBitmap_Tomo(path.c_str(), (choice >> 2) % 4 - 1); break;
    }
    return 0;
}
