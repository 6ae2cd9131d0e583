// Number options and path arguments shared by the commands.
#pragma once

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>

#include "common.h"
#include "tavirex.h"

namespace cli {

// Reads whole-number option --name into `out` (fallback when absent). False, with
// a message naming the option, when it is not a whole number within lo..hi.
template <typename T>
bool option_int(const Args& args, const char* command, const std::string& name, T fallback, T* out,
                long long lo = std::numeric_limits<T>::min(), long long hi = std::numeric_limits<T>::max()) {
    if (!args.has(name)) {
        *out = fallback;
        return true;
    }
    const std::string text = args.get(name);
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || v < lo || v > hi) {
        std::fprintf(stderr, "tavirex %s: --%s takes a whole number", command, name.c_str());
        if (hi != static_cast<long long>(std::numeric_limits<T>::max()))
            std::fprintf(stderr, " from %lld to %lld", lo, hi);
        else if (lo != static_cast<long long>(std::numeric_limits<T>::min()))
            std::fprintf(stderr, " of at least %lld", lo);
        std::fprintf(stderr, ", not '%s'\n", text.c_str());
        return false;
    }
    *out = static_cast<T>(v);
    return true;
}

// The same for a number within lo..hi (both included).
inline bool option_double(const Args& args, const char* command, const std::string& name, double fallback,
                          double* out, double lo = -HUGE_VAL, double hi = HUGE_VAL) {
    if (!args.has(name)) {
        *out = fallback;
        return true;
    }
    const std::string text = args.get(name);
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !std::isfinite(v) || v < lo || v > hi) {
        std::fprintf(stderr, "tavirex %s: --%s takes a number", command, name.c_str());
        if (std::isfinite(lo) && std::isfinite(hi)) std::fprintf(stderr, " from %g to %g", lo, hi);
        std::fprintf(stderr, ", not '%s'\n", text.c_str());
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

// Exit status of a command whose last library call wrote `output`: a failure is reported
// (a failed write with the file and the system's reason; the library's result covers several causes).
inline int exit_status(std::int32_t code, const char* command, const std::string& output = "") {
    if (code == 0) return 0;
    Failure failure = last_failure();
    if (code == TAVIREX_E_OUTPUT_FILE) failure.output = output;
    return report_failure(command, failure);
}

}  // namespace cli
