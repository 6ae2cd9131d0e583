/*
 * Tavirex: acquisition and imaging library of a dental X-ray unit with CCD
 * line sensors (panoramic, cephalometric, tomographic).
 *
 * Flat C interface. Every export returns a signed 32-bit result code, 0 for
 * success (Tavirex_GetWindowCenter/Width return the stored value,
 * Tavirex_Ether232Recv a byte count). The host calls the exports one at a
 * time from one thread; the library starts no threads.
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
   function under two names, and both declarations must agree. */
#ifdef __cplusplus
#  define TAVIREX_NOTHROW noexcept
#else
#  define TAVIREX_NOTHROW
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Result codes ------------------------------------------------------
 * Negative values returned by the link library, and any nonzero result of a
 * link write, reach the host unchanged besides these. */
enum {
    TAVIREX_OK = 0,
    TAVIREX_E_NOT_READY = 1,          /* status register did not report InitValue */
    TAVIREX_E_CONVERTER_BUSY = 2,     /* converter busy bit still set after 4096 reads */
    TAVIREX_E_RANGE = 3,              /* setting or argument out of range */
    TAVIREX_E_VERIFY = 4,             /* CCD control data not verified */
    TAVIREX_E_NO_MEMORY = 5,          /* memory allocation failed */
    TAVIREX_E_BOOT_FILE = 6,          /* boot program file missing, unsized or short */
    TAVIREX_E_FPGA_FILE = 7,          /* FPGA configuration file cannot be opened */
    TAVIREX_E_DATA_FILE = 8,          /* processing data file cannot be opened or read */
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
    TAVIREX_E_TOMO_MARKER = 30,       /* tomographic markers */
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

/* ---- Panoramic and cephalometric control -------------------------------- */
TAVIREX_API int32_t TAVIREX_CALL Tavirex_Init(const char* configPath, uint32_t serialMode);
TAVIREX_API int32_t TAVIREX_CALL Tavirex_SetCommInit(void);
TAVIREX_API int32_t TAVIREX_CALL Tavirex_SetCommInit2(uint32_t moduleIndex);
TAVIREX_API int32_t TAVIREX_CALL Tavirex_SetSensMduInit_Pano(const char* configPath, uint32_t fpgaLoad);
TAVIREX_API int32_t TAVIREX_CALL Tavirex_SetSensMduInit_Ceph(const char* configPath, uint32_t lateral,
                                                             uint32_t fpgaLoad);
TAVIREX_API int32_t TAVIREX_CALL Tavirex_SetParamforPictEx(const char* speedProfilePath, uint32_t passCount,
                                                           uint32_t sampleIntervalMs, uint32_t timeLagMs);
TAVIREX_API int32_t TAVIREX_CALL Tavirex_SetParamforPictEx_Ceph(const char* speedProfilePath, uint32_t passCount,
                                                                uint32_t sampleIntervalMs, uint32_t timeLagMs);
TAVIREX_API int32_t TAVIREX_CALL Tavirex_SetWaitXExpose(void);
TAVIREX_API int32_t TAVIREX_CALL Tavirex_CheckPictStatus(uint8_t* pictureStatus);
TAVIREX_API int32_t TAVIREX_CALL Tavirex_GetImageDataEx(uint32_t segmentCount);
TAVIREX_API int32_t TAVIREX_CALL Tavirex_ResetAll(void);
/* Unloads the link library; also exported as Tavirex_SetDeviceFree_Tomo. */
TAVIREX_API int32_t TAVIREX_CALL Tavirex_SetDeviceFree(void) TAVIREX_NOTHROW;
TAVIREX_API int32_t TAVIREX_CALL Tavirex_Ether232Send(const uint8_t* data, uint32_t length);
/* Returns the number of bytes received (the buffer is zero-terminated behind
 * them) or a negative link error. */
TAVIREX_API int32_t TAVIREX_CALL Tavirex_Ether232Recv(uint8_t* buffer);
/* Parses "name n1 n2 n3 n4 n5 n6". The name buffer must hold 256 bytes: at
 * most 255 characters and the terminator are written. */
TAVIREX_API int32_t TAVIREX_CALL Tavirex_GetInfoData(const char* source, char* name, int32_t* value1,
                                                     int32_t* value2, int32_t* value3, int32_t* value4,
                                                     int32_t* value5, int32_t* value6);

/* ---- Panoramic and cephalometric processing ------------------------------ */
TAVIREX_API int32_t TAVIREX_CALL Tavirex_ImageProcessingEx(const char* outputPath, uint32_t* width,
                                                           uint32_t* height);
TAVIREX_API int32_t TAVIREX_CALL Tavirex_ImageProcessingEx2(const char* outputPath, uint32_t* width,
                                                            uint32_t* height);
TAVIREX_API int32_t TAVIREX_CALL Tavirex_ImageProcessingExDummy(const char* inputPath, const char* outputPath,
                                                                uint32_t* width, uint32_t* height);

/* ---- Bitmaps, display window, raw files, markers ------------------------- */
TAVIREX_API int32_t TAVIREX_CALL Tavirex_SaveBitmap(const char* rawPath, int32_t width, int32_t height,
                                                    int32_t filterDistance, int32_t filterGain,
                                                    const char* bitmapPath);
TAVIREX_API int32_t TAVIREX_CALL Tavirex_SaveBitmap2(const char* rawPath, int32_t width, int32_t height,
                                                     int32_t filterDistance, int32_t filterGain, double gamma,
                                                     double offset, double slope, const char* bitmapPath);
TAVIREX_API int32_t TAVIREX_CALL Tavirex_SaveBitmapWindow(const char* rawPath, int32_t width, int32_t height,
                                                          int32_t filterDistance, int32_t filterGain,
                                                          const char* bitmapPath);
/* __stdcall on 32-bit Windows, exported there as _Tavirex_SaveBitmap3@48. */
TAVIREX_API int32_t TAVIREX_STDCALL Tavirex_SaveBitmap3(const char* rawPath, int32_t width, int32_t height,
                                                        int32_t filterDistance, int32_t filterGain, double gamma,
                                                        double offset, double slope, const char* bitmapPath);
TAVIREX_API int32_t TAVIREX_CALL Tavirex_SetWindowPos(int32_t center, int32_t width);
TAVIREX_API int32_t TAVIREX_CALL Tavirex_SetWindowPosAuto(const char* rawPath, int32_t width, int32_t height);
TAVIREX_API int32_t TAVIREX_CALL Tavirex_GetWindowCenter(void);
TAVIREX_API int32_t TAVIREX_CALL Tavirex_GetWindowWidth(void);
TAVIREX_API int32_t TAVIREX_CALL Tavirex_RawDatafile(const char* inputPath, int32_t width, int32_t height,
                                                     int32_t filterDistance, int32_t filterGain,
                                                     const char* outputPath);
TAVIREX_API int32_t TAVIREX_CALL Tavirex_RawFileHorizontalMirror(const char* inputPath, int32_t width,
                                                                 int32_t height, const char* outputPath);
TAVIREX_API int32_t TAVIREX_CALL Tavirex_BitmapChange(const char* bitmapPath, double gamma, double contrast,
                                                      double brightness);
TAVIREX_API int32_t TAVIREX_CALL Tavirex_MarkingInBitmap(const char* bitmapPath, int32_t side);
TAVIREX_API int32_t TAVIREX_CALL Tavirex_MarkingInBitmap_Tomo(const char* bitmapPath, int32_t side);

/* ---- Tomographic control and processing ---------------------------------- */
TAVIREX_API int32_t TAVIREX_CALL Tavirex_Init_Tomo(const char* configPath, uint32_t serialMode);
TAVIREX_API int32_t TAVIREX_CALL Tavirex_SetSensMdulInit_Tomo(uint32_t unused1, uint32_t unused2);
TAVIREX_API int32_t TAVIREX_CALL Tavirex_SetParamforPictEx_Tomo(void);
TAVIREX_API int32_t TAVIREX_CALL Tavirex_ResetAll_Tomo(void);
TAVIREX_API int32_t TAVIREX_CALL Tavirex_SetWaitXExpose_Tomo(void);
TAVIREX_API int32_t TAVIREX_CALL Tavirex_SetTIMERandMODREG_Tomo(uint32_t pictureKind);
TAVIREX_API int32_t TAVIREX_CALL Tavirex_CheckPictStatus_Tomo(uint8_t* pictureStatus);
TAVIREX_API int32_t TAVIREX_CALL Tavirex_GetEXTIMEandECTIME_Tomo(uint32_t pictureKind);
TAVIREX_API int32_t TAVIREX_CALL Tavirex_GetImageDataEx_Tomo(void);
TAVIREX_API int32_t TAVIREX_CALL Tavirex_PictStartbyCommand_Tomo(void);
TAVIREX_API int32_t TAVIREX_CALL Tavirex_SetDeviceFree_Tomo(void) TAVIREX_NOTHROW;
TAVIREX_API int32_t TAVIREX_CALL Tavirex_ImageProcessingEx_Tomo(const char* outputPath, int32_t* width,
                                                                int32_t* height, int32_t reverseOrder);

#ifdef __cplusplus
}
#endif

#endif /* TAVIREX_H */
