// Number options and path arguments shared by the image file commands.
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common.h"

namespace cli {

// Reads integer option --name (fallback when absent). False, with a message, when it is not a number.
inline bool option_int(const Args& args, const char* command, const std::string& name, std::int32_t fallback,
                       std::int32_t* out) {
    if (!args.has(name)) {
        *out = fallback;
        return true;
    }
    const std::string text = args.get(name);
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || v < INT32_MIN || v > INT32_MAX) {
        std::fprintf(stderr, "tavirex %s: --%s needs a whole number, not '%s'\n", command, name.c_str(), text.c_str());
        return false;
    }
    *out = static_cast<std::int32_t>(v);
    return true;
}

inline bool option_double(const Args& args, const char* command, const std::string& name, double fallback,
                          double* out) {
    if (!args.has(name)) {
        *out = fallback;
        return true;
    }
    const std::string text = args.get(name);
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0') {
        std::fprintf(stderr, "tavirex %s: --%s needs a number, not '%s'\n", command, name.c_str(), text.c_str());
        return false;
    }
    *out = v;
    return true;
}

// Checks the count of positional arguments; prints the usage line otherwise.
inline bool positionals(const Args& args, std::size_t count, const char* command, const char* usage) {
    if (args.positional.size() == count) return true;
    std::fprintf(stderr, "tavirex %s: expected %s (see --help)\n", command, usage);
    return false;
}

// Exit status of a command that made one library call.
inline int exit_status(std::int32_t code) { return code == 0 ? 0 : 1; }

}  // namespace cli
