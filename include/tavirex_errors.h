/*
 * tavirex_errors.h: the result codes of include/tavirex.h in words.
 *
 * Header only: tavirex_result_text() is a static inline function compiled
 * into the host, so the library's export table stays the 43 functions of
 * tavirex.h. The command-line host `tavirex` prints these same words, so a
 * host's log and the CLI's output read alike.
 *
 *     int32_t rc = Tavirex_SetCommInit();
 *     if (rc != TAVIREX_OK)
 *         fprintf(stderr, "Tavirex_SetCommInit: %ld (%s)\n", (long)rc, tavirex_result_text(rc));
 *
 * A code is a sentence fragment in lower case, without a final full stop, and
 * never NULL. Two pairs of names share a value (-93: TAVIREX_E_OUTPUT_FILE and
 * TAVIREX_E_MARKER; -97: TAVIREX_E_PASS_COUNT and TAVIREX_E_ADJUST_RANGE); their
 * text covers both, and which one applies follows from the function that
 * returned it. Negative codes that the library does not define come from the
 * link library, which passes them through unchanged.
 *
 * Compiles as C89 (C90), C99, C11, C17 and as C++98, C++11, C++17, C++20, as
 * tavirex.h does.
 */
#ifndef TAVIREX_ERRORS_H
#define TAVIREX_ERRORS_H

#include <stdint.h>

#include "tavirex.h"

/* C89 has no inline: there the function is a plain static one (GCC and clang
 * spell the keyword __inline__, Microsoft's compiler __inline, so an unused
 * copy draws no warning). */
#if defined(__cplusplus) || (defined(__STDC_VERSION__) && __STDC_VERSION__ >= 199901L)
#  define TAVIREX_ERRORS_INLINE static inline
#elif defined(__GNUC__)
#  define TAVIREX_ERRORS_INLINE static __inline__
#elif defined(_MSC_VER)
#  define TAVIREX_ERRORS_INLINE static __inline
#else
#  define TAVIREX_ERRORS_INLINE static
#endif

#ifdef __cplusplus
extern "C" {
#endif

TAVIREX_ERRORS_INLINE const char* tavirex_result_text(int32_t code) {
    switch (code) {
        case TAVIREX_OK: return "success";
        case TAVIREX_E_NOT_READY: return "the module's status register did not report the ready value (INITVALUE)";
        case TAVIREX_E_CONVERTER_BUSY: return "the analogue converter stayed busy";
        case TAVIREX_E_RANGE: return "a setting or argument is out of range, or the call is out of order";
        case TAVIREX_E_VERIFY: return "the CCD control data could not be verified";
        case TAVIREX_E_NO_MEMORY: return "out of memory";
        case TAVIREX_E_BOOT_FILE: return "the boot program file is missing, unsized or short";
        case TAVIREX_E_FPGA_FILE: return "the FPGA configuration file cannot be opened";
        case TAVIREX_E_DATA_FILE: return "a calibration, table or output file cannot be opened, read or written";
        case TAVIREX_E_NOT_BOOTED: return "FPGA loading was asked for before the module was booted";
        case TAVIREX_E_CLOCK_RANGE: return "a line clock interval is outside 12..1023 counts";
        case TAVIREX_E_CLOCK_OVERFLOW: return "the speed profile needs more clock entries than a pass allows";
        case TAVIREX_E_TIMELAG: return "the time lag does not fit in front of the picture";
        case TAVIREX_E_DATA_SIZE: return "a processing data file has the wrong size";
        case TAVIREX_E_DATA_CONTENT: return "a processing data file has bad content";
        case TAVIREX_E_SHORT_READ: return "a link read returned another byte count than requested";
        case TAVIREX_E_LINK_LIBRARY:
            return "the link library is not loaded, cannot be loaded or lacks an entry point";
        case TAVIREX_E_HEX_DIGIT: return "the FPGA file holds a character that is not an upper-case hex digit";
        case TAVIREX_E_TOMO_SENSOR_ID: return "a tomographic gain or offset table belongs to another sensor";
        case TAVIREX_E_TOMO_NOISE_TABLE: return "the tomographic noise-row table is missing or invalid";
        case TAVIREX_E_TOMO_MARKER: return "the tomographic markers could not be stamped";
        case TAVIREX_E_TOMO_TABLE_FILE: return "a tomographic gain or offset table is missing, short or too long";
        case TAVIREX_E_TOMO_TABLE_TYPE: return "a tomographic table has the wrong type letter";
        case TAVIREX_E_TOMO_ECTIME_SPREAD: return "the exposure times of a frame spread more than LIMITDIFFECTIME";
        case TAVIREX_E_TOMO_FRAME_COUNT: return "a frame closed without its counted pictures";
        case TAVIREX_E_TOMO_DARK_ECTIME: return "a dark picture's exposure time differs from TIMERSET_DC";
        case TAVIREX_E_NOT_AVAILABLE: return "this function is not available in this build";
        case TAVIREX_E_OUTPUT_FILE: /* and TAVIREX_E_MARKER */
            return "the output file could not be created or fully written, or the bitmap could not be read or stamped";
        case TAVIREX_E_INPUT_FILE: return "the input file is missing or short";
        case TAVIREX_E_OUTPUT_MEMORY: return "no memory for the output, or an image size out of range";
        case TAVIREX_E_PROCESS_OUTPUT: return "the processed image could not be written";
        case TAVIREX_E_PASS_COUNT: /* and TAVIREX_E_ADJUST_RANGE */
            return "the pass count, or a gamma, contrast or brightness value, is out of range";
        case TAVIREX_E_PICTURE_BUFFER: return "a picture buffer could not be allocated";
        case TAVIREX_E_SPEED_PROFILE: return "the speed profile is missing or holds no value";
        default:
            return code < 0 ? "error reported by the link library"
                            : "unknown result (a link library's own write result is passed on unchanged)";
    }
}

#ifdef __cplusplus
}
#endif

#endif /* TAVIREX_ERRORS_H */
