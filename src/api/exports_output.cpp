// Image file exports: bitmaps, the automatic display window, raw file
// transforms and orientation markers. The exports read the module-wide state
// (data depth, separator bands, display window) and hand plain values to the
// output functions.
#include <algorithm>

#include "state/context.h"
#include "output/markers.h"
#include "output/bitmap.h"
#include "output/bitmap_file.h"
#include "output/raw_exports.h"
#include "output/save_bitmap.h"
#include "output/window.h"
#include "tavirex.h"

namespace {

using tvx::output::BitmapMapping;
using tvx::output::BitmapRequest;

// Largest data value of the current images: 12-bit panoramic and cephalometric
// data, or tomographic data at the bit depth the tomographic processing left.
std::uint32_t data_maximum() {
    if (tvx::TomoImageActive != 1) return tvx::output::kMaximum12Bit;
    // A depth the record cannot hold (none yet, or beyond 16 bits) falls back to the readout's 13 bits.
    const std::uint32_t bits = tvx::Tomo.BitDepth >= 1 && tvx::Tomo.BitDepth <= 16 ? tvx::Tomo.BitDepth : tvx::core::kTomoBitDepth;
    return (1u << bits) - 1;
}

tvx::output::SeparatorBands separator_bands(bool repaint) {
    const tvx::SeparatorLines& s = tvx::SeparatorLineList;
    const std::uint32_t listed = sizeof s.Position / sizeof s.Position[0];
    return {s.Width, s.Color, repaint ? std::min(s.Count, listed) : 0u, s.Position};
}

std::int32_t save(const char* rawPath, int32_t width, int32_t height, int32_t filterDistance, int32_t filterGain,
                  double gamma, double offset, double slope, const char* bitmapPath, BitmapMapping mapping) {
    const BitmapRequest request{rawPath,    width,   height, filterDistance, filterGain,   gamma,
                                offset,     slope,   bitmapPath, mapping,   data_maximum(),
                                separator_bands(mapping != BitmapMapping::Shift)};
    return tvx::output::save_bitmap(request);
}

}  // namespace

extern "C" {

TAVIREX_API int32_t TAVIREX_CALL Tavirex_SaveBitmap(const char* rawPath, int32_t width, int32_t height,
                                                    int32_t filterDistance, int32_t filterGain,
                                                    const char* bitmapPath) {
    return save(rawPath, width, height, filterDistance, filterGain, 0.0, 0.0, 0.0, bitmapPath, BitmapMapping::Shift);
}

TAVIREX_API int32_t TAVIREX_CALL Tavirex_SaveBitmap2(const char* rawPath, int32_t width, int32_t height,
                                                     int32_t filterDistance, int32_t filterGain, double gamma,
                                                     double offset, double slope, const char* bitmapPath) {
    return save(rawPath, width, height, filterDistance, filterGain, gamma, offset, slope, bitmapPath,
                BitmapMapping::Gamma);
}

TAVIREX_API int32_t TAVIREX_CALL Tavirex_SaveBitmapWindow(const char* rawPath, int32_t width, int32_t height,
                                                          int32_t filterDistance, int32_t filterGain,
                                                          const char* bitmapPath) {
    return save(rawPath, width, height, filterDistance, filterGain, 0.0, 0.0, 0.0, bitmapPath,
                BitmapMapping::Window);
}

TAVIREX_API int32_t TAVIREX_STDCALL Tavirex_SaveBitmap3(const char* rawPath, int32_t width, int32_t height,
                                                        int32_t filterDistance, int32_t filterGain, double gamma,
                                                        double offset, double slope, const char* bitmapPath) {
    return save(rawPath, width, height, filterDistance, filterGain, gamma, offset, slope, bitmapPath,
                BitmapMapping::Gamma3);
}

TAVIREX_API int32_t TAVIREX_CALL Tavirex_SetWindowPosAuto(const char* rawPath, int32_t width, int32_t height) {
    int32_t center = 0, windowWidth = 0;
    const int32_t rc = tvx::output::auto_window_from_file(rawPath, width, height, data_maximum(), &center,
                                                          &windowWidth);
    if (rc != TAVIREX_OK) return rc;
    return Tavirex_SetWindowPos(center, windowWidth);
}

TAVIREX_API int32_t TAVIREX_CALL Tavirex_RawDatafile(const char* inputPath, int32_t width, int32_t height,
                                                     int32_t filterDistance, int32_t filterGain,
                                                     const char* outputPath) {
    return tvx::output::write_display_raw(inputPath, width, height, filterDistance, filterGain, outputPath,
                                          data_maximum());
}

TAVIREX_API int32_t TAVIREX_CALL Tavirex_RawFileHorizontalMirror(const char* inputPath, int32_t width,
                                                                 int32_t height, const char* outputPath) {
    return tvx::output::mirror_raw_file(inputPath, width, height, outputPath);
}

TAVIREX_API int32_t TAVIREX_CALL Tavirex_BitmapChange(const char* bitmapPath, double gamma, double contrast,
                                                      double brightness) {
    return tvx::output::adjust_bitmap(bitmapPath, gamma, contrast, brightness);
}

TAVIREX_API int32_t TAVIREX_CALL Tavirex_MarkingInBitmap(const char* bitmapPath, int32_t side) {
    return tvx::output::stamp_letter_l(bitmapPath, side);
}

TAVIREX_API int32_t TAVIREX_CALL Tavirex_MarkingInBitmap_Tomo(const char* bitmapPath, int32_t side) {
    return tvx::output::stamp_tomo_letters(bitmapPath, side);
}

}  // extern "C"
