#include "checks.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "output_args.h"
#include "platform/file.h"
#include "platform/system.h"
#include "tavirex.h"
#include "tavirex_link.h"

namespace cli {

namespace fs = std::filesystem;

namespace {

// Most lines the library reads from a speed profile, and its line buffer (longer lines it reads in pieces).
constexpr std::size_t kProfileSamples = 3000;
constexpr std::size_t kProfileLineChars = 62;

bool is_regular(const std::string& path) {
    std::error_code ec;
    return fs::is_regular_file(fs::path(path), ec);
}

std::uint64_t size_of(const std::string& path) {
    std::error_code ec;
    const std::uintmax_t n = fs::file_size(fs::path(path), ec);
    return ec ? 0 : static_cast<std::uint64_t>(n);
}

bool refuse(const char* command, const std::string& text) {
    std::fprintf(stderr, "tavirex %s: %s\n", command, text.c_str());
    return false;
}

// Opens an existing file for appending (its bytes unchanged) or creates and removes it again.
bool can_write(const std::string& path) {
    const bool existed = is_regular(path);
    if (!tvx::platform::File::open(path.c_str(), "ab")) return false;  // closed again at once
    if (!existed) tvx::platform::remove_file(path.c_str());
    return true;
}

}  // namespace

bool input_file(const char* command, const char* what, const std::string& path) {
    if (!is_regular(path) || !tvx::platform::File::open(path.c_str(), "rb"))
        return refuse(command, std::string("cannot read the ") + what + " " + path);
    return true;
}

// The tomographic tables live in [REFFILE] FOLDER, named after [SENSOR_ID] SENSOR_ID:
// the path before "a.tbl", "b.tbl" and ".dat".
std::string tomo_table_base(const std::string& config) {
    std::string base = config_string(config, "REFFILE", "FOLDER");
    if (!base.empty() && base.back() != '/' && base.back() != '\\') base += tvx::platform::path_separator();
    return base + config_string(config, "SENSOR_ID", "SENSOR_ID");
}

bool configured_files(const char* command, const std::string& config, Sensor sensor, bool tables) {
    const auto named = [&](const char* section, const char* key, const std::string& what) {
        const std::string where = " ([" + std::string(section) + "] " + key + ")";
        const std::string path = config_string(config, section, key);
        if (!path.empty()) return input_file(command, (what + where).c_str(), path);
        return refuse(command, config + " does not name the " + what + where);
    };
    const bool ceph = sensor == Sensor::ceph, tomo = sensor == Sensor::tomo;
    if (config_int(config, "LOADPROG", "FLG_BOOT", 1) != 0 && !named("LOADPROG", "BOOT", "boot program")) return false;
    // The panoramic and cephalometric FPGA files are loaded on every picture this host takes;
    // the tomographic one as FLG_FPGA says.
    if ((!tomo || config_int(config, "LOADPROG", "FLG_FPGA", 1) != 0) &&
        !named("LOADPROG", ceph ? "FPGA_CEPH" : "FPGA", "FPGA file"))
        return false;
    if (!tables) return true;
    if (!tomo)
        return (config_int(config, "PROCESS", "DELSHADW", 1) == 0 ||
                named("DELSHADW", ceph ? "CALIBDATA_CEPH" : "CALIBDATA", "shading calibration")) &&
               (config_int(config, "PROCESS", "CORRINJLINE", 1) == 0 ||
                named("CORRINJLINE", "CORRLINEDATA", "injection line table"));
    const bool gain = config_int(config, "PROCESS", "CORRSENS", 1) != 0;
    const bool noise = config_int(config, "PROCESS", "CORRINJLINE", 1) != 0;
    if (!gain && !noise) return true;
    if (config_string(config, "SENSOR_ID", "SENSOR_ID").empty())
        return refuse(command, config + " does not name the sensor of the tables ([SENSOR_ID] SENSOR_ID): is it a "
                                        "tomographic configuration?");
    const std::string base = tomo_table_base(config);
    return (!gain || (input_file(command, "gain table ([REFFILE] FOLDER, [SENSOR_ID])", base + "a.tbl") &&
                      input_file(command, "offset table ([REFFILE] FOLDER, [SENSOR_ID])", base + "b.tbl"))) &&
           (!noise || input_file(command, "noise-row table ([REFFILE] FOLDER, [SENSOR_ID])", base + ".dat"));
}

bool config_option(const Args& args, const char* command, std::string* config) {
    if (!args.has("config")) return refuse(command, "--config FILE is required");
    *config = args.get("config");
    return input_file(command, "configuration file (--config)", *config);
}

bool speed_profile(const char* command, const std::string& path) {
    if (!input_file(command, "speed profile (--profile)", path)) return false;
    const tvx::platform::File f = tvx::platform::File::open(path.c_str(), "rb");
    if (!f) return refuse(command, "cannot read the speed profile (--profile) " + path);
    std::string line;
    std::size_t number = 0;
    bool ok = true;
    for (int c = 0; ok;) {
        line.clear();
        while ((c = std::fgetc(f.get())) != EOF && c != '\n') line += static_cast<char>(c);
        if (c == EOF && line.empty()) break;
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        char* end = nullptr;
        const double v = std::strtod(line.c_str(), &end);
        while (end != nullptr && (*end == ' ' || *end == '\t')) ++end;
        const std::string where = "the speed profile " + path + ", line " + std::to_string(number) + ": ";
        if (line.size() > kProfileLineChars)
            ok = refuse(command, where + "longer than " + std::to_string(kProfileLineChars) + " characters");
        else if (end == line.c_str() || *end != '\0' || !std::isfinite(v))
            ok = refuse(command, where + "'" + line + "' is not a number (one speed per line)");
        else if (v <= 0)
            ok = refuse(command, where + "a speed must be greater than 0");
        else if (number > kProfileSamples)
            ok = refuse(command, where + "more than " + std::to_string(kProfileSamples) + " speeds");
    }
    if (ok && number == 0) return refuse(command, "the speed profile " + path + " holds no speed");
    return ok;
}

bool file_size_is(const char* command, const std::string& path, std::uint64_t bytes, const std::string& what) {
    if (!is_regular(path)) return refuse(command, "cannot read " + path + ": no such file");
    const std::uint64_t n = size_of(path);
    if (n == bytes) return true;
    return refuse(command, path + " holds " + std::to_string(n) + " bytes: it is not " + what);
}

bool raw_image(const char* command, const std::string& path, std::int32_t width, std::int32_t height) {
    if (width <= 0) return refuse(command, "--width must be greater than 0");
    if (height <= 0) return refuse(command, "--height must be greater than 0");
    const std::uint64_t bytes = 2ull * static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
    return file_size_is(command, path, bytes,
                        std::to_string(width) + " x " + std::to_string(height) + " 16-bit samples (" +
                            std::to_string(bytes) + " bytes); check --width and --height");
}

bool twelve_bit_image(const char* command, const std::string& path) {
    const tvx::platform::File f = tvx::platform::File::open(path.c_str(), "rb");
    if (!f) return refuse(command, "cannot read " + path);
    unsigned char block[65536];
    unsigned largest = 0;
    for (std::size_t n; (n = std::fread(block, 1, sizeof block, f.get())) > 0;)
        for (std::size_t i = 0; i + 1 < n; i += 2) largest = std::max(largest, static_cast<unsigned>(block[i] | block[i + 1] << 8));
    if (largest <= TAVIREX_SAMPLE_MAX) return true;
    return refuse(command, path + " holds samples up to " + std::to_string(largest) +
                               ", beyond the 12 bits (0..4095) the library takes outside a tomographic processing run, "
                               "so the picture would be wrong; a processed tomographic image gets its bitmap in the run "
                               "that processes it: tavirex process tomo --config FILE --out FILE --bitmap BMP");
}

bool recorded_readout(const char* command, const std::string& path, bool ceph) {
    const std::uint64_t picture = ceph ? 2ull * TAVIREX_CEPH_LINES * TAVIREX_CEPH_ROWS
                                       : 2ull * TAVIREX_MODULE_ROW_SAMPLES * TAVIREX_PANO_ROWS;
    const std::uint64_t module_rows = static_cast<std::uint64_t>(TAVIREX_CEPH_ROWS) * TAVIREX_MODULE_ROW_BYTES;
    const std::uint64_t n = size_of(path);
    if (is_regular(path) && (n == picture || n == module_rows)) return true;
    return file_size_is(command, path, picture,
                        ceph ? "a cephalometric readout (3500 x 2304 samples, or 2304 module rows of 8192 bytes)"
                             : "a panoramic readout (4096 x 1536 samples, or 2304 module rows of 8192 bytes)");
}

bool output_files(const char* command, const std::vector<std::string>& paths) {
    for (std::size_t i = 0; i < paths.size(); ++i) {
        const std::string& path = paths[i];
        if (path.empty()) return refuse(command, "an output file name is empty");
        for (std::size_t j = 0; j < i; ++j)
            if (fs::path(paths[j]).lexically_normal() == fs::path(path).lexically_normal())
                return refuse(command, path + " is named for two outputs");
        const std::string folder = folder_of(path);
        std::error_code ec;
        if (!folder.empty() && !fs::is_directory(fs::path(folder), ec))
            return refuse(command, "cannot write " + path + ": the folder " + folder + " does not exist");
        if (fs::exists(fs::path(path), ec) && !is_regular(path))
            return refuse(command, "cannot write " + path + ": it is a folder or not a regular file");
        if (!can_write(path)) return refuse(command, "cannot write " + path + ": no permission to write there");
    }
    return true;
}

bool refuse_options(const Args& args, const char* command, std::initializer_list<const char*> names, const char* why) {
    for (const char* name : names)
        if (args.has(name)) return refuse(command, std::string("--") + name + " " + why);
    return true;
}

bool options_together(const Args& args, const char* command, const char* a, const char* b) {
    if (args.has(a) == args.has(b)) return true;
    const char* given = args.has(a) ? a : b;
    const char* missing = args.has(a) ? b : a;
    return refuse(command, std::string("--") + given + " needs --" + missing + " (they go together)");
}

bool filter_options(const Args& args, const char* command, std::int32_t* distance, std::int32_t* gain) {
    return options_together(args, command, "distance", "gain") &&
           option_int(args, command, "distance", 0, distance, 1, 255) && option_int(args, command, "gain", 0, gain, 1, 65535);
}

bool sim_module(const char* command, const std::string& path) {
    const tvx::platform::LibraryHandle lib = tvx::platform::load_library(path.c_str());
    const bool controls = tvx::platform::find_symbol(lib, "TvxSim_SetModeByName") != nullptr;
    tvx::platform::unload_library(lib);
    if (controls) return true;
    return refuse(command, (lib == nullptr ? "no simulated module can be loaded from " : "not the simulated module: ") +
                               path + " (name it with --sim PATH)");
}

bool same_module(const char* command, const std::string& sim, const std::string& config) {
    const std::string link = config_string(config, "DLL", "FILENAME");
    const tvx::platform::LibraryHandle a = tvx::platform::load_library(sim.c_str());
    const tvx::platform::LibraryHandle b = link.empty() ? nullptr : tvx::platform::load_library(link.c_str());
    // A library loaded twice gives the same handle: the same module.
    const bool same = a != nullptr && a == b;
    tvx::platform::unload_library(b);
    tvx::platform::unload_library(a);
    if (same) return true;
    return refuse(command, "--sim " + sim + " is not the link library of " + config + " ([DLL] FILENAME=" + link +
                               "): its controls would not reach the module the library drives");
}

bool sim_option(const Args& args, const char* command, const std::string& config, std::string* sim) {
    if (!args.has("sim")) return true;
    *sim = args.get("sim");
    return sim_module(command, *sim) && same_module(command, *sim, config);
}

bool sim_mode_option(const Args& args, const char* command, bool replay, std::string* mode) {
    *mode = args.get("sim-mode");
    for (const char* name : {"", "phantom", "flat", "dark", "ramp"})
        if (*mode == name) return true;
    if (replay && *mode == "replay") return true;
    return refuse(command, "--sim-mode takes phantom, flat, dark, ramp" + std::string(replay ? " or replay" : "") +
                               ", not '" + *mode + "'");
}

std::string absolute_path(const std::string& path) {
    std::error_code ec;
    const fs::path p = fs::absolute(fs::path(path), ec);
    return ec ? path : p.lexically_normal().string();
}

std::string folder_of(const std::string& path) {
    const auto cut = path.find_last_of("\\/");
    return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

void name_configured_files(const std::string& config, std::int32_t code, Sensor sensor) {
    const bool any = sensor == Sensor::none, ceph = sensor == Sensor::ceph, tomo = sensor == Sensor::tomo;
    std::vector<std::pair<std::string, std::string>> files;  // (where it is named, path)
    const auto add = [&](bool wanted, const char* section, const char* key) {
        if (wanted) files.emplace_back(std::string("[") + section + "] " + key, config_string(config, section, key));
    };
    switch (code) {
        case TAVIREX_E_LINK_LIBRARY: add(true, "DLL", "FILENAME"); break;
        case TAVIREX_E_BOOT_FILE: add(true, "LOADPROG", "BOOT"); break;
        case TAVIREX_E_FPGA_FILE:
        case TAVIREX_E_HEX_DIGIT:
            add(!ceph, "LOADPROG", "FPGA");
            add(ceph || any, "LOADPROG", "FPGA_CEPH");
            break;
        // The panoramic and cephalometric tables; the tomographic side has codes of its own.
        case TAVIREX_E_DATA_FILE:
        case TAVIREX_E_DATA_SIZE:
            add(!ceph && !tomo, "DELSHADW", "CALIBDATA");
            add(ceph || any, "DELSHADW", "CALIBDATA_CEPH");
            [[fallthrough]];
        case TAVIREX_E_DATA_CONTENT: add(!tomo, "CORRINJLINE", "CORRLINEDATA"); break;
        default: break;
    }
    const bool tables = code == TAVIREX_E_TOMO_TABLE_FILE || code == TAVIREX_E_TOMO_TABLE_TYPE ||
                        code == TAVIREX_E_TOMO_SENSOR_ID;
    if ((any || tomo) && (tables || code == TAVIREX_E_TOMO_NOISE_TABLE)) {
        const std::string base = tomo_table_base(config);
        for (const char* suffix : {"a.tbl", "b.tbl", ".dat"})
            if ((std::string(suffix) == ".dat") != tables)
                files.emplace_back("[REFFILE] FOLDER, [SENSOR_ID]", base + suffix);
    }
    for (const auto& [key, path] : files) {
        if (path.empty()) {
            std::printf("  %s is not set\n", key.c_str());
            continue;
        }
        const std::string state = is_regular(path) ? std::to_string(size_of(path)) + " bytes"
                                  : fs::path(path).is_relative() ? "missing, relative to the current folder"
                                                                 : "missing";
        std::printf("  %s names %s (%s)\n", key.c_str(), path.c_str(), state.c_str());
    }
}

std::string write_failure_reason(const std::string& path, int error) {
    // What the folder shows now comes first: a library call may leave an errno that is not the write's.
    std::error_code ec;
    const fs::path folder = fs::absolute(fs::path(path), ec).parent_path();
    if (!fs::is_directory(folder, ec)) return std::strerror(ENOENT);
    const fs::space_info space = fs::space(folder, ec);
    if (!ec && space.available == 0) return std::strerror(ENOSPC);
    if (!can_write(path)) return std::strerror(EACCES);
    return error != 0 ? std::strerror(error) : "the system gave no reason";
}

std::vector<std::string> absent_files(const std::vector<std::string>& paths) {
    std::vector<std::string> absent;
    std::error_code ec;
    for (const std::string& path : paths)
        if (!fs::exists(fs::path(path), ec)) absent.push_back(path);
    return absent;
}

void remove_files(const std::vector<std::string>& paths) {
    for (const std::string& path : paths) tvx::platform::remove_file(path.c_str());
}

}  // namespace cli
