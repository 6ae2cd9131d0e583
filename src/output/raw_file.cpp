#include "output/raw_file.h"

#include <cstdio>

#include "platform/system.h"

namespace tvx::output {
namespace {

bool little_endian() {
    const std::uint16_t probe = 1;
    return *reinterpret_cast<const std::uint8_t*>(&probe) == 1;
}

}  // namespace

std::int32_t write_raw_image(const char* path, const std::uint16_t* pixels, std::size_t width,
                             std::size_t height) noexcept {
    if (path == nullptr || path[0] == '\0') return -1;
    if (width != 0 && height > SIZE_MAX / 2 / width) return -1;
    const std::size_t count = width * height;
    platform::remove_file(path);
    std::FILE* f = std::fopen(path, "wb");
    if (f == nullptr) return -1;
    std::size_t written = 0;
    if (little_endian()) {
        written = count == 0 ? 0 : std::fwrite(pixels, 2, count, f);
    } else {
        for (; written < count; ++written) {
            const std::uint8_t b[2] = {static_cast<std::uint8_t>(pixels[written] & 0xFF),
                                       static_cast<std::uint8_t>(pixels[written] >> 8)};
            if (std::fwrite(b, 1, 2, f) != 2) break;
        }
    }
    const bool closed = std::fclose(f) == 0;
    if (written != count || !closed) {
        platform::remove_file(path);
        return -1;
    }
    return 0;
}

std::int32_t read_raw_image(const char* path, std::uint16_t* into, std::size_t width, std::size_t height) noexcept {
    if (path == nullptr) return -1;
    if (width != 0 && height > SIZE_MAX / 2 / width) return -2;
    const std::size_t count = width * height;
    std::FILE* f = std::fopen(path, "rb");
    if (f == nullptr) return -1;
    const std::size_t got = count == 0 ? 0 : std::fread(into, 2, count, f);
    std::fclose(f);
    if (got != count) return -2;
    if (!little_endian())
        for (std::size_t i = 0; i < count; ++i) into[i] = static_cast<std::uint16_t>((into[i] >> 8) | (into[i] << 8));
    return 0;
}

}  // namespace tvx::output
