// After the pipeline: keep the passes that were read, put them into display
// order, put separator bands between them and write the raw image file.
#include <cstdio>
#include <cstring>

#include "core/intmath.h"
#include "output/raw_file.h"
#include "platform/profile.h"
#include "processing/pipeline.h"
#include "tavirex.h"

namespace tvx::processing {
namespace {

constexpr std::uint16_t kBandColour = 0x0F0F;

// The image must exist and the pass bookkeeping must describe it.
bool image_ready() {
    const DeviceContext& d = Device;
    if (d.ImageBuffer == nullptr || d.ImageWidth == 0 || d.ImageHeight == 0) return false;
    if (PassCount < 1 || PassCount > 4) return false;
    return ReadSegments >= 1 && ReadSegments <= PassCount;
}

void read_separator_settings() {
    const std::int64_t lines = static_cast<std::int32_t>(platform::profile_int("ExOption", "PictLineNum", 0, ConfigPath));
    const std::int64_t band = 4 * lines;
    // No band is drawn for a width below 1; keep the stored width non-negative.
    SeparatorLineList.Width = static_cast<std::uint32_t>(band < 0 ? 0 : (band > INT32_MAX ? INT32_MAX : band));
    const std::uint16_t colour = core::low16(platform::profile_int("ExOption", "PictLineColor", 0, ConfigPath));
    SeparatorLineList.Color = colour == 1 ? 1u : 0u;
}

std::int32_t write_separated(const char* path, const std::uint16_t* pixels, std::uint32_t width,
                             std::uint32_t height, std::uint32_t* width_out, std::uint32_t* height_out) {
    core::Buffer<std::uint16_t> separated;
    std::uint32_t out_width = 0;
    const std::int32_t rc = insert_separators(pixels, width, height, ReadSegments, SeparatorLineList.Width,
                                              SeparatorLineList.Color, &separated, &out_width, &SeparatorLineList);
    if (rc != TAVIREX_OK) return rc;
    if (width_out != nullptr) *width_out = out_width;
    if (height_out != nullptr) *height_out = height;
    if (output::write_raw_image(path, separated.data(), out_width, height) != 0) return TAVIREX_E_PROCESS_OUTPUT;
    return TAVIREX_OK;
}

}  // namespace

const std::uint8_t kSegmentOrder[5][4] = {{0, 1, 2, 3}, {0, 1, 2, 3}, {1, 0, 2, 3}, {1, 0, 2, 3}, {3, 1, 0, 2}};

std::int32_t crop_and_order(DeviceContext& d, std::uint32_t pass_count, std::uint32_t read_segments) {
    const std::uint32_t h = d.ImageHeight;
    const std::uint32_t segment = d.ImageWidth / pass_count;
    const std::uint32_t kept = read_segments * segment;
    core::Buffer<std::uint16_t> work(static_cast<std::size_t>(kept) * h);
    if (!work.ok()) return TAVIREX_E_PROCESS_OUTPUT;
    for (std::uint32_t y = 0; y < h; ++y)
        std::memcpy(work.data() + static_cast<std::size_t>(y) * kept,
                    d.ImageBuffer + static_cast<std::size_t>(y) * d.ImageWidth, sizeof(std::uint16_t) * kept);
    d.ImageWidth = static_cast<std::uint16_t>(kept);
    if (read_segments <= 1) {
        std::memcpy(d.ImageBuffer, work.data(), work.bytes());
        return TAVIREX_OK;
    }
    const std::uint8_t* order = kSegmentOrder[read_segments];
    for (std::uint32_t y = 0; y < h; ++y) {
        std::uint16_t* dst = d.ImageBuffer + static_cast<std::size_t>(y) * kept;
        const std::uint16_t* src = work.data() + static_cast<std::size_t>(y) * kept;
        for (std::uint32_t k = 0; k < read_segments; ++k)
            std::memcpy(dst + static_cast<std::size_t>(k) * segment, src + static_cast<std::size_t>(order[k]) * segment,
                        sizeof(std::uint16_t) * segment);
    }
    return TAVIREX_OK;
}

std::int32_t insert_separators(const std::uint16_t* pixels, std::uint32_t width, std::uint32_t height,
                               std::uint32_t count, std::uint32_t band, std::uint32_t colour,
                               core::Buffer<std::uint16_t>* out, std::uint32_t* out_width, SeparatorLines* list) {
    const bool bands = count >= 2 && band >= 1;
    const std::uint64_t segment = count == 0 ? 0 : width / count;
    const std::uint64_t wide = bands ? width + static_cast<std::uint64_t>(count - 1) * band : width;
    if (wide > UINT32_MAX || (wide != 0 && height > SIZE_MAX / 2 / wide)) return TAVIREX_E_PROCESS_OUTPUT;
    if (!out->reset(static_cast<std::size_t>(wide) * height)) return TAVIREX_E_PROCESS_OUTPUT;

    if (!bands) {
        std::memcpy(out->data(), pixels, out->bytes());
    } else {
        const std::uint16_t fill = colour == 1 ? kBandColour : 0;
        for (std::uint32_t y = 0; y < height; ++y) {
            const std::uint16_t* src = pixels + static_cast<std::size_t>(y) * width;
            std::uint16_t* dst = out->data() + static_cast<std::size_t>(y) * wide;
            for (std::uint32_t k = 0; k < count; ++k) {
                if (k > 0)
                    for (std::uint32_t i = 0; i < band; ++i) *dst++ = fill;
                std::memcpy(dst, src + k * segment, sizeof(std::uint16_t) * segment);
                dst += segment;
            }
            // Columns beyond an even split stay with the last segment.
            const std::uint64_t rest = width - count * segment;
            std::memcpy(dst, src + count * segment, sizeof(std::uint16_t) * rest);
        }
    }
    *out_width = static_cast<std::uint32_t>(wide);

    std::memset(list->Position, 0, sizeof list->Position);
    list->Count = count >= 2 ? (count - 1 > 10 ? 10 : count - 1) : 0;
    const std::uint32_t listed = count > 10 ? 10 : count;
    for (std::uint32_t i = 0; i < listed; ++i)
        list->Position[i] = static_cast<std::uint32_t>((i + 1) * segment + static_cast<std::uint64_t>(i) * band);
    return TAVIREX_OK;
}

std::int32_t process_export(const char* output_path, std::uint32_t* width, std::uint32_t* height, bool ex2) {
    if (output_path == nullptr || width == nullptr || height == nullptr) return TAVIREX_E_RANGE;
    if (!image_ready()) return TAVIREX_E_RANGE;
    DeviceContext& d = Device;
    std::int32_t rc;
    if (ex2) {
        const std::uint8_t scale = d.ProcessFlags[kCorrBriScale];
        const std::uint8_t emphasis = d.ProcessFlags[kEmphasisContrast];
        d.ProcessFlags[kCorrBriScale] = 0;
        d.ProcessFlags[kEmphasisContrast] = 0;
        rc = run_pipeline(d);
        d.ProcessFlags[kCorrBriScale] = scale;
        d.ProcessFlags[kEmphasisContrast] = emphasis;
    } else {
        read_separator_settings();
        std::memset(SeparatorLineList.Position, 0, sizeof SeparatorLineList.Position);
        SeparatorLineList.Count = 0;
        rc = run_pipeline(d);
    }
    if (rc != TAVIREX_OK) return rc;
    *width = d.ImageWidth;
    *height = d.ImageHeight;
    if ((rc = crop_and_order(d, PassCount, ReadSegments)) != TAVIREX_OK) return rc;
    *width = d.ImageWidth;
    return write_separated(output_path, d.ImageBuffer, d.ImageWidth, d.ImageHeight, width, height);
}

std::int32_t dummy_export(const char* input_path, const char* output_path, const std::uint32_t* width,
                          const std::uint32_t* height) {
    if (input_path == nullptr || output_path == nullptr || width == nullptr || height == nullptr)
        return TAVIREX_E_RANGE;
    const std::uint32_t w = *width;
    const std::uint32_t h = *height;
    // An image without pixels, or split into more passes than the unit makes, is not a picture.
    if (w == 0 || h == 0 || ReadSegments > 4) return TAVIREX_E_RANGE;
    TomoImageActive = 0;

    std::FILE* f = std::fopen(input_path, "rb");
    if (f == nullptr) return TAVIREX_E_DATA_FILE;
    const std::uint64_t count = static_cast<std::uint64_t>(w) * h;
    core::Buffer<std::uint16_t> image;
    if (count > SIZE_MAX / 2 || !image.reset(static_cast<std::size_t>(count))) {
        std::fclose(f);
        return TAVIREX_E_NO_MEMORY;
    }
    const std::size_t got = std::fread(image.data(), 2, image.size(), f);
    std::fclose(f);
    if (got != image.size()) return TAVIREX_E_DATA_FILE;
    const std::uint16_t probe = 1;
    if (*reinterpret_cast<const std::uint8_t*>(&probe) != 1)
        for (auto& v : image) v = static_cast<std::uint16_t>((v >> 8) | (v << 8));
    std::uint32_t out_width = 0, out_height = 0;
    return write_separated(output_path, image.data(), w, h, &out_width, &out_height);
}

}  // namespace tvx::processing
