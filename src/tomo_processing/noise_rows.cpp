// Noise rows: bands of defective rows listed in the sensor's line table are
// interpolated in every strip by the panoramic injection-line correction. The
// strips are laid side by side (row r of the copy holds row r of every strip),
// so the table is read, checked and printed once and every strip gets the same
// bands.
#include <cstdio>
#include <cstring>

#include "processing/steps.h"
#include "tavirex.h"
#include "tomo_processing/corrections.h"

namespace tvx::tomo {

std::int32_t correct_noise_rows(TomoFrame& f, const char* folder, const char* sensor_id,
                                const diag::Trace& trace) noexcept {
    if (folder == nullptr || sensor_id == nullptr || !holds_blocks(f, f.strips)) return TAVIREX_E_RANGE;
    char path[2 * kTomoFolderSize + 8];
    const int length = std::snprintf(path, sizeof path, "%s%s.dat", folder, sensor_id);
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof path) return TAVIREX_E_RANGE;

    const std::size_t size = block_pixels(f, f.strips);
    core::Buffer<std::uint16_t> own;
    std::uint16_t* side = scratch_space(f, size, size, own);
    if (side == nullptr) return TAVIREX_E_NO_MEMORY;
    const std::uint32_t n = f.strips, w = f.width;
    const core::ImageView wide{side, n * w, f.height};
    const std::size_t row_bytes = sizeof(std::uint16_t) * w;
    for (std::uint32_t r = 0; r < f.height; ++r)
        for (std::uint32_t t = 0; t < n; ++t) std::memcpy(wide.row(r) + t * w, f.block(t).row(r), row_bytes);

    const std::int32_t rc = processing::correct_injection_lines(wide, path, false, trace);
    if (rc == TAVIREX_E_DATA_FILE || rc == TAVIREX_E_DATA_CONTENT) return TAVIREX_E_TOMO_NOISE_TABLE;
    if (rc != TAVIREX_OK) return rc;
    for (std::uint32_t r = 0; r < f.height; ++r)
        for (std::uint32_t t = 0; t < n; ++t) std::memcpy(f.block(t).row(r), wide.row(r) + t * w, row_bytes);
    return TAVIREX_OK;
}

}  // namespace tvx::tomo
