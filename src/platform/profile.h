// Reader of Windows profile (INI) files with the semantics of
// GetPrivateProfileIntA / GetPrivateProfileStringA, on every platform:
// case-insensitive section and key names, first match wins, defaults for a
// missing file, section or key, ";" comment lines, CRLF or LF line ends.
// Nothing is ever written back. Each lookup reads the file afresh and uses no
// heap memory; the files are small and read only at initialisation.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tvx::platform {

// Integer value: optional blanks, an optional sign and decimal digits up to the
// first non-digit, as a 32-bit value (the caller cuts it to its field's width).
// A missing file, section or key gives `fallback`; a key without digits gives 0.
std::uint32_t profile_int(const char* section, const char* key, std::int32_t fallback, const char* path);

// Text value, trimmed of surrounding blanks, with one matching pair of double
// quotes around it removed, cut to `size - 1` characters and zero-terminated.
// A missing file, section or key gives `fallback` (cut the same way).
// Returns the number of characters stored. Nothing is written when size is 0.
std::size_t profile_string(const char* section, const char* key, const char* fallback, char* out,
                           std::size_t size, const char* path);

}  // namespace tvx::platform
