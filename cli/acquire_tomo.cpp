// tavirex acquire tomo: the frames of a tomographic scan, 18 pictures each.
#include "acquire_tomo.h"

#include <cstdio>

#include "acquire.h"
#include "checks.h"
#include "common.h"
#include "platform/system.h"
#include "tavirex.h"
#include "tvxsim_control.h"

namespace cli {
namespace {

// The pictures of one frame, in the order the counters admit: each strip's
// exposure and its dark picture, then the calibration picture and the closing dark one.
constexpr std::uint32_t kFrameKinds[18] = {1, 2, 1, 2, 1, 2, 1, 2, 1, 2, 1, 2, 1, 2, 1, 2, 3, 4};
const char* const kKindNames[5] = {"", "exposure", "dark", "calibration", "closing dark"};

// One picture: prepare, start, wait for the picture status bit, read and check its times.
std::int32_t take_picture(std::uint32_t kind, long poll_limit, const char** failed) {
    std::int32_t rc = Tavirex_SetTIMERandMODREG_Tomo(kind);
    if (rc != 0) return *failed = "Tavirex_SetTIMERandMODREG_Tomo", rc;
    rc = Tavirex_PictStartbyCommand_Tomo();
    if (rc != 0) return *failed = "Tavirex_PictStartbyCommand_Tomo", rc;
    std::uint8_t done = 0;
    long polls = 0;
    while (done == 0) {
        if (++polls > poll_limit) return *failed = "Tavirex_CheckPictStatus_Tomo", kNoExposure;
        rc = Tavirex_CheckPictStatus_Tomo(&done);
        if (rc != 0) return *failed = "Tavirex_CheckPictStatus_Tomo", rc;
    }
    rc = Tavirex_GetEXTIMEandECTIME_Tomo(kind);
    if (rc != 0) return *failed = "Tavirex_GetEXTIMEandECTIME_Tomo", rc;
    return 0;
}

std::int32_t take_frames(const TomoAcquireOptions& o) {
    const bool progress = o.progress && tvx::platform::is_terminal(stdout);
    const char* failed = "";
    for (std::uint32_t f = 0; f < o.frames; ++f) {
        for (std::uint32_t p = 0; p < 18; ++p) {
            if (progress) {
                std::printf("\r  frame %u (%u of %u), picture %2u of 18 (%s)      ", f, f + 1, o.frames, p + 1,
                            kKindNames[kFrameKinds[p]]);
                std::fflush(stdout);
            }
            const std::int32_t rc = take_picture(kFrameKinds[p], o.poll_limit, &failed);
            if (rc != 0) {
                if (progress) std::printf("\n");
                std::fprintf(stderr, "  frame %u, picture %u (%s): %s %s\n", f, p + 1, kKindNames[kFrameKinds[p]],
                             failed, rc == kNoExposure ? "saw no picture status bit" : "failed");
                return rc;
            }
        }
    }
    if (progress) std::printf("\r%60s\r", "");
    return 0;
}

// Copies frame k from the simulated module, as the library read it, blocks side by side.
bool copy_frame(const SimControl& sim, std::uint32_t k, std::vector<std::uint16_t>* out) {
    auto block = reinterpret_cast<TvxSimGetTomoBlockFn>(sim.find("TvxSim_GetTomoBlock"));
    if (block == nullptr) return false;
    out->assign(static_cast<std::size_t>(kTomoFrameWidth) * kTomoFrameHeight, 0);
    std::vector<std::uint16_t> one(128u * 2304u);
    for (std::uint32_t b = 0; b < 18; ++b) {
        if (block(k * 18 + b, one.data(), static_cast<std::uint32_t>(one.size())) != 0) return false;
        for (std::size_t r = 0; r < 2304; ++r)
            for (std::size_t c = 0; c < 128; ++c) (*out)[r * kTomoFrameWidth + b * 128 + c] = one[r * 128 + c];
    }
    return true;
}

}  // namespace

std::int32_t acquire_tomo(const TomoAcquireOptions& o, TomoAcquireResult* r) {
    HostSession session(o.config, Sensor::tomo, &r->failure);
    std::int32_t rc = session.open();
    if (rc != 0) return rc;
    // From here on the module is reset (once initialised) and the link released on every way out.
    auto finish = [&](const char* stage_name, std::int32_t code) { return session.finish(stage_name, code); };
    const SimControl sim(o.config, o.sim);
    if (!o.sim_mode.empty()) {
        auto fn = reinterpret_cast<TvxSimSetModeByNameFn>(sim.find("TvxSim_SetModeByName"));
        if (fn == nullptr || fn(o.sim_mode.c_str(), nullptr) != 0) {
            std::fprintf(stderr, "  the image mode %s is not available\n", o.sim_mode.c_str());
            return finish("image mode", kNoSimMode);
        }
    }
    if (!o.replay.empty()) {
        auto fn = reinterpret_cast<TvxSimSetTomoReplayFn>(sim.find("TvxSim_SetTomoReplay"));
        if (fn == nullptr || fn(o.replay.data(), o.frames) != 0) {
            std::fprintf(stderr, "  the link library is not the simulated module: the recorded frames cannot be replayed\n");
            return finish("replay of the recorded frames", kNoSimMode);
        }
    }
    rc = stage("Tavirex_Init_Tomo", [&] { return Tavirex_Init_Tomo(o.config.c_str(), 1); });
    if (rc != 0) return finish("Tavirex_Init_Tomo", rc);
    session.armed();
    rc = stage("Tavirex_SetSensMdulInit_Tomo (FPGA)", [] { return Tavirex_SetSensMdulInit_Tomo(0, 0); });
    if (rc != 0) return finish("Tavirex_SetSensMdulInit_Tomo", rc);
    rc = stage("Tavirex_SetParamforPictEx_Tomo (front end)", [] { return Tavirex_SetParamforPictEx_Tomo(); });
    if (rc != 0) return finish("Tavirex_SetParamforPictEx_Tomo", rc);
    rc = stage("Tavirex_SetWaitXExpose_Tomo (arm)", [] { return Tavirex_SetWaitXExpose_Tomo(); });
    if (rc != 0) return finish("Tavirex_SetWaitXExpose_Tomo", rc);
    char label[64];
    std::snprintf(label, sizeof label, "%u frame%s of 18 pictures", o.frames, o.frames == 1 ? "" : "s");
    rc = stage(label, [&] { return take_frames(o); });
    if (rc != 0) return finish("pictures", rc);
    rc = stage("Tavirex_GetImageDataEx_Tomo (readout)", [] { return Tavirex_GetImageDataEx_Tomo(); });
    if (rc != 0) return finish("Tavirex_GetImageDataEx_Tomo", rc);
    if (o.process) {
        rc = stage(o.reverse ? "Tavirex_ImageProcessingEx_Tomo (reverse order)" : "Tavirex_ImageProcessingEx_Tomo", [&] {
            return Tavirex_ImageProcessingEx_Tomo(o.processed.c_str(), &r->processed_width, &r->processed_height,
                                                  o.reverse ? 1 : 0);
        });
        // 8 is a write of the joined image or of a frame file beside it; the others name the tables.
        if (rc != 0) return session.finish("Tavirex_ImageProcessingEx_Tomo", rc, rc == TAVIREX_E_DATA_FILE ? o.processed : "");
    }

    if (o.keep_frames || !o.output_prefix.empty()) {
        r->frames.resize(o.frames);
        std::vector<std::string> written;  // removed again when a later frame fails
        for (std::uint32_t k = 0; k < o.frames; ++k) {
            if (!copy_frame(sim, k, &r->frames[k])) {
                std::fprintf(stderr, "  the link library is not the simulated module: the frames cannot be copied out\n");
                remove_files(written);
                return finish("copy of the frames", kNoSimMode);
            }
            if (o.output_prefix.empty()) continue;
            const std::string path = o.output_prefix + std::to_string(k) + ".raw";
            if (stage("write raw frame", [&] { return write_raw_file(path, r->frames[k].data(), r->frames[k].size()) ? 0 : kOutputFailed; }) != 0) {
                remove_files(written);
                return session.finish("write raw frame", kOutputFailed, path);
            }
            written.push_back(path);
            std::printf("  frame %u: %d x %d samples (18 pictures of 128 x 2304 side by side) -> %s\n", k,
                        kTomoFrameWidth, kTomoFrameHeight, path.c_str());
        }
    }
    return finish("", 0);
}

std::int32_t tomo_bitmap(const std::string& raw, std::int32_t w, std::int32_t h, const std::string& bmp) {
    std::int32_t rc = stage("Tavirex_SetWindowPosAuto", [&] { return Tavirex_SetWindowPosAuto(raw.c_str(), w, h); });
    if (rc != 0) return rc;
    std::printf("  display window centre %ld width %ld\n", static_cast<long>(Tavirex_GetWindowCenter()),
                static_cast<long>(Tavirex_GetWindowWidth()));
    rc = stage("Tavirex_SaveBitmapWindow", [&] {
        return Tavirex_SaveBitmapWindow(raw.c_str(), w, h, kBitmapFilterDistance, kBitmapFilterGain, bmp.c_str());
    });
    if (rc == 0) rc = stage("Tavirex_MarkingInBitmap_Tomo (P, A)", [&] { return Tavirex_MarkingInBitmap_Tomo(bmp.c_str(), 1); });
    return rc;
}

}  // namespace cli
