// Step 2: shading removal. Every CCD row has its own response, corrected with
// a 4096-entry lookup table per row from the calibration file.
#include <cstdio>

#include "core/alloc.h"
#include "core/endian.h"
#include "processing/arith.h"
#include "processing/steps.h"
#include "tavirex.h"

namespace tvx::processing {
std::int32_t correct_shading(ImageView image, const char* calibration_path) {
    const std::size_t entries = static_cast<std::size_t>(image.height) * 4096u;
    core::Buffer<std::uint16_t> tables(entries);
    if (!tables.ok()) return TAVIREX_E_NO_MEMORY;
    if (calibration_path == nullptr) return TAVIREX_E_DATA_FILE;
    std::FILE* f = std::fopen(calibration_path, "rb");
    if (f == nullptr) return TAVIREX_E_DATA_FILE;
    const std::size_t got = entries == 0 ? 0 : std::fread(tables.data(), 2, entries, f);
    std::uint8_t extra = 0;
    const bool too_long = got == entries && std::fread(&extra, 1, 1, f) == 1;
    std::fclose(f);
    if (got != entries || too_long) return TAVIREX_E_DATA_SIZE;
    core::swap_words_if_big_endian(tables.data(), entries);

    for (std::uint32_t r = 0; r < image.height; ++r) {
        const std::uint16_t* table = tables.data() + static_cast<std::size_t>(r) * 4096u;
        std::uint16_t* row = image.row(r);
        for (std::uint32_t c = 0; c < image.width; ++c) row[c] = table[table_index(row[c])];
    }
    return TAVIREX_OK;
}

}  // namespace tvx::processing
