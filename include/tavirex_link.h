/*
 * The link library: the LAN bridge between Tavirex and the sensor module.
 * Tavirex loads it at run time from the path in the configuration
 * ("DLL"/"FILENAME") and binds these five entry points by name. All use the
 * default C calling convention and return a signed 32-bit value.
 *
 * Compiles as C89 (C90), C99, C11, C17 and as C++98, C++11, C++17, C++20, as
 * tavirex.h does.
 */
#ifndef TAVIREX_LINK_H
#define TAVIREX_LINK_H

#include <stdint.h>

#if defined(_WIN32)
#  define TAVIREX_LINK_EXPORT __declspec(dllexport)
#else
#  define TAVIREX_LINK_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* EtherComm commands. */
enum {
    TAVIREX_LINK_BOOT_PROGRAM = 1,   /* address 0, count = program size, buffer = program */
    TAVIREX_LINK_BOOT_PREPARE = 259, /* address 0, count 0, no buffer; sent before the boot program */
    TAVIREX_LINK_FPGA_PROGRAM = 512, /* address 0, count = configuration size, buffer = data */
    TAVIREX_LINK_WRITE = 513,        /* returns 0 when written */
    TAVIREX_LINK_READ = 514          /* returns the number of bytes read, or a negative error */
};

/* Picture geometry of the sensor module, shared by the library, the simulated
   module and hosts. A picture has one column per line clock period ("line") and
   one row per sensor pixel; the picture memory holds rows of 4096 samples, low
   byte first, of which the low 12 bits are data. */
enum {
    TAVIREX_PANO_LINES = 4096,         /* line clock entries of a panoramic picture (all passes) */
    TAVIREX_PANO_ROWS = 1536,          /* rows of the panoramic sensor: two chips */
    TAVIREX_CEPH_LINES = 3500,         /* line clock entries of a cephalometric picture */
    TAVIREX_CEPH_ROWS = 2304,          /* rows of the cephalometric sensor: three chips */
    TAVIREX_CHIP_ROWS = 768,           /* rows of one CCD chip */
    TAVIREX_MAX_PASSES = 4,            /* panoramic passes per picture */
    TAVIREX_MODULE_ROW_SAMPLES = 4096, /* samples per picture memory row */
    TAVIREX_MODULE_ROW_BYTES = 8192,
    TAVIREX_SAMPLE_MASK = 0x0FFF,      /* data bits of a sample */
    TAVIREX_SAMPLE_MAX = 4095          /* largest 12-bit sample */
};

/* The tomographic strip sensor. Each picture is one block of the picture memory
   from TAVIREX_TOMO_MEMORY on, block k at TAVIREX_TOMO_MEMORY + k x
   TAVIREX_TOMO_BLOCK_BYTES in capture order: 128 rows (sensor columns) of 2304
   samples (sensor rows), low byte first, of which the low 13 bits are data. A
   frame is 2 x (strips + 1) pictures: each strip's exposure and dark picture,
   then a calibration pair. */
enum {
    TAVIREX_TOMO_COLUMNS = 128,          /* columns of a strip picture */
    TAVIREX_TOMO_ROWS = 2304,            /* rows of a strip picture: three chips of 768 */
    TAVIREX_TOMO_STRIPS = 8,             /* exposure pictures (strips) of a frame */
    TAVIREX_TOMO_BLOCK_BYTES = 0x90000,  /* one picture: 128 x 2304 samples */
    TAVIREX_TOMO_MAX_BLOCKS = 56,        /* pictures the library reads back at most */
    TAVIREX_TOMO_SAMPLE_MASK = 0x1FFF    /* data bits of a tomographic sample */
};
#define TAVIREX_TOMO_MEMORY 0x26000000u

/* Lines of each pass of a panoramic picture of `passes` passes: the line buffer
   divided evenly, rounded down to a multiple of 4 (4096, 2048, 1364, 1024). */
#define TAVIREX_PANO_PASS_LINES(passes) ((TAVIREX_PANO_LINES / (passes)) & ~3)

/* Opens the link; 0 = open. */
typedef int32_t (*TavirexEtherInitFn)(const char* ipAddress, uint32_t timeoutMs, uint32_t retries);
/* Register, RAM and memory access and program loading; see the commands above. */
typedef int32_t (*TavirexEtherCommFn)(uint32_t command, uint32_t address, uint32_t count, void* buffer);
/* Serial pass-through: 0 = accepted. */
typedef int32_t (*TavirexEther232SendFn)(const uint8_t* data, uint32_t length);
/* Serial pass-through: bytes received (0 or more) or a negative error. */
typedef int32_t (*TavirexEther232RecvFn)(uint8_t* buffer);
/* > 0 while a send is pending. */
typedef int32_t (*TavirexEther232CheckFn)(void);

/* Declarations for a link library that implements the entry points. */
TAVIREX_LINK_EXPORT int32_t EtherInit(const char* ipAddress, uint32_t timeoutMs, uint32_t retries);
TAVIREX_LINK_EXPORT int32_t EtherComm(uint32_t command, uint32_t address, uint32_t count, void* buffer);
TAVIREX_LINK_EXPORT int32_t Ether232Send(const uint8_t* data, uint32_t length);
TAVIREX_LINK_EXPORT int32_t Ether232Recv(uint8_t* buffer);
TAVIREX_LINK_EXPORT int32_t Ether232Check(void);

#ifdef __cplusplus
}
#endif

#endif /* TAVIREX_LINK_H */
