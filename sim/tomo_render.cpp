// Tomographic pictures: a section of both jaws across a molar as the strip
// sensor sees it, and the sensor model the pipeline's corrections undo.
//
// A frame is 8 exposure strips of 128 sensor columns side by side; strip t
// sees the scene from column t x (128 - overlap), so neighbouring strips share
// `overlap` columns. Strip t lies `up_down` x t rows lower than strip 0. Frame
// k is imaged at 1 / (1.014, 1.0, 0.985)[k] of the size, which the pipeline's
// per-frame magnification restores. The sensor's first row sees the top of
// the section and its first column the right side: the pipeline turns the
// image by half a turn, and a bitmap shows the last raw row at the top.
//
// A sample is: the readout's dark level (shared by a picture and the one
// after it, so an exposure and its dark picture, and the calibration pair,
// agree) + the pixel's dark offset + the chip's dark current x TIMER + noise;
// an X-ray picture adds gain x signal x TIMER / 100 and the exposure readout's
// offset. Junk fills bits 13..15.
#include <algorithm>
#include <cmath>
#include <vector>

#include "module.h"

namespace tvxsim {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kFullSignal = 6000.0;  // unattenuated exposure at TIMER 100, counts at gain 1
constexpr double kFlatSignal = 4800.0;  // flat-field exposure
constexpr double kDarkRate[3] = {0.10, 0.14, 0.12};  // dark current of each chip, counts per TIMER unit
// Sensor surface missing between the chips: chip 1 is read 2 rows early and
// chip 3 3 rows late, so that closing the gaps by 2 and 3 rows restores the geometry.
constexpr int kGapRows0 = 2, kGapRows1 = 3;
constexpr int kJointRows[4] = {kChipRows - 1, kChipRows, 2 * kChipRows - 1, 2 * kChipRows};

struct Band {
    int row, height;
};
// Noisy rows, in dark pictures too; off the rows the dark-offset fit samples (every fifth row of a chip from its second).
constexpr Band kNoisyRows[] = {{413, 1}, {1201, 2}, {1878, 1}};

// Scene scale: a row is 0.03 mm; a column half that, so that summing pairs of
// columns (the pipeline's default binning) gives square pixels.
constexpr double kRowPitch = 0.030;
constexpr double kColumnPitch = 0.015;
constexpr double kMagnification[3] = {1.014, 1.0, 0.985};

// ---- sensor model ----------------------------------------------------------

// Per-pixel tables in memory order (sensor column j, then row i).
struct SensorModel {
    std::vector<float> gain, offset, dark;
    float noise[kTomoRows] = {};  // extra noise amplitude of the noisy rows
};

const SensorModel& sensor() {
    static const SensorModel model = [] {
        SensorModel s;
        s.gain.resize(kTomoSamples);
        s.offset.resize(kTomoSamples);
        s.dark.resize(kTomoSamples);
        static const double kChipGain[3] = {1.00, 0.93, 1.06};
        for (int j = 0; j < kTomoColumns; ++j) {
            const double column = (1 + 0.03 * std::sin(j * 0.9 + 1.3) + 0.015 * (2 * hash01(j * 31u + 7u) - 1)) *
                                  ((j & 1) ? 0.99 : 1.01);
            for (int i = 0; i < kTomoRows; ++i) {
                const std::size_t k = static_cast<std::size_t>(j) * kTomoRows + i;
                const auto cell = static_cast<std::uint32_t>(k);
                const int chip = i / kChipRows;
                const double center = (i % kChipRows - 383.5) / 384.0;
                double g = kChipGain[chip] * column * (1 + 0.02 * std::sin(i * 0.013 + chip)) *
                           (1 - 0.05 * center * center) * (1 + 0.015 * (2 * hash01(cell * 3u + 1u) - 1));
                for (int joint : kJointRows)
                    if (i == joint) g *= 0.55;  // partly covered by the neighbouring chip's edge
                s.gain[k] = static_cast<float>(g);
                s.offset[k] = static_cast<float>(6 + 8 * hash01(cell * 3u + 2u) + ((j & 1) ? 4 : 0));
                s.dark[k] = static_cast<float>(60 + 120 * hash01(cell * 3u + 3u));
            }
        }
        for (const Band& b : kNoisyRows)
            for (int i = b.row; i < b.row + b.height; ++i) s.noise[i] = 700;
        return s;
    }();
    return model;
}

// Position on the sensor surface, in rows, of sensor row i.
int surface_row(int i) { return i < kChipRows ? i - kGapRows0 : (i < 2 * kChipRows ? i : i + kGapRows1); }

// ---- phantom ---------------------------------------------------------------
// Millimetres: X across the section (buccal side positive), Y upwards from
// the occlusal plane. Attenuation is painted material over material.

constexpr float kAir = 0.06f, kSoft = 0.35f, kCortical = 1.30f, kEnamel = 2.40f, kDentin = 1.55f, kPulp = 0.40f;
constexpr double kEdge = 0.02;  // soft edge of every boundary
constexpr double kFar = 100.0;  // beyond the section on either side

// Value noise of the trabecular bone: two periodic lattices of random values.
struct Texture {
    static constexpr int kSize = 128;
    float coarse[kSize * kSize], fine[kSize * kSize];
};

const Texture& texture() {
    static const Texture t = [] {
        Texture x;
        for (std::uint32_t k = 0; k < Texture::kSize * Texture::kSize; ++k) {
            x.coarse[k] = static_cast<float>(hash01(k * 2u + 101u));
            x.fine[k] = static_cast<float>(hash01(k * 2u + 102u));
        }
        return x;
    }();
    return t;
}

// Trabecular bone: struts along the level lines of two octaves of value
// noise (a network), marrow spaces between them.
struct Trabecular {
    const float* lattice[2];
    double cell[2] = {0.7, 0.28};
    int row[2][2];
    float fy[2];
    double shift = 0;  // the sections of a series cut different bone
    void at_row(double y) {
        const Texture& t = texture();
        lattice[0] = t.coarse;
        lattice[1] = t.fine;
        for (int o = 0; o < 2; ++o) {
            const double c = y / cell[o] + 4096.0;
            const int r = static_cast<int>(c);
            fy[o] = static_cast<float>(c - r);
            row[o][0] = (r & (Texture::kSize - 1)) * Texture::kSize;
            row[o][1] = ((r + 1) & (Texture::kSize - 1)) * Texture::kSize;
        }
    }
    float operator()(double x) const {
        float n = 0;
        for (int o = 0; o < 2; ++o) {
            const double c = (x + shift) / cell[o] + 4096.0;
            const int k = static_cast<int>(c);
            const float fx = static_cast<float>(c - k);
            const int k0 = k & (Texture::kSize - 1), k1 = (k + 1) & (Texture::kSize - 1);
            const float* l = lattice[o];
            const float top = l[row[o][0] + k0] + fx * (l[row[o][0] + k1] - l[row[o][0] + k0]);
            const float bottom = l[row[o][1] + k0] + fx * (l[row[o][1] + k1] - l[row[o][1] + k0]);
            n += (o == 0 ? 0.6f : 0.4f) * (1 - 2 * std::fabs(top + fy[o] * (bottom - top) - 0.5f));
        }
        const float s = std::clamp((n - 0.5f) * 3.0f, 0.0f, 1.0f);
        return 0.42f + 0.70f * s;
    }
};

// One row of the strip: attenuation per column; column j lies at X = x0 + j dx.
struct Row {
    float mu[kTomoColumns];
    double x0, dx;

    void fill(float m) { std::fill(mu, mu + kTomoColumns, m); }

    template <typename Material>
    void paint_with(double lo, double hi, Material material) {
        if (!(hi > lo)) return;
        // dx < 0: the columns run from the buccal to the lingual side.
        const double a = (hi + kEdge / 2 - x0) / dx, b = (lo - kEdge / 2 - x0) / dx;
        const int first = static_cast<int>(std::ceil(std::max(a, -1.0)));
        const int last = static_cast<int>(std::floor(std::min(b, static_cast<double>(kTomoColumns))));
        for (int j = std::max(first, 0); j <= std::min(last, kTomoColumns - 1); ++j) {
            const double x = x0 + j * dx;
            const double w = std::clamp((x - lo) / kEdge + 0.5, 0.0, 1.0) * std::clamp((hi - x) / kEdge + 0.5, 0.0, 1.0);
            mu[j] += static_cast<float>(w) * (material(x) - mu[j]);
        }
    }
    void paint(double lo, double hi, float m) {
        paint_with(lo, hi, [m](double) { return m; });
    }
    // The chord of an ellipse at height dy from its center.
    void paint_ellipse(double cx, double rx, double ry, double dy, float m) {
        if (std::fabs(dy) >= ry) return;
        const double h = rx * std::sqrt(1 - (dy / ry) * (dy / ry));
        paint(cx - h, cx + h, m);
    }
};

// What differs between the sections of a series: the frame index varies the anatomy slightly.
struct Section {
    double v, lower_root, lower_tilt, border, canal_x, canal_y, upper_root, sinus_x, sinus_y, tex_x, tex_y;
};

Section section(int frame) {
    Section s;
    s.v = std::sin(1.9 * frame + 0.4);
    s.lower_root = 12.5 * (1 + 0.06 * s.v);
    s.lower_tilt = 0.03 + 0.01 * s.v;
    s.border = -33.0 + 0.8 * s.v;
    s.canal_x = 1.2 + 0.4 * s.v;
    s.canal_y = -23.5 + 0.5 * s.v;
    s.upper_root = 10.5 * (1 - 0.05 * s.v);
    s.sinus_x = 0.8 - 0.5 * s.v;
    s.sinus_y = 29.5 + 0.6 * s.v;
    s.tex_x = 11.3 * frame;
    s.tex_y = 7.7 * frame;
    return s;
}

// Occlusal fossa between the cusp tips at +-w/2: half-width of the gap at depth dd below the tips.
double fossa(double dd, double w) {
    if (dd <= 0) return kFar;
    if (dd >= 0.9) return 0;
    return w / 2 * std::acos(2 * dd / 0.9 - 1) / kPi;
}

// Crown of height h and largest half-width w at depth d below its cusp tips,
// centered on c: enamel cap, dentin core, pulp chamber.
void crown(Row& r, double d, double c, double w, double h) {
    if (d < 0 || d > h) return;
    const double hw = std::min(w / 2 * (1 + std::sqrt(std::min(1.0, d / 1.3))),
                               w + 0.3 * std::sin(kPi * d / h) - 0.9 * (d / h) * (d / h));
    const double notch = std::min(fossa(d, w), hw);
    r.paint(c - hw, c - notch, kEnamel);
    r.paint(c + notch, c + hw, kEnamel);
    const double hd = hw - (1.2 * (1 - d / h) + 0.08), nd = std::min(fossa(d - 1.5, w), hd);
    r.paint(c - hd, c - nd, kDentin);
    r.paint(c + nd, c + hd, kDentin);
    if (d > 3.4) {
        const double hp = 1.6 * std::sqrt(std::min(1.0, (d - 3.4) / 0.7));
        r.paint(c - hp, c + hp, kPulp);
    }
}

double root_half(double t, double w) { return t > 1 ? 0 : w * (1 - 0.55 * t) * std::sqrt(1 - t * t * t * t); }

// A root from depth 0 to `length` below the cervical line (or below the fork
// of the roots); with `socket` the periodontal space and lamina dura around
// it, which only bone has. Below the cervical line the pulp chamber narrows
// into the canal over the first millimetre.
void root(Row& r, double d, double c, double w, double length, bool socket, bool chamber) {
    if (d < 0) return;
    const double t = d / length;
    if (socket) {
        for (const auto& [gap, m] : {std::pair{0.45, kCortical}, std::pair{0.2, kSoft}}) {
            double hw = t <= 1 ? root_half(t, w) + gap : 0;
            if (d > length && d < length + gap) hw = std::sqrt(gap * gap - (d - length) * (d - length));
            r.paint(c - hw, c + hw, m);
        }
    }
    if (t > 1) return;
    const double hw = root_half(t, w);
    r.paint(c - hw, c + hw, kDentin);
    const double hc = std::min(chamber && d < 1 ? 1.6 + d * (0.35 - 1.6) : 0.35 * (1 - 0.7 * t), hw - 0.3);
    r.paint(c - hc, c + hc, kPulp);
}

void lower_jaw(Row& r, const Section& s, double y, const Trabecular& tex) {
    constexpr double kTop = -0.8, kCrown = 7.2, kCrest = -9.6;
    const double d = kTop - y;  // depth below the cusp tips
    const double c = 0.3 - s.lower_tilt * d;
    if (y < kCrest && y > s.border) {
        // Mandible: rounded alveolar crest, widening body, thick lower border; leaning lingually.
        const double h = kCrest - y, e = y - s.border, span = kCrest - s.border;
        const double cx = -0.6 * h / span;
        double w = (4.9 + 1.1 * std::min(1.0, h / 10.0)) * std::sqrt(std::min(1.0, h / 0.8));
        if (e < 7) w *= std::sqrt(1 - (1 - e / 7) * (1 - e / 7));
        r.paint(cx - w, cx + w, kCortical);
        const double ei = e - 2.6;
        double wi = h > 0.5 && ei > 0 ? w - (0.7 + 0.8 * h / span) : 0;
        if (ei > 0 && ei < 7) wi *= std::sqrt(1 - (1 - ei / 7) * (1 - ei / 7));
        r.paint_with(cx - wi, cx + wi, tex);
        // Mandibular canal with its cortical wall.
        r.paint_ellipse(cx + s.canal_x, 1.75, 1.75, y - s.canal_y, kCortical);
        r.paint_ellipse(cx + s.canal_x, 1.4, 1.4, y - s.canal_y, kSoft);
    }
    root(r, d - kCrown, c, 3.7, s.lower_root, y < kCrest, true);
    crown(r, d, c, 4.6, kCrown);
}

void upper_jaw(Row& r, const Section& s, double y, const Trabecular& tex) {
    constexpr double kTop = 0.8, kCrown = 6.8, kCrest = 9.1, kTrunk = 2.7;
    const double d = y - kTop;  // height above the cusp tips
    const double c = 0.2 + 0.02 * d;
    // Palatal shelf lingually: the oral air below it, the nasal floor above.
    const double palate = -4.9 + (9.5 - y) / 0.9;
    r.paint(palate, std::min(-4.9, palate + 2.6 / 0.9), kCortical);
    if (y > 12.1) r.paint(-kFar, std::min(-4.9, palate + 2.6 / 0.9), kAir);
    if (y > kCrest) {
        const double h = y - kCrest;
        const double w = (5.3 + 1.5 * std::min(1.0, h / 8.0)) * std::sqrt(std::min(1.0, h / 0.8));
        const double lingual = std::max(-w, -4.9 - std::max(0.0, y - 12.1) * 0.15);
        r.paint(lingual, w, kCortical);
        if (h > 0.5) r.paint_with(lingual + 0.6, w - 0.7, tex);
        // Maxillary sinus: cortical floor and walls, air inside.
        r.paint_ellipse(s.sinus_x, 4.9, 5.9, y - s.sinus_y, kCortical);
        r.paint_ellipse(s.sinus_x, 4.5, 5.5, y - s.sinus_y, kAir);
    }
    // Roots: one trunk, then a buccal and a palatal root.
    const double dr = d - kCrown;
    const bool bone = y > kCrest;
    if (dr < kTrunk) {
        root(r, dr, c, 3.9, kTrunk + s.upper_root, bone, true);
    } else {
        const double t = (dr - kTrunk) / s.upper_root, sep = 1.0 + 1.6 * t;
        root(r, dr - kTrunk, c + sep, 1.5, 0.85 * s.upper_root, bone, false);
        root(r, dr - kTrunk, c - sep, 1.6, s.upper_root, bone, false);
    }
    crown(r, d, c, 5.0, kCrown);
}

// Attenuation of one row of a strip.
void phantom_row(Row& r, const Section& s, double y) {
    r.fill(kSoft);
    // Air: between the teeth, in the buccal vestibule, and lingually between tongue and palate.
    if (std::fabs(y) < 0.8) r.paint(-5.0, 5.0, kAir);
    if (std::fabs(y) < 7) r.paint(5.3, 5.8, kAir);
    if (y > -2.5 && y < 12.1) r.paint(-kFar, std::min({-4.9, -4.9 + (y + 2.0) / 0.15, -4.9 + (9.5 - y) / 0.9}), kAir);
    Trabecular tex;
    tex.shift = s.tex_x;
    tex.at_row(y + s.tex_y);
    if (y < 0) lower_jaw(r, s, y, tex);
    else upper_jaw(r, s, y, tex);
}

// exp(-mu) over 0..16 in steps of 1/256, interpolated.
struct Transmission {
    static constexpr int kSteps = 256, kSize = 16 * kSteps + 2;
    float table[kSize];
    Transmission() {
        for (int k = 0; k < kSize; ++k) table[k] = static_cast<float>(std::exp(-static_cast<double>(k) / kSteps));
    }
    float operator()(float mu) const {
        const float p = std::clamp(mu, 0.0f, 16.0f) * kSteps;
        const int k = static_cast<int>(p);
        return table[k] + (p - static_cast<float>(k)) * (table[k + 1] - table[k]);
    }
};

// Exposure signal of strip `shot.strip`, in memory order.
void scene_signal(const TomoShot& shot, double full, float* out) {
    static const Transmission transmission;
    const double f = shot.frame < 3 ? kMagnification[shot.frame] : 1.0;
    const Section s = section(shot.frame);
    const int step = kTomoColumns - shot.overlap;
    const int width = (kTomoStrips - 1) * step + kTomoColumns;
    Row r;
    r.dx = -kColumnPitch * f;
    r.x0 = ((width - 1) / 2.0 - shot.strip * step) * kColumnPitch * f;
    for (int i = 0; i < kTomoRows; ++i) {
        const int position = surface_row(i) - shot.strip * shot.up_down;
        // The sensor's first row sees the top of the section: the pipeline's half turn
        // puts it last, and a bitmap shows the last raw row at the top.
        phantom_row(r, s, (1151.5 - position) * kRowPitch * f);
        for (int j = 0; j < kTomoColumns; ++j)
            out[static_cast<std::size_t>(j) * kTomoRows + i] = static_cast<float>(full) * transmission(r.mu[j]);
    }
}

}  // namespace

double tomo_pixel_gain(int row, int column) {
    if (row < 0 || row >= kTomoRows || column < 0 || column >= kTomoColumns) return -1;
    return sensor().gain[static_cast<std::size_t>(column) * kTomoRows + row];
}

double tomo_pixel_offset(int row, int column) {
    if (row < 0 || row >= kTomoRows || column < 0 || column >= kTomoColumns) return 0;
    return sensor().offset[static_cast<std::size_t>(column) * kTomoRows + row];
}

int tomo_noise_rows(int* rows, int* heights, int max) {
    const int n = static_cast<int>(sizeof kNoisyRows / sizeof kNoisyRows[0]);
    for (int i = 0; i < n && i < max; ++i) {
        if (rows != nullptr) rows[i] = kNoisyRows[i].row;
        if (heights != nullptr) heights[i] = kNoisyRows[i].height;
    }
    return n;
}

void replay_tomo(const std::uint16_t* frame, std::size_t block, std::uint16_t* out) {
    for (int j = 0; j < kTomoColumns; ++j)
        for (int i = 0; i < kTomoRows; ++i)
            out[static_cast<std::size_t>(j) * kTomoRows + i] =
                frame[static_cast<std::size_t>(i) * kTomoFrameBlocks * kTomoColumns + block * kTomoColumns + j];
}

void render_tomo(const TomoShot& shot, std::uint16_t* out) {
    std::uint32_t rng = mix(shot.seed * 0x9E3779B9u + shot.number * 0x85EBCA6Bu + 0x51u) | 1u;
    auto next = [&rng] {
        rng ^= rng << 13;
        rng ^= rng >> 17;
        rng ^= rng << 5;
        return rng;
    };
    if (shot.pattern || shot.mode == TVXSIM_MODE_RAMP) {
        // The module's test pattern, rising along the library's rows and columns.
        for (int j = 0; j < kTomoColumns; ++j)
            for (int i = 0; i < kTomoRows; ++i)
                out[static_cast<std::size_t>(j) * kTomoRows + i] = static_cast<std::uint16_t>(
                    ((7 * i + j + 16 * static_cast<int>(shot.number)) & kTomoSampleMask) | ((next() >> 29) << 13));
        return;
    }
    const SensorModel& model = sensor();
    const double scale = shot.timer / 100.0;
    const bool lit = shot.xray && shot.mode != TVXSIM_MODE_DARK;
    std::vector<float> signal;
    if (lit) {
        signal.assign(kTomoSamples, static_cast<float>(kFlatSignal * scale));
        if (shot.mode != TVXSIM_MODE_FLAT) scene_signal(shot, kFullSignal * scale, signal.data());
    }
    // Dark level of the readout, shared by the pair of pictures (exposure and dark) it belongs to.
    const double level = 110 + 60 * hash01(shot.seed * 0x9E3779B9u ^ (shot.number / 2 * 0x85EBCA6Bu + 0x2Fu));
    double row_dark[kTomoRows];
    for (int i = 0; i < kTomoRows; ++i) row_dark[i] = level + kDarkRate[i / kChipRows] * shot.timer;
    const float exposure_offset = shot.xray ? 1.0f : 0.0f;
    for (int j = 0; j < kTomoColumns; ++j) {
        const std::size_t base = static_cast<std::size_t>(j) * kTomoRows;
        for (int i = 0; i < kTomoRows; ++i) {
            const std::size_t k = base + i;
            const double s = lit ? model.gain[k] * signal[k] : 0.0;
            const std::uint32_t n = next();
            // Two uniform values (bits 0..15 and 16..28): triangular noise; bits 29..31 are the junk.
            const double noise = ((n & 0xFFFF) + ((n >> 16) & 0x1FFF) * 8.0) * (1.0 / 65536.0) - 1.0;
            double value = row_dark[i] + model.dark[k] + exposure_offset * model.offset[k] + s +
                           noise * (5.0 + 0.012 * s + model.noise[i]);
            value = value < 0 ? 0 : (value > kTomoSampleMax ? kTomoSampleMax : value);
            out[k] = static_cast<std::uint16_t>(static_cast<int>(value + 0.5) | ((n >> 29) << 13));
        }
    }
}

}  // namespace tvxsim
