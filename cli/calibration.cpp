#include "calibration.h"

#include <algorithm>
#include <cstdio>

#include "common.h"
#include "platform/system.h"
#include "tavirex_link.h"

namespace cli {

namespace {

constexpr int kTable = TAVIREX_SAMPLE_MAX + 1;  // one entry per sample value

// Sensor model entries of the simulated module (declared in sim/tvxsim_control.h).
using RowGainFn = double (*)(std::int32_t ceph, std::int32_t row);
using DefectBandsFn = std::int32_t (*)(std::int32_t ceph, std::int32_t* rows, std::int32_t* heights, std::int32_t max);

// Row r's table scales values by target / level; a row without usable level keeps its values.
void fill_row(std::uint16_t* table, double level, double target, bool keep) {
    for (int v = 0; v < kTable; ++v) {
        double out = keep || level <= 0 ? v : v * target / level + 0.5;
        if (out > static_cast<double>(TAVIREX_SAMPLE_MAX)) out = TAVIREX_SAMPLE_MAX;
        table[v] = static_cast<std::uint16_t>(out);
    }
}

double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void bands_from_rows(const std::vector<bool>& defective, Calibration* out) {
    const int rows = static_cast<int>(defective.size());
    for (int r = 0; r < rows;) {
        if (!defective[r]) {
            ++r;
            continue;
        }
        int h = 0;
        while (r + h < rows && defective[r + h]) ++h;
        out->band_row.push_back(r);
        out->band_height.push_back(h);
        r += h;
    }
}

// Shading tables scaling every row's level to the median level, and the line
// table of the defective rows (whose shading tables keep their values).
void fill_calibration(const std::vector<double>& level, const std::vector<bool>& defective, Calibration* out) {
    const int rows = static_cast<int>(level.size());
    out->rows = rows;
    out->target = median(level);
    out->shading.assign(static_cast<std::size_t>(rows) * kTable, 0);
    for (int r = 0; r < rows; ++r)
        fill_row(out->shading.data() + static_cast<std::size_t>(r) * kTable, level[r], out->target, defective[r]);
    out->band_row.clear();
    out->band_height.clear();
    bands_from_rows(defective, out);
}

}  // namespace

bool calibration_from_readouts(const std::vector<std::uint16_t>& dark, const std::vector<std::uint16_t>& flat, int width,
                               int rows, Calibration* out) {
    const std::size_t n = static_cast<std::size_t>(width) * rows;
    if (width <= 0 || rows <= 0 || dark.size() < n || flat.size() < n) {
        std::fprintf(stderr, "calibration: readouts of the wrong size\n");
        return false;
    }
    // Exposed columns: where the flat field stands clearly above the dark picture.
    std::vector<double> column(static_cast<std::size_t>(width), 0);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < width; ++c) {
            const std::size_t i = static_cast<std::size_t>(r) * width + c;
            column[c] += static_cast<double>(flat[i] & TAVIREX_SAMPLE_MASK) - (dark[i] & TAVIREX_SAMPLE_MASK);
        }
    const double peak = *std::max_element(column.begin(), column.end());
    std::vector<int> exposed;
    for (int c = 0; c < width; ++c)
        if (peak > 0 && column[c] > 0.5 * peak) exposed.push_back(c);
    if (exposed.size() < 16) {
        std::fprintf(stderr, "calibration: the flat field shows no exposed columns\n");
        return false;
    }
    std::vector<double> level(static_cast<std::size_t>(rows), 0);
    for (int r = 0; r < rows; ++r) {
        double sum = 0;
        for (int c : exposed) {
            const std::size_t i = static_cast<std::size_t>(r) * width + c;
            sum += static_cast<double>(flat[i] & TAVIREX_SAMPLE_MASK) - (dark[i] & TAVIREX_SAMPLE_MASK);
        }
        level[r] = sum / static_cast<double>(exposed.size());
    }
    // A row far below the others has lost its sensitivity: the line table repairs it.
    const double target = median(level);
    std::vector<bool> defective(static_cast<std::size_t>(rows), false);
    for (int r = 0; r < rows; ++r) defective[r] = level[r] < 0.4 * target;
    fill_calibration(level, defective, out);
    return true;
}

bool calibration_from_model(const std::string& sim_path, bool ceph, Calibration* out) {
    tvx::platform::LibraryHandle sim = tvx::platform::load_library(sim_path.c_str());
    if (sim == nullptr) {
        std::fprintf(stderr, "calibration: cannot load the simulated module %s\n", sim_path.c_str());
        return false;
    }
    auto gain = reinterpret_cast<RowGainFn>(tvx::platform::find_symbol(sim, "TvxSim_RowGain"));
    auto defects = reinterpret_cast<DefectBandsFn>(tvx::platform::find_symbol(sim, "TvxSim_DefectBands"));
    if (gain == nullptr || defects == nullptr) {
        std::fprintf(stderr, "calibration: %s has no sensor model\n", sim_path.c_str());
        tvx::platform::unload_library(sim);
        return false;
    }
    const int rows = ceph ? TAVIREX_CEPH_ROWS : TAVIREX_PANO_ROWS;
    std::vector<double> level(static_cast<std::size_t>(rows));
    for (int r = 0; r < rows; ++r) level[r] = gain(ceph ? 1 : 0, r);
    std::vector<bool> defective(static_cast<std::size_t>(rows), false);
    std::int32_t band_rows[64], band_heights[64];
    const int32_t count = std::min<std::int32_t>(defects(ceph ? 1 : 0, band_rows, band_heights, 64), 64);
    tvx::platform::unload_library(sim);
    for (int i = 0; i < count; ++i)
        for (int r = band_rows[i]; r < band_rows[i] + band_heights[i] && r < rows; ++r)
            if (r >= 0) defective[r] = true;
    fill_calibration(level, defective, out);
    return true;
}

bool write_shading_file(const std::string& path, const Calibration& c) {
    if (c.rows <= 0 || c.shading.size() != static_cast<std::size_t>(c.rows) * kTable) return false;
    return write_raw_file(path, c.shading.data(), c.shading.size());
}

bool write_line_table(const std::string& path, const Calibration& c, bool ceph) {
    // The correction needs a good row on both sides of a band.
    std::vector<std::uint16_t> pos, height, words;
    for (std::size_t i = 0; i < c.band_row.size(); ++i) {
        const int p = c.band_row[i], h = c.band_height[i];
        if (p < 1 || p + h > c.rows - 1) {
            std::fprintf(stderr, "calibration: band at row %d (height %d) touches the image edge, not listed\n", p, h);
            continue;
        }
        pos.push_back(static_cast<std::uint16_t>(ceph ? p : p + c.rows / 2));
        height.push_back(static_cast<std::uint16_t>(h));
    }
    words.push_back(static_cast<std::uint16_t>(pos.size()));
    words.insert(words.end(), pos.begin(), pos.end());
    words.insert(words.end(), height.begin(), height.end());
    return write_raw_file(path, words.data(), words.size());
}

}  // namespace cli
