// Picture memory contents at an exposure: the scan geometry read back from
// the module's registers and CCD control RAM, the sensor model (per-row gain,
// dark signal, defective rows, chip joints, noise) and the image modes.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "module.h"
#include "phantom.h"
#include "platform/file.h"

namespace tvxsim {

namespace {

constexpr double kFullSignal = 3000.0;  // unattenuated exposure, counts at gain 1
constexpr double kFlatSignal = 2400.0;  // flat-field exposure
constexpr std::uint16_t kClockFloor = 12;
constexpr int kChipGapRows = 2;         // rows of sensor surface missing at each chip joint

struct Band {
    int row, height;
};
constexpr Band kPanoDefects[] = {{412, 2}, {1190, 1}};
constexpr Band kCephDefects[] = {{600, 1}, {1402, 3}, {2050, 2}};

bool in_defect(bool ceph, int row) {
    const Band* b = ceph ? kCephDefects : kPanoDefects;
    const int n = ceph ? 3 : 2;
    for (int i = 0; i < n; ++i)
        if (row >= b[i].row && row < b[i].row + b[i].height) return true;
    return false;
}

// Scan geometry of the armed picture.
struct Scan {
    bool ceph = false;
    int rows = kPanoRows;
    int lines = kRowSamples;  // line clock entries: picture columns of the module
    int passes = 1;
    int block = kRowSamples;  // columns per pass
    std::vector<std::uint16_t> clock;
    std::vector<int> first, end;  // exposed columns of each pass
};

Scan read_scan(const Module& m) {
    Scan s;
    s.ceph = (m.registers[(kSetlin - kRegisterFirst) / 2] & 1) == 0;
    s.rows = s.ceph ? kCephRows : kPanoRows;
    s.lines = s.ceph ? kCephWidth : kRowSamples;
    const int code = (m.registers[(kModreg - kRegisterFirst) / 2] >> 4) & 3;
    s.passes = s.ceph ? 1 : code + 1;
    static const int kBlock[4] = {TAVIREX_PANO_PASS_LINES(1), TAVIREX_PANO_PASS_LINES(2), TAVIREX_PANO_PASS_LINES(3),
                                  TAVIREX_PANO_PASS_LINES(4)};
    s.block = s.ceph ? kCephWidth : kBlock[code];
    // Entries the host did not load run at the fastest rate.
    s.clock.assign(static_cast<std::size_t>(s.lines), kClockFloor);
    const std::uint32_t loaded = m.ccd_bytes / 2 < static_cast<std::uint32_t>(s.lines) ? m.ccd_bytes / 2 : s.lines;
    for (std::uint32_t i = 0; i < loaded; ++i)
        s.clock[i] = static_cast<std::uint16_t>(m.ccd_ram[2 * i] | (m.ccd_ram[2 * i + 1] << 8));
    // The exposed part of a pass lies between the idle lines of the time lag (a run
    // of 1023-count lines and the line holding the rest) and the closing ramp
    // (rising from the fastest to the slowest picture interval after a drop).
    for (int p = 0; p < s.passes; ++p) {
        const int base = p * s.block;
        const int end = base + s.block < s.lines ? base + s.block : s.lines;
        int first = base;
        if (loaded > 0 && s.clock[first] == 1023) {
            while (first < end && s.clock[first] == 1023) ++first;
            if (first < end) ++first;
        }
        int stop = end - 1;
        while (stop > first && s.clock[stop - 1] <= s.clock[stop]) --stop;
        if (stop <= first + 1) stop = end;  // no closing ramp found: the whole block is picture
        s.first.push_back(first);
        s.end.push_back(stop);
    }
    return s;
}

// Physical position along the sensor of a module row, in rows from the top
// of the displayed image; each chip joint leaves a strip of sensor-less surface.
double sensor_position(const Scan&, int row) { return row + (row / kChipRows) * kChipGapRows; }

void fill_ramp(Module& m, const Scan& s) {
    for (int r = 0; r < s.rows; ++r) {
        std::uint16_t* out = m.picture.data() + static_cast<std::size_t>(r) * kRowSamples;
        for (int c = 0; c < kRowSamples; ++c)
            out[c] = static_cast<std::uint16_t>(((7 * r + c) & kSampleMask) | (mix(r * 4099u + c) & 0xF000));
    }
}

void fill_sensor(Module& m, const Scan& s) {
    const double span = sensor_position(s, s.rows - 1);
    // Dark charge grows with the time a line spends in the sensor: the sum of
    // the 64 clock periods before it, lines before a pass counting at the floor.
    std::vector<std::uint32_t> dark_clock(static_cast<std::size_t>(s.lines), 0);
    for (int p = 0; p < s.passes; ++p) {
        const int base = p * s.block;
        const int end = base + s.block < s.lines ? base + s.block : s.lines;
        std::uint32_t sum = 64 * kClockFloor;
        for (int c = base; c < end; ++c) {
            dark_clock[c] = sum;
            sum += s.clock[c];
            sum -= c - base >= 64 ? s.clock[c - 64] : kClockFloor;
        }
    }
    // Picture columns: exposed or not, and their phantom column.
    std::vector<signed char> exposed(static_cast<std::size_t>(s.lines), 0);
    std::vector<PanoColumn> pano;
    std::vector<float> ceph_x;
    if (s.ceph) ceph_x.assign(static_cast<std::size_t>(s.lines), 0);
    else pano.resize(static_cast<std::size_t>(s.lines));
    double widest = 1;
    for (int p = 0; p < s.passes; ++p) widest = std::max(widest, static_cast<double>(s.end[p] - s.first[p]));
    for (int p = 0; p < s.passes; ++p) {
        const int width = s.end[p] - s.first[p];
        for (int c = s.first[p]; c < s.end[p]; ++c) {
            exposed[c] = 1;
            float u = static_cast<float>((c - s.first[p] + 0.5) / width);
            if (p % 2 == 1) u = 1 - u;  // the returning pass scans the arch the other way
            if (s.ceph) {
                // Isotropic skull coordinates centered on the picture.
                const double aspect = width / (span + 1);
                const double scale = aspect < 1.5 ? 1.5 / aspect : 1.0;
                ceph_x[c] = static_cast<float>(0.75 + (u - 0.5) * aspect * scale);
            } else {
                pano[c] = pano_column(u);
            }
        }
    }
    const bool phantom = m.mode == TVXSIM_MODE_PHANTOM;
    const double signal_scale = m.mode == TVXSIM_MODE_FLAT ? kFlatSignal : kFullSignal;
    const bool dark_only = m.mode == TVXSIM_MODE_DARK;
    for (int r = 0; r < s.rows; ++r) {
        std::uint16_t* out = m.picture.data() + static_cast<std::size_t>(r) * kRowSamples;
        const double gain = row_gain(s.ceph, r);
        const double offset = 60.0 + 40.0 * hash01(static_cast<std::uint32_t>(r) * 3u + 11u);
        const double slope = 0.010 + 0.005 * hash01(static_cast<std::uint32_t>(r) * 7u + 5u);
        const double pos = sensor_position(s, r);
        const float v = static_cast<float>(pos / span);
        CephRow crow;
        if (s.ceph) {
            const double aspect = (s.end[0] - s.first[0]) / (span + 1);
            const double scale = aspect < 1.5 ? 1.5 / aspect : 1.0;
            crow = ceph_row(static_cast<float>(0.5 + (v - 0.5) * scale));
        }
        std::uint32_t rng = mix(m.seed * 0x9E3779B9u + static_cast<std::uint32_t>(r) + 1u) | 1u;
        for (int c = 0; c < s.lines; ++c) {
            double signal = 0;
            if (exposed[c] && !dark_only) {
                float mu = 0;
                if (phantom) mu = s.ceph ? ceph_attenuation(crow, ceph_x[c]) : pano_attenuation(pano[c], v);
                signal = signal_scale * gain * std::exp(-static_cast<double>(mu));
            }
            rng ^= rng << 13;
            rng ^= rng >> 17;
            rng ^= rng << 5;
            const double n1 = (rng & 0xFFFF) * (1.0 / 65536.0), n2 = (rng >> 16) * (1.0 / 65536.0);
            const double noise = (n1 + n2 - 1.0) * (6.0 + 0.02 * signal);
            double value = offset + slope * dark_clock[c] + signal + noise;
            value = value < 0 ? 0 : (value > kSampleMax ? kSampleMax : value);
            out[c] = static_cast<std::uint16_t>(static_cast<int>(value + 0.5) | (mix(r * 4099u + c) & 0xF000));
        }
        // Line positions past the cephalometric width: not connected, read full scale.
        for (int c = s.lines; c < kRowSamples; ++c) out[c] = static_cast<std::uint16_t>(kSampleMask | (mix(r * 4099u + c) & 0xF000));
    }
}

}  // namespace

double row_gain(bool ceph, int row) {
    const int rows = ceph ? kCephRows : kPanoRows;
    if (row < 0 || row >= rows) return -1;
    const int chip = row / kChipRows, in_chip = row % kChipRows;
    static const double kChipGain[2][3] = {{1.00, 0.90, 1.0}, {1.04, 0.94, 1.00}};
    const double center = (in_chip - 383.5) / 384.0;
    double g = kChipGain[ceph ? 1 : 0][chip] * (1 + 0.035 * std::sin(row * 0.071 + chip) +
                                                 0.02 * (2 * hash01(static_cast<std::uint32_t>(row) + 977u) - 1)) *
               (1 - 0.06 * center * center);
    // The rows at a joint are partly covered by the neighbouring chip's edge.
    const bool joint = (in_chip == 0 && chip > 0) || (in_chip == kChipRows - 1 && chip < rows / kChipRows - 1);
    if (joint) g *= 0.55;
    if (in_defect(ceph, row)) g *= 0.12;
    return g;
}

int defect_bands(bool ceph, int* rows, int* heights, int max) {
    const Band* b = ceph ? kCephDefects : kPanoDefects;
    const int n = ceph ? 3 : 2;
    for (int i = 0; i < n && i < max; ++i) {
        if (rows != nullptr) rows[i] = b[i].row;
        if (heights != nullptr) heights[i] = b[i].height;
    }
    return n;
}

bool load_replay(const std::string& path, std::vector<std::uint16_t>* out, int* rows) {
    const tvx::platform::File f = tvx::platform::File::open(path.c_str(), "rb");
    if (!f) return false;
    std::vector<std::uint8_t> bytes;
    std::uint8_t chunk[65536];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f.get())) > 0) {
        bytes.insert(bytes.end(), chunk, chunk + n);
        if (bytes.size() > static_cast<std::size_t>(kCephRows) * kRowBytes) break;
    }
    int width;
    if (bytes.size() == static_cast<std::size_t>(kPanoRows) * kRowBytes) {
        width = kRowSamples;
        *rows = kPanoRows;
    } else if (bytes.size() == static_cast<std::size_t>(kCephRows) * kRowBytes) {
        width = kRowSamples;
        *rows = kCephRows;
    } else if (bytes.size() == static_cast<std::size_t>(kCephRows) * kCephWidth * 2) {
        width = kCephWidth;
        *rows = kCephRows;
    } else {
        return false;
    }
    out->assign(static_cast<std::size_t>(*rows) * kRowSamples, 0);
    for (int r = 0; r < *rows; ++r)
        for (int c = 0; c < width; ++c) {
            const std::size_t i = (static_cast<std::size_t>(r) * width + c) * 2;
            (*out)[static_cast<std::size_t>(r) * kRowSamples + c] = static_cast<std::uint16_t>(bytes[i] | (bytes[i + 1] << 8));
        }
    return true;
}

void render_exposure(Module& m) {
    const auto t0 = std::chrono::steady_clock::now();
    ++m.stats.exposures;
    m.picture_generation = ++m.generation;
    const Scan s = read_scan(m);
    if (m.mode == TVXSIM_MODE_REPLAY) {
        int rows = 0;
        if (!load_replay(m.replay_path, &m.picture, &rows)) {
            // A replay file that went away leaves an empty memory rather than stale data.
            m.picture.assign(static_cast<std::size_t>(s.rows) * kRowSamples, 0);
            rows = s.rows;
        }
        m.picture_rows = rows;
    } else {
        m.picture.assign(static_cast<std::size_t>(s.rows) * kRowSamples, 0);
        m.picture_rows = s.rows;
        if (m.mode == TVXSIM_MODE_RAMP) fill_ramp(m, s);
        else fill_sensor(m, s);
    }
    m.stats.last_render_us = static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0).count());
}

}  // namespace tvxsim
