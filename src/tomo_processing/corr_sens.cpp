// Per-pixel gain and offset correction from the two tables of the sensor in
// the reference folder. Both tables are checked against the sensor identifier
// and their type letter before any pixel changes; the same pair applies to
// every strip.
#include <cstdio>
#include <cstring>

#include "core/endian.h"
#include "core/intmath.h"
#include "core/simd.h"
#include "platform/file.h"
#include "tavirex.h"
#include "tomo_processing/corrections.h"

namespace tvx::tomo {
namespace {

constexpr std::size_t kMaxFolder = 512;
constexpr std::size_t kMaxSensorId = 10;

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool same_text_any_case(const char* a, const char* b, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

bool read_floats(std::FILE* f, float* out, std::size_t count) {
    if (std::fread(out, sizeof(float), count, f) != count) return false;
    if (!core::host_is_little_endian()) {
        for (std::size_t i = 0; i < count; ++i) {
            std::uint8_t b[4];
            std::memcpy(b, &out[i], 4);
            const std::uint8_t swapped[4] = {b[3], b[2], b[1], b[0]};
            std::memcpy(&out[i], swapped, 4);
        }
    }
    return true;
}

bool has_more(std::FILE* f) {
    std::uint8_t b;
    return std::fread(&b, 1, 1, f) == 1;
}

// pixel x gain + offset in single precision, limited to 0..max and truncated. A
// table value that is not a number gives 0, as a negative result does.
inline std::uint16_t scaled(std::uint16_t pixel, float gain, float offset, std::uint16_t max) {
    const float q = static_cast<float>(pixel) * gain + offset;
    return static_cast<std::uint16_t>(core::trunc_clamped_to(q, max));
}

#if TVX_SSE2
// The same for a run of pixels, eight at a time: the same single-precision product
// and sum, a mask for "not at least 0" (NaN included), the upper limit by a minimum
// and truncation, exact since the value lies in 0..max by then.
void scale_run(std::uint16_t* px, const float* gain, const float* offset, std::size_t n, std::uint16_t max) {
    const __m128 top = _mm_set1_ps(static_cast<float>(max)), zero = _mm_setzero_ps();
    const auto four = [&](__m128i p, std::size_t i) {
        const __m128 q = _mm_add_ps(_mm_mul_ps(_mm_cvtepi32_ps(p), _mm_loadu_ps(gain + i)), _mm_loadu_ps(offset + i));
        const __m128 held = _mm_min_ps(_mm_and_ps(_mm_cmpge_ps(q, zero), q), top);
        return _mm_cvttps_epi32(held);
    };
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m128i p = core::load8(px + i);
        const __m128i lo = four(_mm_unpacklo_epi16(p, _mm_setzero_si128()), i);
        const __m128i hi = four(_mm_unpackhi_epi16(p, _mm_setzero_si128()), i + 4);
        core::store8(px + i, core::pack_u16(lo, hi));
    }
    for (; i < n; ++i) px[i] = scaled(px[i], gain[i], offset[i], max);
}
#endif

}  // namespace

std::int32_t correct_sensitivity(TomoFrame& fr, const char* folder, const char* sensor_id) noexcept {
    if (folder == nullptr || sensor_id == nullptr || std::strlen(folder) > kMaxFolder ||
        std::strlen(sensor_id) > kMaxSensorId || !holds_blocks(fr, fr.strips))
        return TAVIREX_E_RANGE;
    const std::size_t id_length = std::strlen(sensor_id);
    char path[kMaxFolder + kMaxSensorId + 8];
    std::snprintf(path, sizeof path, "%s%sa.tbl", folder, sensor_id);
    const platform::File gain_file = platform::File::open(path, "rb");
    std::snprintf(path, sizeof path, "%s%sb.tbl", folder, sensor_id);
    const platform::File offset_file = platform::File::open(path, "rb");
    if (!gain_file || !offset_file) return TAVIREX_E_TOMO_TABLE_FILE;

    char gain_id[kMaxSensorId + 1], offset_id[kMaxSensorId + 1];
    if (std::fread(gain_id, 1, id_length, gain_file.get()) != id_length ||
        std::fread(offset_id, 1, id_length, offset_file.get()) != id_length)
        return TAVIREX_E_TOMO_TABLE_FILE;
    if (!same_text_any_case(gain_id, sensor_id, id_length) || !same_text_any_case(offset_id, sensor_id, id_length))
        return TAVIREX_E_TOMO_SENSOR_ID;
    char gain_type, offset_type;
    if (std::fread(&gain_type, 1, 1, gain_file.get()) != 1 || std::fread(&offset_type, 1, 1, offset_file.get()) != 1)
        return TAVIREX_E_TOMO_TABLE_FILE;
    if (lower(gain_type) != 'a' || lower(offset_type) != 'b') return TAVIREX_E_TOMO_TABLE_TYPE;

    const std::size_t size = block_pixels(fr, 1);
    core::Buffer<float> gain(size), offset(size);
    if (!gain.ok() || !offset.ok()) return TAVIREX_E_NO_MEMORY;
    if (!read_floats(gain_file.get(), gain.data(), size) || !read_floats(offset_file.get(), offset.data(), size) ||
        has_more(gain_file.get()) || has_more(offset_file.get()))
        return TAVIREX_E_TOMO_TABLE_FILE;

    for (std::uint32_t t = 0; t < fr.strips; ++t) {
        std::uint16_t* px = fr.block(t).data;
#if TVX_SSE2
        if (core::fast_paths()) {
            scale_run(px, gain.data(), offset.data(), size, fr.max_value);
            continue;
        }
#endif
        for (std::size_t i = 0; i < size; ++i) px[i] = scaled(px[i], gain[i], offset[i], fr.max_value);
    }
    return TAVIREX_OK;
}

}  // namespace tvx::tomo
