// tavirex calibrate tomo: the gain and offset tables and the noise-row table of
// the tomographic sensor, measured from a dark and a flat-field scan taken and
// dark-corrected through the library, or taken from the simulated module's model.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "acquire.h"
#include "acquire_tomo.h"
#include "checks.h"
#include "common.h"
#include "platform/system.h"
#include "tavirex.h"
#include "tvxsim_control.h"

namespace cli {
namespace {

constexpr int kColumns = 128, kRows = 2304, kStrips = 8;
constexpr std::size_t kPixels = static_cast<std::size_t>(kColumns) * kRows;

struct TomoTables {
    std::vector<float> gain, offset;  // one value per pixel, 2304 rows of 128
    std::vector<int> band_row, band_height;
};

// Only the dark offset is removed and the strips are put side by side as they
// are: the processed image is the dark-corrected sensor, strip after strip.
const char kMeasureOverrides[] =
    "[PROCESS]\nDELDC=1\nCORRSENS=0\nCORRINJLINE=0\nPUTIMAGES=0\nFILLIN=0\nCORRIMGSIZE=0\nDELNOISE1=0\nDELNOISE2=0\n"
    "CORRBRISCALE=0\n[BINNING]\nPIXEL=1\n[ExOption]\nPictLineNum=0\n";

// One scan in `mode` through the library; the mean over the strips of each pixel
// of the dark-corrected sensor. The processed image is turned by half a turn.
bool measure(const std::string& config, const std::string& sim, const char* mode, const std::string& work, int repeats,
             std::vector<double>* mean, bool* write_failed) {
    mean->assign(kPixels, 0.0);
    for (int n = 0; n < repeats; ++n) {
        TomoAcquireOptions o;
        o.config = config;
        o.sim = sim;
        o.sim_mode = mode;
        o.process = true;
        o.processed = work;
        TomoAcquireResult r;
        std::printf("%s scan %d of %d\n", mode, n + 1, repeats);
        const std::int32_t rc = acquire_tomo(o, &r);
        std::vector<std::uint16_t> image;
        if (rc != 0) {
            *write_failed = !r.failure.output.empty();
            report_failure((std::string("calibration (") + mode + " scan)").c_str(), r.failure);
            return false;
        }
        if (r.processed_width != kColumns * kStrips || r.processed_height != kRows ||
            !read_raw_file(work, static_cast<std::size_t>(kColumns) * kStrips * kRows, &image)) {
            std::printf("calibration failed: the processed image of the %s scan is not the strips side by side\n", mode);
            return false;
        }
        const std::size_t width = static_cast<std::size_t>(kColumns) * kStrips;
        for (std::size_t y = 0; y < kRows; ++y)
            for (std::size_t x = 0; x < width; ++x) {
                const std::size_t row = kRows - 1 - y, column = width - 1 - x;  // undo the half turn
                (*mean)[row * kColumns + column % kColumns] += image[y * width + x] / double(kStrips * repeats);
            }
    }
    return true;
}

// Rows whose dark readout scatters far more than a typical row's: bands of the noise-row table.
void noisy_rows(const std::vector<double>& dark_spread, TomoTables* t) {
    std::vector<double> sorted(dark_spread);
    std::nth_element(sorted.begin(), sorted.begin() + kRows / 2, sorted.end());
    const double limit = 6.0 * std::max(sorted[kRows / 2], 1.0);
    for (int r = 0; r < kRows; ++r) {
        if (dark_spread[r] <= limit) continue;
        if (!t->band_row.empty() && t->band_row.back() + t->band_height.back() == r) {
            ++t->band_height.back();
        } else {
            t->band_row.push_back(r);
            t->band_height.push_back(1);
        }
    }
}

bool tables_from_scans(const std::string& config, const std::string& sim, const std::string& folder, TomoTables* t,
                       bool* write_failed) {
    // With a folder part the processing writes its frame dump as <folder>SegTomo00.dat (with
    // none it would append to the whole path): "./" keeps it where it is removed below.
    const std::string work = folder + "calibrate-tomo.ini", image = (folder.empty() ? "./" : folder) + "calibrate-tomo.raw";
    std::ifstream in(config, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    if (!in || !write_text(work, kMeasureOverrides + text.str())) {
        std::fprintf(stderr, "tavirex calibrate: cannot read %s or write %s\n", config.c_str(), work.c_str());
        return false;
    }
    std::vector<double> dark, flat;
    // Dark scans also show the noisy rows: their spread across the columns, per row.
    const bool ok = measure(work, sim, "dark", image, 2, &dark, write_failed) &&
                    measure(work, sim, "flat", image, 2, &flat, write_failed);
    tvx::platform::remove_file(work.c_str());
    tvx::platform::remove_file(image.c_str());
    tvx::platform::remove_file((folder + "SegTomo00.dat").c_str());
    if (!ok) return false;
    std::vector<double> spread(kRows, 0.0);
    for (int r = 0; r < kRows; ++r) {
        for (int c = 1; c < kColumns; ++c) spread[r] += std::abs(dark[r * kColumns + c] - dark[r * kColumns + c - 1]);
    }
    noisy_rows(spread, t);
    // Exposure response per pixel (flat minus dark), scaled to the sensor's mean response.
    double mean = 0;
    for (std::size_t k = 0; k < kPixels; ++k) mean += (flat[k] - dark[k]) / kPixels;
    t->gain.resize(kPixels);
    t->offset.resize(kPixels);
    for (std::size_t k = 0; k < kPixels; ++k) {
        const double response = std::max(flat[k] - dark[k], 0.05 * mean);
        t->gain[k] = static_cast<float>(mean / response);
        t->offset[k] = static_cast<float>(-dark[k] * mean / response);
    }
    return true;
}

bool tables_from_model(const std::string& sim_path, TomoTables* t) {
    const auto lib = tvx::platform::load_library(sim_path.c_str());
    auto gain = reinterpret_cast<TvxSimTomoPixelFn>(tvx::platform::find_symbol(lib, "TvxSim_TomoPixelGain"));
    auto offset = reinterpret_cast<TvxSimTomoPixelFn>(tvx::platform::find_symbol(lib, "TvxSim_TomoPixelOffset"));
    auto noisy = reinterpret_cast<TvxSimTomoNoiseRowsFn>(tvx::platform::find_symbol(lib, "TvxSim_TomoNoiseRows"));
    if (gain == nullptr || offset == nullptr || noisy == nullptr) {
        std::fprintf(stderr, "tavirex calibrate: %s is not the simulated module\n", sim_path.c_str());
        tvx::platform::unload_library(lib);
        return false;
    }
    t->gain.resize(kPixels);
    t->offset.resize(kPixels);
    for (int r = 0; r < kRows; ++r)
        for (int c = 0; c < kColumns; ++c) {
            const double g = gain(r, c);
            t->gain[r * kColumns + c] = static_cast<float>(1.0 / g);
            t->offset[r * kColumns + c] = static_cast<float>(-offset(r, c) / g);
        }
    std::int32_t rows[16], heights[16];
    const std::int32_t n = std::min(noisy(rows, heights, 16), 16);
    for (std::int32_t i = 0; i < n; ++i) t->band_row.push_back(rows[i]), t->band_height.push_back(heights[i]);
    tvx::platform::unload_library(lib);
    return true;
}

// "<sensor id><letter>" and one little-endian float per pixel.
bool write_table(const std::string& path, const std::string& id, char letter, const std::vector<float>& values) {
    std::string bytes = id + letter;
    for (const float v : values) {
        std::uint32_t u;
        std::memcpy(&u, &v, 4);
        for (int b = 0; b < 4; ++b) bytes += static_cast<char>((u >> (8 * b)) & 0xFF);
    }
    return write_text(path, bytes);
}

bool write_noise_table(const std::string& path, const TomoTables& t) {
    std::vector<std::uint16_t> words{static_cast<std::uint16_t>(t.band_row.size())};
    for (const int r : t.band_row) words.push_back(static_cast<std::uint16_t>(r));
    for (const int h : t.band_height) words.push_back(static_cast<std::uint16_t>(h));
    return write_raw_file(path, words.data(), words.size());
}

}  // namespace

int run_calibrate_tomo(const std::string& config, bool model, const std::string& sim, bool* write_failed) {
    const char* cmd = "calibrate tomo";
    std::string folder = config_string(config, "REFFILE", "FOLDER");
    const std::string id = config_string(config, "SENSOR_ID", "SENSOR_ID");
    if (id.empty() || id.size() > 10) {
        std::fprintf(stderr, "tavirex %s: [SENSOR_ID] SENSOR_ID in %s must hold 1 to 10 characters\n", cmd, config.c_str());
        return kRefused;
    }
    // The library appends a separator to a folder that has none.
    if (!folder.empty() && folder.back() != '/' && folder.back() != '\\') folder += tvx::platform::path_separator();
    const std::string base = folder + id;
    const std::vector<std::string> tables{base + "a.tbl", base + "b.tbl", base + ".dat"};
    std::vector<std::string> outputs = tables;
    if (!model) outputs.insert(outputs.end(), {folder + "calibrate-tomo.ini", folder + "calibrate-tomo.raw"});
    if (!output_files(cmd, outputs)) return kRefused;
    TomoTables t;
    if (model) {
        std::printf("tomographic tables from the sensor model of %s\n", sim.c_str());
        if (!tables_from_model(sim, &t)) return 1;
    } else if (bool scan_write_failed = false; !tables_from_scans(config, sim, folder, &t, &scan_write_failed)) {
        if (write_failed != nullptr) *write_failed = scan_write_failed;
        return 1;
    }
    // All three tables or none: a table that could not be written removes those written before it.
    std::size_t written = 0;
    while (written < tables.size() && (written == 0   ? write_table(tables[0], id, 'a', t.gain)
                                       : written == 1 ? write_table(tables[1], id, 'b', t.offset)
                                                      : write_noise_table(tables[2], t)))
        ++written;
    if (written < tables.size()) {
        const Failure f{"write tables", kOutputFailed, errno, tables[written], config, Sensor::tomo};
        remove_files({tables.begin(), tables.begin() + static_cast<std::ptrdiff_t>(written)});
        if (write_failed != nullptr) *write_failed = true;
        report_failure("calibration", f);
        std::printf("  none of the three tables was kept\n");
        return 1;
    }
    std::printf("  gain table %s, offset table %s: 2304 x 128 single-precision values\n", tables[0].c_str(),
                tables[1].c_str());
    std::printf("  noise-row table %s: %zu band(s)\n", tables[2].c_str(), t.band_row.size());
    for (std::size_t i = 0; i < t.band_row.size(); ++i)
        std::printf("    noisy rows %d..%d\n", t.band_row[i], t.band_row[i] + t.band_height[i] - 1);
    return 0;
}

int calibrate_tomo(const Args& args) {
    const char* cmd = "calibrate tomo";
    std::string config, sim;
    if (!refuse_options(args, cmd, {"profile", "passes", "interval", "lag", "dark", "flat", "shading", "lines", "lateral"},
                        "applies to pano and ceph only") ||
        !config_option(args, cmd, &config))
        return kRefused;
    if (args.has("model")) {
        sim = args.get("sim", sim_module_path());
        if (!sim_module(cmd, sim)) return kRefused;
    } else if (!sim_option(args, cmd, config, &sim)) {
        return kRefused;
    }
    return run_calibrate_tomo(config, args.has("model"), sim);
}

}  // namespace cli
