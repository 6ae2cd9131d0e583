// tavirex process: acquire a picture through the library and run the processing
// export on it, as a host does. A recorded readout (--raw) is delivered by the
// simulated module in place of a new exposure, so it takes the same way.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "acquire.h"
#include "acquire_tomo.h"
#include "common.h"
#include "tavirex.h"
#include "tavirex_link.h"

namespace cli {

namespace {

int process_tomo(const Args& args) {
    if (!args.has("config") || !args.has("out")) {
        std::fprintf(stderr, "tavirex process tomo: --config and --out are required\n");
        return 2;
    }
    for (const char* other : {"raw", "profile", "mode", "passes", "segments", "interval", "lag", "ex2", "lateral"}) {
        if (args.has(other)) {
            std::fprintf(stderr, "tavirex process tomo: --%s applies to pano and ceph only\n", other);
            return 2;
        }
    }
    TomoAcquireOptions o;
    o.config = args.get("config");
    const std::string frames = args.get("frames", "1");
    if (frames != "1" && frames != "2" && frames != "3") {
        std::fprintf(stderr, "tavirex process tomo: --frames takes 1, 2 or 3\n");
        return 2;
    }
    o.frames = static_cast<std::uint32_t>(frames[0] - '0');
    o.progress = !args.has("quiet");
    o.process = true;
    o.reverse = args.has("reverse");
    o.processed = args.get("out");
    TomoAcquireResult r;
    const std::int32_t rc = acquire_tomo(o, &r);
    if (rc != 0) {
        std::printf("processing failed at %s: %ld (%s)\n", r.failed_stage.c_str(), static_cast<long>(rc),
                    rc <= kNoExposure ? "see above" : explain(rc));
        return 1;
    }
    std::printf("wrote %s: %d x %d\n", o.processed.c_str(), r.processed_width, r.processed_height);
    return 0;
}

}  // namespace

int cmd_process(int argc, char** argv) {
    Args args;
    if (!parse_args(argc, argv, 2,
                    {"config", "out", "raw", "profile", "mode", "passes", "segments", "interval", "lag", "frames"},
                    {"ex2", "lateral", "quiet", "reverse"}, &args))
        return 2;
    if (args.help) {
        std::printf(
            "usage: tavirex process --config FILE --profile FILE --out FILE [--mode pano|ceph] [--passes N]\n"
            "                       [--segments N] [--interval MS] [--lag MS] [--lateral] [--raw FILE] [--ex2]\n\n"
            "Takes a picture in the host's call order (Init, SetCommInit, sensor initialisation, picture\n"
            "set-up with the speed profile, arming, status poll, readout of --segments passes), runs the\n"
            "processing export (Tavirex_ImageProcessingEx, or Ex2 with --ex2) and writes the processed raw\n"
            "image to --out (width x height 16-bit little-endian words, no header).\n\n"
            "--raw FILE: the simulated module delivers this recorded readout (a file written by\n"
            "`tavirex acquire`: 4096 x 1536 panoramic, 3500 x 2304 cephalometric samples) instead of a\n"
            "new picture; everything else runs as for a new picture, so the result is the same as\n"
            "processing that picture when it was taken with the same profile and settings.\n\n"
            "--mode pano (default) or ceph; --passes 1..4 (ceph 1); --segments 1..passes (default passes).\n\n"
            "usage: tavirex process tomo --config FILE --out FILE [--frames 1..3] [--reverse]\n\n"
            "Takes the frames of a tomographic scan as `tavirex acquire tomo` does, runs\n"
            "Tavirex_ImageProcessingEx_Tomo (frames joined left to right in capture order, or reversed\n"
            "with --reverse, separator bands from [ExOption]) and writes the joined raw image to --out;\n"
            "each processed frame is also written beside it as SegTomo00.dat, SegTomo01.dat, ...\n");
        return 0;
    }
    if (!args.positional.empty() && args.positional[0] == "tomo" && args.positional.size() == 1) return process_tomo(args);
    if (!args.positional.empty()) {
        std::fprintf(stderr, "tavirex process: the only word it takes is tomo (see --help)\n");
        return 2;
    }
    if (args.has("frames") || args.has("reverse")) {
        std::fprintf(stderr, "tavirex process: --frames and --reverse apply to tomo only\n");
        return 2;
    }
    if (!args.has("config") || !args.has("out") || !args.has("profile")) {
        std::fprintf(stderr, "tavirex process: --config, --profile and --out are required\n");
        return 2;
    }
    const std::string mode = args.get("mode", "pano");
    if (mode != "pano" && mode != "ceph") {
        std::fprintf(stderr, "tavirex process: --mode is pano or ceph\n");
        return 2;
    }
    AcquireOptions o;
    o.ceph = mode == "ceph";
    o.lateral = args.has("lateral");
    o.config = args.get("config");
    o.profile = args.get("profile");
    o.passes = static_cast<std::uint32_t>(std::atol(args.get("passes", "1").c_str()));
    o.segments = static_cast<std::uint32_t>(std::atol(args.get("segments", std::to_string(o.passes)).c_str()));
    o.interval = static_cast<std::uint32_t>(std::atol(args.get("interval", "10").c_str()));
    o.lag = static_cast<std::uint32_t>(std::atol(args.get("lag", "100").c_str()));
    if (o.passes < 1 || o.passes > TAVIREX_MAX_PASSES || (o.ceph && o.passes != 1) || o.segments < 1 ||
        o.segments > o.passes) {
        std::fprintf(stderr, "tavirex process: --passes 1..4 (ceph 1) and --segments 1..passes\n");
        return 2;
    }
    if (args.has("raw")) o.sim_mode = "replay";
    o.replay = args.get("raw");
    o.progress = !args.has("quiet");
    o.process = true;
    o.ex2 = args.has("ex2");
    o.processed = args.get("out");
    AcquireResult r;
    const std::int32_t rc = acquire(o, &r);
    if (rc != 0) {
        std::printf("processing failed at %s: %ld (%s)\n", r.failed_stage.c_str(), static_cast<long>(rc),
                    rc <= kNoExposure ? "see above" : explain(rc));
        return 1;
    }
    std::printf("wrote %s: %u x %u\n", o.processed.c_str(), r.processed_width, r.processed_height);
    return 0;
}

}  // namespace cli
