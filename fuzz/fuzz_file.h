// Shared by the fuzz targets: the input written to a file the reader opens.
#pragma once
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace tvx_fuzz {

// A path in /tmp unique to this process, with `suffix` appended.
inline std::string temp_path(const char* suffix) {
    return "/tmp/tvx-fuzz-" + std::to_string(static_cast<long>(getpid())) + suffix;
}

// Writes `size` bytes to `path`; false when the file cannot be written.
inline bool write_file(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    const bool ok = size == 0 || std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

}  // namespace tvx_fuzz
