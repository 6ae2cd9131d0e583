// Byte order of the host. Every file the library reads or writes holds 16-bit
// words low byte first; on a big-endian host the words are swapped in place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace tvx::core {

inline bool host_is_little_endian() noexcept {
    const std::uint16_t probe = 1;
    std::uint8_t first = 0;
    std::memcpy(&first, &probe, 1);
    return first == 1;
}

// Converts `count` words between file order (little-endian) and host order.
inline void swap_words_if_big_endian(std::uint16_t* words, std::size_t count) noexcept {
    if (host_is_little_endian()) return;
    for (std::size_t i = 0; i < count; ++i) words[i] = static_cast<std::uint16_t>((words[i] >> 8) | (words[i] << 8));
}

}  // namespace tvx::core
