// tavirex demo: the library against the simulated sensor module, from a
// fresh folder to calibrated panoramic and cephalometric readouts.
#include <cerrno>
#include <cstdio>
#include <string>

#include "acquire.h"
#include "acquire_tomo.h"
#include "calibration.h"
#include "common.h"
#include "platform/system.h"
#include "tavirex.h"


namespace cli {

int run_info(const char* config);

namespace {

bool make_dir(const std::string& dir) { return tvx::platform::make_directory(dir.c_str()); }

bool write_file(const std::string& path, const std::string& content) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    const bool ok = std::fwrite(content.data(), 1, content.size(), f) == content.size();
    return std::fclose(f) == 0 && ok;
}

// Deterministic stand-in bytes: the simulated module accepts any program.
std::string program_bytes(const char* header, std::size_t size, unsigned seed) {
    std::string bytes = header;
    unsigned x = seed;
    while (bytes.size() < size) {
        x = x * 1103515245u + 12345u;
        bytes.push_back(static_cast<char>((x >> 16) & 0xFF));
    }
    return bytes;
}

// Intel HEX as the FPGA reader takes it: a segment address record first (the
// line it skips), 16-byte data records in upper-case hex, the end record.
std::string intel_hex(const std::string& data) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out = ":020000021000EC\r\n";
    for (std::size_t at = 0; at < data.size(); at += 16) {
        const std::size_t n = data.size() - at < 16 ? data.size() - at : 16;
        std::string record;
        unsigned sum = 0;
        auto put = [&](unsigned byte) {
            record.push_back(kDigits[(byte >> 4) & 0xF]);
            record.push_back(kDigits[byte & 0xF]);
            sum += byte;
        };
        put(static_cast<unsigned>(n));
        put(static_cast<unsigned>((at >> 8) & 0xFF));
        put(static_cast<unsigned>(at & 0xFF));
        put(0);
        for (std::size_t i = 0; i < n; ++i) put(static_cast<unsigned char>(data[at + i]));
        put((0x100 - (sum & 0xFF)) & 0xFF);
        out += ":" + record + "\r\n";
    }
    return out + ":00000001FF\r\n";
}

// Acceleration from 8 to 40 length units per second, cruise, deceleration; 10 ms samples.
std::string speed_profile(int cruise_samples) {
    std::string out;
    char line[32];
    for (int i = 1; i <= 40; ++i) {
        std::snprintf(line, sizeof line, "%.2f\n", 8 + 32.0 * i / 40);
        out += line;
    }
    for (int i = 0; i < cruise_samples; ++i) out += "40.00\n";
    for (int i = 1; i <= 40; ++i) {
        std::snprintf(line, sizeof line, "%.2f\n", 40 - 32.0 * i / 40);
        out += line;
    }
    return out;
}

// Detail enhancement of the demo bitmaps: filter distance and gain (percent).
constexpr std::int32_t kDemoFilterDistance = 8;
constexpr std::int32_t kDemoFilterGain = 60;

std::string configuration(const std::string& dir, const char* mode) {
    std::string ad;
    for (int n = 1; n <= 3; ++n)
        ad += "[AD" + std::to_string(n) + "SET]\r\nACTION_D0=1\r\nACTION_D5=1\r\nCONTROL_D3=1\r\nPxGAGain=32\r\n";
    return std::string("; Tavirex demo configuration (") + mode + "): the simulated sensor module\r\n"
           "[DLL]\r\nFILENAME=" + sim_module_path() + "\r\n"
           "[LOADPROG]\r\nFLG_BOOT=1\r\nBOOT=" + dir + "boot.bin\r\nFPGA=" + dir + "fpga_pano.hex\r\nFPGA_CEPH=" + dir +
           "fpga_ceph.hex\r\n"
           "[PICTCNTL]\r\nIPADDRESS=192.168.10.20\r\nLANTIMEOUT=5000\r\nLANRETRY=5\r\nINITVALUE=1\r\n"
           "STARTSIGNAL=1\r\nPICTPATTERN=0\r\n"
           "[DELSHADW]\r\nCALIBDATA=" + dir + "shading_pano.bin\r\nCALIBDATA_CEPH=" + dir + "shading_ceph.bin\r\n"
           "[CORRINJLINE]\r\nCORRLINEDATA=" + dir + "lines_" + mode + ".bin\r\n" + ad +
           "[ExOption]\r\nPictLineNum=2\r\nPictLineColor=0\r\n"
           "[INIT_WINDOW]\r\nWINDOW_CENTER=2048\r\nWINDOW_WIDTH=4096\r\n";
}

// The tomographic configuration: both calls read it (Tavirex_Init the link and
// boot keys, Tavirex_Init_Tomo the rest); strip cuts and overlay that fit the
// simulated sensor's 16 shared columns at binning 2.
std::string tomo_configuration(const std::string& dir) {
    std::string cuts = "[PUTIMAGES]\r\nOVERLAY=4\r\nAVERAGE=50\r\n";
    for (int s = 0; s < 8; ++s) cuts += "LEFTCUT" + std::to_string(s) + "=4\r\nRIGHTCUT" + std::to_string(s) + "=4\r\n";
    return "; Tavirex demo configuration (tomo): the simulated sensor module\r\n"
           "[DLL]\r\nFILENAME=" + sim_module_path() + "\r\n"
           "[LOADPROG]\r\nFLG_BOOT=1\r\nBOOT=" + dir + "boot.bin\r\nFLG_FPGA=1\r\nFPGA=" + dir + "fpga_tomo.hex\r\n"
           "[PICTCNTL]\r\nIPADDRESS=192.168.10.20\r\nLANRETRY=5\r\nINITVALUE=34\r\nTIMERSET_XRAY=100\r\n"
           "TIMERSET_DC=450\r\n[WAITTIME]\r\nEXPOS2DC=20\r\nDC2EXPOS=20\r\n[BINNING]\r\nPIXEL=2\r\n"
           "[REFFILE]\r\nFOLDER=" + dir + "\r\n[SENSOR_ID]\r\nSENSOR_ID=TVXSIM01\r\n" + cuts +
           "[ExOption]\r\nPictLineNum=2\r\nPictLineColor=0\r\n";
}

// Three tomographic frames: calibration of the strip sensor, the scan, processing,
// the display window from the data, the bitmap with the P and A markers.
int tomo_picture(const std::string& dir) {
    const std::string config = dir + "tavirex-tomo.ini";
    std::printf("\n== tomographic calibration (dark and flat-field scans)\n");
    if (run_calibrate_tomo(config, false, sim_module_path()) != 0) {
        std::printf("measurement failed: tables from the simulated module's sensor model instead\n");
        if (run_calibrate_tomo(config, true, sim_module_path()) != 0) return 1;
    }
    std::printf("\n== tomographic picture (3 frames)\n");
    TomoAcquireOptions o;
    o.config = config;
    o.frames = 3;
    o.sim_mode = "phantom";
    o.process = true;
    o.processed = dir + "tomo.raw";
    TomoAcquireResult r;
    std::int32_t rc = acquire_tomo(o, &r);
    if (rc != 0) {
        std::printf("tomographic picture failed at %s: %ld (%s)\n", r.failed_stage.c_str(), static_cast<long>(rc),
                    rc <= kNoExposure ? "see above" : explain(rc));
        return 1;
    }
    const std::int32_t w = r.processed_width, h = r.processed_height;
    const std::string bmp = dir + "tomo.bmp";
    std::printf("  processed image %ld x %ld -> %s\n", static_cast<long>(w), static_cast<long>(h), o.processed.c_str());
    rc = stage("Tavirex_SetWindowPosAuto", [&] { return Tavirex_SetWindowPosAuto(o.processed.c_str(), w, h); });
    if (rc == 0)
        rc = stage("Tavirex_SaveBitmapWindow", [&] {
            return Tavirex_SaveBitmapWindow(o.processed.c_str(), w, h, kDemoFilterDistance, kDemoFilterGain, bmp.c_str());
        });
    if (rc == 0) rc = stage("Tavirex_MarkingInBitmap_Tomo (P, A)", [&] { return Tavirex_MarkingInBitmap_Tomo(bmp.c_str(), 1); });
    if (rc != 0) return 1;
    std::printf("  bitmap -> %s\n", bmp.c_str());
    return 0;
}

// Measures the calibration through the library; falls back to the module's sensor model.
void calibrate(const std::string& dir, bool ceph) {
    CalibrateRequest q;
    q.ceph = ceph;
    q.source = "acquire";
    q.acquire.config = dir + (ceph ? "tavirex-ceph.ini" : "tavirex-pano.ini");
    q.acquire.profile = dir + (ceph ? "speed_ceph.txt" : "speed_pano.txt");
    q.acquire.passes = 1;
    q.acquire.progress = false;
    q.shading = dir + (ceph ? "shading_ceph.bin" : "shading_pano.bin");
    q.lines = dir + (ceph ? "lines_ceph.bin" : "lines_pano.bin");
    q.sim_path = sim_module_path();
    std::printf("\n== %s calibration (dark and flat-field pictures)\n", ceph ? "cephalometric" : "panoramic");
    if (run_calibrate(q) == 0) return;
    std::printf("measurement failed: calibration from the simulated module's sensor model instead\n");
    q.source = "model";
    run_calibrate(q);
}

// Processing, display window, bitmap and side marker for the picture that the
// acquisition left in the library, as the host does after a readout.
int finish_picture(const std::string& dir, bool ceph) {
    const std::string raw = dir + (ceph ? "ceph_processed.raw" : "pano_processed.raw");
    const std::string bmp = dir + (ceph ? "ceph.bmp" : "pano.bmp");
    std::uint32_t width = 0, height = 0;
    std::int32_t rc = stage("Tavirex_ImageProcessingEx", [&] {
        return Tavirex_ImageProcessingEx(raw.c_str(), &width, &height);
    });
    if (rc != 0) return rc;
    std::printf("  processed image %lu x %lu -> %s\n", static_cast<unsigned long>(width),
                static_cast<unsigned long>(height), raw.c_str());
    const auto w = static_cast<std::int32_t>(width), h = static_cast<std::int32_t>(height);
    rc = stage("Tavirex_SetWindowPosAuto", [&] { return Tavirex_SetWindowPosAuto(raw.c_str(), w, h); });
    if (rc != 0) return rc;
    std::printf("  display window centre %ld width %ld\n", static_cast<long>(Tavirex_GetWindowCenter()),
                static_cast<long>(Tavirex_GetWindowWidth()));
    rc = stage("Tavirex_SaveBitmapWindow", [&] {
        return Tavirex_SaveBitmapWindow(raw.c_str(), w, h, kDemoFilterDistance, kDemoFilterGain, bmp.c_str());
    });
    if (rc != 0) return rc;
    rc = stage("Tavirex_MarkingInBitmap (L)", [&] { return Tavirex_MarkingInBitmap(bmp.c_str(), 1); });
    if (rc != 0) return rc;
    std::printf("  bitmap -> %s\n", bmp.c_str());
    return 0;
}

}  // namespace

int cmd_demo(int argc, char** argv) {
    Args args;
    if (!parse_args(argc, argv, 2, {"out"}, {}, &args)) return 2;
    if (args.help) {
        std::printf(
            "usage: tavirex demo [--out DIR]\n\n"
            "Writes configurations pointing at the simulated sensor module (%s), a boot program,\n"
            "FPGA configurations and speed profiles into DIR (default: out); measures the shading\n"
            "calibration and line tables from dark and flat-field pictures; then acquires a panoramic\n"
            "picture (2 passes) and a cephalometric one into DIR/pano.raw and DIR/ceph.raw; processes\n"
            "each, sets the display window from the data and writes DIR/pano.bmp and DIR/ceph.bmp with\n"
            "the side marker. Then it calibrates the tomographic strip sensor, takes three tomographic\n"
            "frames, processes and joins them into DIR/tomo.raw and writes DIR/tomo.bmp with the P and A\n"
            "markers.\n",
            sim_module_path().c_str());
        return 0;
    }
    std::string dir = args.get("out", "out");
    if (!make_dir(dir)) {
        std::fprintf(stderr, "tavirex demo: cannot create folder %s\n", dir.c_str());
        return 1;
    }
    if (dir.back() != '/' && dir.back() != '\\') dir += '/';
    const bool written = write_file(dir + "boot.bin", program_bytes("TVXBOOT1", 1024, 7)) &&
                         write_file(dir + "fpga_pano.hex", intel_hex(program_bytes("TVXFPGA pano v1", 2048, 11))) &&
                         write_file(dir + "fpga_ceph.hex", intel_hex(program_bytes("TVXFPGA ceph v1", 2048, 13))) &&
                         write_file(dir + "fpga_tomo.hex", intel_hex(program_bytes("TVXFPGA tomo v1", 2048, 17))) &&
                         write_file(dir + "tavirex-tomo.ini", tomo_configuration(dir)) &&
                         write_file(dir + "speed_pano.txt", speed_profile(300)) &&
                         write_file(dir + "speed_ceph.txt", speed_profile(560)) &&
                         write_file(dir + "tavirex-pano.ini", configuration(dir, "pano")) &&
                         write_file(dir + "tavirex-ceph.ini", configuration(dir, "ceph"));
    if (!written) {
        std::fprintf(stderr, "tavirex demo: cannot write into %s\n", dir.c_str());
        return 1;
    }
    std::printf("demo: simulated sensor module %s\n\n", sim_module_path().c_str());
    // What the library reads from the panoramic configuration, and the link to the module.
    if (run_info((dir + "tavirex-pano.ini").c_str()) != 0) return 1;
    calibrate(dir, false);
    calibrate(dir, true);

    int failures = 0;
    for (bool ceph : {false, true}) {
        AcquireOptions o;
        o.ceph = ceph;
        o.config = dir + (ceph ? "tavirex-ceph.ini" : "tavirex-pano.ini");
        o.profile = dir + (ceph ? "speed_ceph.txt" : "speed_pano.txt");
        o.passes = ceph ? 1 : 2;
        o.output = dir + (ceph ? "ceph.raw" : "pano.raw");
        o.sim_mode = "phantom";
        std::printf("\n== %s\n", ceph ? "cephalometric picture (frontal)" : "panoramic picture (2 passes)");
        AcquireResult r;
        const std::int32_t rc = acquire(o, &r);
        if (rc != 0) {
            ++failures;
            std::printf("acquisition failed at %s: %ld (%s)\n", r.failed_stage.c_str(), static_cast<long>(rc),
                        rc <= kNoExposure ? "see above" : explain(rc));
            continue;
        }
        if (finish_picture(dir, ceph) != 0) ++failures;
    }
    if (tomo_picture(dir) != 0) ++failures;
    return failures == 0 ? 0 : 1;
}

}  // namespace cli
