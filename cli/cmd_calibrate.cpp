// tavirex calibrate: shading calibration file and line table of a sensor.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "acquire.h"
#include "calibration.h"
#include "common.h"
#include "tavirex_link.h"

namespace cli {

namespace {

bool parse_u32(const std::string& text, std::uint32_t* out) {
    char* end = nullptr;
    const unsigned long v = std::strtoul(text.c_str(), &end, 10);
    if (text.empty() || text[0] == '-' || *end != '\0' || v > 0xFFFFFFFFul) return false;
    *out = static_cast<std::uint32_t>(v);
    return true;
}

bool read_readout(const std::string& path, int width, int rows, std::vector<std::uint16_t>* out) {
    if (!read_raw_file(path, static_cast<std::size_t>(width) * static_cast<std::size_t>(rows), out)) {
        std::fprintf(stderr, "tavirex calibrate: %s is missing or shorter than %d x %d samples\n", path.c_str(), width, rows);
        return false;
    }
    return true;
}

}  // namespace

int run_calibrate(const CalibrateRequest& q) {
    const int width = q.ceph ? TAVIREX_CEPH_LINES : TAVIREX_PANO_LINES;
    const int rows = q.ceph ? TAVIREX_CEPH_ROWS : TAVIREX_PANO_ROWS;
    Calibration cal;
    if (q.source == "model") {
        std::printf("calibration from the sensor model of %s\n", q.sim_path.c_str());
        if (!calibration_from_model(q.sim_path, q.ceph, &cal)) return 1;
    } else {
        std::vector<std::uint16_t> dark, flat;
        if (q.source == "files") {
            if (!read_readout(q.dark, width, rows, &dark) || !read_readout(q.flat, width, rows, &flat)) return 1;
        } else {
            // Two pictures through the library: no exposure, then an even one.
            AcquireOptions o = q.acquire;
            o.keep_image = true;
            o.ceph = q.ceph;
            AcquireResult r;
            for (int pass = 0; pass < 2; ++pass) {
                o.sim_mode = pass == 0 ? "dark" : "flat";
                std::printf("%s picture\n", pass == 0 ? "dark" : "flat-field");
                const std::int32_t rc = acquire(o, &r);
                if (rc != 0) {
                    std::printf("calibration failed: %s picture, %s: %ld (%s)\n", o.sim_mode.c_str(), r.failed_stage.c_str(),
                                static_cast<long>(rc), rc <= kNoExposure ? "see above" : explain(rc));
                    return 1;
                }
                (pass == 0 ? dark : flat) = r.image;
            }
        }
        if (!calibration_from_readouts(dark, flat, width, rows, &cal)) return 1;
    }
    const int shading_rc = write_shading_file(q.shading, cal) ? 0 : 1;
    std::printf("  shading calibration %d rows x 4096 -> %s%s\n", cal.rows, q.shading.c_str(), shading_rc == 0 ? "" : "  FAILED");
    const int lines_rc = write_line_table(q.lines, cal, q.ceph) ? 0 : 1;
    std::printf("  line table, %zu defective band(s) ->  %s%s\n", cal.band_row.size(), q.lines.c_str(), lines_rc == 0 ? "" : "  FAILED");
    for (std::size_t i = 0; i < cal.band_row.size(); ++i)
        std::printf("    rows %d..%d\n", cal.band_row[i], cal.band_row[i] + cal.band_height[i] - 1);
    return shading_rc == 0 && lines_rc == 0 ? 0 : 1;
}

int cmd_calibrate(int argc, char** argv) {
    Args args;
    if (!parse_args(argc, argv, 2,
                    {"config", "profile", "passes", "interval", "lag", "dark", "flat", "sim", "shading", "lines"},
                    {"model"}, &args))
        return 2;
    if (args.help) {
        std::printf(
            "usage: tavirex calibrate pano|ceph [--config FILE --profile FILE] [--dark RAW --flat RAW | --model]\n"
            "                          [--shading FILE] [--lines FILE]\n\n"
            "Writes the shading calibration file (one 4096-entry table per sensor row, scaling each row\n"
            "to the median flat-field level) and the line table of the rows that lost their sensitivity.\n\n"
            "sources:\n"
            "  (default)          a dark and a flat-field picture acquired through the library from the\n"
            "                     simulated module (--config, --profile; --passes, --interval, --lag as\n"
            "                     for acquire)\n"
            "  --dark/--flat RAW  two raw readouts taken with `tavirex acquire` without and with an even\n"
            "                     exposure (4096 x 1536 panoramic, 3500 x 2304 cephalometric)\n"
            "  --model            the simulated module's own sensor model (--sim PATH, default %s)\n\n"
            "outputs default to the configuration's DELSHADW CALIBDATA (pano) or CALIBDATA_CEPH (ceph)\n"
            "and CORRINJLINE CORRLINEDATA.\n\n"
            "usage: tavirex calibrate tomo --config FILE [--model [--sim PATH]]\n\n"
            "Writes the tomographic gain and offset tables (<FOLDER><SENSOR_ID>a.tbl and b.tbl: the\n"
            "identifier, the type letter, one little-endian float per pixel of 2304 rows by 128) and the\n"
            "noise-row table (<FOLDER><SENSOR_ID>.dat) named by the configuration, measured from two dark\n"
            "and two flat-field scans taken and dark-corrected through the library, or with --model from\n"
            "the simulated module's sensor model.\n",
            sim_module_path().c_str());
        return 0;
    }
    if (args.positional.size() == 1 && args.positional[0] == "tomo") return calibrate_tomo(args);
    if (args.positional.size() != 1 || (args.positional[0] != "pano" && args.positional[0] != "ceph")) {
        std::fprintf(stderr, "tavirex calibrate: say pano, ceph or tomo (see --help)\n");
        return 2;
    }
    CalibrateRequest q;
    q.ceph = args.positional[0] == "ceph";
    const std::string config = args.get("config");
    q.shading = args.get("shading", config.empty() ? "" : config_string(config, "DELSHADW", q.ceph ? "CALIBDATA_CEPH" : "CALIBDATA"));
    q.lines = args.get("lines", config.empty() ? "" : config_string(config, "CORRINJLINE", "CORRLINEDATA"));
    if (q.shading.empty() || q.lines.empty()) {
        std::fprintf(stderr, "tavirex calibrate: name the outputs with --shading and --lines or in the configuration\n");
        return 2;
    }
    q.sim_path = args.get("sim", sim_module_path());
    if (args.has("model")) {
        q.source = "model";
    } else if (args.has("dark") || args.has("flat")) {
        if (!args.has("dark") || !args.has("flat")) {
            std::fprintf(stderr, "tavirex calibrate: --dark and --flat go together\n");
            return 2;
        }
        q.source = "files";
        q.dark = args.get("dark");
        q.flat = args.get("flat");
    } else {
        if (config.empty() || !args.has("profile")) {
            std::fprintf(stderr, "tavirex calibrate: acquiring needs --config and --profile\n");
            return 2;
        }
        q.source = "acquire";
        q.acquire.config = config;
        q.acquire.profile = args.get("profile");
        if (!parse_u32(args.get("passes", "1"), &q.acquire.passes) ||
            !parse_u32(args.get("interval", "10"), &q.acquire.interval) || !parse_u32(args.get("lag", "100"), &q.acquire.lag)) {
            std::fprintf(stderr, "tavirex calibrate: --passes, --interval and --lag take unsigned numbers\n");
            return 2;
        }
    }
    return run_calibrate(q);
}

}  // namespace cli
