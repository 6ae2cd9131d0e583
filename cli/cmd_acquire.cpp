// tavirex acquire: one picture from the sensor module, written as a raw readout.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "acquire.h"
#include "acquire_tomo.h"
#include "checks.h"
#include "common.h"
#include "output_args.h"
#include "platform/system.h"
#include "tavirex.h"
#include "tavirex_link.h"
#include "tvxsim_control.h"

namespace cli {

namespace {

int acquire_tomo_command(const Args& args) {
    const char* cmd = "acquire tomo";
    TomoAcquireOptions o;
    if (!refuse_options(args, cmd, {"profile", "passes", "interval", "lag", "replay", "lateral"},
                        "applies to pano and ceph only") ||
        !config_option(args, cmd, &o.config) || !option_int(args, cmd, "frames", 1u, &o.frames, 1, 3) ||
        !option_int(args, cmd, "poll-limit", 20000L, &o.poll_limit, 1) || !sim_mode_option(args, cmd, false, &o.sim_mode) ||
        !sim_option(args, cmd, o.config, &o.sim))
        return kRefused;
    o.output_prefix = args.get("out", "tomo_readout");
    std::vector<std::string> frames;
    for (std::uint32_t k = 0; k < o.frames; ++k) frames.push_back(o.output_prefix + std::to_string(k) + ".raw");
    if (!output_files(cmd, frames) || !configured_files(cmd, o.config, Sensor::tomo, false)) return kRefused;
    o.progress = !args.has("quiet");
    std::printf("acquire tomographic, %u frame%s\n", o.frames, o.frames == 1 ? "" : "s");
    TomoAcquireResult result;
    const std::int32_t rc = acquire_tomo(o, &result);
    if (rc != 0) return report_failure("acquisition", result.failure);
    return 0;
}

}  // namespace

int cmd_acquire(int argc, char** argv) {
    Args args;
    if (!parse_args(argc, argv, 2,
                    {"config", "profile", "passes", "interval", "lag", "out", "sim", "sim-mode", "replay", "poll-limit",
                     "frames"},
                    {"lateral", "quiet"}, &args))
        return kRefused;
    if (args.help) {
        std::printf(
            "usage: tavirex acquire pano|ceph --config FILE --profile FILE [options]\n"
            "       tavirex acquire tomo --config FILE [--frames 1..3] [--out PREFIX] [--quiet]\n\n"
            "Takes one picture in the host's call order: Tavirex_Init, Tavirex_SetCommInit,\n"
            "Tavirex_SetSensMduInit_Pano/_Ceph, Tavirex_SetParamforPictEx(_Ceph), Tavirex_SetWaitXExpose,\n"
            "Tavirex_CheckPictStatus until the picture bit shows, Tavirex_GetImageDataEx, Tavirex_ResetAll,\n"
            "Tavirex_SetDeviceFree; prints each stage with its duration and writes the raw readout\n"
            "(width x height 16-bit little-endian samples, 4096 x 1536 panoramic, 3500 x 2304 cephalometric),\n"
            "then the `tavirex process` command that processes it: the readout does not record the pass\n"
            "count, the profile, the interval or the lag, and processing needs the same ones.\n\n"
            "options:\n"
            "  --config FILE      configuration (INI)\n"
            "  --profile FILE     speed profile, one speed (greater than 0) per line\n"
            "  --passes N         panoramic passes 1..4 (default 1)\n"
            "  --interval MS      speed sample interval 1..65535 (default 10)\n"
            "  --lag MS           time lag before the first picture line 0..65535 (default 100)\n"
            "  --out FILE         raw readout file (default pano_readout.raw or ceph_readout.raw)\n"
            "  --lateral          cephalometric lateral view (default frontal)\n"
            "  --sim PATH         the simulated module for its controls (default: the configuration's\n"
            "                     [DLL] FILENAME; it must be that module)\n"
            "  --sim-mode NAME    simulated module only: phantom, flat, dark, ramp, replay\n"
            "  --replay FILE      simulated module only: deliver this recorded readout (a file written\n"
            "                     by acquire, or 2304 module rows of 8192 bytes)\n"
            "  --poll-limit N     status polls before giving up (default 200000)\n"
            "  --quiet            no progress indicator (there is none unless standard error is a terminal)\n\n"
            "tomo takes the frames of a tomographic scan in the host's call order: Tavirex_Init and\n"
            "Tavirex_SetCommInit (link, boot), Tavirex_Init_Tomo, Tavirex_SetSensMdulInit_Tomo,\n"
            "Tavirex_SetParamforPictEx_Tomo, Tavirex_SetWaitXExpose_Tomo, then 18 pictures per frame (each\n"
            "strip's exposure and dark picture, the calibration pair), each with Tavirex_SetTIMERandMODREG_Tomo,\n"
            "Tavirex_PictStartbyCommand_Tomo, Tavirex_CheckPictStatus_Tomo until the picture status bit shows,\n"
            "Tavirex_GetEXTIMEandECTIME_Tomo; then Tavirex_GetImageDataEx_Tomo, Tavirex_ResetAll_Tomo and\n"
            "Tavirex_SetDeviceFree_Tomo. Frame k is written to PREFIXk.raw (default tomo_readout0.raw ...):\n"
            "its 18 pictures of 128 x 2304 samples side by side, 2304 x 2304 16-bit little-endian samples\n"
            "of 13 bits. It also takes --sim, --sim-mode (not replay) and --poll-limit.\n"
            "  --frames N         frames 1..3 (default 1)\n");
        return 0;
    }
    if (args.positional.size() == 1 && args.positional[0] == "tomo") return acquire_tomo_command(args);
    if (args.positional.size() != 1 || (args.positional[0] != "pano" && args.positional[0] != "ceph")) {
        std::fprintf(stderr, "tavirex acquire: say pano, ceph or tomo (see --help)\n");
        return kRefused;
    }
    AcquireOptions o;
    o.ceph = args.positional[0] == "ceph";
    const char* cmd = o.ceph ? "acquire ceph" : "acquire pano";
    if (!refuse_options(args, cmd, {"frames"}, "applies to tomo only") ||
        !refuse_options(args, cmd, {o.ceph ? "passes" : "lateral"},
                        o.ceph ? "applies to pano only (a cephalometric picture is one pass)" : "applies to ceph only") ||
        !config_option(args, cmd, &o.config))
        return kRefused;
    if (!args.has("profile")) {
        std::fprintf(stderr, "tavirex %s: --profile FILE is required\n", cmd);
        return kRefused;
    }
    o.profile = args.get("profile");
    long limit = 0;
    if (!speed_profile(cmd, o.profile) || !option_int(args, cmd, "passes", 1u, &o.passes, 1, TAVIREX_MAX_PASSES) ||
        !option_int(args, cmd, "interval", 10u, &o.interval, 1, 65535) ||
        !option_int(args, cmd, "lag", 100u, &o.lag, 0, 65535) ||
        !option_int(args, cmd, "poll-limit", 200000L, &limit, 1) ||
        !sim_mode_option(args, cmd, true, &o.sim_mode) || !sim_option(args, cmd, o.config, &o.sim))
        return kRefused;
    o.poll_limit = limit;
    o.lateral = args.has("lateral");
    o.progress = !args.has("quiet");
    o.output = args.get("out", o.ceph ? "ceph_readout.raw" : "pano_readout.raw");
    o.replay = args.get("replay");
    if (o.sim_mode == "replay" && o.replay.empty()) {
        std::fprintf(stderr, "tavirex %s: --sim-mode replay needs --replay FILE\n", cmd);
        return kRefused;
    }
    if (!o.replay.empty()) {
        if (!o.sim_mode.empty() && o.sim_mode != "replay") {
            std::fprintf(stderr, "tavirex %s: --replay goes with --sim-mode replay or alone\n", cmd);
            return kRefused;
        }
        o.sim_mode = "replay";
        if (!recorded_readout(cmd, o.replay, o.ceph)) return kRefused;
    }
    if (!output_files(cmd, {o.output}) || !configured_files(cmd, o.config, o.ceph ? Sensor::ceph : Sensor::pano, false))
        return kRefused;
    std::printf("acquire %s%s\n", o.ceph ? "cephalometric" : "panoramic", o.ceph ? (o.lateral ? " (lateral)" : " (frontal)") : "");
    AcquireResult result;
    const std::int32_t rc = acquire(o, &result);
    if (rc != 0) return report_failure("acquisition", result.failure);
    std::printf("to process this readout the way it was taken: %s\n", process_command(o).c_str());
    return 0;
}

}  // namespace cli
