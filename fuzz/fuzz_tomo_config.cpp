// The tomographic configuration and correction tables through the whole
// tomographic export: Tavirex_Init and Tavirex_Init_Tomo on a fuzzed
// configuration, the capture of 0 to 4 frames from the simulated module, the
// readout, and Tavirex_ImageProcessingEx_Tomo with fuzzed gain, offset and
// noise-row tables.
//
// Input: byte 0 chooses the frame count (bits 0-2: 1, 1, 1, 2, 3, 0, 4, 1),
// the frame order (bit 3), flat-field pictures instead of the ramp (bit 4) and
// no noise-row table (bit 5); bytes 1 and 2 the length of the gain and the
// offset table (exact, a byte or a value short or long, the header only, no
// file, the pattern as given); bytes 3-4 the length of the configuration text
// (little-endian), which follows; bytes 5 and 6 where, in the rest, the gain
// pattern ends and the offset pattern ends; the noise-row table is what
// remains. A table is its pattern's first three bytes (the sensor name "S1"
// and the type letter) and then the rest of the pattern repeated to the
// length chosen; an empty pattern stands for a table of 1.0 (gain) or 0.0
// (offset).
//
// The configuration is the fuzzed text between fixed lines: before it the
// DEBUG switches off (their logs go to the current folder and DEBUG4 waits
// for a key), the simulated module and the boot program; after it, as the
// defaults the text may override, the FPGA file, the table folder and the
// sensor name.
//
// Checks, besides the sanitizers: a processing run that reports success wrote
// an image of the size it reports, whose samples stay within the data range,
// in which every frame read out has its columns and a dump file; with no frame
// read out it reports 0 x 0 and writes nothing; a failed run leaves no image;
// the blocks held are those the records own after every export, none once the
// library is unloaded. fuzz/make_seeds.py writes the seeds; with TAVIREX_FUZZ_TRACE
// set, each input prints its calls and their results.
#include <algorithm>
#include <cstring>
#include <string>

#include "fuzz_cycle.h"
#include "fuzz_file.h"

namespace {

using tvx_fuzz::violation;

constexpr std::size_t kHeader = 7;
constexpr std::size_t kTablePixels = 128 * 2304;  // one strip as captured

struct Files {
    std::string dir, config, gain, offset, noise_rows, output;
};

const Files& files() {
    static const Files f = [] {
        Files f;
        f.dir = tvx_fuzz::fresh_folder("-tomo") + "/";
        f.config = f.dir + "tomo.ini";
        f.gain = f.dir + "S1a.tbl";
        f.offset = f.dir + "S1b.tbl";
        f.noise_rows = f.dir + "S1.dat";
        f.output = f.dir + "out.raw";
        return f;
    }();
    return f;
}

bool write(const std::string& path, const std::string& bytes) {
    return tvx_fuzz::write_file(path, reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

// Writes the gain or offset table of a pattern at `path`, of the length `mode`
// chooses (or removes it); false when it cannot be written. A table of 1.2 MB
// takes time to build, and most inputs keep the tables of the one before.
bool put_table(const std::string& path, std::string pattern, char letter, float fill, unsigned mode, std::string* last) {
    std::string key = pattern + static_cast<char>(mode % 8);
    if (key == *last) return true;
    *last = std::move(key);
    std::remove(path.c_str());
    if (pattern.empty()) {
        pattern = std::string("S1") + letter;
        pattern.append(reinterpret_cast<const char*>(&fill), sizeof fill);
    }
    if (mode % 8 == 6) return true;
    if (mode % 8 == 7) return write(path, pattern) || (last->clear(), false);
    const std::size_t exact = 3 + 4 * kTablePixels;
    const std::size_t lengths[6] = {exact, exact - 1, exact + 1, exact - 4, exact + 4, 3};
    std::string body = pattern.size() > 3 ? pattern.substr(3) : std::string(4, '\0');
    while (body.size() < exact + 4) body += body;
    std::string table = pattern.substr(0, 3) + body;
    table.resize(lengths[mode % 8]);
    return write(path, table) || (last->clear(), false);
}

class Run {
public:
    explicit Run(bool reverse) : f_(files()), held_(tvx::core::test_blocks_held()), reverse_(reverse) {}

    std::int32_t call(const char* name, std::int32_t rc) {
        calls_ += std::string("  ") + name + " = " + std::to_string(rc) + "\n";
        const std::int64_t held = tvx::core::test_blocks_held() - held_;
        if (held != tvx_fuzz::blocks_owned())
            violation(calls_, "%lld blocks held, the records own %lld", static_cast<long long>(held),
                      static_cast<long long>(tvx_fuzz::blocks_owned()));
        return rc;
    }

    // The capture of `frames` frames as a host takes them; the frames read out.
    int capture(int frames) {
        const char* config = f_.config.c_str();
        if (call("Tavirex_Init", Tavirex_Init(config, 1)) != 0 || call("Tavirex_SetCommInit", Tavirex_SetCommInit()) != 0 ||
            call("Tavirex_Init_Tomo", Tavirex_Init_Tomo(config, 1)) != 0 ||
            call("Tavirex_SetSensMdulInit_Tomo", Tavirex_SetSensMdulInit_Tomo(0, 0)) != 0 ||
            call("Tavirex_SetParamforPictEx_Tomo", Tavirex_SetParamforPictEx_Tomo()) != 0 ||
            call("Tavirex_SetWaitXExpose_Tomo", Tavirex_SetWaitXExpose_Tomo()) != 0)
            return 0;
        int closed = 0;
        bool taken = true;
        for (int frame = 0; frame < frames && taken; ++frame)
            for (std::uint32_t p = 0; p < 18 && taken; ++p) {
                const std::uint32_t kind = tvx_fuzz::picture_kind(p);
                const std::int32_t rc = call("Tavirex_SetTIMERandMODREG_Tomo", Tavirex_SetTIMERandMODREG_Tomo(kind));
                // A frame counts once its closing picture passed the frame's count.
                if (kind == 4 && rc != TAVIREX_E_TOMO_FRAME_COUNT && rc != TAVIREX_E_RANGE) ++closed;
                taken = rc == 0 && call("Tavirex_PictStartbyCommand_Tomo", Tavirex_PictStartbyCommand_Tomo()) == 0;
                std::uint8_t done = 0;
                for (int polls = 0; taken && done == 0; ++polls)
                    taken = polls < 50 && call("Tavirex_CheckPictStatus_Tomo", Tavirex_CheckPictStatus_Tomo(&done)) == 0;
                taken = taken && call("Tavirex_GetEXTIMEandECTIME_Tomo", Tavirex_GetEXTIMEandECTIME_Tomo(kind)) == 0;
            }
        const bool read = call("Tavirex_GetImageDataEx_Tomo", Tavirex_GetImageDataEx_Tomo()) == 0;
        call("Tavirex_ResetAll_Tomo", Tavirex_ResetAll_Tomo());
        call("Tavirex_SetDeviceFree_Tomo", Tavirex_SetDeviceFree_Tomo());
        return read ? closed : 0;
    }

    void process(int frames) {
        for (int k = 0; k < 4; ++k) std::remove((f_.dir + "SegTomo0" + std::to_string(k) + ".dat").c_str());
        std::int32_t w = -1, h = -1;
        const std::int32_t rc = call("Tavirex_ImageProcessingEx_Tomo",
                                     Tavirex_ImageProcessingEx_Tomo(f_.output.c_str(), &w, &h, reverse_ ? 1 : 0));
        const std::string image = tvx_fuzz::read_all(f_.output.c_str());
        const bool exists = std::filesystem::exists(f_.output);
        if (rc != 0) {
            if (exists) violation(calls_, "a failed run (%d) left an image of %zu bytes", rc, image.size());
            return;
        }
        if (frames == 0) {
            if (w != 0 || h != 0 || !image.empty()) violation(calls_, "%d x %d (%zu bytes) with no frame closed and read out", w, h, image.size());
            return;
        }
        if (w <= 0 || h <= 0 || frames > 3 || image.size() != 2ull * static_cast<std::uint64_t>(w) * static_cast<std::uint64_t>(h))
            violation(calls_, "success with %d x %d and %zu bytes for %d frames", w, h, image.size(), frames);
        const std::uint16_t max = tvx::Tomo.MaxPixelValue;
        for (std::size_t i = 0; i + 1 < image.size(); i += 2) {
            const unsigned v = static_cast<std::uint8_t>(image[i]) | static_cast<std::uint8_t>(image[i + 1]) << 8;
            if (v > max) violation(calls_, "sample %zu is %u, above the data maximum %u", i / 2, v, unsigned{max});
        }
        tvx_fuzz::check_joined_frames(calls_, f_.dir, frames, w);
    }

    void finish() {
        if (std::getenv("TAVIREX_FUZZ_TRACE") != nullptr) std::fputs(calls_.c_str(), stderr);
        tvx_fuzz::reset_library();
        const std::int64_t held = tvx::core::test_blocks_held() - held_;
        if (held != 0) violation(calls_, "%lld blocks still held after the library's unload", static_cast<long long>(held));
    }

private:
    const Files& f_;
    const std::int64_t held_;
    const bool reverse_;
    std::string calls_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Files& f = files();
    if (size < kHeader) return 0;
    static constexpr int kFrames[8] = {1, 1, 1, 2, 3, 0, 4, 1};
    const int frames = kFrames[data[0] & 7];
    const std::size_t text_length = std::min<std::size_t>(data[3] | data[4] << 8, size - kHeader);
    const char* text = reinterpret_cast<const char*>(data + kHeader);
    const char* tables = text + text_length;
    const std::size_t rest = size - kHeader - text_length;
    const std::size_t gain_end = rest * data[5] / 255, offset_end = gain_end + (rest - gain_end) * data[6] / 255;

    const std::string config = "[DEBUG]\nPROCESS=0\nPARAM=0\nCHECKSTATE=0\nDEBUG4=0\nOUTPUT=0\n[DLL]\nFILENAME=" TAVIREX_FUZZ_SIM
                               "\n[LOADPROG]\nFLG_BOOT=1\nBOOT=" TAVIREX_FUZZ_DATA "/boot.bin\n" +
                               std::string(text, text_length) + "\n[LOADPROG]\nFPGA=" TAVIREX_FUZZ_DATA
                               "/fpga_tomo.hex\n[REFFILE]\nFOLDER=" + f.dir + "\n[SENSOR_ID]\nSENSOR_ID=S1\n";
    static std::string last_gain = "none", last_offset = "none";
    for (const std::string* p : {&f.noise_rows, &f.output}) std::remove(p->c_str());
    if (!write(f.config, config) || !put_table(f.gain, std::string(tables, gain_end), 'a', 1.0f, data[1], &last_gain) ||
        !put_table(f.offset, std::string(tables + gain_end, offset_end - gain_end), 'b', 0.0f, data[2], &last_offset) ||
        ((data[0] & 32) == 0 && !write(f.noise_rows, std::string(tables + offset_end, rest - offset_end))))
        return 0;

    tvx_fuzz::reset_library();
    if ((data[0] & 16) != 0) TvxSim_SetMode(TVXSIM_MODE_FLAT, nullptr);
    Run run((data[0] & 8) != 0);
    run.process(run.capture(frames));
    run.finish();
    return 0;
}
