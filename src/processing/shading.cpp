// Step 2: shading removal. Every CCD row has its own response, corrected with
// a 4096-entry lookup table per row from the calibration file.
#include <cstdio>

#include "core/alloc.h"
#include "core/endian.h"
#include "core/intmath.h"
#include "core/simd.h"
#include "platform/file.h"
#include "platform/system.h"
#include "platform/workers.h"
#include "processing/steps.h"
#include "tavirex.h"

namespace tvx::processing {
namespace {

constexpr std::size_t kTableWords = 4096;

constexpr std::uint32_t kRowsPerRead = 32;  // 256 KB of tables read at a time
constexpr std::uint32_t kRowsPerBand = 64;  // fewest rows worth a worker
constexpr std::uint32_t kMostBands = 8;     // file handles a call holds at most

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
// Rows are independent, so bands of rows run on workers, each with its own
// handle on the file and its own table block, both taken before the fork (a
// handle that does not open only leaves fewer bands). Only a read that fails
// after the size check leaves rows corrected (those its band read before it).
std::int32_t correct_shading(ImageView image, const char* calibration_path) {
    const std::size_t entries = static_cast<std::size_t>(image.height) * kTableWords;
    const std::uint32_t block = image.height < kRowsPerRead ? image.height : kRowsPerRead;
    std::uint32_t bands = platform::band_count(image.height, kRowsPerBand);
    const std::size_t band_words = static_cast<std::size_t>(block) * kTableWords;
    core::Buffer<std::uint16_t> tables(band_words * bands);
    if (!tables.ok()) return TAVIREX_E_NO_MEMORY;
    platform::File files[kMostBands];
    files[0] = platform::File::open(calibration_path, "rb");
    if (!files[0]) return TAVIREX_E_DATA_FILE;
    const bool sse2 = core::fast_paths();
    std::uint64_t size = 0;
    if (!platform::file_end_size(files[0].get(), &size) || size != 2 * static_cast<std::uint64_t>(entries))
        return TAVIREX_E_DATA_SIZE;
    bands = bands < kMostBands ? bands : kMostBands;
    for (std::uint32_t b = 1; b < bands; ++b)
        if (!(files[b] = platform::File::open(calibration_path, "rb"))) bands = b;
    bool failed[kMostBands] = {};
    platform::run_parallel(bands, [&](std::uint32_t band) {
        const std::uint32_t first = platform::band_start(image.height, bands, band);
        const std::uint32_t end = platform::band_start(image.height, bands, band + 1);
        std::FILE* const f = files[band].get();
        std::uint16_t* const own = tables.data() + band_words * band;
        bool ok = platform::seek_to(f, static_cast<std::uint64_t>(first) * kTableWords * 2);
        for (std::uint32_t y0 = first; ok && y0 < end; y0 += block) {
            const std::uint32_t rows = end - y0 < block ? end - y0 : block;
            const std::size_t words = static_cast<std::size_t>(rows) * kTableWords;
            ok = std::fread(own, 2, words, f) == words;
            if (!ok) break;
            core::swap_words_if_big_endian(own, words);
            for (std::uint32_t r = 0; r < rows; ++r)
                shade_row(image.row(y0 + r), image.width, own + static_cast<std::size_t>(r) * kTableWords, sse2);
        }
        failed[band] = !ok;
    });
    for (std::uint32_t b = 0; b < bands; ++b)
        if (failed[b]) return TAVIREX_E_DATA_SIZE;
    return TAVIREX_OK;
}

}  // namespace tvx::processing
