// tavirex process: run the processing export on a picture and write the raw image.
// The picture comes either from an acquisition through the library (speed
// profile given) or from a raw readout file, which is put into the device record
// exactly as a readout leaves it.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "api/context.h"
#include "common.h"
#include "config/device_config.h"
#include "tavirex.h"

namespace cli {
namespace {

struct Geometry {
    bool ceph;
    std::uint32_t width, height, passes, segments;
};

bool read_words(const std::string& path, std::vector<std::uint16_t>* into) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    std::vector<unsigned char> bytes(into->size() * 2);
    const bool ok = std::fread(bytes.data(), 1, bytes.size(), f) == bytes.size();
    std::fclose(f);
    if (!ok) return false;
    for (std::size_t i = 0; i < into->size(); ++i)
        (*into)[i] = static_cast<std::uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    return true;
}

std::int32_t process(bool ex2, const std::string& out, std::uint32_t* w, std::uint32_t* h) {
    return stage(ex2 ? "Tavirex_ImageProcessingEx2" : "Tavirex_ImageProcessingEx", [&] {
        return ex2 ? Tavirex_ImageProcessingEx2(out.c_str(), w, h) : Tavirex_ImageProcessingEx(out.c_str(), w, h);
    });
}

// Fills the record as the sensor initialisation, picture set-up and readout would.
int from_readout(const Args& args, const Geometry& g, const std::string& config, const std::string& out) {
    std::vector<std::uint16_t> image(static_cast<std::size_t>(g.width) * g.height);
    if (!read_words(args.get("raw"), &image)) {
        std::fprintf(stderr, "tavirex process: %s is missing or shorter than %u x %u words\n",
                     args.get("raw").c_str(), g.width, g.height);
        return 1;
    }
    const std::uint32_t table_length = g.ceph ? 3500 : 4096;
    std::vector<std::uint16_t> clock(table_length, static_cast<std::uint16_t>(std::atoi(args.get("period", "12").c_str())));
    if (args.has("clock") && !read_words(args.get("clock"), &clock)) {
        std::fprintf(stderr, "tavirex process: %s is missing or shorter than %u words\n", args.get("clock").c_str(),
                     table_length);
        return 1;
    }
    if (stage("Tavirex_Init", [&] { return Tavirex_Init(config.c_str(), 1); }) != 0) return 1;
    tvx::DeviceContext& d = tvx::Device;
    if (g.ceph) {
        tvx::config::read_ceph_keys(d, config.c_str(), args.has("lateral"));
        d.CephMode = 1;
        d.ClockMode = 4;
        d.ProcessFlags[tvx::kBriSmooth] = d.ProcessFlags[tvx::kBriSmoothCeph];
    } else {
        tvx::config::read_pano_keys(d, config.c_str());
        d.CephMode = 0;
        d.ClockMode = static_cast<std::uint8_t>(g.passes - 1);
        d.ProcessFlags[tvx::kBriSmooth] = d.ProcessFlags[tvx::kBriSmoothPano];
    }
    const std::uint32_t block = g.ceph ? 3500 : 4096 / g.passes / 4 * 4;
    const long start = std::atol(args.get("seg-start", "0").c_str());
    const long width = std::atol(args.get("seg-width", std::to_string(block - 96)).c_str());
    for (int k = 0; k < 4; ++k) {
        d.SegmentStart[k] = static_cast<std::uint16_t>(start);
        d.SegmentWidth[k] = static_cast<std::uint16_t>(width);
    }
    d.ImageBuffer = image.data();
    d.ImageWidth = static_cast<std::uint16_t>(g.width);
    d.ImageHeight = static_cast<std::uint16_t>(g.height);
    d.ClockTable = clock.data();
    d.ClockTableLength = static_cast<std::uint16_t>(table_length);
    d.SegmentCount = static_cast<std::uint8_t>(g.segments);
    tvx::PassCount = g.passes;
    tvx::ReadSegments = g.segments;

    std::uint32_t w = 0, h = 0;
    const std::int32_t rc = process(args.has("ex2"), out, &w, &h);
    // The buffers belong to this command, not to the library.
    d.ImageBuffer = nullptr;
    d.ClockTable = nullptr;
    if (rc != 0) return 1;
    std::printf("wrote %s: %u x %u\n", out.c_str(), w, h);
    return 0;
}

int from_acquisition(const Args& args, const Geometry& g, const std::string& config, const std::string& out) {
    const std::string profile = args.get("profile");
    const std::uint32_t interval = static_cast<std::uint32_t>(std::atol(args.get("interval", "10").c_str()));
    const std::uint32_t lag = static_cast<std::uint32_t>(std::atol(args.get("lag", "100").c_str()));
    const bool lateral = args.has("lateral");
    if (stage("Tavirex_Init", [&] { return Tavirex_Init(config.c_str(), 1); }) != 0) return 1;
    if (stage("Tavirex_SetCommInit", [] { return Tavirex_SetCommInit(); }) != 0) return 1;
    std::int32_t rc;
    if (g.ceph) {
        rc = stage("Tavirex_SetSensMduInit_Ceph", [&] { return Tavirex_SetSensMduInit_Ceph(config.c_str(), lateral, 1); });
        if (rc == 0)
            rc = stage("Tavirex_SetParamforPictEx_Ceph",
                       [&] { return Tavirex_SetParamforPictEx_Ceph(profile.c_str(), 1, interval, lag); });
    } else {
        rc = stage("Tavirex_SetSensMduInit_Pano", [&] { return Tavirex_SetSensMduInit_Pano(config.c_str(), 1); });
        if (rc == 0)
            rc = stage("Tavirex_SetParamforPictEx",
                       [&] { return Tavirex_SetParamforPictEx(profile.c_str(), g.passes, interval, lag); });
    }
    if (rc == 0) rc = stage("Tavirex_SetWaitXExpose", [] { return Tavirex_SetWaitXExpose(); });
    if (rc == 0)
        rc = stage("Tavirex_CheckPictStatus (poll)", [] {
            std::uint8_t status = 0;
            const double t0 = now_ms();
            std::int32_t r = 0;
            while ((r = Tavirex_CheckPictStatus(&status)) == 0 && status == 0 && now_ms() - t0 < 30000.0) {
            }
            return r != 0 ? r : (status != 0 ? 0 : TAVIREX_E_NOT_READY);
        });
    if (rc == 0) rc = stage("Tavirex_GetImageDataEx", [&] { return Tavirex_GetImageDataEx(g.segments); });
    std::uint32_t w = 0, h = 0;
    if (rc == 0) rc = process(args.has("ex2"), out, &w, &h);
    Tavirex_ResetAll();
    Tavirex_SetDeviceFree();
    if (rc != 0) return 1;
    std::printf("wrote %s: %u x %u\n", out.c_str(), w, h);
    return 0;
}

}  // namespace

int cmd_process(int argc, char** argv) {
    Args args;
    if (!parse_args(argc, argv, 2,
                    {"config", "out", "raw", "profile", "mode", "passes", "segments", "clock", "period", "seg-start",
                     "seg-width", "interval", "lag"},
                    {"ex2", "lateral"}, &args))
        return 2;
    if (args.help) {
        std::printf(
            "usage: tavirex process --config FILE --out FILE [--mode pano|ceph] [--passes N] [--segments N]\n"
            "                       [--ex2] (--profile FILE [--interval MS] [--lag MS] [--lateral]\n"
            "                                | --raw FILE [--clock FILE | --period N] [--seg-start N] [--seg-width N])\n\n"
            "Runs the processing export (Tavirex_ImageProcessingEx, or Ex2 with --ex2) and writes the\n"
            "processed raw image to --out (width x height 16-bit little-endian words, no header).\n\n"
            "With --profile the picture is acquired first: Init, SetCommInit, sensor initialisation, picture\n"
            "set-up with the speed profile, arming, status poll and readout of --segments passes.\n\n"
            "With --raw the picture is a readout file (4096 x 1536 panoramic, 3500 x 2304 cephalometric\n"
            "words) put into the device record as a readout leaves it: the configuration's keys as the\n"
            "sensor initialisation reads them, a line clock table from --clock (4096 or 3500 words) or of\n"
            "constant --period (default 12), and every pass's lag and picture lines from --seg-start\n"
            "(default 0) and --seg-width (default the block width minus 96, so the last 32 lines of each\n"
            "block are dark samples).\n\n"
            "--mode pano (default) or ceph; --passes 1..4 (ceph 1); --segments 1..passes (default passes).\n");
        return 0;
    }
    if (!args.has("config") || !args.has("out") || (args.has("raw") == args.has("profile"))) {
        std::fprintf(stderr, "tavirex process: --config, --out and one of --raw or --profile are required\n");
        return 2;
    }
    Geometry g;
    const std::string mode = args.get("mode", "pano");
    if (mode != "pano" && mode != "ceph") {
        std::fprintf(stderr, "tavirex process: --mode is pano or ceph\n");
        return 2;
    }
    g.ceph = mode == "ceph";
    g.passes = static_cast<std::uint32_t>(std::atol(args.get("passes", "1").c_str()));
    g.segments = static_cast<std::uint32_t>(std::atol(args.get("segments", std::to_string(g.passes)).c_str()));
    if (g.passes < 1 || g.passes > 4 || (g.ceph && g.passes != 1) || g.segments < 1 || g.segments > g.passes) {
        std::fprintf(stderr, "tavirex process: --passes 1..4 (ceph 1) and --segments 1..passes\n");
        return 2;
    }
    g.width = g.ceph ? 3500 : 4096;
    g.height = g.ceph ? 2304 : 1536;
    const std::string config = args.get("config");
    const std::string out = args.get("out");
    return args.has("raw") ? from_readout(args, g, config, out) : from_acquisition(args, g, config, out);
}

}  // namespace cli
