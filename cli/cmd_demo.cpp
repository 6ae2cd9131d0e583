// tavirex demo: the library against the simulated sensor module, from a
// fresh folder to calibrated panoramic, cephalometric and tomographic pictures;
// it ends with a list of the files it leaves, each with what it is.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "acquire.h"
#include "acquire_tomo.h"
#include "calibration.h"
#include "checks.h"
#include "common.h"
#include "dicom.h"
#include "output_args.h"
#include "platform/system.h"
#include "tavirex.h"
#include "tavirex_link.h"


namespace cli {

int run_info(const char* config);

namespace {

bool make_dir(const std::string& dir) { return tvx::platform::make_directory(dir.c_str()); }

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

// The demo's pictures are of a made-up patient, named as such, never a real one's ID.
constexpr char kDemoPatientId[] = "TVX-DEMO";
constexpr char kDemoPatientName[] = "Demo^Phantom";

std::string configuration(const std::string& dir, const std::string& sim, const char* mode) {
    std::string ad;
    for (int n = 1; n <= 3; ++n)
        ad += "[AD" + std::to_string(n) + "SET]\r\nACTION_D0=1\r\nACTION_D5=1\r\nCONTROL_D3=1\r\nPxGAGain=32\r\n";
    return std::string("; Tavirex demo configuration (") + mode + "): the simulated sensor module\r\n"
           "[DLL]\r\nFILENAME=" + sim + "\r\n"
           "[LOADPROG]\r\nFLG_BOOT=1\r\nBOOT=" + dir + "boot.bin\r\nFPGA=" + dir + "fpga_pano.hex\r\nFPGA_CEPH=" + dir +
           "fpga_ceph.hex\r\n"
           "[PICTCNTL]\r\nIPADDRESS=192.168.10.20\r\nLANTIMEOUT=5000\r\nLANRETRY=5\r\nINITVALUE=1\r\n"
           "STARTSIGNAL=1\r\nPICTPATTERN=0\r\n"
           "[DELSHADW]\r\nCALIBDATA=" + dir + "shading_pano.bin\r\nCALIBDATA_CEPH=" + dir + "shading_ceph.bin\r\n"
           "[CORRINJLINE]\r\nCORRLINEDATA=" + dir + "lines_" + mode + ".bin\r\n" + ad +
           "[ExOption]\r\nPictLineNum=2\r\nPictLineColor=0\r\n"
           // The lateral view's histogram cut (default 0: none, which leaves the skull white) as the frontal one's.
           "[XMANYSIDECUTPERCENTAGE_SOKU]\r\nCEPH=1\r\n"
           "[INIT_WINDOW]\r\nWINDOW_CENTER=2048\r\nWINDOW_WIDTH=4096\r\n";
}

// The tomographic configuration: both calls read it (Tavirex_Init the link and
// boot keys, Tavirex_Init_Tomo the rest); strip cuts and overlay that fit the
// simulated sensor's 16 shared columns at binning 2.
std::string tomo_configuration(const std::string& dir, const std::string& sim) {
    std::string cuts = "[PUTIMAGES]\r\nOVERLAY=4\r\nAVERAGE=50\r\n";
    for (int s = 0; s < 8; ++s) cuts += "LEFTCUT" + std::to_string(s) + "=4\r\nRIGHTCUT" + std::to_string(s) + "=4\r\n";
    return "; Tavirex demo configuration (tomo): the simulated sensor module\r\n"
           "[DLL]\r\nFILENAME=" + sim + "\r\n"
           "[LOADPROG]\r\nFLG_BOOT=1\r\nBOOT=" + dir + "boot.bin\r\nFLG_FPGA=1\r\nFPGA=" + dir + "fpga_tomo.hex\r\n"
           "[PICTCNTL]\r\nIPADDRESS=192.168.10.20\r\nLANRETRY=5\r\nINITVALUE=34\r\nTIMERSET_XRAY=100\r\n"
           "TIMERSET_DC=450\r\n[WAITTIME]\r\nEXPOS2DC=20\r\nDC2EXPOS=20\r\n[BINNING]\r\nPIXEL=2\r\n"
           "[REFFILE]\r\nFOLDER=" + dir + "\r\n[SENSOR_ID]\r\nSENSOR_ID=TVXSIM01\r\n" + cuts +
           "[ExOption]\r\nPictLineNum=2\r\nPictLineColor=0\r\n";
}

// The demo's folder (absolute, with a trailing separator), its module and the
// files it leaves there, each with what it is.
struct Demo {
    std::string dir, sim;
    DicomRequest visit;  // the patient and the study the three pictures share
    std::vector<std::pair<std::string, std::string>> files;  // (name in dir, what it is)

    std::vector<std::pair<std::string, std::string>> outcomes;  // (section, how it ended)
    std::vector<std::string> dicom;  // per picture: its DICOM file's outcome

    void keep(const std::string& name, const std::string& what) { files.emplace_back(name, what); }
    void outcome(const std::string& section, const std::string& how) { outcomes.emplace_back(section, how); }
};

// Reports the call that `stage` just saw fail; `output` is the file the call writes.
std::string failed(const char* what, const std::string& config, Sensor sensor, const std::string& output) {
    Failure f = last_failure();
    f.config = config;
    f.sensor = sensor;
    if (f.code == TAVIREX_E_PROCESS_OUTPUT || f.code == TAVIREX_E_OUTPUT_FILE) f.output = output;
    report_failure(what, f);
    return "failed at " + f.stage + " (above)";
}

std::string size_text(std::int64_t w, std::int64_t h) { return std::to_string(w) + " x " + std::to_string(h); }

// Measures the calibration through the library; falls back to the module's sensor model
// when the measurement failed (not when its files could not be written: that would fail again).
bool calibrate(Demo& d, bool ceph) {
    CalibrateRequest q;
    q.ceph = ceph;
    q.source = "acquire";
    q.acquire.config = d.dir + (ceph ? "tavirex-ceph.ini" : "tavirex-pano.ini");
    q.acquire.profile = d.dir + (ceph ? "speed_ceph.txt" : "speed_pano.txt");
    q.acquire.passes = 1;
    q.acquire.lateral = ceph;
    q.acquire.progress = false;
    q.shading = d.dir + (ceph ? "shading_ceph.bin" : "shading_pano.bin");
    q.lines = d.dir + (ceph ? "lines_ceph.bin" : "lines_pano.bin");
    q.sim_path = d.sim;
    const char* mode = ceph ? "cephalometric" : "panoramic";
    std::printf("\n== %s calibration (dark and flat-field pictures)\n", mode);
    bool write_failed = false;
    if (run_calibrate(q, &write_failed) != 0) {
        if (write_failed) return false;
        std::printf("measurement failed: calibration from the simulated module's sensor model instead\n");
        q.source = "model";
        if (run_calibrate(q) != 0) return false;
    }
    const int rows = ceph ? TAVIREX_CEPH_ROWS : TAVIREX_PANO_ROWS;
    d.keep(q.shading.substr(d.dir.size()),
           std::string("shading calibration, ") + mode + ": " + std::to_string(rows) +
               " tables of 4096 16-bit words, one per sensor row");
    d.keep(q.lines.substr(d.dir.size()), std::string("line table, ") + mode + ": the sensor rows that lost their sensitivity");
    return true;
}

// The processed image as a DICOM file, with the display window the library set
// from the data for the bitmap. Skipped, and said, when the build has no DICOM.
void dicom_picture(Demo& d, const std::string& kind, const std::string& raw, std::int32_t w, std::int32_t h) {
    if (!dicom_in_build()) {
        std::printf("  DICOM: not in this build (it needs DCMTK, on Linux): %s.dcm skipped\n", kind.c_str());
        d.dicom.push_back(kind + ".dcm skipped (not in this build: it needs DCMTK, on Linux)");
        return;
    }
    DicomRequest rq = d.visit;
    rq.kind = kind;
    rq.raw_path = raw;
    rq.width = w;
    rq.height = h;
    rq.bits_stored = default_bits_stored(kind);
    rq.center = Tavirex_GetWindowCenter();
    rq.window_width = Tavirex_GetWindowWidth();
    if (rq.study_description.empty() && rq.procedure.empty()) rq.study_description = "Tavirex demo";
    const std::string out = d.dir + kind + ".dcm";
    if (write_dicom(rq, out) != 0) {
        std::printf("  DICOM: %s not written\n", out.c_str());
        d.dicom.push_back(kind + ".dcm not written (above)");
        return;
    }
    d.dicom.push_back(kind + ".dcm written");
    std::printf("  DICOM -> %s (window centre %ld width %ld of the data, as MONOCHROME1)\n", out.c_str(),
                static_cast<long>(rq.center), static_cast<long>(rq.window_width));
    d.keep(kind + ".dcm", std::string("DICOM digital X-ray image, ") + (kind == "ceph" ? "DX" : "PX") +
                              ", the processed image with its display window, " + std::to_string(rq.bits_stored) +
                              " bits stored");
}

// Processing, display window, bitmap and side marker for the picture that the
// acquisition left in the library, as the host does after a readout. "" or how it failed.
std::string finish_picture(Demo& d, const AcquireOptions& o) {
    const std::string name = o.ceph ? "ceph" : "pano";
    const Sensor sensor = o.ceph ? Sensor::ceph : Sensor::pano;
    const std::string raw = d.dir + name + ".raw", bmp = d.dir + name + ".bmp";
    std::uint32_t width = 0, height = 0;
    if (stage("Tavirex_ImageProcessingEx", [&] { return Tavirex_ImageProcessingEx(raw.c_str(), &width, &height); }) != 0)
        return failed("processing", o.config, sensor, raw);
    std::printf("  processed image %lu x %lu -> %s\n", static_cast<unsigned long>(width),
                static_cast<unsigned long>(height), raw.c_str());
    const auto w = static_cast<std::int32_t>(width), h = static_cast<std::int32_t>(height);
    if (stage("Tavirex_SetWindowPosAuto", [&] { return Tavirex_SetWindowPosAuto(raw.c_str(), w, h); }) != 0)
        return failed("display window", o.config, sensor, "");
    std::printf("  display window centre %ld width %ld\n", static_cast<long>(Tavirex_GetWindowCenter()),
                static_cast<long>(Tavirex_GetWindowWidth()));
    if (stage("Tavirex_SaveBitmapWindow", [&] {
            return Tavirex_SaveBitmapWindow(raw.c_str(), w, h, kBitmapFilterDistance, kBitmapFilterGain, bmp.c_str());
        }) != 0 ||
        stage("Tavirex_MarkingInBitmap (L)", [&] { return Tavirex_MarkingInBitmap(bmp.c_str(), 1); }) != 0)
        return failed("bitmap", o.config, sensor, bmp);
    std::printf("  bitmap -> %s\n", bmp.c_str());
    // The readout alone does not say how it was taken, and the width depends on it.
    std::printf("  the readout does not record its set-up; processed again the way it was taken:\n    %s\n",
                process_command(o).c_str());
    const std::string passes = o.ceph ? std::string("one pass") : std::to_string(o.passes) + " passes";
    d.keep(name + "_readout.raw", "raw readout, unprocessed: " +
                              (o.ceph ? size_text(TAVIREX_CEPH_LINES, TAVIREX_CEPH_ROWS)
                                      : size_text(TAVIREX_PANO_LINES, TAVIREX_PANO_ROWS)) +
                              " 16-bit samples, " + (o.ceph ? "lateral view" : passes + " side by side"));
    d.keep(name + ".raw", "processed image: " + size_text(w, h) + " 16-bit words, the picture lines of " +
                                        passes + (o.ceph ? "" : " with a band between them"));
    d.keep(name + ".bmp", "8-bit bitmap " + size_text(w, h) + ": display window from the data, detail filter, L marker");
    dicom_picture(d, name, raw, w, h);
    return "";
}

// Three tomographic frames: calibration of the strip sensor, the scan, processing,
// the display window from the data, the bitmap with the P and A markers. "" or how it failed.
std::string tomo_picture(Demo& d) {
    const std::string config = d.dir + "tavirex-tomo.ini";
    std::printf("\n== tomographic calibration (dark and flat-field scans)\n");
    bool write_failed = false;
    if (run_calibrate_tomo(config, false, d.sim, &write_failed) != 0) {
        if (write_failed) return "not taken: its calibration could not be written (above)";
        std::printf("measurement failed: tables from the simulated module's sensor model instead\n");
        if (run_calibrate_tomo(config, true, d.sim) != 0) return "not taken: its calibration failed (above)";
    }
    d.keep("TVXSIM01a.tbl", "tomographic gain table: 2304 x 128 single-precision factors");
    d.keep("TVXSIM01b.tbl", "tomographic offset table: 2304 x 128 single-precision offsets");
    d.keep("TVXSIM01.dat", "tomographic noise-row table: the rows the noise-row step repairs");
    std::printf("\n== tomographic picture (3 frames)\n");
    TomoAcquireOptions o;
    o.config = config;
    o.frames = 3;
    o.sim_mode = "phantom";
    o.process = true;
    o.processed = d.dir + "tomo.raw";
    TomoAcquireResult r;
    const std::int32_t rc = acquire_tomo(o, &r);
    // The export writes each frame as processed beside its output; the joined image holds them.
    for (int k = 0; k < 3; ++k) remove_files({d.dir + "SegTomo0" + std::to_string(k) + ".dat"});
    if (rc != 0) {
        report_failure("tomographic picture", r.failure);
        return "failed at " + r.failure.stage + " (above)";
    }
    const std::int32_t w = r.processed_width, h = r.processed_height;
    const std::string bmp = d.dir + "tomo.bmp";
    std::printf("  processed image %ld x %ld -> %s (SegTomo00.dat .. SegTomo02.dat, each frame as the export\n"
                "  wrote it beside the image, removed: the image holds them)\n",
                static_cast<long>(w), static_cast<long>(h), o.processed.c_str());
    if (tomo_bitmap(o.processed, w, h, bmp) != 0) {
        const std::string how = failed("bitmap", config, Sensor::tomo, bmp);
        remove_files({o.processed, bmp});
        return how;
    }
    std::printf("  bitmap -> %s\n", bmp.c_str());
    d.keep("tomo.raw", "processed tomographic image: " + size_text(w, h) + " 16-bit words, 3 frames side by side");
    d.keep("tomo.bmp", "8-bit bitmap " + size_text(w, h) + ": display window from the data, detail filter, P and A markers");
    dicom_picture(d, "tomo", o.processed, w, h);
    return "";
}

// A panoramic picture of 2 passes or a lateral cephalometric one (the simulated
// skull is seen from the side), processed into its bitmap. "" or how it failed.
std::string picture(Demo& d, bool ceph) {
    AcquireOptions o;
    o.ceph = ceph;
    o.lateral = ceph;
    o.config = d.dir + (ceph ? "tavirex-ceph.ini" : "tavirex-pano.ini");
    o.profile = d.dir + (ceph ? "speed_ceph.txt" : "speed_pano.txt");
    o.passes = ceph ? 1 : 2;
    o.output = d.dir + (ceph ? "ceph_readout.raw" : "pano_readout.raw");
    o.sim_mode = "phantom";
    std::printf("\n== %s\n", ceph ? "cephalometric picture (lateral view)" : "panoramic picture (2 passes)");
    AcquireResult r;
    if (acquire(o, &r) != 0) {
        report_failure("acquisition", r.failure);
        return "failed at " + r.failure.stage + " (above)";
    }
    const std::string how = finish_picture(d, o);
    if (how.empty()) return "";
    const std::string name = d.dir + (ceph ? "ceph" : "pano");
    remove_files({o.output, name + ".raw", name + ".bmp"});
    return how;
}

// Each section of the demo and how it ended, the failed ones counted.
int sections(Demo& d) {
    const bool pano_calibrated = calibrate(d, false), ceph_calibrated = calibrate(d, true);
    const std::string uncalibrated = "not taken: its calibration failed (above)";
    d.outcome("panoramic", pano_calibrated ? picture(d, false) : uncalibrated);
    d.outcome("cephalometric", ceph_calibrated ? picture(d, true) : uncalibrated);
    d.outcome("tomographic", tomo_picture(d));
    std::string dicom;
    for (const std::string& one : d.dicom) dicom += (dicom.empty() ? "" : "; ") + one;
    d.outcome("DICOM", dicom.empty() ? "no processed image to write" : dicom);
    // A picture not taken or not finished fails its section; a DICOM file the build cannot make does not.
    int failures = 0;
    for (const auto& [section, how] : d.outcomes)
        failures += section == "DICOM" ? how.find("not written") != std::string::npos : !how.empty();
    return failures;
}

}  // namespace

int cmd_demo(int argc, char** argv) {
    Args args;
    if (!parse_args(argc, argv, 2, {"out", "sim", "worklist", "pacs", "aet"}, {}, &args)) return kRefused;
    if (args.help) {
        std::printf(
            "usage: tavirex demo [--out DIR] [--sim PATH] [--worklist ACCESSION --pacs AET@HOST:PORT [--aet OURS]]\n\n"
            "Writes configurations pointing at the simulated sensor module (--sim, default %s)\n"
            "with absolute paths, a boot program, FPGA configurations and speed profiles into DIR\n"
            "(default: out); measures the shading calibration and line tables from dark and flat-field\n"
            "pictures; then acquires a panoramic picture (2 passes) and a lateral cephalometric one, their\n"
            "unprocessed readouts DIR/pano_readout.raw and DIR/ceph_readout.raw; processes each into\n"
            "DIR/pano.raw and DIR/ceph.raw, sets the display window from the data and writes\n"
            "DIR/pano.bmp and DIR/ceph.bmp with the side marker. Then it calibrates the\n"
            "tomographic strip sensor, takes three tomographic frames, processes and joins them into\n"
            "DIR/tomo.raw and writes DIR/tomo.bmp with the P and A markers. Where the build has DICOM\n"
            "(tavirex dicom), each processed image also goes to DIR/pano.dcm, DIR/ceph.dcm and\n"
            "DIR/tomo.dcm, the three in one study (each its own series) of the demo patient, ID %s,\n"
            "name %s, or of the patient and study of the worklist item --worklist ACCESSION on the archive\n"
            "--pacs. It ends with the list of the files it leaves in DIR, each with its size and what it is.\n",
            sim_module_path().c_str(), kDemoPatientId, kDemoPatientName);
        return 0;
    }
    if (!positionals(args, 0, "demo", "no words besides the options")) return kRefused;
    Demo d;
    // The pictures' patient, before anything is taken: the demo patient, or the worklist item's.
    if (args.has("worklist") || args.has("pacs") || args.has("aet")) {
        if (const int status = dicom_identity(args, "demo", &d.visit)) return status;
    } else {
        d.visit.patient_id = kDemoPatientId;
        d.visit.patient_name = kDemoPatientName;
        d.visit.study_uid = new_uid();
    }
    d.sim = absolute_path(args.get("sim", sim_module_path()));
    if (!sim_module("demo", d.sim)) return kRefused;
    d.dir = absolute_path(args.get("out", "out"));
    std::error_code ec;
    if (std::filesystem::exists(d.dir, ec) && !std::filesystem::is_directory(d.dir, ec)) {
        std::fprintf(stderr, "tavirex demo: --out %s names a file, not a folder\n", d.dir.c_str());
        return kRefused;
    }
    if (!make_dir(d.dir) || !std::filesystem::is_directory(d.dir, ec)) {
        std::fprintf(stderr, "tavirex demo: cannot create the folder %s (--out)\n", d.dir.c_str());
        return kRefused;
    }
    if (d.dir.back() != '/' && d.dir.back() != '\\') d.dir += tvx::platform::path_separator();
    const struct { const char* name; std::string content; const char* what; } inputs[] = {
        {"tavirex-pano.ini", configuration(d.dir, d.sim, "pano"),
         "configuration, panoramic: the simulated module as link library, absolute paths to the files here"},
        {"tavirex-ceph.ini", configuration(d.dir, d.sim, "ceph"), "configuration, cephalometric: the same with its line table"},
        {"tavirex-tomo.ini", tomo_configuration(d.dir, d.sim),
         "configuration, tomographic: read by Tavirex_Init and Tavirex_Init_Tomo"},
        {"boot.bin", program_bytes("TVXBOOT1", 1024, 7), "boot program the library loads into the module (any bytes do here)"},
        {"fpga_pano.hex", intel_hex(program_bytes("TVXFPGA pano v1", 2048, 11)), "FPGA configuration, panoramic (Intel HEX)"},
        {"fpga_ceph.hex", intel_hex(program_bytes("TVXFPGA ceph v1", 2048, 13)), "FPGA configuration, cephalometric"},
        {"fpga_tomo.hex", intel_hex(program_bytes("TVXFPGA tomo v1", 2048, 17)), "FPGA configuration, tomographic"},
        {"speed_pano.txt", speed_profile(300), "speed profile of the panoramic picture: one speed per line, 10 ms apart"},
        {"speed_ceph.txt", speed_profile(560), "speed profile of the cephalometric picture"},
    };
    for (const auto& f : inputs) {
        if (!write_text(d.dir + f.name, f.content))
            return report_failure("demo", Failure{"write its inputs", kOutputFailed, errno, d.dir + f.name, "", Sensor::none});
        d.keep(f.name, f.what);
    }
    std::printf("demo: simulated sensor module %s, files in %s\n\n", d.sim.c_str(), d.dir.c_str());
    // What the library reads from the panoramic configuration, and the link to the module.
    int failures = run_info((d.dir + "tavirex-pano.ini").c_str()) != 0 ? 1 : 0;
    if (failures == 0) failures = sections(d);

    std::printf("\n== files in %s\n", d.dir.c_str());
    for (const auto& [name, what] : d.files) {
        const std::uintmax_t bytes = std::filesystem::file_size(d.dir + name, ec);
        std::printf("  %-20s %10ju bytes  %s\n", name.c_str(), ec ? std::uintmax_t{0} : bytes, what.c_str());
    }
    std::printf("\n== outcome\n");
    if (d.outcomes.empty()) std::printf("  no picture taken: the link to the simulated module failed (above)\n");
    for (const auto& [section, how] : d.outcomes)
        std::printf("  %-14s %s\n", section.c_str(), how.empty() ? "done" : how.c_str());
    if (failures != 0) std::printf("%d section(s) failed; the files of a failed picture are not kept\n", failures);
    return failures == 0 ? 0 : 1;
}

}  // namespace cli
