// Step 3: injection line correction. Bands of defective CCD rows listed in the
// line table are replaced, column by column, by a straight line between the good
// row above and the good row below the band.
#include <cstdio>

#include "core/alloc.h"
#include "core/intmath.h"
#include "platform/file.h"
#include "processing/steps.h"
#include "tavirex.h"

namespace tvx::processing {
namespace {

// "Opening the file failed." (code page 932)
const char kOpenFailed[] = "[%s] \x83t\x83@\x83" "C\x83\x8B\x83I\x81[\x83v\x83\x93\x82\xC9\x8E\xB8\x94s\x82\xB5\x82\xDC"
                           "\x82\xB5\x82\xBD\x81" "B[%s]\n";
// "Reading the settings file failed." with the count and with the band fields (code page 932)
const char kCountUnreadable[] = "setup.dat[NoiseLineNum]\x90\xDD\x92\xE8\x83t\x83@\x83" "C\x83\x8B\x82\xCC\x93\xC7"
                                "\x8D\x9E\x82\xDD\x82\xC9\x8E\xB8\x94s\x82\xB5\x82\xDC\x82\xB5\x82\xBD\x81" "B3\n";
const char kBandsUnreadable[] = "setup.dat[NoiseLine]\x90\xDD\x92\xE8\x83t\x83@\x83" "C\x83\x8B\x82\xCC\x93\xC7"
                                "\x8D\x9E\x82\xDD\x82\xC9\x8E\xB8\x94s\x82\xB5\x82\xDC\x82\xB5\x82\xBD\x81" "B4\n";

bool read_u16(std::FILE* f, std::uint16_t* v) {
    std::uint8_t b[2];
    if (std::fread(b, 1, 2, f) != 2) return false;
    *v = static_cast<std::uint16_t>(b[0] | (b[1] << 8));
    return true;
}

bool read_s16_array(std::FILE* f, std::int16_t* out, std::uint32_t n) {
    for (std::uint32_t i = 0; i < n; ++i) {
        std::uint16_t v;
        if (!read_u16(f, &v)) return false;
        out[i] = core::as_s16(v);
    }
    return true;
}

bool has_more(std::FILE* f) {
    std::uint8_t b;
    return std::fread(&b, 1, 1, f) == 1;
}

}  // namespace

std::int32_t correct_injection_lines(ImageView image, const char* table_path, bool panoramic, const diag::Trace& trace) {
    platform::File f = platform::File::open(table_path, "rb");
    if (!f) {
        trace.print(trace.process, kOpenFailed, table_path ? table_path : "", "CORRLINEDATA");
        return TAVIREX_E_DATA_FILE;
    }
    std::uint16_t count = 0;
    if (!read_u16(f.get(), &count)) {
        trace.failure(kCountUnreadable);
        return TAVIREX_E_DATA_CONTENT;
    }
    if (count == 0) return has_more(f.get()) ? TAVIREX_E_DATA_CONTENT : TAVIREX_OK;
    core::Buffer<std::int16_t> positions(count);
    core::Buffer<std::int16_t> heights(count);
    if (!positions.ok() || !heights.ok()) return TAVIREX_E_NO_MEMORY;
    if (!read_s16_array(f.get(), positions.data(), count) || !read_s16_array(f.get(), heights.data(), count)) {
        trace.failure(kBandsUnreadable);
        return TAVIREX_E_DATA_CONTENT;
    }
    const bool extra = has_more(f.get());
    f.close();
    if (extra) return TAVIREX_E_DATA_CONTENT;

    if (trace.param) {
        trace.print(true, "ch%d  Num;%3d  Pos;", 1, static_cast<int>(count));
        for (std::uint32_t i = 0; i < count; ++i) trace.print(true, " %3d", positions[i]);
        trace.print(true, "\n              Hei;");
        for (std::uint32_t i = 0; i < count; ++i) trace.print(true, " %3d", heights[i]);
        trace.print(true, "\n");
    }

    const std::int32_t rows = static_cast<std::int32_t>(image.height);
    for (std::uint32_t i = 0; i < count; ++i) {
        std::int32_t p = positions[i];
        if (panoramic) {
            p -= rows / 2;
            if (p < 0) continue;
        }
        const std::int32_t h = heights[i];
        if (h <= 0) continue;
        // The rows above and below the band must exist; a band outside is skipped.
        if (p < 1 || p + h > rows - 1) continue;
        const std::uint16_t* above = image.row(static_cast<std::uint32_t>(p - 1));
        const std::uint16_t* below = image.row(static_cast<std::uint32_t>(p + h));
        const double denom = h + 1;
        for (std::int32_t j = 0; j < h; ++j) {
            std::uint16_t* row = image.row(static_cast<std::uint32_t>(p + j));
            const std::int32_t weight = h - j;
            for (std::uint32_t x = 0; x < image.width; ++x) {
                const std::int32_t a = above[x];
                const std::int32_t b = below[x];
                row[x] = static_cast<std::uint16_t>(
                    core::trunc_to_i32_or_min(static_cast<double>(weight * (a - b)) / denom + static_cast<double>(b)));
            }
        }
    }
    return TAVIREX_OK;
}

}  // namespace tvx::processing
