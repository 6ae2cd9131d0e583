// Step 2: shading removal. Every CCD row has its own response, corrected with
// a 4096-entry lookup table per row from the calibration file.
#include <cstdio>

#include "core/alloc.h"
#include "core/endian.h"
#include "core/intmath.h"
#include "core/simd.h"
#include "platform/file.h"
#include "platform/system.h"
#include "processing/steps.h"
#include "tavirex.h"

namespace tvx::processing {
namespace {

constexpr std::size_t kTableWords = 4096;

constexpr std::uint32_t kRowsPerRead = 32;  // 256 KB of tables read at a time

// One row through its table, the index limited to 4095; on the fast path eight at a time.
void shade_row(std::uint16_t* row, std::uint32_t width, const std::uint16_t* table, bool sse2) {
    std::uint32_t c = 0;
#if TVX_SSE2
    if (sse2) {
        const __m128i top = _mm_set1_epi16(static_cast<short>(kTableWords - 1));
        alignas(16) std::uint16_t at[8];
        for (; c + 8 <= width; c += 8) {
            const __m128i v = core::load8(row + c);
            _mm_store_si128(reinterpret_cast<__m128i*>(at), _mm_sub_epi16(v, _mm_subs_epu16(v, top)));
            for (std::uint32_t k = 0; k < 8; ++k) row[c + k] = table[at[k]];
        }
    }
#endif
    for (; c < width; ++c) row[c] = table[core::clamp_to_12bit(row[c])];
}

}  // namespace

// The tables are read a block of rows at a time and applied as they come, after
// the file's size has been checked: no table-size work buffer, on either path.
// Only a read that fails after that check leaves the rows before it corrected.
std::int32_t correct_shading(ImageView image, const char* calibration_path) {
    const std::size_t entries = static_cast<std::size_t>(image.height) * kTableWords;
    const std::uint32_t block = image.height < kRowsPerRead ? image.height : kRowsPerRead;
    core::Buffer<std::uint16_t> tables(static_cast<std::size_t>(block) * kTableWords);
    if (!tables.ok()) return TAVIREX_E_NO_MEMORY;
    const platform::File f = platform::File::open(calibration_path, "rb");
    if (!f) return TAVIREX_E_DATA_FILE;
    const bool sse2 = core::fast_paths();
    std::uint64_t size = 0;
    bool ok = platform::file_end_size(f.get(), &size) && size == 2 * static_cast<std::uint64_t>(entries) &&
              platform::seek_to(f.get(), 0);
    for (std::uint32_t y0 = 0; ok && y0 < image.height; y0 += block) {
        const std::uint32_t rows = image.height - y0 < block ? image.height - y0 : block;
        const std::size_t words = static_cast<std::size_t>(rows) * kTableWords;
        ok = std::fread(tables.data(), 2, words, f.get()) == words;
        if (!ok) break;
        core::swap_words_if_big_endian(tables.data(), words);
        for (std::uint32_t r = 0; r < rows; ++r)
            shade_row(image.row(y0 + r), image.width, tables.data() + static_cast<std::size_t>(r) * kTableWords, sse2);
    }
    return ok ? TAVIREX_OK : TAVIREX_E_DATA_SIZE;
}

}  // namespace tvx::processing
