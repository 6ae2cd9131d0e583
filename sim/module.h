// State of the simulated sensor module: registers, loaded programs, the CCD
// control RAM, the picture memory, the image mode and the injected faults.
// entry.cpp drives it through the link entry points, control.cpp through the
// test controls, render.cpp fills the picture memory at an exposure; tomo.cpp
// is the tomographic register window and tomo_render.cpp its pictures.
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
constexpr std::uint32_t kWindowSize = 16777216;  // most bytes one read moves

// Tomographic register window.
constexpr std::uint32_t kTomoStatus = 0x27FF0002;
constexpr std::uint32_t kTomoSysrst = 0x27FF0004;
constexpr std::uint32_t kTomoModreg = 0x27FF0006;
constexpr std::uint32_t kTomoPalson = 0x27FF0008;
constexpr std::uint32_t kTomoStart = 0x27FF000A;
constexpr std::uint32_t kTomoTimer = 0x27FF000C;
constexpr std::uint32_t kTomoStsreg = 0x27FF000E;
constexpr std::uint32_t kTomoPower = 0x27FF0010;
constexpr std::uint32_t kTomoExtclr = 0x27FF0014;
constexpr std::uint32_t kTomoEctclr = 0x27FF0016;
constexpr std::uint32_t kTomoExtime = 0x27FF0018;
constexpr std::uint32_t kTomoEctime = 0x27FF001A;
constexpr std::uint32_t kTomoDasdat = 0x27FF0020;
constexpr std::uint32_t kTomoRegisterFirst = 0x27FF0002;
constexpr std::uint32_t kTomoRegisterLast = 0x27FF002A;

// Picture memory: one memory from 0x26000000 up to the register area. Both
// sides write into it: a panoramic or cephalometric picture its rows of 4096
// samples from the start, tomographic picture i (counted since the last SYSRST
// of the tomographic window or FPGA load) its block at i x 0x90000. A read
// returns at every address what the latest picture wrote there, and zeros
// where no picture wrote. A read must lie inside the memory and move at most
// 16 MiB; it may cross from the first 16 MiB window into the second. The
// 56th tomographic block runs into the register area: only its first 64 KiB
// can be read.
constexpr std::uint32_t kMemoryEnd = 0x27F00000;
constexpr std::uint32_t kMemoryBytes = kMemoryEnd - kWindow1;

// Tomographic pictures: 128 sensor columns of 2304 rows, stored column after
// column (module row j = sensor column j), 13 data bits.
constexpr int kTomoColumns = TAVIREX_TOMO_COLUMNS;
constexpr int kTomoRows = TAVIREX_TOMO_ROWS;
constexpr int kTomoSamples = kTomoColumns * kTomoRows;
constexpr std::uint32_t kTomoBlockBytes = TAVIREX_TOMO_BLOCK_BYTES;
constexpr int kTomoBlocks = TAVIREX_TOMO_MAX_BLOCKS;
constexpr int kTomoStrips = TAVIREX_TOMO_STRIPS;
constexpr int kTomoSampleMask = TAVIREX_TOMO_SAMPLE_MASK;
constexpr int kTomoSampleMax = TAVIREX_TOMO_SAMPLE_MASK;
static_assert(kWindow1 == TAVIREX_TOMO_MEMORY, "tomographic pictures start at the memory's start");

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
    std::int64_t dead_from = 0;  // link call number from which every call fails (0: never)
    std::int32_t dead_code = 0;
    std::int64_t short_read_at = 0;  // read number that comes back short (0: none)
    std::int32_t short_read_count = -1;
    bool converter_busy = false;
    bool never_ready = false;
    std::int32_t ccd_corrupt = -1;  // read-backs left to corrupt; 0: all; < 0: off
    std::int32_t ectime_drift = 0;   // exposure strip t reports ECTIME = TIMER + n t
    std::int32_t dark_mismatch = 0;  // dark pictures report ECTIME = TIMER + n
};

// What a tomographic picture needs to be rendered again, bit for bit: the
// picture memory keeps these and renders a block when it is read.
struct TomoShot {
    std::uint32_t generation = 0;  // memory write order (0: block never written)
    std::uint32_t number = 0;      // picture number since SYSRST or FPGA load
    std::uint16_t timer = 0;
    bool xray = false;             // MODREG 1: the X-ray source is on
    bool pattern = false;          // PALSON bit 4: the module's test pattern instead of the sensor
    std::int32_t mode = TVXSIM_MODE_PHANTOM;
    std::int32_t strip = 0;        // exposure strip t in its frame
    std::int32_t frame = 0;        // frame of the exposure since arming
    std::uint32_t seed = 1;
    std::int32_t overlap = 16;     // sensor columns neighbouring strips share
    std::int32_t up_down = 0;      // rows each strip lies lower than the one before
};

struct TomoSide {
    std::uint16_t registers[(kTomoRegisterLast - kTomoRegisterFirst) / 2 + 1] = {};
    bool reset_after_fpga = false;  // SYSRST written in this window since the FPGA configuration was loaded
    std::int32_t busy_left = 0;
    bool timer_written = false;     // TIMER written since the last picture was prepared
    bool prepared = false;          // TIMER and MODREG written: waiting for START or the trigger
    std::int32_t trigger_left = 0;  // status reads until the generator's trigger
    bool running = false;
    std::int32_t done_left = 0;     // status reads until the running picture ends
    TomoShot next, current;         // the prepared and the running picture
    bool picture_ready = false;     // picture status bit
    std::uint32_t pictures = 0;     // since SYSRST or FPGA load: the memory write index
    std::uint32_t exposures = 0;    // X-ray pictures since arming: strip and frame
    TomoShot blocks[kTomoBlocks];
    std::vector<std::uint16_t> cache;  // the block last rendered for a read
    int cache_block = -1;
    std::uint32_t cache_generation = 0;
};

struct Module {
    // Settings (kept over a power cycle only through TvxSim_Reset's defaults).
    std::int32_t mode = TVXSIM_MODE_PHANTOM;
    std::string replay_path;
    std::int32_t exposure_reads = 5;
    std::int32_t busy_reads = 3;
    std::uint32_t seed = 1;
    std::int32_t tomo_overlap = 16;
    std::int32_t tomo_up_down = 0;
    // Recorded tomographic frames (blocks side by side, 2304 x 2304 samples each): picture k
    // since SYSRST is block k % 18 of frame k / 18 instead of a rendered one.
    std::vector<std::uint16_t> tomo_replay;

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
    std::uint32_t picture_generation = 0;  // memory write order of the panoramic picture
    std::uint32_t generation = 0;          // pictures written into the memory so far

    TomoSide tomo;

    Faults faults;
    std::int64_t calls_since_fault_set = 0;
    std::int64_t reads_since_fault_set = 0;
    TvxSimStats stats = {};

    // Serial line: the reply waiting for Ether232Recv and the polls left until a send completes.
    std::vector<std::uint8_t> serial_reply;
    std::int32_t serial_pending = 0;
};

Module& module();

// Integer hash of the renderers' fixed patterns, and the same as a value in [0, 1).
inline std::uint32_t mix(std::uint32_t x) {
    x ^= x >> 16;
    x *= 0x7FEB352Du;
    x ^= x >> 15;
    x *= 0x846CA68Bu;
    x ^= x >> 16;
    return x;
}
inline double hash01(std::uint32_t x) { return (mix(x) >> 8) * (1.0 / 16777216.0); }

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

// Tomographic register window (tomo.cpp). Reads and writes of a register
// with their side effects; STATUS without them.
bool is_tomo_register(std::uint32_t address);
std::uint16_t& tomo_reg(std::uint32_t address);
std::uint16_t tomo_status_value();
std::uint16_t tomo_read_register(Module& m, std::uint32_t address);
void tomo_write_register(Module& m, std::uint32_t address, std::uint16_t value);
// Picture logic and memory write index back to the start (SYSRST, FPGA load).
void tomo_reset_pictures(Module& m);

// Picture memory (tomo.cpp): offset of a read from kWindow1, or -1 when it is
// refused; the bytes of a read.
std::int64_t memory_offset(std::uint32_t address, std::uint32_t count);
void read_memory(Module& m, std::int64_t offset, std::uint32_t count, std::uint8_t* out);

// Renders a tomographic block in memory order (tomo_render.cpp).
void render_tomo(const TomoShot& shot, std::uint16_t* out);
// A recorded frame as it lay in a host's file, 18 blocks of 2304 rows by 128 side by side.
constexpr std::size_t kTomoFrameBlocks = 18;
constexpr std::size_t kTomoFrameSamples = kTomoFrameBlocks * kTomoSamples;
// Block `block` of a recorded frame as the picture memory holds it (128 rows of 2304).
void replay_tomo(const std::uint16_t* frame, std::size_t block, std::uint16_t* out);
// Sensor model of the tomographic sensor, by library row (0..2303 along the
// sensor) and column (0..127): after the dark offset is removed an exposure
// sample is gain x signal + offset.
double tomo_pixel_gain(int row, int column);
double tomo_pixel_offset(int row, int column);
int tomo_noise_rows(int* rows, int* heights, int max);

// Loads a replay file into `out` as module rows of 4096 samples; false when it is not a readout.
bool load_replay(const std::string& path, std::vector<std::uint16_t>* out, int* rows);

// Applies the settings file named by TVXSIM_FAULTS, if any (called when the link opens).
void apply_environment_settings();

}  // namespace tvxsim
