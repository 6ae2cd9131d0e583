#include "output/raw_file.h"

#include <cstdio>

#include "core/endian.h"
#include "platform/system.h"

namespace tvx::output {

bool write_raw_image(const char* path, const std::uint16_t* pixels, std::size_t width, std::size_t height) noexcept {
    if (path == nullptr || path[0] == '\0') return false;
    if (width != 0 && height > SIZE_MAX / 2 / width) return false;
    const std::size_t count = width * height;
    if (!platform::remove_file(path)) return false;
    std::FILE* f = std::fopen(path, "wb");
    if (f == nullptr) return false;
    std::size_t written = 0;
    if (core::host_is_little_endian()) {
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
        return false;
    }
    return true;
}

bool raw_file_holds(const char* path, std::size_t width, std::size_t height) noexcept {
    if (path == nullptr) return false;
    if (width != 0 && height > SIZE_MAX / 2 / width) return false;
    std::FILE* f = std::fopen(path, "rb");
    if (f == nullptr) return false;
    std::uint64_t size = 0;
    const bool sized = platform::file_end_size(f, &size);
    std::fclose(f);
    return sized && size / 2 >= static_cast<std::uint64_t>(width) * height;
}

bool read_raw_image(const char* path, std::uint16_t* into, std::size_t width, std::size_t height) noexcept {
    if (path == nullptr) return false;
    if (width != 0 && height > SIZE_MAX / 2 / width) return false;
    const std::size_t count = width * height;
    std::FILE* f = std::fopen(path, "rb");
    if (f == nullptr) return false;
    const std::size_t got = count == 0 ? 0 : std::fread(into, 2, count, f);
    std::fclose(f);
    if (got != count) return false;
    core::swap_words_if_big_endian(into, count);
    return true;
}

}  // namespace tvx::output
