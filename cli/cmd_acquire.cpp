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

// Chooses the image mode of the simulated module through its control entry.
std::int32_t set_sim_mode(const SimControl& sim, const std::string& mode, const std::string& replay) {
    auto fn = reinterpret_cast<TvxSimSetModeByNameFn>(sim.find("TvxSim_SetModeByName"));
    if (fn == nullptr) {
        std::fprintf(stderr, "  the link library is not the simulated module: image mode %s not available\n", mode.c_str());
        return kNoSimMode;
    }
    if (fn(mode.c_str(), replay.empty() ? nullptr : replay.c_str()) != 0) {
        std::fprintf(stderr, "  the simulated module refused the image mode %s%s%s\n", mode.c_str(),
                     replay.empty() ? "" : " with ", replay.c_str());
        return kNoSimMode;
    }
    return 0;
}

std::int32_t wait_for_exposure(long limit, bool wanted) {
    // Carriage returns redraw the line on a terminal; in a log they are noise.
    const bool progress = wanted && tvx::platform::is_terminal(stderr);
    unsigned char picture = 0;
    static const char kSpin[] = "|/-\\";
    for (long polls = 1; polls <= limit; ++polls) {
        const std::int32_t rc = Tavirex_CheckPictStatus(&picture);
        if (rc != 0) return rc;
        if (progress && (polls % 50 == 1)) {
            std::fprintf(stderr, "\r  waiting for the exposure %c %ld polls", kSpin[(polls / 50) % 4], polls);
            std::fflush(stderr);
        }
        if (picture != 0) {
            if (progress) std::fprintf(stderr, "\r  exposure seen after %ld polls          \n", polls);
            return 0;
        }
    }
    if (progress) std::fprintf(stderr, "\n");
    return kNoExposure;
}

}  // namespace

std::int32_t HostSession::fail(const char* stage_name, std::int32_t code) {
    *code_ = code;
    *failed_stage_ = stage_name;
    name_configured_files(config_, code);
    return code;
}

void HostSession::release() {
    if (tomo_)
        stage("Tavirex_SetDeviceFree_Tomo", [] { return Tavirex_SetDeviceFree_Tomo(); });
    else
        stage("Tavirex_SetDeviceFree", [] { return Tavirex_SetDeviceFree(); });
}

std::int32_t HostSession::open() {
    std::int32_t rc = stage("Tavirex_Init", [&] { return Tavirex_Init(config_.c_str(), 1); });
    if (rc != 0) return fail("Tavirex_Init", rc);
    rc = stage("Tavirex_SetCommInit (link, boot)", [] { return Tavirex_SetCommInit(); });
    if (rc != 0) {
        release();
        return fail("Tavirex_SetCommInit", rc);
    }
    return 0;
}

std::int32_t HostSession::finish(const char* stage_name, std::int32_t code) {
    if (armed_ && tomo_)
        stage("Tavirex_ResetAll_Tomo", [] { return Tavirex_ResetAll_Tomo(); });
    else if (armed_)
        stage("Tavirex_ResetAll", [] { return Tavirex_ResetAll(); });
    release();
    return code == 0 ? 0 : fail(stage_name, code);
}

int report_failure(const char* what, const std::string& stage, std::int32_t code) {
    std::printf("%s failed at %s: %ld (%s)\n", what, stage.c_str(), static_cast<long>(code),
                code <= kNoExposure ? "see above" : explain(code));
    return 1;
}

std::int32_t acquire(const AcquireOptions& o, AcquireResult* r) {
    HostSession session(o.config, false, &r->code, &r->failed_stage);
    std::int32_t rc = session.open();
    if (rc != 0) return rc;
    // From here on the module is reset and the link released on every way out.
    auto finish = [&](const char* stage_name, std::int32_t code) { return session.finish(stage_name, code); };
    const SimControl sim(o.config, o.sim);
    if (!o.sim_mode.empty() && (rc = set_sim_mode(sim, o.sim_mode, o.replay)) != 0) return finish("image mode", rc);

    if (o.ceph) {
        rc = stage(o.lateral ? "Tavirex_SetSensMduInit_Ceph (lateral)" : "Tavirex_SetSensMduInit_Ceph (frontal)",
                   [&] { return Tavirex_SetSensMduInit_Ceph(o.config.c_str(), o.lateral ? 1 : 0, 1); });
        if (rc != 0) return finish("Tavirex_SetSensMduInit_Ceph", rc);
        rc = stage("Tavirex_SetParamforPictEx_Ceph", [&] {
            return Tavirex_SetParamforPictEx_Ceph(o.profile.c_str(), 1, o.interval, o.lag);
        });
        if (rc != 0) return finish("Tavirex_SetParamforPictEx_Ceph", rc);
    } else {
        rc = stage("Tavirex_SetSensMduInit_Pano", [&] { return Tavirex_SetSensMduInit_Pano(o.config.c_str(), 1); });
        if (rc != 0) return finish("Tavirex_SetSensMduInit_Pano", rc);
        rc = stage("Tavirex_SetParamforPictEx", [&] {
            return Tavirex_SetParamforPictEx(o.profile.c_str(), o.passes, o.interval, o.lag);
        });
        if (rc != 0) return finish("Tavirex_SetParamforPictEx", rc);
    }
    session.armed();
    rc = stage("Tavirex_SetWaitXExpose (arm)", [] { return Tavirex_SetWaitXExpose(); });
    if (rc != 0) return finish("Tavirex_SetWaitXExpose", rc);
    rc = stage("Tavirex_CheckPictStatus (exposure)", [&] { return wait_for_exposure(o.poll_limit, o.progress); });
    if (rc == kNoExposure) std::fprintf(stderr, "  no exposure within %ld status polls\n", o.poll_limit);
    if (rc != 0) return finish("Tavirex_CheckPictStatus", rc);
    const std::uint32_t segments = o.ceph ? 1 : (o.segments != 0 ? o.segments : o.passes);
    rc = stage("Tavirex_GetImageDataEx (readout)", [&] { return Tavirex_GetImageDataEx(segments); });
    if (rc != 0) return finish("Tavirex_GetImageDataEx", rc);

    if (o.process) {
        // Processing runs in the library on its own copy of the readout.
        rc = stage(o.ex2 ? "Tavirex_ImageProcessingEx2" : "Tavirex_ImageProcessingEx", [&] {
            return o.ex2 ? Tavirex_ImageProcessingEx2(o.processed.c_str(), &r->processed_width, &r->processed_height)
                         : Tavirex_ImageProcessingEx(o.processed.c_str(), &r->processed_width, &r->processed_height);
        });
        if (rc != 0) return finish(o.ex2 ? "Tavirex_ImageProcessingEx2" : "Tavirex_ImageProcessingEx", rc);
    }
    // The library keeps the readout to itself; the simulated module shows the
    // same samples as it delivered them.
    if (o.output.empty() && !o.keep_image) return finish("", 0);
    auto picture = reinterpret_cast<TvxSimGetPictureFn>(sim.find("TvxSim_GetPicture"));
    std::int32_t width = 0, height = 0;
    if (picture != nullptr) picture(nullptr, 0, &width, &height);
    if (width <= 0 || height <= 0) {
        std::fprintf(stderr, "  the link library is not the simulated module: the raw readout cannot be copied out\n");
        return finish("copy of the readout", kNoSimMode);
    }
    r->width = width;
    r->height = height;
    r->image.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0);
    picture(r->image.data(), static_cast<std::uint32_t>(r->image.size()), &width, &height);
    if (!o.output.empty()) {
        rc = stage("write raw readout", [&] {
            return write_raw_file(o.output, r->image.data(), r->image.size()) ? 0 : kOutputFailed;
        });
        if (rc != 0) {
            std::fprintf(stderr, "  cannot write %s\n", o.output.c_str());
            return finish("write raw readout", rc);
        }
        std::printf("  raw readout %d x %d samples -> %s\n", r->width, r->height, o.output.c_str());
    }
    return finish("", 0);
}

std::string process_command(const AcquireOptions& o) {
    std::string line = "tavirex process --config " + o.config + " --profile " + o.profile + " --raw " + o.output;
    if (o.ceph) line += o.lateral ? " --mode ceph --lateral" : " --mode ceph";
    if (!o.ceph) line += " --passes " + std::to_string(o.passes);
    if (o.interval != 10) line += " --interval " + std::to_string(o.interval);
    if (o.lag != 100) line += " --lag " + std::to_string(o.lag);
    return line + " --out FILE";
}

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
    o.output_prefix = args.get("out", "tomo-frame");
    std::vector<std::string> frames;
    for (std::uint32_t k = 0; k < o.frames; ++k) frames.push_back(o.output_prefix + std::to_string(k) + ".raw");
    if (!output_files(cmd, frames) || !configured_files(cmd, o.config, Sensor::tomo, false)) return kRefused;
    o.progress = !args.has("quiet");
    std::printf("acquire tomographic, %u frame%s\n", o.frames, o.frames == 1 ? "" : "s");
    TomoAcquireResult result;
    const std::int32_t rc = acquire_tomo(o, &result);
    if (rc != 0) {
        std::printf("acquisition failed at %s: %ld (%s)\n", result.failed_stage.c_str(), static_cast<long>(rc),
                    rc == kNoExposure ? "the picture status bit never showed the end of a picture"
                    : rc == kNoSimMode ? "the simulated module's controls are not available"
                    : rc == kOutputFailed ? "a raw frame file could not be written"
                                          : explain(rc));
        return 1;
    }
    return 0;
}

}  // namespace

int cmd_acquire(int argc, char** argv) {
    Args args;
    if (!parse_args(argc, argv, 2,
                    {"config", "profile", "passes", "interval", "lag", "out", "sim", "sim-mode", "replay", "poll-limit",
                     "frames"},
                    {"lateral", "quiet"}, &args))
        return 2;
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
            "  --out FILE         raw readout file (default pano.raw or ceph.raw)\n"
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
            "Tavirex_SetDeviceFree_Tomo. Frame k is written to PREFIXk.raw (default tomo-frame0.raw ...):\n"
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
    o.output = args.get("out", o.ceph ? "ceph.raw" : "pano.raw");
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
    if (rc != 0) {
        std::printf("acquisition failed at %s: %ld (%s)\n", result.failed_stage.c_str(), static_cast<long>(rc),
                    rc == kNoExposure ? "the picture status never showed the end of the exposure"
                    : rc == kNoSimMode ? "the image mode could not be set"
                    : rc == kOutputFailed ? "the raw readout file could not be written"
                                          : explain(rc));
        return 1;
    }
    std::printf("to process this readout the way it was taken: %s\n", process_command(o).c_str());
    return 0;
}

}  // namespace cli
