/*
 * Control interface of the simulated sensor module, for tests and tools.
 * The module is a link library; these functions are exported beside the
 * five link entry points. A test resolves them from the loaded module (the
 * process shares one module state however often the module is loaded).
 */
#ifndef TVXSIM_CONTROL_H
#define TVXSIM_CONTROL_H

#include <stdint.h>

#if defined(_WIN32)
#  define TVXSIM_EXPORT __declspec(dllexport)
#else
#  define TVXSIM_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Fault kinds for TvxSim_SetFault. */
enum {
    TVXSIM_FAULT_FAIL_CALL = 1,      /* the n-th link call from now returns `code` (n >= 1) */
    TVXSIM_FAULT_SHORT_READ = 2,     /* the n-th read (command 514) from now returns `code` bytes when
                                        0 <= code < requested, else one byte less than requested */
    TVXSIM_FAULT_CONVERTER_BUSY = 3, /* n != 0: the converter busy bit never clears */
    TVXSIM_FAULT_NEVER_READY = 4,    /* n != 0: the status low byte never shows STSREG */
    TVXSIM_FAULT_CCD_CORRUPT = 5,    /* the next n read-backs of the CCD control RAM come back with one
                                        byte flipped; n = 0: every read-back; n < 0: off */
    TVXSIM_FAULT_ECTIME_DRIFT = 6,   /* tomographic exposure strip t of a frame reports ECTIME = TIMER + n t */
    TVXSIM_FAULT_DARK_MISMATCH = 7,  /* tomographic dark pictures (MODREG other than 1) report ECTIME = TIMER + n */
    TVXSIM_FAULT_DEAD = 8            /* the module stops answering: from the n-th link call from now on
                                        (n >= 1), every call returns `code`; n <= 0: off */
};

/* Image modes for TvxSim_SetMode. Tomographic pictures: the phantom is a
   section of both jaws across a molar; ramp gives sample (r, c) of a block as
   the library transposes it = (7 r + c + 16 p) mod 8192 for picture p since
   SYSRST (also what PALSON bit 4, the test pattern, gives); replay renders
   the phantom. */
enum {
    TVXSIM_MODE_PHANTOM = 0, /* dental arch (panoramic) or skull profile (cephalometric) */
    TVXSIM_MODE_FLAT = 1,    /* uniform exposure of the picture columns: shading calibration */
    TVXSIM_MODE_DARK = 2,    /* no exposure: dark signal and noise only */
    TVXSIM_MODE_RAMP = 3,    /* sample (r, c) = (7 r + c) mod 4096, plus junk bits; no dark, gain or noise */
    TVXSIM_MODE_REPLAY = 4   /* a recorded raw readout file copied into the picture memory */
};

typedef struct TvxSimStats {
    uint32_t link_calls;       /* every entry-point call, EtherInit included */
    uint32_t status_reads;
    uint32_t register_writes;
    uint32_t converter_words;  /* DASDAT writes */
    uint32_t ccd_writes;       /* CCD control RAM transfers */
    uint32_t ccd_reads;
    uint32_t exposures;        /* panoramic and cephalometric pictures rendered */
    uint32_t picture_reads;    /* reads of the picture memory windows */
    uint64_t picture_bytes;    /* bytes delivered from the picture memory */
    uint32_t boot_loads;       /* boot programs accepted (command 1 after 259) */
    uint32_t fpga_loads;       /* FPGA configurations accepted (command 512) */
    uint32_t serial_frames;    /* STX..ETX frames answered with ACK */
    uint32_t faults_fired;
    uint32_t boot_size;        /* size of the last boot program */
    uint32_t fpga_size;        /* size of the last FPGA configuration */
    uint32_t ccd_bytes;        /* byte count of the last CCD control RAM write */
    uint32_t last_render_us;   /* duration of the last picture rendering */
    uint32_t tomo_pictures;    /* tomographic pictures taken */
    uint32_t reads;            /* reads (command 514) the booted module took: what SHORT_READ counts */
} TvxSimStats;

/* Power cycle: registers, programs, picture memory, faults, counters and
   settings back to their start values (mode phantom, exposure after 5 status
   reads, converter busy for 3 reads, seed 1). */
TVXSIM_EXPORT void TvxSim_Reset(void);

/* 0, or -1 for an unknown kind. */
TVXSIM_EXPORT int32_t TvxSim_SetFault(int32_t kind, int32_t n, int32_t code);
TVXSIM_EXPORT void TvxSim_ClearFaults(void);

/* 0, or -1 for an unknown mode or a replay file that does not hold a readout
   (4096 x 1536 or 3500 x 2304 samples, or 2304 module rows of 8192 bytes). */
TVXSIM_EXPORT int32_t TvxSim_SetMode(int32_t mode, const char* replay_path);
/* By name: "phantom", "flat", "dark", "ramp", "replay". */
TVXSIM_EXPORT int32_t TvxSim_SetModeByName(const char* name, const char* replay_path);

/* Status reads from arming to the end of the exposure; < 0: never. */
TVXSIM_EXPORT void TvxSim_SetExposureReads(int32_t n);
/* Status reads the converter stays busy after each converter word. */
TVXSIM_EXPORT void TvxSim_SetConverterBusyReads(int32_t n);
TVXSIM_EXPORT void TvxSim_SetSeed(uint32_t seed);

/* Reads and applies a settings file (format in sim/README or the report); 0, or
   -1 when it cannot be read, or -(line number) of the first line not understood. */
TVXSIM_EXPORT int32_t TvxSim_LoadSettings(const char* path);

TVXSIM_EXPORT void TvxSim_GetStats(TvxSimStats* out);
/* Present value of a register without side effects (the status register as it would read now). */
TVXSIM_EXPORT uint16_t TvxSim_PeekRegister(uint32_t address);
/* The last picture as a readout delivers it to the host: `rows` rows of `width`
   samples (4096 panoramic, 3500 cephalometric), each the low 12 bits of the
   picture memory word. 0, or -1 when no picture was taken or it does not fit
   `capacity` samples (the sizes are still stored). */
TVXSIM_EXPORT int32_t TvxSim_GetPicture(uint16_t* out, uint32_t capacity, int32_t* width, int32_t* rows);
/* Copies up to `capacity` bytes of the remembered boot program (which 0) or FPGA
   configuration (which 1); returns its full size, or -1. */
TVXSIM_EXPORT int32_t TvxSim_GetProgram(int32_t which, uint8_t* buffer, uint32_t capacity);

/* The sensor model, for calibration tools: gain of a row (ceph 0: 1536-row
   panoramic sensor, 1: 2304-row cephalometric sensor); -1 for a row outside. */
TVXSIM_EXPORT double TvxSim_RowGain(int32_t ceph, int32_t row);
/* Defective bands (first raw row, height); returns the number of bands, writes at most max. */
TVXSIM_EXPORT int32_t TvxSim_DefectBands(int32_t ceph, int32_t* rows, int32_t* heights, int32_t max);

/* The tomographic sensor model, by row (0..2303 along the sensor) and column
   (0..127) of a block as the library transposes it. Once the dark offset that
   its dark picture predicts is removed, an exposure sample reads
   gain x signal + offset (an offset of the exposure readout that dark pictures
   do not show): gain tables of 1 / gain and offset tables of -offset / gain
   undo them. -1 (gain) or 0 (offset) outside the sensor. The rows at the chip
   joints (767, 768, 1535, 1536) are partly covered; the sensor surface misses
   2 rows between chips 1 and 2 and 3 rows between chips 2 and 3 (chip 1 is
   read 2 rows early, chip 3 3 rows late), which the gap fill closes. */
/* Tomographic picture `index` (its block in capture order) as a readout delivers it
   to the host: 2304 rows of 128 samples, each the low 13 bits of the memory word.
   0, or -1 when no such picture was taken or `capacity` is below 294912 samples. */
TVXSIM_EXPORT int32_t TvxSim_GetTomoBlock(uint32_t index, uint16_t* out, uint32_t capacity);
TVXSIM_EXPORT double TvxSim_TomoPixelGain(int32_t row, int32_t column);
TVXSIM_EXPORT double TvxSim_TomoPixelOffset(int32_t row, int32_t column);
/* Noisy row bands (first row, height) for the noise-row table; returns the number, writes at most max. */
TVXSIM_EXPORT int32_t TvxSim_TomoNoiseRows(int32_t* rows, int32_t* heights, int32_t max);
/* Strip geometry: `overlap` sensor columns neighbouring strips share (0..127,
   default 16), and `up_down` rows each strip lies lower than the one before
   (-64..64, default 0). The joining lines the strips up when PIXEL x
   (RIGHTCUT of a strip + LEFTCUT of the next) equals `overlap` (2 x (4 + 4) by
   default, the least cuts OVERLAY 4 admits) and UP_DOWN1..7 equal `up_down`.
   0, or -1 when out of range. */
TVXSIM_EXPORT int32_t TvxSim_SetTomoGeometry(int32_t overlap, int32_t up_down);

/* Tomographic replay: `count` (0..3) frames as `tavirex acquire tomo` writes them, each 18
   pictures of 2304 rows by 128 samples side by side (2304 x 2304 samples), delivered picture by
   picture since SYSRST in place of rendered ones; 0 frames: rendered again. 0, or -1. */
TVXSIM_EXPORT int32_t TvxSim_SetTomoReplay(const uint16_t* frames, uint32_t count);

typedef void (*TvxSimResetFn)(void);
typedef int32_t (*TvxSimSetFaultFn)(int32_t, int32_t, int32_t);
typedef int32_t (*TvxSimSetModeFn)(int32_t, const char*);
typedef int32_t (*TvxSimSetModeByNameFn)(const char*, const char*);
typedef void (*TvxSimSetExposureReadsFn)(int32_t);
typedef void (*TvxSimGetStatsFn)(TvxSimStats*);
typedef uint16_t (*TvxSimPeekRegisterFn)(uint32_t);
typedef double (*TvxSimRowGainFn)(int32_t, int32_t);
typedef int32_t (*TvxSimDefectBandsFn)(int32_t, int32_t*, int32_t*, int32_t);
typedef int32_t (*TvxSimGetPictureFn)(uint16_t*, uint32_t, int32_t*, int32_t*);
typedef int32_t (*TvxSimGetTomoBlockFn)(uint32_t, uint16_t*, uint32_t);
typedef int32_t (*TvxSimSetTomoReplayFn)(const uint16_t*, uint32_t);
typedef double (*TvxSimTomoPixelFn)(int32_t, int32_t);
typedef int32_t (*TvxSimTomoNoiseRowsFn)(int32_t*, int32_t*, int32_t);

#ifdef __cplusplus
}
#endif

#endif /* TVXSIM_CONTROL_H */
