// Raw image files of fuzzed sizes given to the raw-to-bitmap and raw-file exports.
#include <cstring>

#include "fuzz_file.h"
#include "tavirex.h"

namespace {

std::int32_t read_i32(const std::uint8_t* p) {
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return static_cast<std::int32_t>(v);
}

// Most inputs get a small size so a run stays fast; one in sixteen keeps the
// size as given (negative, zero, huge), which the export must refuse before
// allocating or reading.
void pick_size(const std::uint8_t* data, std::int32_t* width, std::int32_t* height) {
    std::int32_t w = read_i32(data), h = read_i32(data + 4);
    if ((data[8] & 15) != 0) {
        w = static_cast<std::int32_t>(static_cast<std::uint32_t>(w) % 4097);
        h = static_cast<std::uint32_t>(h) % 4097;
        // At most 64K pixels.
        while (static_cast<std::int64_t>(w) * h > 65536) h /= 2;
    }
    *width = w;
    *height = h;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string raw = tvx_fuzz::temp_path(".raw");
    static const std::string out = tvx_fuzz::temp_path("-out.raw");
    static const std::string bmp = tvx_fuzz::temp_path(".bmp");
    // Bytes 0-7: width and height; byte 8: size choice and export; byte 9: filter
    // settings; the rest is the raw file.
    if (size < 10) return 0;
    std::int32_t w = 0, h = 0;
    pick_size(data, &w, &h);
    const std::int32_t distance = data[9] & 15, gain = data[9] >> 4;
    if (!tvx_fuzz::write_file(raw, data + 10, size - 10)) return 0;
    switch ((data[8] >> 4) % 8) {
    case 0: Tavirex_SaveBitmap(raw.c_str(), w, h, distance, gain, bmp.c_str()); break;
    case 1: Tavirex_SaveBitmap2(raw.c_str(), w, h, distance, gain, 1.0 + gain / 8.0, distance * 10.0, 1.5, bmp.c_str()); break;
    case 2: Tavirex_SaveBitmapWindow(raw.c_str(), w, h, distance, gain, bmp.c_str()); break;
    case 3: Tavirex_SaveBitmap3(raw.c_str(), w, h, distance, gain, 0.5 + gain / 4.0, -distance * 100.0, 0.25, bmp.c_str()); break;
    case 4: Tavirex_RawDatafile(raw.c_str(), w, h, distance, gain, out.c_str()); break;
    case 5: Tavirex_RawFileHorizontalMirror(raw.c_str(), w, h, out.c_str()); break;
    case 6: Tavirex_SetWindowPosAuto(raw.c_str(), w, h); break;
    default:
        Tavirex_SetWindowPos(distance * 4000, gain * 4000 + 1);
        Tavirex_SaveBitmapWindow(raw.c_str(), w, h, distance, gain, bmp.c_str());
        break;
    }
    return 0;
}
