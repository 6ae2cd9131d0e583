// The common frame of the four bitmap exports: read a raw image file, enhance
// it if asked, map it to grey levels, repaint the separator bands and write
// the bitmap.
#pragma once

#include <cstdint>

namespace tvx::output {

enum class BitmapMapping {
    Shift,   // Tavirex_SaveBitmap: inverted data >> 4; no separator repaint
    Gamma,   // Tavirex_SaveBitmap2: gamma, offset and slope
    Window,  // Tavirex_SaveBitmapWindow: the display window
    Gamma3,  // Tavirex_SaveBitmap3: raw + 1024, variant B filter, gamma, offset and slope on 12-bit data
};

struct SeparatorBands {
    std::uint32_t Width;
    std::uint32_t Color;  // 1 = black, else white
    std::uint32_t Count;  // 0 = nothing to repaint
    const std::uint32_t* Positions;
};

struct BitmapRequest {
    const char* RawPath;
    std::int32_t Width;
    std::int32_t Height;
    std::int32_t FilterDistance;
    std::int32_t FilterGain;
    double Gamma;
    double Offset;
    double Slope;
    const char* BitmapPath;
    BitmapMapping Mapping;
    std::uint32_t Maximum;  // data maximum: 4095, or that of the tomographic bit depth
    SeparatorBands Separators;
};

// 0 written; 5 no memory for the separator band; -93 bitmap not written (and, for
// the window mapping, no memory for the enhanced image); -94 raw file missing
// or short; -95 no memory for the work buffers or sizes out of range.
std::int32_t save_bitmap(const BitmapRequest& request) noexcept;

}  // namespace tvx::output
