#include "output/raw_file.h"

#include <cstdio>

#include "core/endian.h"
#include "platform/file.h"
#include "platform/system.h"

namespace tvx::output {

bool write_raw_image(const char* path, const std::uint16_t* pixels, std::size_t width, std::size_t height) noexcept {
    if (width != 0 && height > SIZE_MAX / 2 / width) return false;
    const std::size_t count = width * height;
    platform::OutputFile f(path);
    if (!f) return false;
    std::size_t written = 0;
    if (core::host_is_little_endian()) {
        written = count == 0 ? 0 : std::fwrite(pixels, 2, count, f.get());
    } else {
        for (; written < count; ++written) {
            const std::uint8_t b[2] = {static_cast<std::uint8_t>(pixels[written] & 0xFF),
                                       static_cast<std::uint8_t>(pixels[written] >> 8)};
            if (std::fwrite(b, 1, 2, f.get()) != 2) break;
        }
    }
    return f.finish(written == count);
}

bool raw_file_holds(const char* path, std::size_t width, std::size_t height) noexcept {
    if (path == nullptr) return false;
    if (width != 0 && height > SIZE_MAX / 2 / width) return false;
    const platform::File f = platform::File::open(path, "rb");
    if (!f) return false;
    std::uint64_t size = 0;
    const bool sized = platform::file_end_size(f.get(), &size);
    return sized && size / 2 >= static_cast<std::uint64_t>(width) * height;
}

bool read_raw_image(const char* path, std::uint16_t* into, std::size_t width, std::size_t height) noexcept {
    if (path == nullptr) return false;
    if (width != 0 && height > SIZE_MAX / 2 / width) return false;
    const std::size_t count = width * height;
    const platform::File f = platform::File::open(path, "rb");
    if (!f) return false;
    const std::size_t got = count == 0 ? 0 : std::fread(into, 2, count, f.get());
    if (got != count) return false;
    core::swap_words_if_big_endian(into, count);
    return true;
}

}  // namespace tvx::output
