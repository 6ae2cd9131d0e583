// tavirex calibrate: shading calibration file and line table of a sensor.
#include <cstdio>
#include <string>

#include "acquire.h"
#include "calibration.h"
#include "checks.h"
#include "common.h"
#include "output_args.h"
#include "tavirex_link.h"

namespace cli {

int run_calibrate(const CalibrateRequest& q, bool* write_failed) {
    const int width = q.ceph ? TAVIREX_CEPH_LINES : TAVIREX_PANO_LINES;
    const int rows = q.ceph ? TAVIREX_CEPH_ROWS : TAVIREX_PANO_ROWS;
    Calibration cal;
    if (q.source == "model") {
        std::printf("calibration from the sensor model of %s\n", q.sim_path.c_str());
        if (!calibration_from_model(q.sim_path, q.ceph, &cal)) return 1;
    } else {
        std::vector<std::uint16_t> dark, flat;
        if (q.source == "files") {
            if (!read_raw_file(q.dark, static_cast<std::size_t>(width) * rows, &dark) ||
                !read_raw_file(q.flat, static_cast<std::size_t>(width) * rows, &flat)) {
                std::fprintf(stderr, "tavirex calibrate: %s or %s cannot be read\n", q.dark.c_str(), q.flat.c_str());
                return 1;
            }
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
                if (rc != 0) return report_failure(pass == 0 ? "calibration (dark picture)" : "calibration (flat-field picture)", r.failure);
                (pass == 0 ? dark : flat) = r.image;
            }
        }
        if (!calibration_from_readouts(dark, flat, width, rows, &cal)) return 1;
    }
    // Both files or neither: a line table without its shading file is no calibration.
    const bool shading_ok = write_shading_file(q.shading, cal);
    const bool lines_ok = shading_ok && write_line_table(q.lines, cal, q.ceph);
    if (!lines_ok) {
        const Failure f{shading_ok ? "write line table" : "write shading calibration", kOutputFailed, errno,
                        shading_ok ? q.lines : q.shading, "", Sensor::none};
        if (shading_ok) remove_files({q.shading});
        if (write_failed != nullptr) *write_failed = true;
        report_failure("calibration", f);
        std::printf("  neither file was kept\n");
        return 1;
    }
    std::printf("  shading calibration %d rows x 4096 16-bit words -> %s\n", cal.rows, q.shading.c_str());
    std::printf("  line table, %zu defective band(s) -> %s\n", cal.band_row.size(), q.lines.c_str());
    for (std::size_t i = 0; i < cal.band_row.size(); ++i)
        std::printf("    rows %d..%d\n", cal.band_row[i], cal.band_row[i] + cal.band_height[i] - 1);
    return 0;
}

int cmd_calibrate(int argc, char** argv) {
    Args args;
    if (!parse_args(argc, argv, 2,
                    {"config", "profile", "passes", "interval", "lag", "dark", "flat", "sim", "shading", "lines"},
                    {"model", "lateral"}, &args))
        return kRefused;
    if (args.help) {
        std::printf(
            "usage: tavirex calibrate pano|ceph [--config FILE --profile FILE] [--dark RAW --flat RAW | --model]\n"
            "                          [--shading FILE] [--lines FILE] [--sim PATH]\n\n"
            "Writes the shading calibration file (one 4096-entry table per sensor row, scaling each row\n"
            "to the median flat-field level) and the line table of the rows that lost their sensitivity:\n"
            "both or, when one cannot be written, neither.\n\n"
            "sources:\n"
            "  (default)          a dark and a flat-field picture acquired through the library from the\n"
            "                     simulated module (--config, --profile; --passes, --interval, --lag,\n"
            "                     --lateral and --sim as for acquire)\n"
            "  --dark/--flat RAW  two raw readouts taken with `tavirex acquire` without and with an even\n"
            "                     exposure (4096 x 1536 panoramic, 3500 x 2304 cephalometric)\n"
            "  --model            the simulated module's own sensor model (--sim PATH, default %s)\n\n"
            "outputs default to the configuration's DELSHADW CALIBDATA (pano) or CALIBDATA_CEPH (ceph)\n"
            "and CORRINJLINE CORRLINEDATA.\n\n"
            "usage: tavirex calibrate tomo --config FILE [--model] [--sim PATH]\n\n"
            "Writes the tomographic gain and offset tables (<FOLDER><SENSOR_ID>a.tbl and b.tbl: the\n"
            "identifier, the type letter, one little-endian float per pixel of 2304 rows by 128) and the\n"
            "noise-row table (<FOLDER><SENSOR_ID>.dat) named by the configuration, measured from two dark\n"
            "and two flat-field scans taken and dark-corrected through the library, or with --model from\n"
            "the simulated module's sensor model; all three or none.\n",
            sim_module_path().c_str());
        return 0;
    }
    if (args.positional.size() == 1 && args.positional[0] == "tomo") return calibrate_tomo(args);
    if (args.positional.size() != 1 || (args.positional[0] != "pano" && args.positional[0] != "ceph")) {
        std::fprintf(stderr, "tavirex calibrate: say pano, ceph or tomo (see --help)\n");
        return kRefused;
    }
    CalibrateRequest q;
    q.ceph = args.positional[0] == "ceph";
    const char* cmd = q.ceph ? "calibrate ceph" : "calibrate pano";
    const char* acquiring[] = {"profile", "passes", "interval", "lag", "lateral"};
    std::string config;
    if ((args.has("config") && !config_option(args, cmd, &config)) ||
        !refuse_options(args, cmd, {q.ceph ? "passes" : "lateral"},
                        q.ceph ? "applies to pano only (a cephalometric picture is one pass)" : "applies to ceph only"))
        return kRefused;
    q.shading = args.get("shading", config.empty() ? "" : config_string(config, "DELSHADW", q.ceph ? "CALIBDATA_CEPH" : "CALIBDATA"));
    q.lines = args.get("lines", config.empty() ? "" : config_string(config, "CORRINJLINE", "CORRLINEDATA"));
    if (q.shading.empty() || q.lines.empty()) {
        std::fprintf(stderr, "tavirex %s: name the outputs with --shading and --lines or in the configuration (--config)\n", cmd);
        return kRefused;
    }
    if (args.has("model")) {
        q.source = "model";
        q.sim_path = args.get("sim", sim_module_path());
        for (const char* name : acquiring)
            if (!refuse_options(args, cmd, {name}, "applies to acquiring, not to --model")) return kRefused;
        if (!refuse_options(args, cmd, {"dark", "flat"}, "goes without --model") || !sim_module(cmd, q.sim_path))
            return kRefused;
    } else if (args.has("dark") || args.has("flat")) {
        q.source = "files";
        q.dark = args.get("dark");
        q.flat = args.get("flat");
        for (const char* name : acquiring)
            if (!refuse_options(args, cmd, {name}, "applies to acquiring, not to --dark and --flat")) return kRefused;
        const std::string readout = q.ceph ? "a cephalometric readout (3500 x 2304 samples)" : "a panoramic readout (4096 x 1536 samples)";
        const std::uint64_t bytes = q.ceph ? 2ull * TAVIREX_CEPH_LINES * TAVIREX_CEPH_ROWS : 2ull * TAVIREX_PANO_LINES * TAVIREX_PANO_ROWS;
        if (!options_together(args, cmd, "dark", "flat") || !refuse_options(args, cmd, {"sim"}, "goes with acquiring or --model") ||
            !file_size_is(cmd, q.dark, bytes, readout) || !file_size_is(cmd, q.flat, bytes, readout))
            return kRefused;
    } else {
        q.source = "acquire";
        q.acquire.config = config;
        q.acquire.profile = args.get("profile");
        q.acquire.lateral = args.has("lateral");
        if (config.empty() || !args.has("profile")) {
            std::fprintf(stderr, "tavirex %s: acquiring needs --config and --profile (or give --dark/--flat or --model)\n", cmd);
            return kRefused;
        }
        if (!speed_profile(cmd, q.acquire.profile) ||
            !option_int(args, cmd, "passes", 1u, &q.acquire.passes, 1, TAVIREX_MAX_PASSES) ||
            !option_int(args, cmd, "interval", 10u, &q.acquire.interval, 1, 65535) ||
            !option_int(args, cmd, "lag", 100u, &q.acquire.lag, 0, 65535) || !sim_option(args, cmd, config, &q.acquire.sim))
            return kRefused;
    }
    // Every output checked before anything is measured or written.
    if (!output_files(cmd, {q.shading, q.lines})) return kRefused;
    return run_calibrate(q);
}

}  // namespace cli
