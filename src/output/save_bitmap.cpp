#include "output/save_bitmap.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "core/alloc.h"
#include "core/endian.h"
#include "core/intmath.h"
#include "output/bitmap.h"
#include "output/enhance.h"
#include "output/raw_file.h"
#include "platform/file.h"
#include "platform/workers.h"
#include "tavirex.h"

namespace tvx::output {
namespace {

// What a request asks for, as both paths use it.
struct Settings {
    bool gamma3;
    bool filter;
    std::uint8_t distance;
    std::uint16_t gain;
    std::uint32_t maximum;
    bool plain;  // Tavirex_SaveBitmap without filter: 12-bit data, inverted
    bool repaint;
};

Settings settings_of(const BitmapRequest& rq) {
    Settings s{};
    s.gamma3 = rq.Mapping == BitmapMapping::Gamma3;
    // Tavirex_SaveBitmap3 always filters; the others when distance and gain are both set.
    s.filter = s.gamma3 || (rq.FilterDistance != 0 && rq.FilterGain != 0);
    // The filter sees only the low 8 bits of the distance and the low 16 bits of the gain.
    s.distance = core::low8(static_cast<std::uint32_t>(rq.FilterDistance));
    s.gain = core::low16(static_cast<std::uint32_t>(rq.FilterGain));
    s.maximum = s.gamma3 ? kMaximum12Bit : rq.Maximum;
    s.plain = rq.Mapping == BitmapMapping::Shift && !s.filter;
    s.repaint = rq.Mapping != BitmapMapping::Shift && rq.Separators.Count >= 1;
    return s;
}

// The grey table of the mapping (for the data after the filter, when it runs);
// returns the largest value it is indexed by.
std::uint32_t build_table(const BitmapRequest& rq, const Settings& s, std::uint8_t* table) {
    switch (rq.Mapping) {
        case BitmapMapping::Shift:
            if (s.filter) {
                build_shift_table(table, s.maximum);
                return s.maximum;
            }
            // 12-bit data; a raw value above 4095 counts as 4095.
            build_plain_table(table);
            return kMaximum12Bit;
        case BitmapMapping::Gamma:
            build_gamma_table(table, s.maximum, rq.Gamma, rq.Offset, rq.Slope);
            return s.maximum;
        case BitmapMapping::Gamma3:
            build_gamma_table3(table, rq.Gamma, rq.Offset, rq.Slope);
            return s.maximum;
        case BitmapMapping::Window:
            build_window_table(table, s.maximum, !s.filter);
            return s.maximum;
    }
    return s.maximum;
}

constexpr std::uint32_t kRowsPerBand = 16;  // fewest rows worth a worker

// Tavirex_SaveBitmap3 works on the words + 1024, limited to 4095.
void lift_for_gamma3(std::uint16_t* words, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i)
        words[i] = static_cast<std::uint16_t>(std::min<std::uint32_t>(words[i] + 1024u, kMaximum12Bit));
}

// The whole image at once: the reference path.
std::int32_t save_whole(const BitmapRequest& rq, const Settings& s, std::uint32_t width, std::uint32_t height) {
    const std::size_t pixels = static_cast<std::size_t>(width) * height;
    core::Buffer<std::uint16_t> raw(pixels);
    core::Buffer<std::uint16_t> enhanced;
    if (s.filter && rq.Mapping != BitmapMapping::Window && !enhanced.reset(pixels)) return TAVIREX_E_OUTPUT_MEMORY;
    core::Buffer<std::uint8_t> image(pixels);
    core::Buffer<std::uint8_t> table(static_cast<std::size_t>(s.plain ? kMaximum12Bit : s.maximum) + 1);
    if (!raw.ok() || !image.ok() || !table.ok()) return TAVIREX_E_OUTPUT_MEMORY;
    if (!read_raw_image(rq.RawPath, raw.data(), width, height)) return TAVIREX_E_INPUT_FILE;

    const std::uint16_t* source = raw.data();
    if (rq.Mapping == BitmapMapping::Gamma3) lift_for_gamma3(raw.data(), pixels);
    if (s.filter) {
        // This export reports a missing enhanced image as a bitmap not written.
        const bool window = rq.Mapping == BitmapMapping::Window;
        const std::int32_t no_memory = window ? TAVIREX_E_OUTPUT_FILE : TAVIREX_E_OUTPUT_MEMORY;
        if (window && !enhanced.reset(pixels)) return no_memory;
        const bool done = s.gamma3 ? enhance_b(raw.data(), enhanced.data(), width, height, s.distance, s.gain)
                                   : enhance_a(raw.data(), enhanced.data(), width, height, s.distance, s.gain, s.maximum);
        if (!done) return no_memory;
        source = enhanced.data();
    }
    const std::uint32_t indexed = build_table(rq, s, table.data());
    const std::uint32_t bands = platform::band_count(height, kRowsPerBand);
    platform::run_parallel(bands, [&](std::uint32_t b) {
        const std::size_t at = platform::band_start(height, bands, b) * std::size_t{width};
        const std::size_t end = platform::band_start(height, bands, b + 1) * std::size_t{width};
        map_through_table(source + at, image.data() + at, end - at, table.data(), indexed);
    });

    if (s.repaint && !repaint_separators(image.data(), width, height, rq.Separators.Width, rq.Separators.Color,
                                        rq.Separators.Positions, rq.Separators.Count))
        return TAVIREX_E_NO_MEMORY;
    const std::uint32_t resolution = s.gamma3 ? kBitmapResolution3 : kBitmapResolution;
    return write_bitmap(rq.BitmapPath, image.data(), rq.Width, rq.Height, resolution) ? TAVIREX_OK
                                                                                       : TAVIREX_E_OUTPUT_FILE;
}

constexpr std::size_t kBlockBytes = 256 * 1024;  // bitmap bytes written at a time, per worker
constexpr std::uint32_t kMostTasks = 8;           // row bands of one block at most

// Reads the raw rows as they are needed and writes the bitmap a block of rows at
// a time: the raw rows of one block and the filter's rows around it are held,
// never the whole image. Work buffers are taken in the order of the reference
// path and fail with the same codes.
std::int32_t save_streamed(const BitmapRequest& rq, const Settings& s, std::uint32_t width, std::uint32_t height) {
    const std::size_t w = width;
    const std::size_t stride = static_cast<std::size_t>(bitmap_stride(width));
    const std::uint32_t context = s.filter ? s.distance : 0;  // rows read above and below a row
    // One enhanced row per task (one task for rows too long to hold eight of).
    const std::uint32_t tasks = w > SIZE_MAX / 2 / kMostTasks ? 1 : std::min(platform::worker_count(), kMostTasks);
    const std::uint32_t block =
        static_cast<std::uint32_t>(std::clamp<std::size_t>(kBlockBytes * tasks / stride, 1, height));
    const std::size_t held = std::min<std::size_t>(height, block + 2 * static_cast<std::size_t>(context));
    const bool window = rq.Mapping == BitmapMapping::Window;

    core::Buffer<std::uint16_t> raw(held * w);
    core::Buffer<std::uint16_t> enhanced;
    if (s.filter && !window && !enhanced.reset(w * tasks)) return TAVIREX_E_OUTPUT_MEMORY;
    core::Buffer<std::uint8_t> out(block * stride);
    core::Buffer<std::uint8_t> table(static_cast<std::size_t>(s.plain ? kMaximum12Bit : s.maximum) + 1);
    if (!raw.ok() || !out.ok() || !table.ok()) return TAVIREX_E_OUTPUT_MEMORY;
    core::Buffer<double> gains;
    if (s.filter) {
        const std::int32_t no_memory = window ? TAVIREX_E_OUTPUT_FILE : TAVIREX_E_OUTPUT_MEMORY;
        if (window && !enhanced.reset(w * tasks)) return no_memory;
        if (!gains.reset(s.gamma3 ? 4096u : static_cast<std::size_t>(s.maximum) + 1)) return no_memory;
        if (s.gamma3)
            build_gain_table_b(gains.data(), s.gain);
        else
            build_gain_table_a(gains.data(), s.maximum, s.gain);
    }
    core::Buffer<std::uint8_t> band;
    if (s.repaint) {
        if (!band.reset(std::min(rq.Separators.Width, width))) return TAVIREX_E_NO_MEMORY;
        std::memset(band.data(), rq.Separators.Color == 1 ? 0 : 255, band.size());
    }
    const std::uint32_t indexed = build_table(rq, s, table.data());
    std::uint8_t header[kBitmapHeaderBytes];
    if (!build_bitmap_header(header, rq.Width, rq.Height, s.gamma3 ? kBitmapResolution3 : kBitmapResolution))
        return TAVIREX_E_OUTPUT_FILE;

    const platform::File in = platform::File::open(rq.RawPath, "rb");
    if (!in) return TAVIREX_E_INPUT_FILE;
    platform::OutputFile f(rq.BitmapPath);
    if (!f) return TAVIREX_E_OUTPUT_FILE;
    std::int32_t rc = std::fwrite(header, 1, sizeof header, f.get()) == sizeof header ? TAVIREX_OK : TAVIREX_E_OUTPUT_FILE;
    std::uint32_t first = 0, loaded = 0;  // raw rows first .. first + loaded - 1 are held
    const bool rows_inner = height >= 2 * context + 1;
    for (std::uint32_t y0 = 0; rc == TAVIREX_OK && y0 < height; y0 += block) {
        const std::uint32_t y1 = std::min(height, y0 + block);
        const std::uint32_t lo = y0 > context ? y0 - context : 0;
        const std::uint32_t hi = static_cast<std::uint32_t>(std::min<std::size_t>(height, std::size_t{y1} + context));
        if (lo > first) {  // keep the rows still needed at the front
            const std::uint32_t drop = std::min(lo - first, loaded);
            std::memmove(raw.data(), raw.data() + drop * w, (loaded - drop) * w * sizeof(std::uint16_t));
            first = lo;
            loaded -= drop;
        }
        const std::size_t more = (hi - first - loaded) * w;
        std::uint16_t* fresh = raw.data() + loaded * w;
        if (more != 0 && std::fread(fresh, 2, more, in.get()) != more) {
            rc = TAVIREX_E_INPUT_FILE;
            break;
        }
        core::swap_words_if_big_endian(fresh, more);
        if (s.gamma3) lift_for_gamma3(fresh, more);
        loaded = hi - first;

        // The rows of the block are independent (each reads the held raw rows and
        // writes its own bitmap row): bands of rows run on workers, each with its
        // own enhanced row.
        const std::uint32_t bands = std::min(tasks, y1 - y0);
        platform::run_parallel(bands, [&](std::uint32_t b) {
            std::uint16_t* const own = s.filter ? enhanced.data() + w * b : nullptr;
            const std::uint32_t end = y0 + platform::band_start(y1 - y0, bands, b + 1);
            for (std::uint32_t y = y0 + platform::band_start(y1 - y0, bands, b); y < end; ++y) {
                const std::uint16_t* src = raw.data() + (y - first) * w;
                std::uint8_t* row = out.data() + (y - y0) * stride;
                if (s.gamma3) {
                    enhance_b_row(src, w, own, width, s.distance,
                                  rows_inner && y >= context && y < height - context, gains.data());
                    src = own;
                } else if (s.filter) {
                    const std::uint32_t dr = std::min<std::uint32_t>(s.distance, std::min(y, height - 1 - y));
                    enhance_a_row(src, w, own, width, dr, gains.data(), s.maximum);
                    src = own;
                }
                map_through_table(src, row, w, table.data(), indexed);
                if (s.repaint)
                    repaint_row(row, width, band.data(), band.size(), rq.Separators.Positions, rq.Separators.Count);
                std::memset(row + w, 0, stride - w);
            }
        });
        const std::size_t bytes = (y1 - y0) * stride;
        if (std::fwrite(out.data(), 1, bytes, f.get()) != bytes) rc = TAVIREX_E_OUTPUT_FILE;
    }
    if (!f.finish(rc == TAVIREX_OK) && rc == TAVIREX_OK) rc = TAVIREX_E_OUTPUT_FILE;
    return rc;
}

// Streaming reads the raw file while the bitmap is written, so the two must
// differ; it gives the bytes of the whole-image path on both kernel paths.
bool streams(const BitmapRequest& rq) {
    return rq.BitmapPath == nullptr || std::strcmp(rq.RawPath, rq.BitmapPath) != 0;
}

}  // namespace

std::int32_t save_bitmap(const BitmapRequest& rq) noexcept {
    if (!bitmap_sizes_ok(rq.Width, rq.Height)) return TAVIREX_E_OUTPUT_MEMORY;
    const std::uint32_t width = static_cast<std::uint32_t>(rq.Width);
    const std::uint32_t height = static_cast<std::uint32_t>(rq.Height);
    if (!raw_file_holds(rq.RawPath, width, height)) return TAVIREX_E_INPUT_FILE;
    const Settings s = settings_of(rq);
    return streams(rq) ? save_streamed(rq, s, width, height) : save_whole(rq, s, width, height);
}

}  // namespace tvx::output
