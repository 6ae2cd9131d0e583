#include "common.h"

#include <chrono>
#include <cstdio>
#include <cstring>

#include "tavirex.h"

#include "platform/profile.h"
#include "platform/system.h"

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
    switch (code) {
        case TAVIREX_OK: return "success";
        case TAVIREX_E_NOT_READY: return "the module's status register did not report the ready value";
        case TAVIREX_E_CONVERTER_BUSY: return "the analogue converter stayed busy";
        case TAVIREX_E_RANGE: return "a setting or argument is out of range";
        case TAVIREX_E_VERIFY: return "the CCD control data could not be verified";
        case TAVIREX_E_NO_MEMORY: return "out of memory";
        case TAVIREX_E_BOOT_FILE: return "the boot program file is missing, unsized or short";
        case TAVIREX_E_FPGA_FILE: return "the FPGA configuration file cannot be opened";
        case TAVIREX_E_DATA_FILE: return "a calibration or table file cannot be opened or read";
        case TAVIREX_E_NOT_BOOTED: return "FPGA loading was asked for before the module was booted";
        case TAVIREX_E_CLOCK_RANGE: return "a line clock interval is outside 12..1023 counts";
        case TAVIREX_E_CLOCK_OVERFLOW: return "the speed profile needs more clock entries than a pass allows";
        case TAVIREX_E_TIMELAG: return "the time lag does not fit in front of the picture";
        case TAVIREX_E_DATA_SIZE: return "a processing data file has the wrong size";
        case TAVIREX_E_DATA_CONTENT: return "a processing data file has bad content";
        case TAVIREX_E_SHORT_READ: return "a link read returned another byte count than requested";
        case TAVIREX_E_LINK_LIBRARY: return "the link library is not loaded, cannot be loaded or lacks an entry point";
        case TAVIREX_E_HEX_DIGIT: return "the FPGA file holds a character that is not an upper-case hex digit";
        case TAVIREX_E_TOMO_SENSOR_ID: return "a tomographic gain or offset table belongs to another sensor";
        case TAVIREX_E_TOMO_NOISE_TABLE: return "the tomographic noise-row table is missing or invalid";
        case TAVIREX_E_TOMO_MARKER: return "the tomographic markers could not be stamped";
        case TAVIREX_E_TOMO_TABLE_FILE:
            return "a tomographic gain or offset table is missing, short or too long (tavirex calibrate tomo makes them)";
        case TAVIREX_E_TOMO_TABLE_TYPE: return "a tomographic table has the wrong type letter";
        case TAVIREX_E_TOMO_ECTIME_SPREAD: return "the exposure times of a frame spread more than LIMITDIFFECTIME";
        case TAVIREX_E_TOMO_FRAME_COUNT: return "a frame closed without its counted pictures";
        case TAVIREX_E_TOMO_DARK_ECTIME: return "a dark picture's exposure time differs from TIMERSET_DC";
        case TAVIREX_E_NOT_AVAILABLE: return "this function is not available in this build";
        case TAVIREX_E_MARKER: return "the bitmap could not be written or stamped";
        case TAVIREX_E_INPUT_FILE: return "the input file is missing or short";
        case TAVIREX_E_OUTPUT_MEMORY: return "no memory for the output, or a size out of range";
        case TAVIREX_E_PROCESS_OUTPUT: return "the processed image could not be written";
        case TAVIREX_E_PASS_COUNT: return "the pass count or an adjustment parameter is out of range";
        case TAVIREX_E_PICTURE_BUFFER: return "a picture buffer could not be allocated";
        case TAVIREX_E_SPEED_PROFILE: return "the speed profile is missing or holds no value";
        default: return code < 0 ? "error reported by the link library" : "error";
    }
}

std::int32_t report(const char* stage, std::int32_t code, double ms) {
    std::printf("  %-38s %s", stage, code == 0 ? "ok" : "FAILED");
    if (code != 0) std::printf(" %ld (%s)", static_cast<long>(code), explain(code));
    std::printf("  %.1f ms\n", ms);
    std::fflush(stdout);
    return code;
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
    return executable_dir() + name;
}

bool read_raw_file(const std::string& path, std::size_t count, std::vector<std::uint16_t>* out) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    std::vector<unsigned char> bytes(count * 2);
    const bool ok = std::fread(bytes.data(), 1, bytes.size(), f) == bytes.size();
    std::fclose(f);
    if (!ok) return false;
    out->resize(count);
    for (std::size_t i = 0; i < count; ++i) (*out)[i] = static_cast<std::uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    return true;
}

bool write_raw_file(const std::string& path, const std::uint16_t* words, std::size_t count) {
    tvx::platform::remove_file(path.c_str());
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    std::vector<unsigned char> bytes(count * 2);
    for (std::size_t i = 0; i < count; ++i) {
        bytes[2 * i] = static_cast<unsigned char>(words[i] & 0xFF);
        bytes[2 * i + 1] = static_cast<unsigned char>(words[i] >> 8);
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    if (std::fclose(f) != 0 || !written) {
        tvx::platform::remove_file(path.c_str());
        return false;
    }
    return true;
}

bool write_text(const std::string& path, const std::string& bytes) {
    if (!tvx::platform::remove_file(path.c_str())) return false;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    if (std::fclose(f) != 0 || !written) {
        tvx::platform::remove_file(path.c_str());
        return false;
    }
    return true;
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
