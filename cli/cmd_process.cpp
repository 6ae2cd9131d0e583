// tavirex process: acquire a picture through the library and run the processing
// export on it, as a host does. A recorded readout (--raw) is delivered by the
// simulated module in place of a new exposure, so it takes the same way.
#include <cstdio>
#include <string>

#include "acquire.h"
#include "acquire_tomo.h"
#include "checks.h"
#include "common.h"
#include "output_args.h"
#include "tavirex.h"
#include "tavirex_link.h"

namespace cli {

namespace {

// The dumps the tomographic export writes beside its output, one per frame.
std::vector<std::string> tomo_outputs(const std::string& out, std::uint32_t frames) {
    std::vector<std::string> files{out};
    for (std::uint32_t k = 0; k < frames; ++k) files.push_back(folder_of(out) + "SegTomo0" + std::to_string(k) + ".dat");
    return files;
}

int process_tomo(const Args& args) {
    const char* cmd = "process tomo";
    TomoAcquireOptions o;
    if (!refuse_options(args, cmd, {"profile", "mode", "passes", "segments", "interval", "lag", "ex2", "lateral"},
                        "applies to pano and ceph only") ||
        !config_option(args, cmd, &o.config) || !option_int(args, cmd, "frames", 1u, &o.frames, 1, 3) ||
        !sim_option(args, cmd, o.config, &o.sim))
        return kRefused;
    if (!args.has("out")) {
        std::fprintf(stderr, "tavirex %s: --out FILE is required\n", cmd);
        return kRefused;
    }
    // Recorded frames (--raw FILE [FILE...]) replayed by the simulated module: as many frames as files.
    std::vector<std::string> recorded;
    if (args.has("raw")) recorded.push_back(args.get("raw"));
    recorded.insert(recorded.end(), args.positional.begin() + 1, args.positional.end());
    if (!args.has("raw") && !recorded.empty()) {
        std::fprintf(stderr, "tavirex %s: the only word it takes is tomo; frame files go with --raw (see --help)\n", cmd);
        return kRefused;
    }
    if (!recorded.empty() && args.has("frames") && recorded.size() != o.frames) {
        std::fprintf(stderr, "tavirex %s: --frames %u but %zu frame files with --raw\n", cmd, o.frames, recorded.size());
        return kRefused;
    }
    if (recorded.size() > 3) {
        std::fprintf(stderr, "tavirex %s: --raw takes 1 to 3 frame files, not %zu\n", cmd, recorded.size());
        return kRefused;
    }
    const std::uint64_t frame_bytes = 2ull * kTomoFrameWidth * kTomoFrameHeight;
    for (const std::string& file : recorded)
        if (!file_size_is(cmd, file, frame_bytes, "a tomographic frame file (2304 x 2304 samples, as acquire tomo writes)"))
            return kRefused;
    if (!recorded.empty()) o.frames = static_cast<std::uint32_t>(recorded.size());
    if (args.has("reverse") && o.frames == 1) {
        std::fprintf(stderr, "tavirex %s: --reverse needs --frames 2 or 3 (one frame has no order)\n", cmd);
        return kRefused;
    }
    const std::string out = args.get("out"), bmp = args.get("bitmap");
    std::vector<std::string> outputs = tomo_outputs(out, o.frames);
    if (!bmp.empty()) outputs.push_back(bmp);
    if (!output_files(cmd, outputs) || !configured_files(cmd, o.config, Sensor::tomo, true)) return kRefused;
    // The library names the dumps by appending to the output's folder part, or to the whole
    // path when it has none ("p.rawSegTomo00.dat"): a folder keeps them SegTomo00.dat beside it.
    o.processed = folder_of(out).empty() ? "./" + out : out;
    for (const std::string& file : recorded) {
        std::vector<std::uint16_t> frame;
        if (!read_raw_file(file, frame_bytes / 2, &frame)) {
            std::fprintf(stderr, "tavirex %s: cannot read the frame file %s\n", cmd, file.c_str());
            return kRefused;
        }
        o.replay.insert(o.replay.end(), frame.begin(), frame.end());
    }
    const std::vector<std::string> fresh = absent_files(outputs);
    o.progress = !args.has("quiet");
    o.process = true;
    o.reverse = args.has("reverse");
    TomoAcquireResult r;
    std::int32_t rc = acquire_tomo(o, &r);
    if (rc != 0) {
        remove_files(fresh);
        return report_failure("processing", r.failure);
    }
    // In this process the library still knows the image's depth; a later `tavirex bitmap` would not.
    if (!bmp.empty() && (rc = tomo_bitmap(o.processed, r.processed_width, r.processed_height, bmp)) != 0) {
        remove_files(fresh);
        return exit_status(rc, cmd, bmp);
    }
    std::printf("wrote %s: %d x %d, and beside it %s, each frame as processed%s\n", out.c_str(),
                r.processed_width, r.processed_height, o.frames == 1 ? "SegTomo00.dat" : ("SegTomo00.dat .. SegTomo0" + std::to_string(o.frames - 1) + ".dat").c_str(),
                bmp.empty() ? "" : ("; bitmap " + bmp).c_str());
    return 0;
}

}  // namespace

int cmd_process(int argc, char** argv) {
    Args args;
    if (!parse_args(argc, argv, 2,
                    {"config", "out", "raw", "profile", "mode", "passes", "segments", "interval", "lag", "frames", "sim", "bitmap"},
                    {"ex2", "lateral", "quiet", "reverse"}, &args))
        return kRefused;
    if (args.help) {
        std::printf(
            "usage: tavirex process --config FILE --profile FILE --out FILE [--mode pano|ceph] [--passes N]\n"
            "                       [--segments N] [--interval MS] [--lag MS] [--lateral] [--raw FILE] [--ex2]\n"
            "                       [--sim PATH] [--quiet]\n\n"
            "Takes a picture in the host's call order (Init, SetCommInit, sensor initialisation, picture\n"
            "set-up with the speed profile, arming, status poll, readout of --segments passes), runs the\n"
            "processing export (Tavirex_ImageProcessingEx, or Ex2 with --ex2) and writes the processed raw\n"
            "image to --out (width x height 16-bit little-endian words, no header).\n\n"
            "--raw FILE: the simulated module delivers this recorded readout (a file written by\n"
            "`tavirex acquire`: 4096 x 1536 panoramic, 3500 x 2304 cephalometric samples) instead of a\n"
            "new picture; everything else runs as for a new picture. The readout does not record how it\n"
            "was taken: give the --profile, --passes (required with --raw in pano mode), --interval, --lag\n"
            "and --lateral it was taken with (`tavirex acquire` prints the command). The library cuts each\n"
            "pass to the picture lines of the clock table it builds from them, so with others the width\n"
            "and the picture differ.\n\n"
            "--mode pano (default) or ceph; --passes 1..4 (pano only); --segments 1..passes (default passes);\n"
            "--lateral ceph only; --sim PATH as for acquire.\n\n"
            "usage: tavirex process tomo --config FILE --out FILE [--frames 1..3] [--reverse] [--bitmap BMP]\n"
            "                            [--raw FRAME [FRAME...]] [--sim PATH]\n\n"
            "Takes the frames of a tomographic scan as `tavirex acquire tomo` does, runs\n"
            "Tavirex_ImageProcessingEx_Tomo (frames joined left to right in capture order, or reversed\n"
            "with --reverse, separator bands from [ExOption]) and writes the joined raw image to --out;\n"
            "each processed frame is also written beside it, in the same folder, as SegTomo00.dat,\n"
            "SegTomo01.dat, ...\n"
            "--raw FRAME...: the simulated module delivers these recorded frames (files written by\n"
            "`tavirex acquire tomo`, 2304 x 2304 samples each, one frame per file, in capture order)\n"
            "instead of new pictures; everything else runs as for a new scan.\n"
            "--bitmap BMP: also the 8-bit bitmap of the image (display window from its data, detail filter,\n"
            "P and A markers), written in the same run: only the processing run knows the image's depth\n"
            "(13 or 14 bits); `tavirex bitmap` and `window` take raw files as 12-bit and refuse it.\n");
        return 0;
    }
    if (!args.positional.empty() && args.positional[0] == "tomo") return process_tomo(args);
    if (!args.positional.empty()) {
        std::fprintf(stderr, "tavirex process: the only word it takes is tomo (see --help)\n");
        return kRefused;
    }
    const char* cmd = "process";
    const std::string mode = args.get("mode", "pano");
    if (mode != "pano" && mode != "ceph") {
        std::fprintf(stderr, "tavirex process: --mode takes pano or ceph, not '%s'\n", mode.c_str());
        return kRefused;
    }
    AcquireOptions o;
    o.ceph = mode == "ceph";
    if (!refuse_options(args, cmd, {"frames", "reverse", "bitmap"}, "applies to tomo only") ||
        !refuse_options(args, cmd, {o.ceph ? "passes" : "lateral"},
                        o.ceph ? "applies to pano only (a cephalometric picture is one pass)" : "applies to --mode ceph only") ||
        (o.ceph && !refuse_options(args, cmd, {"segments"}, "applies to pano only")) || !config_option(args, cmd, &o.config))
        return kRefused;
    for (const char* required : {"profile", "out"}) {
        if (!args.has(required)) {
            std::fprintf(stderr, "tavirex process: --%s FILE is required%s\n", required,
                         args.has("raw") && required[0] == 'p' ? " (also with --raw: the picture set-up needs the profile the readout was taken with)" : "");
            return kRefused;
        }
    }
    // A recorded readout does not say how many passes it holds: 1 would cut it as one pass.
    if (args.has("raw") && !o.ceph && !args.has("passes")) {
        std::fprintf(stderr, "tavirex process: --raw needs --passes, the pass count the readout was taken with\n");
        return kRefused;
    }
    o.profile = args.get("profile");
    if (!speed_profile(cmd, o.profile) || !option_int(args, cmd, "passes", 1u, &o.passes, 1, TAVIREX_MAX_PASSES) ||
        !option_int(args, cmd, "segments", o.passes, &o.segments, 1, o.passes) ||
        !option_int(args, cmd, "interval", 10u, &o.interval, 1, 65535) ||
        !option_int(args, cmd, "lag", 100u, &o.lag, 0, 65535) || !sim_option(args, cmd, o.config, &o.sim))
        return kRefused;
    o.replay = args.get("raw");
    if (!o.replay.empty()) {
        o.sim_mode = "replay";
        if (!recorded_readout(cmd, o.replay, o.ceph)) return kRefused;
    }
    o.lateral = args.has("lateral");
    o.progress = !args.has("quiet");
    o.process = true;
    o.ex2 = args.has("ex2");
    o.processed = args.get("out");
    if (!output_files(cmd, {o.processed}) || !configured_files(cmd, o.config, o.ceph ? Sensor::ceph : Sensor::pano, true))
        return kRefused;
    const std::vector<std::string> fresh = absent_files({o.processed});
    AcquireResult r;
    const std::int32_t rc = acquire(o, &r);
    if (rc != 0) {
        remove_files(fresh);
        return report_failure("processing", r.failure);
    }
    std::printf("wrote %s: %u x %u\n", o.processed.c_str(), r.processed_width, r.processed_height);
    return 0;
}

}  // namespace cli
