#include "common.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "checks.h"
#include "tavirex.h"
#include "tavirex_errors.h"

#include "platform/file.h"
#include "platform/profile.h"
#include "platform/system.h"

// The install's library folder relative to its program folder (the build sets it
// from the install layout).
#ifndef TAVIREX_SIM_LIBDIR
#define TAVIREX_SIM_LIBDIR "../lib/"
#endif

namespace cli {

bool Args::has(const std::string& name) const {
    for (const auto& [k, v] : options)
        if (k == name) return true;
    return false;
}

std::string Args::get(const std::string& name, const std::string& fallback) const {
    for (const auto& [k, v] : options)
        if (k == name) return v;
    return fallback;
}

bool parse_args(int argc, char** argv, int first, const std::vector<std::string>& with_value,
                const std::vector<std::string>& switches, Args* out) {
    for (int i = first; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--help" || word == "-h") {
            out->help = true;
            continue;
        }
        if (word.rfind("--", 0) != 0) {
            out->positional.push_back(word);
            continue;
        }
        const std::string name = word.substr(2);
        bool takes_value = false, known = false;
        for (const auto& n : with_value)
            if (n == name) takes_value = known = true;
        for (const auto& n : switches)
            if (n == name) known = true;
        if (!known) {
            std::fprintf(stderr, "tavirex: unknown option %s (see --help)\n", word.c_str());
            return false;
        }
        // Only the first of two values would count.
        if (out->has(name)) {
            std::fprintf(stderr, "tavirex: option %s is given twice\n", word.c_str());
            return false;
        }
        if (takes_value) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "tavirex: option %s needs a value\n", word.c_str());
                return false;
            }
            out->options.emplace_back(name, argv[++i]);
        } else {
            out->options.emplace_back(name, "");
        }
    }
    return true;
}

const char* explain(std::int32_t code) {
    // The CLI's own outcomes lie below every code of the library and of the link
    // library; everything else reads as any host reads it.
    switch (code) {
        case kNoExposure: return "the picture status bit never showed the end of a picture";
        case kNoSimMode: return "the link library is not the simulated module, or it refused the image mode";
        case kOutputFailed: return "the output file could not be written";
        default: return tavirex_result_text(code);
    }
}

namespace {
Failure g_last_failure;
// The host's own outcomes have no number a user could look up: they are said in words only.
bool host_code(std::int32_t code) { return code <= kNoExposure && code >= kOutputFailed; }
}  // namespace

std::int32_t report(const char* stage, std::int32_t code, double ms, int error) {
    // A call name longer than the column gets a line of its own, so the results stay aligned.
    constexpr int kColumn = 38;
    if (std::strlen(stage) > kColumn) std::printf("  %s\n  %-*s %s", stage, kColumn, "", code == 0 ? "ok" : "FAILED");
    else std::printf("  %-*s %s", kColumn, stage, code == 0 ? "ok" : "FAILED");
    if (code != 0 && host_code(code)) std::printf(" (%s)", explain(code));
    else if (code != 0) std::printf(" %ld (%s)", static_cast<long>(code), explain(code));
    std::printf("  %.1f ms\n", ms);
    std::fflush(stdout);
    if (code != 0) g_last_failure = Failure{stage, code, error, "", "", Sensor::none};
    return code;
}

const Failure& last_failure() { return g_last_failure; }

int report_failure(const char* what, const Failure& f) {
    if (host_code(f.code)) std::printf("%s failed at %s: %s\n", what, f.stage.c_str(), explain(f.code));
    else std::printf("%s failed at %s: %ld (%s)\n", what, f.stage.c_str(), static_cast<long>(f.code), explain(f.code));
    // The tomographic export also writes each processed frame beside its image.
    const bool frames = f.sensor == Sensor::tomo && f.stage == "Tavirex_ImageProcessingEx_Tomo";
    if (!f.output.empty())
        std::printf("  cannot write %s%s: %s\n", f.output.c_str(), frames ? " or a frame file beside it (SegTomo0k.dat)" : "",
                    write_failure_reason(f.output, f.error).c_str());
    else if (!f.config.empty())
        name_configured_files(f.config, f.code, f.sensor);
    std::fflush(stdout);
    return 1;
}

double now_ms() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

std::string executable_dir() {
    char path[4096] = "";
    const std::string s(path, tvx::platform::executable_path(path, sizeof path));
    const auto cut = s.find_last_of("\\/");
    return cut == std::string::npos ? std::string() : s.substr(0, cut + 1);
}

std::string sim_module_path() {
    char name[64] = "";
    tvx::platform::shared_library_name("tvxsim", name, sizeof name);
    // Beside the executable (the build tree, a Windows install), then the
    // library folder of an install, then wherever TAVIREX_SIM says.
    const std::string beside = executable_dir() + name;
    for (const std::string& candidate : {beside, executable_dir() + TAVIREX_SIM_LIBDIR + name}) {
        std::error_code ec;
        if (std::filesystem::is_regular_file(candidate, ec))
            return std::filesystem::path(candidate).lexically_normal().string();
    }
    const char* named = std::getenv("TAVIREX_SIM");
    if (named != nullptr && named[0] != '\0') return named;
    // Nothing found: the first place looked, so that a failure names a file.
    return beside;
}

bool read_raw_file(const std::string& path, std::size_t count, std::vector<std::uint16_t>* out) {
    // In a 32-bit program the bytes of 65535 x 65535 samples do not fit a size_t.
    if (count > SIZE_MAX / 2) return false;
    tvx::platform::File f = tvx::platform::File::open(path.c_str(), "rb");
    if (!f) return false;
    std::vector<unsigned char> bytes(count * 2);
    if (std::fread(bytes.data(), 1, bytes.size(), f.get()) != bytes.size()) return false;
    out->resize(count);
    for (std::size_t i = 0; i < count; ++i) (*out)[i] = static_cast<std::uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    return true;
}

namespace {
// Finishes an output file under the replace rule; when it does not stay, errno holds
// what the failed write left (or, after a whole write, what the failed close left).
bool finish_output(tvx::platform::OutputFile& out, bool written) {
    const int error = written ? 0 : errno;
    if (out.finish(written)) return true;
    if (error != 0) errno = error;
    return false;
}
}  // namespace

bool write_raw_file(const std::string& path, const std::uint16_t* words, std::size_t count) {
    tvx::platform::OutputFile out(path.c_str());
    if (!out) return false;
    std::vector<unsigned char> bytes(count * 2);
    for (std::size_t i = 0; i < count; ++i) {
        bytes[2 * i] = static_cast<unsigned char>(words[i] & 0xFF);
        bytes[2 * i + 1] = static_cast<unsigned char>(words[i] >> 8);
    }
    return finish_output(out, std::fwrite(bytes.data(), 1, bytes.size(), out.get()) == bytes.size());
}

bool write_text(const std::string& path, const std::string& bytes) {
    tvx::platform::OutputFile out(path.c_str());
    if (!out) return false;
    return finish_output(out, std::fwrite(bytes.data(), 1, bytes.size(), out.get()) == bytes.size());
}

std::string config_string(const std::string& config, const char* section, const char* key) {
    char value[1024] = "";
    tvx::platform::profile_string(section, key, "", value, sizeof value, config.c_str());
    return value;
}

long config_int(const std::string& config, const char* section, const char* key, long fallback) {
    return static_cast<std::int32_t>(
        tvx::platform::profile_int(section, key, static_cast<std::int32_t>(fallback), config.c_str()));
}

SimControl::SimControl(const std::string& config, const std::string& sim)
    : path_(sim.empty() ? config_string(config, "DLL", "FILENAME") : sim) {
    if (!path_.empty()) handle_ = tvx::platform::load_library(path_.c_str());
}

SimControl::~SimControl() { tvx::platform::unload_library(handle_); }

void* SimControl::find(const char* name) const { return tvx::platform::find_symbol(handle_, name); }

}  // namespace cli
