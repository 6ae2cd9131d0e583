#include "platform/profile.h"

#include <cstdio>
#include <cstring>

#include "platform/file.h"

namespace tvx::platform {
namespace {

// Longest line considered; the rest of a longer line is skipped. Values read
// by the library are at most 512 bytes, so this leaves ample room.
constexpr std::size_t kLineMax = 2048;

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

char lower_ascii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool equal_nocase(const char* a, std::size_t a_len, const char* b) {
    std::size_t b_len = std::strlen(b);
    if (a_len != b_len) return false;
    for (std::size_t i = 0; i < a_len; ++i)
        if (lower_ascii(a[i]) != lower_ascii(b[i])) return false;
    return true;
}

// Reads one line (without its line end) into buf; a longer line is cut. False at end of file.
bool read_line(std::FILE* f, char* buf, std::size_t cap) {
    std::size_t n = 0;
    int c;
    bool any = false;
    while ((c = std::fgetc(f)) != EOF) {
        any = true;
        if (c == '\n') break;
        if (n + 1 < cap) buf[n++] = static_cast<char>(c);
    }
    buf[n] = '\0';
    return any;
}

// Trims in place; returns the start and stores the length.
const char* trim(const char* s, std::size_t len, std::size_t* out_len) {
    while (len > 0 && is_blank(*s)) { ++s; --len; }
    while (len > 0 && is_blank(s[len - 1])) --len;
    *out_len = len;
    return s;
}

// Finds the value of section/key; copies it (trimmed, unquoted) into value. False when not found.
bool find_value(const char* section, const char* key, const char* path, char* value, std::size_t cap) {
    if (path == nullptr || section == nullptr || key == nullptr) return false;
    const File f = File::open(path, "rb");
    if (!f) return false;
    char line[kLineMax];
    bool in_section = false;
    bool found = false;
    bool first = true;
    while (!found && read_line(f.get(), line, sizeof line)) {
        const char* start = line;
        // A UTF-8 byte order mark written by some editors is not part of the first line.
        if (first && std::strncmp(line, "\xEF\xBB\xBF", 3) == 0) start += 3;
        first = false;
        std::size_t len;
        const char* s = trim(start, std::strlen(start), &len);
        if (len == 0 || s[0] == ';') continue;
        if (s[0] == '[') {
            const char* close = static_cast<const char*>(std::memchr(s, ']', len));
            std::size_t name_len;
            const char* name = trim(s + 1, close ? static_cast<std::size_t>(close - s - 1) : len - 1, &name_len);
            // A key is looked for in every section of the name; the first occurrence wins.
            in_section = equal_nocase(name, name_len, section);
            continue;
        }
        if (!in_section) continue;
        const char* eq = static_cast<const char*>(std::memchr(s, '=', len));
        if (eq == nullptr) continue;
        std::size_t key_len;
        const char* k = trim(s, static_cast<std::size_t>(eq - s), &key_len);
        if (!equal_nocase(k, key_len, key)) continue;
        std::size_t val_len;
        const char* v = trim(eq + 1, len - static_cast<std::size_t>(eq + 1 - s), &val_len);
        if (val_len >= 2 && v[0] == '"' && v[val_len - 1] == '"') {
            ++v;
            val_len -= 2;
        }
        if (val_len >= cap) val_len = cap - 1;
        std::memcpy(value, v, val_len);
        value[val_len] = '\0';
        found = true;
    }
    return found;
}

}  // namespace

std::uint32_t profile_int(const char* section, const char* key, std::int32_t fallback, const char* path) {
    char value[kLineMax];
    if (!find_value(section, key, path, value, sizeof value)) return static_cast<std::uint32_t>(fallback);
    const char* p = value;
    bool negative = false;
    if (*p == '-' || *p == '+') {
        negative = (*p == '-');
        ++p;
    }
    std::uint32_t n = 0;
    while (*p >= '0' && *p <= '9') {
        n = n * 10u + static_cast<std::uint32_t>(*p - '0');  // wraps modulo 2^32 like the Windows reader
        ++p;
    }
    return negative ? 0u - n : n;
}

std::size_t profile_string(const char* section, const char* key, const char* fallback, char* out,
                           std::size_t size, const char* path) {
    if (out == nullptr || size == 0) return 0;
    char value[kLineMax];
    const char* src = value;
    if (!find_value(section, key, path, value, sizeof value)) src = fallback ? fallback : "";
    std::size_t n = std::strlen(src);
    if (n >= size) n = size - 1;
    std::memmove(out, src, n);
    out[n] = '\0';
    return n;
}

}  // namespace tvx::platform
