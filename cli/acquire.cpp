// One panoramic or cephalometric acquisition in the host's call order, and the
// opening and closing it shares with the tomographic one.
#include "acquire.h"

#include <cstdio>

#include "checks.h"
#include "platform/system.h"
#include "tavirex.h"
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

void HostSession::release() {
    if (sensor_ == Sensor::tomo)
        stage("Tavirex_SetDeviceFree_Tomo", [] { return Tavirex_SetDeviceFree_Tomo(); });
    else
        stage("Tavirex_SetDeviceFree", [] { return Tavirex_SetDeviceFree(); });
}

std::int32_t HostSession::open() {
    std::int32_t rc = stage("Tavirex_Init", [&] { return Tavirex_Init(config_.c_str(), 1); });
    if (rc != 0) {
        *failure_ = Failure{"Tavirex_Init", rc, last_failure().error, "", config_, sensor_};
        return rc;
    }
    rc = stage("Tavirex_SetCommInit (link, boot)", [] { return Tavirex_SetCommInit(); });
    return rc == 0 ? 0 : finish("Tavirex_SetCommInit", rc);
}

std::int32_t HostSession::finish(const char* stage_name, std::int32_t code, const std::string& output) {
    // The errno of the failing step, before the reset and the release run.
    const int error = last_failure().error;
    if (armed_ && sensor_ == Sensor::tomo)
        stage("Tavirex_ResetAll_Tomo", [] { return Tavirex_ResetAll_Tomo(); });
    else if (armed_)
        stage("Tavirex_ResetAll", [] { return Tavirex_ResetAll(); });
    release();
    if (code != 0) *failure_ = Failure{stage_name, code, error, output, config_, sensor_};
    return code;
}

std::int32_t acquire(const AcquireOptions& o, AcquireResult* r) {
    HostSession session(o.config, o.ceph ? Sensor::ceph : Sensor::pano, &r->failure);
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
        // -96 is the processed image's write; the others name the configured tables.
        if (rc != 0)
            return session.finish(o.ex2 ? "Tavirex_ImageProcessingEx2" : "Tavirex_ImageProcessingEx", rc,
                                  rc == TAVIREX_E_PROCESS_OUTPUT ? o.processed : "");
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
        if (rc != 0) return session.finish("write raw readout", rc, o.output);
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

}  // namespace cli
