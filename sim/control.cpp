// Test and tool controls of the simulated module, and its settings file.
//
// Settings file (named by the environment variable TVXSIM_FAULTS, applied
// each time the link opens, or loaded with TvxSim_LoadSettings). Lines are
// "key = value"; ';' or '#' start a comment; "[section]" lines are allowed
// and ignored. Keys:
//   mode = phantom | flat | dark | ramp | replay
//   replay = PATH              recorded readout for mode replay
//   exposure_reads = N         status reads from arming to the exposure (< 0: never)
//   busy_reads = N             status reads the converter stays busy per word
//   seed = N                   noise seed
//   fail_call = N, CODE        the N-th link call (EtherInit counting as 1) returns CODE
//   dead = N, CODE             from the N-th link call on (EtherInit counting as 1) every call returns CODE
//   short_read = N [, BYTES]   the N-th read returns BYTES (default one less than asked)
//   converter_busy = 0|1       the converter never becomes idle
//   never_ready = 0|1          the status never shows the ready value
//   ccd_corrupt = N            the next N CCD control read-backs are corrupted (0: all)
//   tomo_overlap = N           sensor columns neighbouring tomographic strips share (0..127)
//   tomo_up_down = N           rows each tomographic strip lies lower than the one before (-64..64)
//   ectime_drift = N           tomographic exposure strip t reports ECTIME = TIMER + N t
//   dark_mismatch = N          tomographic dark pictures report ECTIME = TIMER + N
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "module.h"
#include "platform/file.h"

namespace tvxsim {

namespace {

std::string trim(const std::string& s) {
    std::size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return s.substr(b, e - b);
}

// Parses "N" or "N, M"; false when the text is not that.
bool parse_numbers(const std::string& text, long* first, long* second, bool* has_second) {
    const char* p = text.c_str();
    char* end;
    *first = std::strtol(p, &end, 0);
    if (end == p) return false;
    p = end;
    while (std::isspace(static_cast<unsigned char>(*p))) ++p;
    *has_second = false;
    if (*p == ',') {
        ++p;
        *second = std::strtol(p, &end, 0);
        if (end == p) return false;
        *has_second = true;
        p = end;
        while (std::isspace(static_cast<unsigned char>(*p))) ++p;
    }
    return *p == '\0';
}

int mode_by_name(const std::string& name) {
    static const char* const kNames[] = {"phantom", "flat", "dark", "ramp", "replay"};
    for (int i = 0; i < 5; ++i)
        if (name == kNames[i]) return i;
    return -1;
}

bool apply_setting(const std::string& key, const std::string& value) {
    Module& m = module();
    if (key == "mode") {
        const int mode = mode_by_name(value);
        if (mode < 0) return false;
        m.mode = mode;
        return true;
    }
    if (key == "replay") {
        m.replay_path = value;
        return true;
    }
    long a = 0, b = 0;
    bool two = false;
    if (!parse_numbers(value, &a, &b, &two)) return false;
    if (key == "exposure_reads" && !two) m.exposure_reads = static_cast<std::int32_t>(a);
    else if (key == "busy_reads" && !two && a >= 0) m.busy_reads = static_cast<std::int32_t>(a);
    else if (key == "seed" && !two) m.seed = static_cast<std::uint32_t>(a);
    else if (key == "fail_call" && two && a >= 1) TvxSim_SetFault(TVXSIM_FAULT_FAIL_CALL, static_cast<std::int32_t>(a), static_cast<std::int32_t>(b));
    else if (key == "dead" && two && a >= 1) TvxSim_SetFault(TVXSIM_FAULT_DEAD, static_cast<std::int32_t>(a), static_cast<std::int32_t>(b));
    else if (key == "short_read" && a >= 1) TvxSim_SetFault(TVXSIM_FAULT_SHORT_READ, static_cast<std::int32_t>(a), two ? static_cast<std::int32_t>(b) : -1);
    else if (key == "converter_busy" && !two) m.faults.converter_busy = a != 0;
    else if (key == "never_ready" && !two) m.faults.never_ready = a != 0;
    else if (key == "ccd_corrupt" && !two) m.faults.ccd_corrupt = a < 0 ? -1 : static_cast<std::int32_t>(a);
    else if (key == "tomo_overlap" && !two) return TvxSim_SetTomoGeometry(static_cast<std::int32_t>(a), m.tomo_up_down) == 0;
    else if (key == "tomo_up_down" && !two) return TvxSim_SetTomoGeometry(m.tomo_overlap, static_cast<std::int32_t>(a)) == 0;
    else if (key == "ectime_drift" && !two) m.faults.ectime_drift = static_cast<std::int32_t>(a);
    else if (key == "dark_mismatch" && !two) m.faults.dark_mismatch = static_cast<std::int32_t>(a);
    else return false;
    return true;
}

}  // namespace

void apply_environment_settings() {
    const char* path = std::getenv("TVXSIM_FAULTS");
    if (path == nullptr || *path == '\0') return;
    const std::int32_t rc = TvxSim_LoadSettings(path);
    if (rc != 0) std::fprintf(stderr, "tvxsim: settings file %s: %s %ld\n", path, rc == -1 ? "cannot be read" : "bad line", static_cast<long>(-rc));
}

}  // namespace tvxsim

using tvxsim::module;

extern "C" {

TVXSIM_EXPORT void TvxSim_Reset(void) { module() = tvxsim::Module(); }

TVXSIM_EXPORT int32_t TvxSim_SetFault(int32_t kind, int32_t n, int32_t code) {
    tvxsim::Module& m = module();
    switch (kind) {
        case TVXSIM_FAULT_FAIL_CALL:
            m.faults.fail_call_at = n > 0 ? n : 0;
            m.faults.fail_call_code = code;
            m.calls_since_fault_set = 0;
            return 0;
        case TVXSIM_FAULT_DEAD:
            m.faults.dead_from = n > 0 ? n : 0;
            m.faults.dead_code = code;
            m.calls_since_fault_set = 0;
            return 0;
        case TVXSIM_FAULT_SHORT_READ:
            m.faults.short_read_at = n > 0 ? n : 0;
            m.faults.short_read_count = code;
            m.reads_since_fault_set = 0;
            return 0;
        case TVXSIM_FAULT_CONVERTER_BUSY:
            m.faults.converter_busy = n != 0;
            return 0;
        case TVXSIM_FAULT_NEVER_READY:
            m.faults.never_ready = n != 0;
            return 0;
        case TVXSIM_FAULT_CCD_CORRUPT:
            m.faults.ccd_corrupt = n < 0 ? -1 : n;
            return 0;
        case TVXSIM_FAULT_ECTIME_DRIFT:
            m.faults.ectime_drift = n;
            return 0;
        case TVXSIM_FAULT_DARK_MISMATCH:
            m.faults.dark_mismatch = n;
            return 0;
        default:
            return -1;
    }
}

TVXSIM_EXPORT void TvxSim_ClearFaults(void) { module().faults = tvxsim::Faults(); }

TVXSIM_EXPORT int32_t TvxSim_GetPicture(uint16_t* out, uint32_t capacity, int32_t* width, int32_t* rows) {
    const tvxsim::Module& m = module();
    if (m.picture_rows <= 0 || m.picture.empty()) return -1;
    const int w = m.picture_rows == tvxsim::kCephRows ? tvxsim::kCephWidth : tvxsim::kRowSamples;
    if (width != nullptr) *width = w;
    if (rows != nullptr) *rows = m.picture_rows;
    const std::size_t need = static_cast<std::size_t>(w) * static_cast<std::size_t>(m.picture_rows);
    if (out == nullptr || capacity < need) return -1;
    for (int r = 0; r < m.picture_rows; ++r)
        for (int c = 0; c < w; ++c)
            out[static_cast<std::size_t>(r) * w + c] = static_cast<std::uint16_t>(
                m.picture[static_cast<std::size_t>(r) * tvxsim::kRowSamples + c] & tvxsim::kSampleMask);
    return 0;
}

TVXSIM_EXPORT int32_t TvxSim_GetTomoBlock(uint32_t index, uint16_t* out, uint32_t capacity) {
    tvxsim::Module& m = module();
    if (index >= static_cast<uint32_t>(tvxsim::kTomoBlocks) || out == nullptr ||
        capacity < static_cast<uint32_t>(tvxsim::kTomoSamples) || m.tomo.blocks[index].generation == 0)
        return -1;
    // The block as the picture memory holds it (128 rows of 2304), turned into 2304 rows of 128.
    std::vector<std::uint16_t> memory(tvxsim::kTomoSamples);
    tvxsim::read_memory(m, static_cast<std::int64_t>(index) * tvxsim::kTomoBlockBytes, tvxsim::kTomoBlockBytes,
                        reinterpret_cast<std::uint8_t*>(memory.data()));
    for (int j = 0; j < tvxsim::kTomoColumns; ++j)
        for (int i = 0; i < tvxsim::kTomoRows; ++i)
            out[static_cast<std::size_t>(i) * tvxsim::kTomoColumns + j] = static_cast<uint16_t>(
                memory[static_cast<std::size_t>(j) * tvxsim::kTomoRows + i] & tvxsim::kTomoSampleMask);
    return 0;
}

TVXSIM_EXPORT int32_t TvxSim_SetTomoReplay(const uint16_t* frames, uint32_t count) {
    tvxsim::Module& m = module();
    if (count > 3 || (count > 0 && frames == nullptr)) return -1;
    m.tomo_replay.assign(frames, frames + count * tvxsim::kTomoFrameSamples);
    return 0;
}

TVXSIM_EXPORT int32_t TvxSim_SetMode(int32_t mode, const char* replay_path) {
    tvxsim::Module& m = module();
    if (mode < TVXSIM_MODE_PHANTOM || mode > TVXSIM_MODE_REPLAY) return -1;
    if (mode == TVXSIM_MODE_REPLAY) {
        std::vector<std::uint16_t> probe;
        int rows = 0;
        if (replay_path == nullptr || !tvxsim::load_replay(replay_path, &probe, &rows)) return -1;
        m.replay_path = replay_path;
    }
    m.mode = mode;
    return 0;
}

TVXSIM_EXPORT int32_t TvxSim_SetModeByName(const char* name, const char* replay_path) {
    if (name == nullptr) return -1;
    const int mode = tvxsim::mode_by_name(name);
    return mode < 0 ? -1 : TvxSim_SetMode(mode, replay_path);
}

TVXSIM_EXPORT void TvxSim_SetExposureReads(int32_t n) { module().exposure_reads = n; }
TVXSIM_EXPORT void TvxSim_SetConverterBusyReads(int32_t n) { module().busy_reads = n < 0 ? 0 : n; }
TVXSIM_EXPORT void TvxSim_SetSeed(uint32_t seed) { module().seed = seed; }

TVXSIM_EXPORT int32_t TvxSim_LoadSettings(const char* path) {
    if (path == nullptr) return -1;
    const tvx::platform::File f = tvx::platform::File::open(path, "r");
    if (!f) return -1;
    char line[1024];
    int number = 0;
    std::int32_t rc = 0;
    while (rc == 0 && std::fgets(line, sizeof line, f.get()) != nullptr) {
        ++number;
        std::string text = line;
        const std::size_t comment = text.find_first_of(";#");
        if (comment != std::string::npos) text.erase(comment);
        text = tvxsim::trim(text);
        if (text.empty() || text[0] == '[') continue;
        const std::size_t eq = text.find('=');
        if (eq == std::string::npos || !tvxsim::apply_setting(tvxsim::trim(text.substr(0, eq)), tvxsim::trim(text.substr(eq + 1))))
            rc = -number;
    }
    return rc;
}

TVXSIM_EXPORT void TvxSim_GetStats(TvxSimStats* out) {
    if (out != nullptr) *out = module().stats;
}

TVXSIM_EXPORT uint16_t TvxSim_PeekRegister(uint32_t address) {
    if (tvxsim::is_tomo_register(address))
        return address == tvxsim::kTomoStatus ? tvxsim::tomo_status_value() : tvxsim::tomo_reg(address);
    if (!tvxsim::is_register(address)) return 0;
    return address == tvxsim::kStatus ? tvxsim::status_value() : tvxsim::reg(address);
}

TVXSIM_EXPORT int32_t TvxSim_GetProgram(int32_t which, uint8_t* buffer, uint32_t capacity) {
    const tvxsim::Module& m = module();
    if (which != 0 && which != 1) return -1;
    const std::vector<std::uint8_t>& p = which == 0 ? m.boot_program : m.fpga_config;
    if (buffer != nullptr && capacity > 0 && !p.empty()) std::memcpy(buffer, p.data(), p.size() < capacity ? p.size() : capacity);
    return static_cast<int32_t>(p.size());
}

TVXSIM_EXPORT double TvxSim_RowGain(int32_t ceph, int32_t row) { return tvxsim::row_gain(ceph != 0, row); }

TVXSIM_EXPORT int32_t TvxSim_DefectBands(int32_t ceph, int32_t* rows, int32_t* heights, int32_t max) {
    return tvxsim::defect_bands(ceph != 0, rows, heights, max);
}

TVXSIM_EXPORT double TvxSim_TomoPixelGain(int32_t row, int32_t column) { return tvxsim::tomo_pixel_gain(row, column); }
TVXSIM_EXPORT double TvxSim_TomoPixelOffset(int32_t row, int32_t column) { return tvxsim::tomo_pixel_offset(row, column); }
TVXSIM_EXPORT int32_t TvxSim_TomoNoiseRows(int32_t* rows, int32_t* heights, int32_t max) {
    return tvxsim::tomo_noise_rows(rows, heights, max);
}

TVXSIM_EXPORT int32_t TvxSim_SetTomoGeometry(int32_t overlap, int32_t up_down) {
    if (overlap < 0 || overlap >= tvxsim::kTomoColumns || up_down < -64 || up_down > 64) return -1;
    module().tomo_overlap = overlap;
    module().tomo_up_down = up_down;
    return 0;
}

}  // extern "C"
