// State of the simulated sensor module: registers, loaded programs, the CCD
// control RAM, the picture memory, the image mode and the injected faults.
// entry.cpp drives it through the link entry points, control.cpp through the
// test controls, render.cpp fills the picture memory at an exposure.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tavirex_link.h"
#include "tvxsim_control.h"

namespace tvxsim {

// Module address map.
constexpr std::uint32_t kStatus = 0x27F00002;
constexpr std::uint32_t kSysrst = 0x27F00004;
constexpr std::uint32_t kModreg = 0x27F00006;
constexpr std::uint32_t kPalson = 0x27F00008;
constexpr std::uint32_t kStsreg = 0x27F0000E;
constexpr std::uint32_t kPowset = 0x27F00010;
constexpr std::uint32_t kSetlin = 0x27F00012;
constexpr std::uint32_t kDasdat = 0x27F00020;
constexpr std::uint32_t kAdgsel = 0x27F00028;
constexpr std::uint32_t kAdgset = 0x27F0002A;
constexpr std::uint32_t kRamrdm = 0x27F00032;
constexpr std::uint32_t kRamrst = 0x27F00034;
constexpr std::uint32_t kRegisterFirst = 0x27F00002;
constexpr std::uint32_t kRegisterLast = 0x27F00034;
constexpr std::uint32_t kCcdRam = 0x27F02000;
constexpr std::uint32_t kCcdRamSize = 8192;
constexpr std::uint32_t kWindow1 = 0x26000000;
constexpr std::uint32_t kWindow2 = 0x27000000;
constexpr std::uint32_t kWindowSize = 16777216;

constexpr int kRowBytes = TAVIREX_MODULE_ROW_BYTES;
constexpr int kRowSamples = TAVIREX_MODULE_ROW_SAMPLES;
constexpr int kPanoRows = TAVIREX_PANO_ROWS;
constexpr int kCephRows = TAVIREX_CEPH_ROWS;
constexpr int kCephWidth = TAVIREX_CEPH_LINES;
constexpr int kChipRows = TAVIREX_CHIP_ROWS;
constexpr int kSampleMask = TAVIREX_SAMPLE_MASK;
constexpr int kSampleMax = TAVIREX_SAMPLE_MAX;

// Link results of the module's own refusals.
constexpr std::int32_t kNotOpen = -1;      // link not opened with EtherInit
constexpr std::int32_t kBadRequest = -2;   // bad command, address, count or buffer
constexpr std::int32_t kNotLoaded = -3;    // boot program or FPGA configuration missing

struct Faults {
    std::int64_t fail_call_at = 0;  // link call number that fails (0: none)
    std::int32_t fail_call_code = 0;
    std::int64_t short_read_at = 0;  // read number that comes back short (0: none)
    std::int32_t short_read_count = -1;
    bool converter_busy = false;
    bool never_ready = false;
    std::int32_t ccd_corrupt = -1;  // read-backs left to corrupt; 0: all; < 0: off
};

struct Module {
    // Settings (kept over a power cycle only through TvxSim_Reset's defaults).
    std::int32_t mode = TVXSIM_MODE_PHANTOM;
    std::string replay_path;
    std::int32_t exposure_reads = 5;
    std::int32_t busy_reads = 3;
    std::uint32_t seed = 1;

    bool link_open = false;
    bool boot_prepared = false;  // command 259 seen since the last boot
    bool booted = false;
    bool fpga_loaded = false;
    bool reset_after_fpga = false;  // SYSRST written since the FPGA configuration was loaded
    std::vector<std::uint8_t> boot_program;
    std::vector<std::uint8_t> fpga_config;

    std::uint16_t registers[(kRegisterLast - kRegisterFirst) / 2 + 1] = {};
    std::int32_t busy_left = 0;      // status reads with the converter busy bit still set
    bool palson_primed = false;      // PALSON written with 2 while powered: arming under way
    bool armed = false;              // waiting for the exposure
    std::int32_t exposure_left = 0;  // status reads until the exposure
    bool picture_ready = false;      // picture status bit

    std::uint8_t ccd_ram[kCcdRamSize] = {};
    std::uint32_t ccd_bytes = 0;  // bytes of the last write into the CCD control RAM

    std::vector<std::uint16_t> picture;  // rendered rows of 4096 samples; empty until the first exposure
    int picture_rows = 0;

    Faults faults;
    std::int64_t calls_since_fault_set = 0;
    std::int64_t reads_since_fault_set = 0;
    TvxSimStats stats = {};

    // Serial line: the reply waiting for Ether232Recv and the polls left until a send completes.
    std::vector<std::uint8_t> serial_reply;
    std::int32_t serial_pending = 0;
};

Module& module();

// Register file access by address (inside the register range, even addresses).
bool is_register(std::uint32_t address);
std::uint16_t& reg(std::uint32_t address);

// Value the status register shows now, without side effects.
std::uint16_t status_value();

// Fills the picture memory for the exposure that just ended, from the mode,
// the CCD control RAM and MODREG/SETLIN. Defined in render.cpp.
void render_exposure(Module& m);

// Sensor model shared by the renderer and the calibration helpers.
double row_gain(bool ceph, int row);
int defect_bands(bool ceph, int* rows, int* heights, int max);

// Loads a replay file into `out` as module rows of 4096 samples; false when it is not a readout.
bool load_replay(const std::string& path, std::vector<std::uint16_t>* out, int* rows);

// Applies the settings file named by TVXSIM_FAULTS, if any (called when the link opens).
void apply_environment_settings();

}  // namespace tvxsim
