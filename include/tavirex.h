/*
 * Tavirex: acquisition and imaging library of a dental X-ray unit with CCD
 * line sensors (panoramic, cephalometric, tomographic).
 *
 * A flat C interface of 43 functions. The library loads the sensor module's
 * link library at run time (the path is in the configuration, see
 * tavirex_link.h), boots and programs the module through it, reads the
 * picture memory, and turns raw sensor data into processed raw image files
 * and 8-bit bitmaps. Without hardware, the simulated sensor module
 * (libtvxsim.so, tvxsim.dll) serves as the link library.
 *
 * ---- Conventions ---------------------------------------------------------
 *
 * Languages. This header, tavirex_errors.h and tavirex_link.h compile as C89
 * (C90), C99, C11 and C17 and as C++98, C++11, C++17 and C++20, without a
 * warning under -Wall -Wextra -pedantic (tools/check-headers.sh, in the test
 * suite). They need <stdint.h>, which C89 compilers of today provide.
 *
 * Results. Every function returns a signed 32-bit result code: TAVIREX_OK (0)
 * for success, otherwise one of the TAVIREX_E_ codes below. Exceptions:
 * Tavirex_GetWindowCenter and Tavirex_GetWindowWidth return the stored value,
 * Tavirex_Ether232Recv a byte count. A negative result that is not one of the
 * codes below, and any nonzero result of a link write, is the link library's
 * own and reaches the host unchanged. A sequence stops at its first failing
 * step and returns that step's code. tavirex_errors.h turns any code into
 * words. The library prints nothing unless the [DEBUG] switches of the
 * configuration ask for it.
 *
 * Threads. The library is NOT thread-safe. All functions share module-wide
 * state (the device record, the tomographic record, the display window, the
 * separator bands, the loaded link library) without locks. A host calls the
 * functions one at a time, from one thread (or serialises every call itself).
 * The library installs no callbacks and keeps no timers; each call runs to
 * completion before it returns, and the calls that talk to the module block
 * until the link library answers. The image processing and bitmap calls may
 * share their work with worker threads that they start and join before they
 * return: no thread runs between calls, none is started when the library is
 * loaded or unloaded, and the results are the same byte for byte whatever the
 * number of threads. Their count is the number of processors, at most 8; the
 * environment variable TAVIREX_THREADS (1 to 64), read at each call, sets it,
 * and TAVIREX_THREADS=1 keeps all work on the caller's thread.
 *
 * Strings. Paths and texts are NUL-terminated byte strings in the system's
 * narrow encoding (the ANSI code page on Windows), passed to fopen and to the
 * profile reader as they are. A NULL pointer is refused with a result code,
 * never followed: 3 in the control and processing functions (-99 for a speed
 * profile), the file error of that argument in the file functions.
 *
 * Memory. The host owns every buffer it passes; no call keeps a pointer to a
 * host buffer after it returns, and no call returns memory for the host to
 * free. The library's own buffers (picture buffers, tomographic frames) are
 * released by the calls named below and when the library is unloaded.
 *
 * Configuration. A Windows profile (INI) file, read with the semantics of the
 * Windows profile functions on every platform: a missing file, section or key
 * gives the default value SILENTLY (Tavirex_Init returns 0 for a path that
 * names no file), so a host checks that its configuration file exists before
 * it calls Tavirex_Init. Relative paths inside the file (link library, boot
 * program, FPGA and calibration files) are relative to the host process's
 * current folder.
 *
 * Images. A raw image file holds width x height unsigned 16-bit
 * little-endian samples, row after row, first row first, with no header,
 * padding or trailer; its size travels beside it as call arguments. Width
 * counts columns (one line-clock period of the scan each), height counts rows
 * (pixel positions along the sensor). Panoramic and cephalometric data are
 * 12-bit (0..4095); after tomographic processing the bitmap, window and raw
 * file functions take the data range of the tomographic image (13 bits as
 * read out, 14 after binning by 2) until the next Tavirex_Init or
 * Tavirex_ImageProcessingExDummy. Output files are deleted before they are
 * written and deleted again when a write falls short, so a failed call leaves
 * no partial file; an output path naming a folder, device or pipe is refused
 * and left alone.
 *
 * ---- Call order: panoramic and cephalometric -------------------------------
 *
 *   1  Tavirex_Init                        configuration
 *   2  Tavirex_SetCommInit(2)              link library, link, boot program
 *   3  Tavirex_SetSensMduInit_Pano/_Ceph   mode, FPGA configuration
 *   4  Tavirex_SetParamforPictEx(_Ceph)    speed profile -> line clock table, picture set-up
 *   5  Tavirex_SetWaitXExpose              arm
 *   6  Tavirex_CheckPictStatus             repeat until the status byte is 1
 *   7  Tavirex_GetImageDataEx              readout into the picture buffer
 *   8  Tavirex_ImageProcessingEx(2)        processed raw image file
 *      Tavirex_SetWindowPos(Auto), Tavirex_SaveBitmap*, Tavirex_MarkingInBitmap
 *   9  Tavirex_ResetAll                    a next picture starts again at 4 (or 5)
 *  10  Tavirex_SetDeviceFree               unload the link library
 *
 * The library checks this order only where a function says so (processing
 * needs a readout after a successful set-up; the readout needs a successful
 * set-up; FPGA loading needs a booted module). Calling Tavirex_Init again
 * re-reads the whole configuration and forgets steps 3 and 4.
 *
 * ---- Call order: tomographic ----------------------------------------------
 *
 *   1  Tavirex_Init, Tavirex_SetCommInit   link and boot of module slot 0, as above
 *   2  Tavirex_Init_Tomo                   tomographic configuration
 *   3  Tavirex_SetSensMdulInit_Tomo        FPGA; starts a new acquisition
 *   4  Tavirex_SetParamforPictEx_Tomo      analogue front end
 *   5  Tavirex_SetWaitXExpose_Tomo         arm
 *   6  per frame (1..3), 18 pictures: for each of the 8 strips an exposure
 *      (kind 1) and its dark picture (kind 2), then the calibration picture
 *      (kind 3) and the closing dark picture (kind 4); for each picture:
 *        Tavirex_SetTIMERandMODREG_Tomo(kind)
 *        Tavirex_PictStartbyCommand_Tomo  (unless the generator starts it)
 *        Tavirex_CheckPictStatus_Tomo     repeat until the status byte is 1
 *        Tavirex_GetEXTIMEandECTIME_Tomo(kind)
 *   7  Tavirex_GetImageDataEx_Tomo         readout of every frame
 *   8  Tavirex_ImageProcessingEx_Tomo      joined raw image; consumes the frames
 *      then the bitmap and window functions as above, Tavirex_MarkingInBitmap_Tomo
 *   9  Tavirex_ResetAll_Tomo, Tavirex_SetDeviceFree_Tomo
 *
 * Tavirex_Init_Tomo runs again before the next acquisition.
 *
 * The file functions (bitmaps, display window, raw files, markers) need no
 * module and no configuration; they can be called at any time.
 */
#ifndef TAVIREX_H
#define TAVIREX_H

#include <stdint.h>

#define TAVIREX_VERSION_MAJOR 0
#define TAVIREX_VERSION_MINOR 1
#define TAVIREX_VERSION_PATCH 0
#define TAVIREX_VERSION_STRING "0.1.0"
/* Single number for compile-time checks: major * 10000 + minor * 100 + patch. */
#define TAVIREX_VERSION (TAVIREX_VERSION_MAJOR * 10000 + TAVIREX_VERSION_MINOR * 100 + TAVIREX_VERSION_PATCH)

/* TAVIREX_API marks an export; TAVIREX_CALL is the calling convention of 42
 * of them (__cdecl on Windows), TAVIREX_STDCALL that of Tavirex_SaveBitmap3
 * (__stdcall on 32-bit Windows). A host that links the static library defines
 * TAVIREX_STATIC (the CMake target Tavirex::tavirex_static does). */
#if defined(_WIN32)
#  if defined(TAVIREX_BUILDING_LIBRARY) && defined(TAVIREX_EXPORTS_FROM_DEF)
#    define TAVIREX_API /* the 32-bit DLL takes its export table from a .def file */
#  elif defined(TAVIREX_BUILDING_LIBRARY)
#    define TAVIREX_API __declspec(dllexport)
#  elif defined(TAVIREX_STATIC)
#    define TAVIREX_API
#  else
#    define TAVIREX_API __declspec(dllimport)
#  endif
#  define TAVIREX_CALL __cdecl
#  define TAVIREX_STDCALL __stdcall
#else
#  if defined(TAVIREX_BUILDING_LIBRARY)
#    define TAVIREX_API __attribute__((visibility("default")))
#  else
#    define TAVIREX_API
#  endif
#  define TAVIREX_CALL
#  define TAVIREX_STDCALL
#endif

/* C++ hosts see that the two link-release exports throw nothing: they are one
   function under two names, and both declarations must agree. C++98 spells it
   throw() (Microsoft's compiler reports __cplusplus as 199711 unless told
   otherwise; _MSVC_LANG is its real language level). */
#if defined(__cplusplus) && (__cplusplus >= 201103L || (defined(_MSVC_LANG) && _MSVC_LANG >= 201103L))
#  define TAVIREX_NOTHROW noexcept
#elif defined(__cplusplus)
#  define TAVIREX_NOTHROW throw()
#else
#  define TAVIREX_NOTHROW
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Result codes ------------------------------------------------------
 * Positive codes come from the control and processing steps, negative codes
 * from the file functions and argument checks. Negative values returned by
 * the link library, and any nonzero result of a link write, reach the host
 * unchanged besides these. -93 and -97 carry two names each. */
enum {
    TAVIREX_OK = 0,
    TAVIREX_E_NOT_READY = 1,          /* status register did not report InitValue */
    TAVIREX_E_CONVERTER_BUSY = 2,     /* converter busy bit still set after 4096 reads */
    TAVIREX_E_RANGE = 3,              /* setting or argument out of range; call out of order */
    TAVIREX_E_VERIFY = 4,             /* CCD control data not verified */
    TAVIREX_E_NO_MEMORY = 5,          /* memory allocation failed */
    TAVIREX_E_BOOT_FILE = 6,          /* boot program file missing, unsized or short */
    TAVIREX_E_FPGA_FILE = 7,          /* FPGA configuration file cannot be opened */
    TAVIREX_E_DATA_FILE = 8,          /* processing data, dump or output file cannot be opened, read or written */
    TAVIREX_E_NOT_BOOTED = 9,         /* FPGA loading before the module was booted */
    TAVIREX_E_CLOCK_RANGE = 10,       /* line clock interval outside 12..1023 */
    TAVIREX_E_CLOCK_OVERFLOW = 11,    /* speed profile needs more entries than the pass allows */
    TAVIREX_E_TIMELAG = 12,           /* time lag does not fit in front of the picture */
    TAVIREX_E_DATA_SIZE = 13,         /* processing data file has the wrong size */
    TAVIREX_E_DATA_CONTENT = 14,      /* processing data file content error */
    TAVIREX_E_SHORT_READ = 18,        /* link read returned another byte count */
    TAVIREX_E_LINK_LIBRARY = 19,      /* link library not loaded, not loadable or incomplete */
    TAVIREX_E_HEX_DIGIT = 20,         /* FPGA file character is not an upper-case hex digit */
    TAVIREX_E_TOMO_SENSOR_ID = 26,    /* tomographic gain or offset table of another sensor */
    TAVIREX_E_TOMO_NOISE_TABLE = 28,  /* tomographic noise-row table missing or invalid */
    TAVIREX_E_TOMO_MARKER = 30,       /* tomographic markers (reserved: the marker functions report -93) */
    TAVIREX_E_TOMO_TABLE_FILE = 100,  /* tomographic gain or offset table missing, short or too long */
    TAVIREX_E_TOMO_TABLE_TYPE = 101,  /* tomographic table with the wrong type letter */
    TAVIREX_E_TOMO_ECTIME_SPREAD = 102, /* ECTIME spread within a frame above the limit */
    TAVIREX_E_TOMO_FRAME_COUNT = 103, /* frame closed with another number of pictures */
    TAVIREX_E_TOMO_DARK_ECTIME = 104, /* dark picture with another ECTIME */
    TAVIREX_E_NOT_AVAILABLE = -90,    /* export not available in this build */
    TAVIREX_E_OUTPUT_FILE = -93,      /* bitmap or raw output file not created, read or fully written */
    TAVIREX_E_MARKER = -93,           /* bitmap not stampable with the marker */
    TAVIREX_E_INPUT_FILE = -94,       /* input file missing or short */
    TAVIREX_E_OUTPUT_MEMORY = -95,    /* no memory for the output, or a size out of range */
    TAVIREX_E_PROCESS_OUTPUT = -96,   /* processing output not written */
    TAVIREX_E_PASS_COUNT = -97,       /* pass count out of range */
    TAVIREX_E_ADJUST_RANGE = -97,     /* Tavirex_BitmapChange parameter out of range */
    TAVIREX_E_PICTURE_BUFFER = -98,   /* picture buffer allocation failed */
    TAVIREX_E_SPEED_PROFILE = -99     /* speed profile missing or empty */
};

/* In the lists below, "link" stands for what a link library call may return
 * besides: 19 when no link library is loaded (nothing is called then), 18 for
 * a read of another byte count, and the link library's own negative or
 * nonzero write results, passed on unchanged. "ready check" means: the status
 * register is read up to [PICTCNTL] LANRETRY times until its low byte equals
 * [PICTCNTL] INITVALUE; 1 when it never does. */

/* ---- Panoramic and cephalometric control -------------------------------- */

/* Tavirex_Init: reads the configuration into the device record. Call order: 1.
 *
 *   configPath  the configuration file (INI), fewer than 4096 bytes. The path
 *               is kept: the processing functions read [PROCESS], [ExOption]
 *               and further keys from it later.
 *   serialMode  nonzero: Tavirex_Ether232Send/Recv go through the link library
 *               (the initial mode); 0: the serial line is simulated.
 *
 * Clears the device record and fills it from the file; missing keys take
 * their defaults. Sets the display window from [INIT_WINDOW] WINDOW_CENTER
 * (default 2048) and WINDOW_WIDTH (default 4096), and makes the data range of
 * the file functions 12-bit again. A path that names no file is NOT an error
 * (every key takes its default): check that the file exists first.
 *
 * Returns 0; 3 when configPath is NULL or 4096 bytes or longer (nothing
 * changes then). */
TAVIREX_API int32_t TAVIREX_CALL Tavirex_Init(const char* configPath, uint32_t serialMode);

/* Tavirex_SetCommInit: Tavirex_SetCommInit2(0). Call order: 2. */
TAVIREX_API int32_t TAVIREX_CALL Tavirex_SetCommInit(void);

/* Tavirex_SetCommInit2: loads the link library, opens the link and boots the
 * module. Call order: 2, after Tavirex_Init.
 *
 *   moduleIndex  module slot, 0 or 1 (the tomographic side uses slot 0).
 *
 * Unloads any link library still loaded, loads [DLL] FILENAME and binds its
 * five entry points, opens the link with [PICTCNTL] IPADDRESS, LANTIMEOUT
 * (ms) and LANRETRY, then sends the boot program [LOADPROG] BOOT when
 * [LOADPROG] FLG_BOOT is 1. A module of this slot that was booted before and
 * still answers is not booted again (also after Tavirex_SetDeviceFree).
 *
 * Returns 0; 3 moduleIndex above 1 or FLG_BOOT not 0/1; 19 the link library
 * does not load or lacks an entry point; the link library's result when
 * opening the link or loading the program fails; 6 the boot program file is
 * missing, unsized or short; 5 no memory for it. */
TAVIREX_API int32_t TAVIREX_CALL Tavirex_SetCommInit2(uint32_t moduleIndex);

/* Tavirex_SetSensMduInit_Pano: panoramic mode and its FPGA configuration.
 * Call order: 3, after Tavirex_SetCommInit.
 *
 *   configPath  the configuration to read the panoramic keys from (usually the
 *               one given to Tavirex_Init): [DELSHADW] CALIBDATA,
 *               [CORRINJLINE] CORRLINEDATA, [LOADPROG] FPGA, the side-cut
 *               ratios, [AD1SET]..[AD3SET] VGAGain.
 *   fpgaLoad    nonzero: load the FPGA file (Intel HEX) unless the module
 *               already reports INITVALUE (its configuration runs); 0: skip.
 *
 * Returns 0; 3 configPath NULL or INITVALUE outside 1..255; 9 loading asked
 * for before the module was booted (a module not booted with fpgaLoad 0 gives
 * 0); 7 the FPGA file cannot be opened; 20 a character of it is not an
 * upper-case hex digit; 5; 1 the module does not report INITVALUE after
 * loading (ready check); link. */
TAVIREX_API int32_t TAVIREX_CALL Tavirex_SetSensMduInit_Pano(const char* configPath, uint32_t fpgaLoad);

/* Tavirex_SetSensMduInit_Ceph: cephalometric mode and its FPGA configuration.
 * Call order: 3, after Tavirex_SetCommInit.
 *
 *   configPath  as for _Pano, with [DELSHADW] CALIBDATA_CEPH, [LOADPROG]
 *               FPGA_CEPH and VGAGainCeph.
 *   lateral     nonzero: lateral view ([IMAGE_SOKU] and
 *               [XMANYSIDECUTPERCENTAGE_SOKU] keys); 0: frontal view.
 *   fpgaLoad    as for _Pano.
 *
 * Returns the codes of Tavirex_SetSensMduInit_Pano. */
TAVIREX_API int32_t TAVIREX_CALL Tavirex_SetSensMduInit_Ceph(const char* configPath, uint32_t lateral,
                                                             uint32_t fpgaLoad);

/* Tavirex_SetParamforPictEx: panoramic picture set-up. Call order: 4, after
 * Tavirex_SetSensMduInit_Pano; again before every picture whose settings change.
 *
 *   speedProfilePath  text file, one speed per line in length units per
 *                     second (one line step is 0.048 units); at most 3000
 *                     samples are read.
 *   passCount         passes of the scan, 1..4; odd passes run the profile
 *                     backwards.
 *   sampleIntervalMs  time between two speed samples in ms (low 16 bits used).
 *   timeLagMs         idle time before the first picture line in ms (low 16
 *                     bits used).
 *
 * Releases the picture buffers of the previous set-up and takes new ones
 * (4096 x 1536 samples), computes the line clock table (25 module counts per
 * ms, every interval 12..1023 counts), writes it to the CCD control RAM with
 * read-back, and programs MODREG and the analogue front end.
 *
 * Returns 0; -97 passCount outside 1..4; -98 a picture buffer cannot be
 * allocated; -99 the speed profile is missing or holds no number; 10 a clock
 * interval outside 12..1023 counts (the scan too fast or too slow); 11 the
 * profile needs more picture lines than a pass holds; 12 the time lag does not
 * fit in front of them; 3 no picture lines at all (a sample interval of 0, a
 * profile that never moves), the sensor initialised for the cephalometric
 * mode, or a setting out of range ([PICTCNTL] STARTSIGNAL 1..3, [XYCORR]
 * LOWERCUT01/02 and UPPERCUT01/02 0..3); 5; 2 the converter stays busy; 4 the
 * CCD control data cannot be verified; 1 (ready check); link. After a failure
 * no picture can be read out until a set-up succeeds. */
TAVIREX_API int32_t TAVIREX_CALL Tavirex_SetParamforPictEx(const char* speedProfilePath, uint32_t passCount,
                                                           uint32_t sampleIntervalMs, uint32_t timeLagMs);

/* Tavirex_SetParamforPictEx_Ceph: cephalometric picture set-up (3500 x 2304
 * samples). Call order: 4, after Tavirex_SetSensMduInit_Ceph.
 *
 * Parameters as for Tavirex_SetParamforPictEx; passCount must be 1 (-97
 * otherwise). Returns the same codes; 3 also when the sensor was not
 * initialised for the cephalometric mode. */
TAVIREX_API int32_t TAVIREX_CALL Tavirex_SetParamforPictEx_Ceph(const char* speedProfilePath, uint32_t passCount,
                                                                uint32_t sampleIntervalMs, uint32_t timeLagMs);

/* Tavirex_SetWaitXExpose: arms the module for the exposure. Call order: 5,
 * after a picture set-up.
 *
 * Returns 0; 3 [PICTCNTL] PICTPATTERN not 0/1, or no picture set-up (the line
 * count is neither 3500 nor 4096); 1 (ready check); link. */
TAVIREX_API int32_t TAVIREX_CALL Tavirex_SetWaitXExpose(void);

/* Tavirex_CheckPictStatus: reads the picture status. Call order: 6, repeated
 * after arming until *pictureStatus is 1; then the readout.
 *
 *   pictureStatus  receives 1 when the module holds the picture (status bit 8
 *                  set), else 0; only this byte is written.
 *
 * The library does not wait: the host decides how often to poll and when to
 * give up. Returns 0; 3 pictureStatus NULL; 1 the module does not report
 * INITVALUE (the byte is still written); link (the byte unchanged when the
 * status read fails, written when only the ready check after it fails). */
TAVIREX_API int32_t TAVIREX_CALL Tavirex_CheckPictStatus(uint8_t* pictureStatus);

/* Tavirex_GetImageDataEx: reads the picture memory into the picture buffer.
 * Call order: 7, once the picture status is 1.
 *
 *   segmentCount  passes to process, 1..passCount of the set-up (the
 *                 processing refuses other values); a cephalometric picture
 *                 has 1.
 *
 * Switches the module's picture power off, reads 4096 x 1536 (panoramic) or
 * 3500 x 2304 (cephalometric) samples and keeps their low 12 bits.
 *
 * Returns 0; 3 no successful picture set-up since Tavirex_Init or the last
 * failed set-up, or the picture would not fit the buffer (a cephalometric
 * set-up after a panoramic sensor initialisation); 5; 1 (ready check); link. */
TAVIREX_API int32_t TAVIREX_CALL Tavirex_GetImageDataEx(uint32_t segmentCount);

/* Tavirex_ResetAll: resets the module (SYSRST 0, POWSET 0). Call order: 9,
 * after the readout (or to abandon a picture). The next picture starts at the
 * set-up (4) or the arming (5).
 *
 * Returns 0; link. */
TAVIREX_API int32_t TAVIREX_CALL Tavirex_ResetAll(void);

/* Tavirex_SetDeviceFree: unloads the link library. Call order: last; also
 * exported as Tavirex_SetDeviceFree_Tomo.
 *
 * Safe without a loaded link library. The module stays booted: a later
 * Tavirex_SetCommInit2 with the same slot skips the boot program while the
 * module answers. Returns 0. */
TAVIREX_API int32_t TAVIREX_CALL Tavirex_SetDeviceFree(void) TAVIREX_NOTHROW;

/* Tavirex_Ether232Send: sends bytes over the module's serial line to the rest
 * of the X-ray unit. Any time after Tavirex_SetCommInit (before it in the
 * simulated serial mode).
 *
 *   data    the bytes; may be NULL when length is 0.
 *   length  number of bytes.
 *
 * Serial mode nonzero (see Tavirex_Init): passes the bytes to the link
 * library and waits, without pause, until it has sent them. Returns 0; 19 no
 * link library loaded; 3 data NULL with a nonzero length; the link library's
 * nonzero send result or negative check result.
 *
 * Serial mode 0 (simulated): a complete frame (first byte 0x02 STX, last byte
 * 0x03 ETX, length taken modulo 65536) is answered with the single byte 0x06
 * ACK, which the next Tavirex_Ether232Recv returns. Returns 0. */
TAVIREX_API int32_t TAVIREX_CALL Tavirex_Ether232Send(const uint8_t* data, uint32_t length);

/* Tavirex_Ether232Recv: receives the bytes waiting on the serial line.
 *
 *   buffer  receives the bytes and a terminating zero byte behind them. It must
 *           hold what the link library can deliver plus one byte; in the
 *           simulated serial mode at most 1024 bytes are written.
 *
 * Returns the number of bytes received (0 or more; the terminator not
 * counted); 3 buffer NULL; 19 no link library loaded (serial mode nonzero); a
 * negative result of the link library (buffer[0] is then 0). */
TAVIREX_API int32_t TAVIREX_CALL Tavirex_Ether232Recv(uint8_t* buffer);

/* Tavirex_GetInfoData: parses "name n1 n2 n3 n4 n5 n6" (a word and up to six
 * decimal integers, separated by white space). Needs no module; any time.
 *
 *   source             the text; NULL gives an empty name and six zeros.
 *   name               receives the word: the buffer must hold 256 bytes (at
 *                      most 255 characters and the terminator are written).
 *   value1 .. value6   receive the numbers; a number that does not parse, and
 *                      every one after it, is 0.
 *
 * Returns 0; 3 name or a value pointer NULL (nothing written). */
TAVIREX_API int32_t TAVIREX_CALL Tavirex_GetInfoData(const char* source, char* name, int32_t* value1,
                                                     int32_t* value2, int32_t* value3, int32_t* value4,
                                                     int32_t* value5, int32_t* value6);

/* ---- Panoramic and cephalometric processing ------------------------------ */

/* Tavirex_ImageProcessingEx: processes the picture of the last readout and
 * writes it as a raw image file. Call order: 8, after Tavirex_GetImageDataEx
 * (once per readout: the picture is processed in place).
 *
 *   outputPath  the raw image file to write.
 *   width       receives the width of the written image in columns: the passes
 *               read out, cut, in display order, with separator bands of
 *               4 x [ExOption] PictLineNum columns between them.
 *   height      receives its height in rows.
 *
 * Runs the steps switched on in [PROCESS] of the Tavirex_Init configuration
 * (dark offset, shading, injection lines, chip joining, opening fill, then per
 * pass noise removal, joint smoothing, brightness scale, contrast emphasis) and
 * records the band positions for the bitmap functions.
 *
 * Each readout is processed once: a second run (either export) returns 3
 * until Tavirex_GetImageDataEx reads the picture again.
 *
 * Returns 0; 3 an argument NULL, no picture read out after a successful
 * set-up, or a segment count outside 1..passCount; 8 the shading calibration
 * file or the line table cannot be opened or read; 13 the shading file has the
 * wrong size; 14 the line table's content is invalid; 5; -96 the output file
 * cannot be written (none is left). */
TAVIREX_API int32_t TAVIREX_CALL Tavirex_ImageProcessingEx(const char* outputPath, uint32_t* width,
                                                           uint32_t* height);

/* Tavirex_ImageProcessingEx2: Tavirex_ImageProcessingEx without the brightness
 * scale and the contrast emphasis, keeping the separator band settings of the
 * last processing run (none before the first). Same parameters, call order and
 * codes. */
TAVIREX_API int32_t TAVIREX_CALL Tavirex_ImageProcessingEx2(const char* outputPath, uint32_t* width,
                                                            uint32_t* height);

/* Tavirex_ImageProcessingExDummy: copies a raw image file, inserting the
 * separator bands of the last readout's segment count. No module needed.
 *
 *   inputPath   raw image file of *width x *height samples.
 *   outputPath  raw image file to write.
 *   width       in: the input's width in columns (not changed).
 *   height      in: the input's height in rows (not changed).
 *
 * Makes the data range of the file functions 12-bit again. Returns 0; 3 an
 * argument NULL or a size of 0; 8 the input is missing or short; 5; -96 the
 * output cannot be written. */
TAVIREX_API int32_t TAVIREX_CALL Tavirex_ImageProcessingExDummy(const char* inputPath, const char* outputPath,
                                                                uint32_t* width, uint32_t* height);

/* ---- Bitmaps, display window, raw files, markers -------------------------
 * No module and no configuration needed. Sizes are in pixels: width columns,
 * height rows, each 1 or more, and the image must fit a bitmap below 4 GiB.
 * The enhancement filter (all four bitmap functions and Tavirex_RawDatafile)
 * runs when both filterDistance and filterGain are nonzero (always in
 * Tavirex_SaveBitmap3):
 *
 *   filterDistance  distance of the four neighbours in pixels, low 8 bits used
 *                   (0..255; 256 filters with distance 0);
 *   filterGain      detail gain in percent, low 16 bits used: each value moves
 *                   away from the mean of its four neighbours by their
 *                   difference x gain / 100, weighted from 0.2 at value 0
 *                   through 1 at mid-range to 1.8 at the data maximum.
 *
 * Bitmaps are 8-bit greyscale, uncompressed, bottom-up (raw row 0 is the
 * bottom row), 10416 pixels per metre (10000 for Tavirex_SaveBitmap3), rows
 * padded to 4 bytes. All but Tavirex_SaveBitmap repaint the separator bands of
 * the last processing run (white, black when [ExOption] PictLineColor is 1).
 * Common results: 0; -95 a size of 0 or below or too large, or no memory;
 * -94 the raw file is missing or shorter than width x height samples (checked
 * before any memory is taken); -93 the bitmap cannot be written (no partial
 * file is left; an existing one is deleted); 5 no memory for a separator band. */

/* Tavirex_SaveBitmap: raw image file to bitmap, inverted, 16 data values per
 * grey level: grey = (4095 - value) / 16 on 12-bit data; with the filter, its
 * (inverted) output / 16, limited to 255. Parameters as described above. */
TAVIREX_API int32_t TAVIREX_CALL Tavirex_SaveBitmap(const char* rawPath, int32_t width, int32_t height,
                                                    int32_t filterDistance, int32_t filterGain,
                                                    const char* bitmapPath);

/* Tavirex_SaveBitmap2: raw image file to bitmap through a gamma curve:
 * t = value x slope + offset x max / 255, limited to 0..max;
 * grey = (t / max)^gamma x 255, rounded half up (max = the data maximum, 4095
 * for 12-bit data). Without the filter bright data give bright grey; the
 * filter's output is inverted.
 *
 *   gamma   exponent (1: linear).
 *   offset  in grey levels (0..255 spans the data range).
 *   slope   factor on the data value (1: unchanged). */
TAVIREX_API int32_t TAVIREX_CALL Tavirex_SaveBitmap2(const char* rawPath, int32_t width, int32_t height,
                                                     int32_t filterDistance, int32_t filterGain, double gamma,
                                                     double offset, double slope, const char* bitmapPath);

/* Tavirex_SaveBitmapWindow: raw image file to bitmap through the display
 * window (Tavirex_SetWindowPos, Tavirex_SetWindowPosAuto; set by Tavirex_Init
 * from [INIT_WINDOW]), applied to the inverted data: grey = window(max -
 * value), or window(filter output), where window maps center - width / 2 and
 * below to 0 and center + width / 2 and above to 255. Call order: after the
 * window is set. Parameters as described above; -93 also when there is no
 * memory for the filtered image. */
TAVIREX_API int32_t TAVIREX_CALL Tavirex_SaveBitmapWindow(const char* rawPath, int32_t width, int32_t height,
                                                          int32_t filterDistance, int32_t filterGain,
                                                          const char* bitmapPath);

/* Tavirex_SaveBitmap3: the gamma mapping of Tavirex_SaveBitmap2 on 12-bit data
 * raised by 1024 (limited to 4095), always through the second form of the
 * filter (not inverted). __stdcall on 32-bit Windows, exported there as
 * _Tavirex_SaveBitmap3@48. */
TAVIREX_API int32_t TAVIREX_STDCALL Tavirex_SaveBitmap3(const char* rawPath, int32_t width, int32_t height,
                                                        int32_t filterDistance, int32_t filterGain, double gamma,
                                                        double offset, double slope, const char* bitmapPath);

/* Tavirex_SetWindowPos: sets the display window of Tavirex_SaveBitmapWindow.
 *
 *   center  window center in data units (12-bit data: 0..4095).
 *   width   window width in data units; the data from center - width / 2 to
 *           center + width / 2 spread over the 256 grey levels. A width of 0
 *           or 1 makes a step at the center.
 *
 * Returns 0. */
TAVIREX_API int32_t TAVIREX_CALL Tavirex_SetWindowPos(int32_t center, int32_t width);

/* Tavirex_SetWindowPosAuto: sets the display window to span the data of a raw
 * image file: center (max + min) / 2, limited to the data range; width
 * max - min.
 *
 *   rawPath        raw image file of width x height samples.
 *   width, height  its size in pixels.
 *
 * Returns 0; -95 a size out of range or no memory; -94 the file is missing or
 * short (the window is unchanged then). */
TAVIREX_API int32_t TAVIREX_CALL Tavirex_SetWindowPosAuto(const char* rawPath, int32_t width, int32_t height);

/* Tavirex_GetWindowCenter: returns the display window's center as last set
 * (0 before the first Tavirex_Init or Tavirex_SetWindowPos). */
TAVIREX_API int32_t TAVIREX_CALL Tavirex_GetWindowCenter(void);

/* Tavirex_GetWindowWidth: returns the display window's width as last set
 * (0 before the first Tavirex_Init or Tavirex_SetWindowPos). */
TAVIREX_API int32_t TAVIREX_CALL Tavirex_GetWindowWidth(void);

/* Tavirex_RawDatafile: writes a display-ready copy of a raw image file:
 * every value inverted over the data range (max - value), or the filter's
 * (inverted) output.
 *
 *   inputPath, outputPath  raw image files; the output is replaced.
 *   width, height          size in pixels.
 *   filterDistance, filterGain  as described above.
 *
 * Returns 0; -95; -94; -93 the output cannot be written. */
TAVIREX_API int32_t TAVIREX_CALL Tavirex_RawDatafile(const char* inputPath, int32_t width, int32_t height,
                                                     int32_t filterDistance, int32_t filterGain,
                                                     const char* outputPath);

/* Tavirex_RawFileHorizontalMirror: writes a raw image file with every row
 * reversed (left-right mirror). inputPath and outputPath may name the same
 * file. Returns 0; -95; -94; -93. */
TAVIREX_API int32_t TAVIREX_CALL Tavirex_RawFileHorizontalMirror(const char* inputPath, int32_t width,
                                                                 int32_t height, const char* outputPath);

/* Tavirex_BitmapChange: adjusts the grey levels of an 8-bit bitmap in place:
 * grey = (grey / 255)^gamma x contrast x 255 + brightness, limited to 0..255.
 *
 *   bitmapPath  an uncompressed 8-bit bottom-up bitmap (as the bitmap
 *               functions write).
 *   gamma       0.01..5 (1: unchanged).
 *   contrast    0..2 (1: unchanged).
 *   brightness  -100..100 grey levels (0: unchanged).
 *
 * Returns 0; -97 a parameter out of range or not a number (the file is not
 * opened); -93 the file cannot be opened, is not such a bitmap, or cannot be
 * rewritten (anything but a bitmap stays as it was); -95. */
TAVIREX_API int32_t TAVIREX_CALL Tavirex_BitmapChange(const char* bitmapPath, double gamma, double contrast,
                                                      double brightness);

/* Tavirex_MarkingInBitmap: stamps a white L (96 x 96 pixels) into an 8-bit
 * bitmap in place, 32 rows above its lower edge.
 *
 *   bitmapPath  an uncompressed 8-bit bottom-up bitmap of at least 128 rows.
 *   side        nonzero: the L's box starts at column 112 (left side; the
 *               bitmap must be at least 208 pixels wide); 0: at width - 112
 *               (right side).
 *
 * Returns 0; -93 the file cannot be opened, read or rewritten, is not such a
 * bitmap, or is too small; -95. Only the rows of the mark are rewritten. */
TAVIREX_API int32_t TAVIREX_CALL Tavirex_MarkingInBitmap(const char* bitmapPath, int32_t side);

/* Tavirex_MarkingInBitmap_Tomo: stamps a white P and a white A, each on a
 * black 70 x 70 square with rounded corners, into an 8-bit bitmap in place, 32
 * rows above its lower edge.
 *
 *   bitmapPath  an uncompressed 8-bit bottom-up bitmap of at least 102 rows
 *               and 100 columns.
 *   side        0: A at column 30, P at width - 100; nonzero: P at 30, A at
 *               width - 100.
 *
 * Returns the codes of Tavirex_MarkingInBitmap. */
TAVIREX_API int32_t TAVIREX_CALL Tavirex_MarkingInBitmap_Tomo(const char* bitmapPath, int32_t side);

/* ---- Tomographic control and processing ----------------------------------
 * The tomographic functions work on the tomographic record and use the link
 * library and module slot 0 that Tavirex_Init and Tavirex_SetCommInit set up. */

/* Tavirex_Init_Tomo: reads the tomographic configuration. Call order: after
 * Tavirex_SetCommInit; again before every acquisition.
 *
 *   configPath  configuration file, fewer than 4096 bytes: [LOADPROG] FLG_FPGA
 *               and FPGA, [PICTCNTL] INITVALUE, LANRETRY, PICTPATTERN,
 *               TIMERSET_XRAY, TIMERSET_DC, PICTMODE_XRAY, PICTMODE_DC,
 *               LIMITDIFFECTIME, [WAITTIME] EXPOS2DC and DC2EXPOS (ms), the
 *               [PROCESS] switches and step parameters, [REFFILE] FOLDER and
 *               [SENSOR_ID] SENSOR_ID of the correction tables. The same file
 *               may serve Tavirex_Init.
 *   serialMode  as for Tavirex_Init.
 *
 * A path that names no file is not an error (all defaults), as for
 * Tavirex_Init. Returns 0; 3 configPath NULL or too long. */
TAVIREX_API int32_t TAVIREX_CALL Tavirex_Init_Tomo(const char* configPath, uint32_t serialMode);

/* Tavirex_SetSensMdulInit_Tomo: starts a new acquisition and loads the
 * tomographic FPGA configuration. Call order: after Tavirex_Init_Tomo.
 *
 *   unused1, unused2  ignored; [LOADPROG] FLG_FPGA decides whether the FPGA
 *                     file is loaded (not when the module already reports
 *                     INITVALUE).
 *
 * Clears the frame and picture counters and releases frames never processed.
 * Returns 0; 3 FLG_FPGA not 0/1 or INITVALUE outside 1..255; 9 the module of
 * slot 0 is not booted while FLG_FPGA is 1; 7; 20; 5; 1 (ready check); link. */
TAVIREX_API int32_t TAVIREX_CALL Tavirex_SetSensMdulInit_Tomo(uint32_t unused1, uint32_t unused2);

/* Tavirex_SetParamforPictEx_Tomo: programs the three analogue converters of the
 * tomographic sensor. Call order: after Tavirex_SetSensMdulInit_Tomo.
 * Returns 0; 2 a converter stays busy; 1 (ready check); link. */
TAVIREX_API int32_t TAVIREX_CALL Tavirex_SetParamforPictEx_Tomo(void);

/* Tavirex_ResetAll_Tomo: resets the picture logic and switches the analogue
 * supply off. Call order: after the readout, or to abandon an acquisition.
 * Returns 0; link. */
TAVIREX_API int32_t TAVIREX_CALL Tavirex_ResetAll_Tomo(void);

/* Tavirex_SetWaitXExpose_Tomo: arms the module and restarts the picture
 * counters of the frame, then waits 500 ms. Call order: after
 * Tavirex_SetParamforPictEx_Tomo; before the pictures.
 * Returns 0; 3 PICTPATTERN not 0/1; link (at once, without the wait). */
TAVIREX_API int32_t TAVIREX_CALL Tavirex_SetWaitXExpose_Tomo(void);

/* Tavirex_SetTIMERandMODREG_Tomo: prepares the next picture of a frame. Call
 * order: first for each picture.
 *
 *   pictureKind  1 a strip's exposure, 2 its dark picture, 3 the calibration
 *                picture (dark, at the frame's first exposure time), 4 the
 *                closing dark picture, which closes the frame.
 *
 * Waits [WAITTIME] DC2EXPOS ms before kinds 1 (not the first of a frame) and 3,
 * EXPOS2DC ms before kinds 2 and 4, then writes the picture's timer and mode.
 * Returns 0; 3 a kind outside 1..4, or more than 56 exposures since arming;
 * 103 kind 4 without the frame's 9 counted pictures (8 exposures and the
 * calibration picture); link. */
TAVIREX_API int32_t TAVIREX_CALL Tavirex_SetTIMERandMODREG_Tomo(uint32_t pictureKind);

/* Tavirex_CheckPictStatus_Tomo: waits 10 ms and reads the picture status.
 * Call order: after the picture is prepared (and started), repeated until
 * *pictureStatus is 1.
 *
 *   pictureStatus  receives 1 when the picture has ended (status bit 8), else 0.
 *
 * Returns 0; 1 the module does not report INITVALUE (the byte is still
 * written); 3 pictureStatus NULL; link (the byte then unchanged). */
TAVIREX_API int32_t TAVIREX_CALL Tavirex_CheckPictStatus_Tomo(uint8_t* pictureStatus);

/* Tavirex_GetEXTIMEandECTIME_Tomo: reads and checks the measured exposure times
 * of the picture just taken, then clears them. Call order: last for each
 * picture, once its status is 1.
 *
 *   pictureKind  the kind given to Tavirex_SetTIMERandMODREG_Tomo: 1 and 3
 *                count as exposures, anything else as a dark picture.
 *
 * Returns 0; 102 the exposure times (ECTIME) within the frame spread more than
 * [PICTCNTL] LIMITDIFFECTIME; 104 a dark picture's ECTIME differs from
 * TIMERSET_DC; 3 an exposure kind without a prepared exposure; 1 (ready
 * check); link. */
TAVIREX_API int32_t TAVIREX_CALL Tavirex_GetEXTIMEandECTIME_Tomo(uint32_t pictureKind);

/* Tavirex_GetImageDataEx_Tomo: reads every closed frame into memory (per frame
 * 18 blocks of 2304 x 128 samples, 13 bits each). Call order: after the last
 * picture of the last frame; then Tavirex_ImageProcessingEx_Tomo.
 *
 * Frames of an earlier readout are released first; a failed readout keeps no
 * frame. Returns 0; 3 more frames than the picture memory holds (3); 5; 1
 * (ready check); link. */
TAVIREX_API int32_t TAVIREX_CALL Tavirex_GetImageDataEx_Tomo(void);

/* Tavirex_PictStartbyCommand_Tomo: starts the prepared picture (START 1);
 * without it the X-ray generator's trigger starts it. Call order: after
 * Tavirex_SetTIMERandMODREG_Tomo. Returns 0; link. */
TAVIREX_API int32_t TAVIREX_CALL Tavirex_PictStartbyCommand_Tomo(void);

/* Tavirex_SetDeviceFree_Tomo: the same function as Tavirex_SetDeviceFree under
 * a second name (one address in the DLL). Returns 0. */
TAVIREX_API int32_t TAVIREX_CALL Tavirex_SetDeviceFree_Tomo(void) TAVIREX_NOTHROW;

/* Tavirex_ImageProcessingEx_Tomo: processes every frame of the last readout and
 * joins them side by side into one raw image file. Call order: after
 * Tavirex_GetImageDataEx_Tomo; then the bitmap functions, which take the data
 * range of the result (13 bits, 14 after binning by 2).
 *
 *   outputPath    the raw image file to write, fewer than 4096 bytes. Each
 *                 processed frame k is also written as a raw file of the
 *                 frame's processed size, named by appending SegTomo<kk>.dat
 *                 (SegTomo00.dat, SegTomo01.dat, ...) to the folder part of
 *                 outputPath through its last '/' or '\', or to the whole
 *                 path when it has no separator: "out/img.raw" gives
 *                 "out/SegTomo00.dat", "img.raw" gives "img.rawSegTomo00.dat"
 *                 (pass "./img.raw" for SegTomo00.dat in the current folder).
 *   width         receives the joined width in columns (separator bands of
 *                 4 x [ExOption] PictLineNum columns between frames included).
 *   height        receives the joined height in rows (frames of different
 *                 heights are cut evenly to the smallest).
 *   reverseOrder  0: frame 0 leftmost; nonzero: the last frame leftmost.
 *
 * Per frame the [PROCESS] steps of the Tavirex_Init_Tomo configuration run
 * (dark offset, gain and offset tables, binning, noise rows, chip gaps, strip
 * joining, crop, noise filters, brightness and tone curve, half turn), then
 * the frame is scaled by its magnification (1.014, 1.0, 0.985 for frames 0, 1,
 * 2 of several). The frames are consumed: released whether it succeeds or
 * fails. A failed run leaves no image file at outputPath (the dumps of the
 * frames processed before the failure stay, each complete). Tavirex_Init_Tomo
 * must run again before the next acquisition. With no frame taken it writes
 * nothing and reports 0 x 0.
 *
 * Returns 0; 3 an argument NULL or empty, more than three frames, frames taken
 * but not read out, frames read out under another strip count than the one in
 * force now (Tavirex_Init_Tomo or a processing run between the readout and
 * this call), a frame that would join as nothing (cropped or scaled below one
 * row or column), or a step parameter out of range; 100 a gain or offset table (<FOLDER><SENSOR_ID>a.tbl,
 * b.tbl) missing, short or too long; 101 with the wrong type letter; 26 of
 * another sensor; 28 the noise-row table (<FOLDER><SENSOR_ID>.dat) missing or
 * invalid; 8 the output or a dump file cannot be written; 5. */
TAVIREX_API int32_t TAVIREX_CALL Tavirex_ImageProcessingEx_Tomo(const char* outputPath, int32_t* width,
                                                                int32_t* height, int32_t reverseOrder);

#ifdef __cplusplus
}
#endif

#endif /* TAVIREX_H */
