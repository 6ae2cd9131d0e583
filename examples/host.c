/*
 * host.c: a minimal host of the Tavirex library.
 *
 * One panoramic picture in the host's call order, then the processed image as
 * a bitmap through the display window:
 *
 *   Tavirex_Init                  read the configuration
 *   Tavirex_SetCommInit           load the link library, open the link, boot the module
 *   Tavirex_SetSensMduInit_Pano   panoramic mode, FPGA configuration
 *   Tavirex_SetParamforPictEx     speed profile -> line clock table, picture set-up
 *   Tavirex_SetWaitXExpose        arm
 *   Tavirex_CheckPictStatus       poll until the picture is there
 *   Tavirex_GetImageDataEx        read the picture memory
 *   Tavirex_ImageProcessingEx     process, write the raw image
 *   Tavirex_SetWindowPosAuto      display window spanning the data
 *   Tavirex_SaveBitmapWindow      8-bit bitmap through the window
 *   Tavirex_ResetAll              reset the module
 *   Tavirex_SetDeviceFree         unload the link library
 *
 * Every result is printed with the words of tavirex_errors.h.
 *
 * usage: host CONFIG SPEED_PROFILE OUT.raw OUT.bmp
 *
 * Against the simulated sensor module, `tavirex demo --out DIR` writes what it
 * needs: DIR/tavirex-pano.ini (naming the module, the boot program, the FPGA
 * file and the calibration files) and DIR/speed_pano.txt.
 */
#include <stdint.h>
#include <stdio.h>

#include "tavirex.h"
#include "tavirex_errors.h"

/* The picture: two passes, a speed sample every 10 ms, 100 ms before the first
   picture line. */
#define PASSES 2u
#define SAMPLE_INTERVAL_MS 10u
#define TIME_LAG_MS 100u
/* Detail enhancement of the bitmap: neighbour distance in pixels, gain in percent. */
#define FILTER_DISTANCE 8
#define FILTER_GAIN 60
/* Status polls before giving up on the exposure. */
#define MAX_POLLS 100000L

/* Prints the call and its result in words; nonzero when it succeeded. */
static int check(const char* call, int32_t rc) {
    printf("%-28s %4ld  %s\n", call, (long)rc, tavirex_result_text(rc));
    return rc == TAVIREX_OK;
}

/* The library reads a missing configuration as all defaults and says nothing
   (profile-file semantics): the host checks that the file is there. */
static int readable(const char* path, const char* what) {
    FILE* f = fopen(path, "rb");
    if (f == NULL) {
        fprintf(stderr, "host: cannot open the %s %s\n", what, path);
        return 0;
    }
    fclose(f);
    return 1;
}

/* Arms the module and polls the picture status until the picture is there. */
static int expose(void) {
    uint8_t picture = 0;
    long polls;
    if (!check("Tavirex_SetWaitXExpose", Tavirex_SetWaitXExpose())) return 0;
    for (polls = 1; polls <= MAX_POLLS; ++polls) {
        const int32_t rc = Tavirex_CheckPictStatus(&picture);
        if (rc != TAVIREX_OK) return check("Tavirex_CheckPictStatus", rc);
        if (picture != 0) {
            printf("%-28s %4d  picture after %ld polls\n", "Tavirex_CheckPictStatus", 0, polls);
            return 1;
        }
    }
    fprintf(stderr, "host: no picture within %ld status polls\n", MAX_POLLS);
    return 0;
}

/* Sensor initialisation, picture set-up, exposure, readout, processing, bitmap. */
static int picture(const char* config, const char* profile, const char* raw, const char* bmp) {
    uint32_t width = 0, height = 0;
    if (!check("Tavirex_SetSensMduInit_Pano", Tavirex_SetSensMduInit_Pano(config, 1))) return 0;
    if (!check("Tavirex_SetParamforPictEx",
               Tavirex_SetParamforPictEx(profile, PASSES, SAMPLE_INTERVAL_MS, TIME_LAG_MS)))
        return 0;
    if (!expose()) return 0;
    if (!check("Tavirex_GetImageDataEx", Tavirex_GetImageDataEx(PASSES))) return 0;
    if (!check("Tavirex_ImageProcessingEx", Tavirex_ImageProcessingEx(raw, &width, &height))) return 0;
    printf("  processed image %lu x %lu -> %s\n", (unsigned long)width, (unsigned long)height, raw);
    if (!check("Tavirex_SetWindowPosAuto", Tavirex_SetWindowPosAuto(raw, (int32_t)width, (int32_t)height))) return 0;
    printf("  display window centre %ld, width %ld\n", (long)Tavirex_GetWindowCenter(),
           (long)Tavirex_GetWindowWidth());
    if (!check("Tavirex_SaveBitmapWindow", Tavirex_SaveBitmapWindow(raw, (int32_t)width, (int32_t)height,
                                                                     FILTER_DISTANCE, FILTER_GAIN, bmp)))
        return 0;
    printf("  bitmap -> %s\n", bmp);
    return 1;
}

int main(int argc, char** argv) {
    int ok;
    if (argc != 5) {
        fprintf(stderr, "usage: %s CONFIG SPEED_PROFILE OUT.raw OUT.bmp\n", argc > 0 ? argv[0] : "host");
        return 2;
    }
    if (!readable(argv[1], "configuration") || !readable(argv[2], "speed profile")) return 1;
    printf("Tavirex %s\n", TAVIREX_VERSION_STRING);

    /* Serial mode 1: serial pass-through goes to the link library. */
    if (!check("Tavirex_Init", Tavirex_Init(argv[1], 1))) return 1;
    ok = check("Tavirex_SetCommInit", Tavirex_SetCommInit());
    if (ok) {
        ok = picture(argv[1], argv[2], argv[3], argv[4]);
        /* Reset the module whatever happened once the link was up. */
        ok = check("Tavirex_ResetAll", Tavirex_ResetAll()) && ok;
    }
    ok = check("Tavirex_SetDeviceFree", Tavirex_SetDeviceFree()) && ok;
    return ok ? 0 : 1;
}
