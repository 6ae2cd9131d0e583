// Call orders: the 43 exports in any order, with arguments from a small hostile
// set, against the simulated module, which the library loads through the path
// in its configuration; the input also switches the module's faults on.
//
// The input is a list of steps of three bytes: an operation and two argument
// bytes. Operations 0-42 are the exports in the order of tavirex.h; 43-47 arm
// a fault or change the module (a failing call, a short read, a dead module, a
// stuck converter or a module never ready, the picture mode and the tomographic
// exposure faults, a power cycle); 48-50 are what a host repeats: polling the
// picture status until the picture has ended, one tomographic picture (prepare,
// start, poll, read the times) and a whole tomographic frame of 18 pictures.
// At most 64 steps run; readouts and tomographic pictures are capped so that
// an input stays within a few seconds.
//
// After every export the target checks, and aborts with the call sequence
// when a rule is broken:
// - a call that reports success and names an output leaves a complete file of
//   the size it reports (raw images 2 x width x height bytes, bitmaps the size
//   in their header, which matches the width and height asked for); one that
//   fails leaves nothing new at its output path;
// - the processing exports report success only for a picture that a readout
//   filled: a panoramic or cephalometric readout not processed since, or the
//   tomographic frames the capture closed and the last readout read; every
//   tomographic frame shows in the joined image;
// - the blocks the library holds are exactly those its records own (picture
//   blocks, tomographic frames), also after Tavirex_SetDeviceFree, and none once
//   the library is unloaded at the end of the input;
// - the status byte is 0 or 1 when the export returns 0 or 1, and untouched or
//   0 or 1 when the link fails; the name of Tavirex_GetInfoData fits its 256
//   bytes; Tavirex_Ether232Recv ends the bytes it returns with a zero.
//
// fuzz/make_seeds.py writes the seeds (whole panoramic, cephalometric and
// tomographic cycles among them) and the inputs kept. With TAVIREX_FUZZ_TRACE
// set, each input prints its calls and their results.
#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <string_view>

#include "fuzz_cycle.h"
#include "fuzz_file.h"

namespace {

using tvx_fuzz::violation;

constexpr std::size_t kMaxSteps = 64;
// Calls that move whole pictures (readouts, processing, file exports of more than
// a million pixels) take most of an input's time: at most this many run.
constexpr int kWholePictureCalls = 4, kMaxTomoPictures = 80;
constexpr std::int32_t kNoPicture = -1000;  // a poll that gave up
constexpr std::int32_t kSmallWidth = 64, kSmallHeight = 48;

// The files of this process, made once; outputs are removed between inputs.
struct Files {
    std::string dir, pano, ceph, tomo, empty, folder, missing, missing_folder, long_path;
    std::string small_raw, small_bmp, out_raw, out_bmp, other_raw, other_bmp;
    std::string small_bmp_bytes;
};

// The module, the boot program and the FPGA keys `fpga` of a configuration.
std::string dll_and_boot(const std::string& fpga) {
    return "[DLL]\nFILENAME=" TAVIREX_FUZZ_SIM "\n[LOADPROG]\nFLG_BOOT=1\nBOOT=" TAVIREX_FUZZ_DATA "/boot.bin\n" + fpga;
}

// Shading tables that leave every value as it is: each row maps value v to v.
void write_identity_shading(const std::string& path, std::size_t rows) {
    std::uint8_t row[8192];
    for (std::size_t v = 0; v < 4096; ++v) row[2 * v] = static_cast<std::uint8_t>(v & 0xFF), row[2 * v + 1] = static_cast<std::uint8_t>(v >> 8);
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return;
    for (std::size_t r = 0; r < rows; ++r) std::fwrite(row, 1, sizeof row, f);
    std::fclose(f);
}

std::string bitmap_bytes(std::int32_t width, std::int32_t height) {
    const std::uint32_t stride = (static_cast<std::uint32_t>(width) + 3) / 4 * 4;
    std::string b(1078 + stride * height, '\0');
    auto put = [&](std::size_t at, std::uint32_t v, int n) {
        for (int i = 0; i < n; ++i) b[at + i] = static_cast<char>(v >> 8 * i);
    };
    b[0] = 'B', b[1] = 'M';
    put(2, static_cast<std::uint32_t>(b.size()), 4), put(10, 1078, 4), put(14, 40, 4), put(18, width, 4);
    put(22, height, 4), put(26, 1, 2), put(28, 8, 2), put(34, stride * height, 4), put(46, 256, 4);
    for (std::uint32_t i = 0; i < 256; ++i) put(54 + 4 * i, i * 0x010101u, 4);
    for (std::size_t i = 1078; i < b.size(); ++i) b[i] = static_cast<char>(i * 7);
    return b;
}

const Files& files() {
    static const Files f = [] {
        Files f;
        f.dir = tvx_fuzz::fresh_folder("-calls") + "/";
        const std::string pano = dll_and_boot("FPGA=" TAVIREX_FUZZ_DATA "/fpga_pano.hex\nFPGA_CEPH=" TAVIREX_FUZZ_DATA
                                              "/fpga_ceph.hex\n") + "[PICTCNTL]\nIPADDRESS=192.168.10.20\nLANRETRY=5\nINITVALUE=1\n"
                                                  "[DELSHADW]\nCALIBDATA=" + f.dir + "shading_pano.bin\nCALIBDATA_CEPH=" +
                                 f.dir + "shading_ceph.bin\n[ExOption]\nPictLineNum=2\n[CORRINJLINE]\nCORRLINEDATA=" TAVIREX_FUZZ_DATA;
        std::string cuts;
        for (int s = 0; s < 8; ++s) cuts += "LEFTCUT" + std::to_string(s) + "=4\nRIGHTCUT" + std::to_string(s) + "=4\n";
        const std::string tomo = dll_and_boot("FPGA=" TAVIREX_FUZZ_DATA "/fpga_tomo.hex\n") + "[PICTCNTL]\nINITVALUE=34\n"
                                 "[WAITTIME]\nEXPOS2DC=0\nDC2EXPOS=0\n[PROCESS]\nCORRSENS=0\nCORRINJLINE=0\n"
                                 "[ExOption]\nPictLineNum=2\n[PUTIMAGES]\n" + cuts;
        const std::pair<std::string*, std::string> texts[] = {
            {&f.pano, pano + "/lines_pano.bin\n"}, {&f.ceph, pano + "/lines_ceph.bin\n"}, {&f.tomo, tomo}, {&f.empty, ""}};
        const char* names[] = {"pano.ini", "ceph.ini", "tomo.ini", "empty"};
        for (std::size_t i = 0; i < 4; ++i) {
            *texts[i].first = f.dir + names[i];
            tvx_fuzz::write_file(*texts[i].first, reinterpret_cast<const std::uint8_t*>(texts[i].second.data()),
                                 texts[i].second.size());
        }
        write_identity_shading(f.dir + "shading_pano.bin", 1536);
        write_identity_shading(f.dir + "shading_ceph.bin", 2304);
        f.folder = f.dir + "folder";
        std::filesystem::create_directory(f.folder);
        f.missing = f.dir + "missing";
        f.missing_folder = f.dir + "no/such/out";
        f.long_path = f.dir + std::string(5000, 'x');
        f.small_raw = f.dir + "small.raw";
        f.small_bmp = f.dir + "small.bmp";
        f.out_raw = f.dir + "out.raw";
        f.out_bmp = f.dir + "out.bmp";
        f.other_raw = f.dir + "other.raw";
        f.other_bmp = f.dir + "other.bmp";
        f.small_bmp_bytes = bitmap_bytes(256, 160);
        return f;
    }();
    return f;
}

// The small raw image and bitmap as each input starts with them; no output left.
void restore_files(const Files& f) {
    std::string raw(2u * kSmallWidth * kSmallHeight, '\0');
    for (std::size_t i = 0; i < raw.size(); i += 2) raw[i] = static_cast<char>(i * 13), raw[i + 1] = static_cast<char>(i % 16);
    tvx_fuzz::write_file(f.small_raw, reinterpret_cast<const std::uint8_t*>(raw.data()), raw.size());
    tvx_fuzz::write_file(f.small_bmp, reinterpret_cast<const std::uint8_t*>(f.small_bmp_bytes.data()), f.small_bmp_bytes.size());
    for (const std::string* p : {&f.out_raw, &f.out_bmp, &f.other_raw, &f.other_bmp}) std::remove(p->c_str());
    for (int k = 0; k < 4; ++k) std::remove((f.dir + "SegTomo0" + std::to_string(k) + ".dat").c_str());
    std::error_code ec;
    std::filesystem::remove_all(f.dir + "no", ec);
}

// ---- what a step's argument bytes choose --------------------------------------

struct Path {
    const char* path;
    const char* label;
};

Path pick(const std::string* const (&paths)[8], const char* const (&labels)[8], unsigned choice) {
    const std::string* p = paths[choice % 8];
    return Path{p == nullptr ? nullptr : p->c_str(), labels[choice % 8]};
}

const std::string kEmptyString;

Path config_path(unsigned c) {
    const Files& f = files();
    return pick({&f.pano, &f.ceph, &f.tomo, &f.missing, &f.empty, &f.folder, nullptr, &f.long_path},
                {"pano.ini", "ceph.ini", "tomo.ini", "missing", "empty", "folder", "NULL", "5000 chars"}, c);
}

Path speed_path(unsigned c) {
    const Files& f = files();
    static const std::string pano = TAVIREX_FUZZ_DATA "/speed_pano.txt", ceph = TAVIREX_FUZZ_DATA "/speed_ceph.txt",
                             four = TAVIREX_FUZZ_DATA "/speed_pano_4pass.txt";
    return pick({&pano, &ceph, &four, &f.missing, &f.empty, &f.folder, nullptr, &f.small_raw},
                {"speed_pano.txt", "speed_ceph.txt", "speed_pano_4pass.txt", "missing", "empty", "folder", "NULL", "small.raw"}, c);
}

Path raw_input(unsigned c) {
    const Files& f = files();
    return pick({&f.out_raw, &f.small_raw, &f.missing, &f.empty, &f.folder, nullptr, &f.out_bmp, &kEmptyString},
                {"out.raw", "small.raw", "missing", "empty", "folder", "NULL", "out.bmp", "\"\""}, c);
}

Path raw_output(unsigned c) {
    const Files& f = files();
    return pick({&f.out_raw, &f.other_raw, &f.folder, &f.missing_folder, nullptr, &kEmptyString, &f.small_raw, &f.long_path},
                {"out.raw", "other.raw", "folder", "no/such/out", "NULL", "\"\"", "small.raw", "5000 chars"}, c);
}

Path bitmap_output(unsigned c) {
    const Files& f = files();
    return pick({&f.out_bmp, &f.other_bmp, &f.folder, &f.missing_folder, nullptr, &kEmptyString, &f.small_bmp, &f.out_raw},
                {"out.bmp", "other.bmp", "folder", "no/such/out", "NULL", "\"\"", "small.bmp", "out.raw"}, c);
}

Path bitmap_in_place(unsigned c) {
    const Files& f = files();
    return pick({&f.out_bmp, &f.small_bmp, &f.missing, &f.empty, &f.folder, nullptr, &f.out_raw, &f.other_bmp},
                {"out.bmp", "small.bmp", "missing", "empty", "folder", "NULL", "out.raw", "other.bmp"}, c);
}

template <typename T, std::size_t N>
T of(const T (&values)[N], unsigned c) {
    return values[c % N];
}

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// ---- the run of one input ------------------------------------------------------

enum class Output { Raw, Bitmap, InPlace };

// What is at a path: a folder, or a file's size, a hash of its bytes and its header.
struct Snapshot {
    bool exists = false, folder = false;
    std::uint64_t size = 0;
    std::size_t hash = 0;
    std::string header;  // the first 54 bytes
    bool operator==(const Snapshot& o) const {
        return exists == o.exists && folder == o.folder && size == o.size && hash == o.hash;
    }
};

Snapshot snapshot(const char* path) {
    Snapshot s;
    if (path == nullptr || path[0] == '\0') return s;
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    s.exists = std::filesystem::exists(status);
    s.folder = std::filesystem::is_directory(status);
    if (!std::filesystem::is_regular_file(status)) return s;
    std::FILE* f = std::fopen(path, "rb");
    if (f == nullptr) return s;
    static char chunk[1 << 16];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) {
        if (s.size == 0) s.header.assign(chunk, n < 54 ? n : 54);
        s.size += n;
        s.hash = s.hash * 31 + std::hash<std::string_view>{}(std::string_view(chunk, n));
    }
    std::fclose(f);
    return s;
}

std::uint32_t le32(const std::string& b, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<std::uint8_t>(b[at + static_cast<std::size_t>(i)]);
    return v;
}

class Run {
public:
    Run() : f_(files()), held_(tvx::core::test_blocks_held()) {}

    void step(unsigned op, unsigned a, unsigned b);
    void finish();

private:
    const Files& f_;
    const std::int64_t held_;
    std::string calls_;
    bool pano_filled_ = false;  // a readout filled the picture and nothing processed or dropped it since
    int tomo_closed_ = 0;       // frames closed since the tomographic module set-up
    int tomo_read_ = 0;         // frames of the last tomographic readout, until processed or dropped
    std::int32_t width_ = 0, height_ = 0;  // the image size the last processing reported
    int whole_picture_calls_ = 0, tomo_pictures_ = 0;

    // False (the step is left out) once the input has made its whole-picture calls.
    bool whole_picture(const char* name) {
        if (++whole_picture_calls_ <= kWholePictureCalls) return true;
        calls_ += std::string("  (") + name + " left out: enough whole pictures)\n";
        return false;
    }

    // A raw input that holds a size of more than a million pixels: a whole picture to export.
    static bool whole_image(const Path& in, std::int32_t w, std::int32_t h) {
        const std::int64_t pixels = static_cast<std::int64_t>(w) * h;
        std::error_code ec;
        return w > 0 && h > 0 && pixels > (1 << 20) && in.path != nullptr &&
               std::filesystem::file_size(in.path, ec) >= static_cast<std::uintmax_t>(2 * pixels) && !ec;
    }

    // The checks every export gets: the blocks the library holds.
    std::int32_t after(const std::string& call, std::int32_t rc) {
        calls_ += "  " + call + " = " + std::to_string(rc) + "\n";
        const std::int64_t held = tvx::core::test_blocks_held() - held_;
        if (held != tvx_fuzz::blocks_owned())
            violation(calls_, "%lld blocks held, the records own %lld", static_cast<long long>(held),
                      static_cast<long long>(tvx_fuzz::blocks_owned()));
        return rc;
    }

    // The picture status byte (preset to 0x5A): 0 or 1 when the export returns 0 or 1;
    // otherwise untouched, or 0 or 1 from a status read made before the link failed.
    void status_byte(const char* export_name, std::int32_t rc, std::uint8_t done) const {
        if (done > 1 && (rc == 0 || rc == 1 || done != 0x5A))
            violation(calls_, "%s returned %d and wrote %d", export_name, rc, done);
    }

    void check_output(const char* export_name, std::int32_t rc, const Path& out, const Snapshot& before, Output kind,
                      std::uint64_t raw_bytes, std::int64_t width = 0, std::int64_t height = 0);
    void size_argument(unsigned c, std::int32_t* width, std::int32_t* height, std::string* text) const;
    void file_export(unsigned op, unsigned a, unsigned b);
    std::int32_t poll_pano();
    std::int32_t tomo_picture(std::uint32_t kind);
    void tomo_processing(unsigned b);
};

void Run::check_output(const char* export_name, std::int32_t rc, const Path& out, const Snapshot& before, Output kind,
                       std::uint64_t raw_bytes, std::int64_t width, std::int64_t height) {
    const Snapshot now = snapshot(out.path);
    if (rc != 0) {
        // Absent, or as it was; a file the export deleted before writing may stay deleted.
        const bool unchanged = !now.exists || now == before || (before.folder && now.folder);
        if (!unchanged) violation(calls_, "%s failed with %d but changed its output %s", export_name, rc, out.label);
        return;
    }
    if (!now.exists || now.folder)
        violation(calls_, "%s reported success but left no file at %s", export_name, out.label);
    const std::uint64_t size = now.size;
    const std::string& header = now.header;
    if (kind == Output::Raw && size != raw_bytes)
        violation(calls_, "%s reported success but %s holds %llu bytes, not %llu", export_name, out.label,
                  static_cast<unsigned long long>(size), static_cast<unsigned long long>(raw_bytes));
    if (kind == Output::InPlace && (size != before.size || header != before.header))
        violation(calls_, "%s rewrote %s in place with another size or header", export_name, out.label);
    if (kind == Output::Bitmap) {
        const std::uint64_t stride = (static_cast<std::uint64_t>(width) + 3) / 4 * 4;
        const bool complete = size >= 54 && le32(header, 2) == size && header[0] == 'B' && header[1] == 'M' &&
                              le32(header, 18) == width && le32(header, 22) == height &&
                              size == 1078 + stride * static_cast<std::uint64_t>(height);
        if (!complete)
            violation(calls_, "%s reported success but %s (%llu bytes) is no complete %lld x %lld bitmap", export_name,
                      out.label, static_cast<unsigned long long>(size), static_cast<long long>(width),
                      static_cast<long long>(height));
    }
}

// Sizes of the raw and bitmap exports: the size the last processing reported,
// that of small.raw, mismatches, and sizes out of range.
void Run::size_argument(unsigned c, std::int32_t* width, std::int32_t* height, std::string* text) const {
    const std::int32_t sizes[16][2] = {{width_, height_},   {kSmallWidth, kSmallHeight}, {0, 0},         {1, 1},
                                       {-1, 5},             {5, -1},                     {65535, 65535}, {INT32_MAX, 1},
                                       {1, INT32_MAX},      {INT32_MAX, INT32_MAX},      {INT32_MIN, 1}, {width_, height_ + 1},
                                       {kSmallWidth + 1, kSmallHeight}, {kSmallHeight, kSmallWidth}, {width_ / 2, height_}, {2, 3}};
    *width = sizes[c % 16][0];
    *height = sizes[c % 16][1];
    *text = std::to_string(*width) + " x " + std::to_string(*height);
}

// The exports that turn a raw image file into a bitmap or another raw file, and the window from a file.
void Run::file_export(unsigned op, unsigned a, unsigned b) {
    const Path in = raw_input(a);
    std::int32_t w = 0, h = 0;
    std::string size;
    size_argument(a >> 3, &w, &h, &size);
    const bool filter = (a & 0x80) != 0;
    const std::int32_t distance = filter ? of({8, 1, 255, 256, -1, 0}, b >> 3) : 0;
    const std::int32_t gain = filter ? of({60, 100, 0, 65535, 65536 + 60, -1}, b >> 5) : 0;
    const std::string common = std::string(in.label) + ", " + size + ", " + std::to_string(distance) + ", " + std::to_string(gain);
    const double gamma = of({1.0, 2.2, 0.0, -1.0, kNaN, 1e308}, b >> 3);
    const double offset = of({0.0, 255.0, -1e9, kNaN}, b >> 4);
    const double slope = of({1.0, 0.5, -1.0, 1e9, kNaN}, b >> 6);
    const std::string curve = ", " + std::to_string(gamma) + ", " + std::to_string(offset) + ", " + std::to_string(slope);
    if (whole_image(in, w, h) && !whole_picture("a file export")) return;
    const bool bitmap = op >= 18 && op <= 21;
    const Path out = op == 23 ? Path{nullptr, ""} : bitmap ? bitmap_output(b) : raw_output(b);
    const Snapshot before = snapshot(out.path);
    std::int32_t rc = 0;
    std::string name;
    switch (op) {
    case 18: rc = Tavirex_SaveBitmap(in.path, w, h, distance, gain, out.path), name = "Tavirex_SaveBitmap(" + common; break;
    case 19:
        rc = Tavirex_SaveBitmap2(in.path, w, h, distance, gain, gamma, offset, slope, out.path);
        name = "Tavirex_SaveBitmap2(" + common + curve;
        break;
    case 20: rc = Tavirex_SaveBitmapWindow(in.path, w, h, distance, gain, out.path), name = "Tavirex_SaveBitmapWindow(" + common; break;
    case 21:
        rc = Tavirex_SaveBitmap3(in.path, w, h, distance, gain, gamma, offset, slope, out.path);
        name = "Tavirex_SaveBitmap3(" + common + curve;
        break;
    case 23: rc = Tavirex_SetWindowPosAuto(in.path, w, h), name = std::string("Tavirex_SetWindowPosAuto(") + in.label + ", " + size; break;
    case 26: rc = Tavirex_RawDatafile(in.path, w, h, distance, gain, out.path), name = "Tavirex_RawDatafile(" + common; break;
    default: rc = Tavirex_RawFileHorizontalMirror(in.path, w, h, out.path), name = std::string("Tavirex_RawFileHorizontalMirror(") + in.label + ", " + size; break;
    }
    name += op == 23 ? ")" : std::string(", ") + out.label + ")";
    after(name, rc);
    if (op != 23)
        check_output(name.c_str(), rc, out, before, bitmap ? Output::Bitmap : Output::Raw,
                     2ull * static_cast<std::uint64_t>(w) * static_cast<std::uint64_t>(h), w, h);
}

std::int32_t Run::poll_pano() {
    std::int32_t rc = 0;
    for (int polls = 0; polls < 50; ++polls) {
        std::uint8_t done = 0x5A;
        rc = after("Tavirex_CheckPictStatus(&byte)", Tavirex_CheckPictStatus(&done));
        status_byte("Tavirex_CheckPictStatus", rc, done);
        if (rc != 0 || done != 0) return rc;
    }
    return kNoPicture;
}

// One tomographic picture as a host takes it: prepare, start, poll, read the times.
std::int32_t Run::tomo_picture(std::uint32_t kind) {
    if (++tomo_pictures_ > kMaxTomoPictures) return kNoPicture;
    const std::string k = "(" + std::to_string(kind) + ")";
    std::int32_t rc = after("Tavirex_SetTIMERandMODREG_Tomo" + k, Tavirex_SetTIMERandMODREG_Tomo(kind));
    // A closing picture raises the frame count even when its count check refuses it (103): the
    // module keeps the frame's blocks in its memory, and later frames lie after them.
    if (kind == 4) ++tomo_closed_;
    if (rc == 0) rc = after("Tavirex_PictStartbyCommand_Tomo", Tavirex_PictStartbyCommand_Tomo());
    std::uint8_t done = 0;
    for (int polls = 0; rc == 0 && done == 0; ++polls) {
        if (polls == 50) return kNoPicture;
        done = 0x5A;
        rc = after("Tavirex_CheckPictStatus_Tomo(&byte)", Tavirex_CheckPictStatus_Tomo(&done));
        status_byte("Tavirex_CheckPictStatus_Tomo", rc, done);
    }
    if (rc == 0) rc = after("Tavirex_GetEXTIMEandECTIME_Tomo" + k, Tavirex_GetEXTIMEandECTIME_Tomo(kind));
    return rc;
}

void Run::tomo_processing(unsigned b) {
    const Path out = raw_output(b);
    const bool pointers = (b & 0x18) != 0x18;
    const std::int32_t reverse = of({0, 1, -1, 0}, b >> 5);
    std::int32_t w = -1, h = -1;
    for (int k = 0; k < 4; ++k) std::remove((f_.dir + "SegTomo0" + std::to_string(k) + ".dat").c_str());
    const Snapshot before = snapshot(out.path);
    const int frames = tomo_read_;
    tomo_read_ = 0;  // consumed whatever happens
    const std::int32_t rc = after(std::string("Tavirex_ImageProcessingEx_Tomo(") + out.label + (pointers ? ", &w, &h, " : ", NULL, NULL, ") +
                                      std::to_string(reverse) + ")",
                                  Tavirex_ImageProcessingEx_Tomo(out.path, pointers ? &w : nullptr, pointers ? &h : nullptr, reverse));
    if (rc != 0) {
        check_output("Tavirex_ImageProcessingEx_Tomo", rc, out, before, Output::Raw, 0);
        return;
    }
    if (frames == 0) {
        const Snapshot now = snapshot(out.path);
        if (w != 0 || h != 0 || now.size != 0)
            violation(calls_, "Tavirex_ImageProcessingEx_Tomo reported %d x %d (%llu bytes written) with no frame closed and read out", w, h,
                      static_cast<unsigned long long>(now.size));
        width_ = height_ = 0;
        return;
    }
    if (w <= 0 || h <= 0 || frames > 3)
        violation(calls_, "Tavirex_ImageProcessingEx_Tomo reported success with %d x %d for %d frames", w, h, frames);
    check_output("Tavirex_ImageProcessingEx_Tomo", rc, out, before, Output::Raw, 2ull * static_cast<std::uint64_t>(w) * h);
    tvx_fuzz::check_joined_frames(calls_, f_.dir, frames, w);
    width_ = w, height_ = h;
}

void Run::step(unsigned op, unsigned a, unsigned b) {
    const std::uint32_t counts[8] = {1, 2, 0, 3, 4, 5, UINT32_MAX, 2};
    const std::uint32_t kinds[8] = {1, 2, 3, 4, 0, 5, UINT32_MAX, 1};
    const std::string arg_b = std::to_string(b);
    switch (op) {
    case 0: {
        const Path config = config_path(a);
        if (after(std::string("Tavirex_Init(") + config.label + ", " + std::to_string(b & 1) + ")", Tavirex_Init(config.path, b & 1)) == 0)
            pano_filled_ = false;
        break;
    }
    case 1: after("Tavirex_SetCommInit()", Tavirex_SetCommInit()); break;
    case 2: {
        const std::uint32_t index = of({0u, 1u, 2u, UINT32_MAX}, b);
        after("Tavirex_SetCommInit2(" + std::to_string(index) + ")", Tavirex_SetCommInit2(index));
        break;
    }
    case 3: {
        const Path config = config_path(a);
        const std::uint32_t load = of({1u, 0u, 2u}, b);
        after(std::string("Tavirex_SetSensMduInit_Pano(") + config.label + ", " + std::to_string(load) + ")",
              Tavirex_SetSensMduInit_Pano(config.path, load));
        break;
    }
    case 4: {
        const Path config = config_path(a);
        const std::uint32_t load = of({1u, 0u, 2u}, b >> 1);
        after(std::string("Tavirex_SetSensMduInit_Ceph(") + config.label + ", " + std::to_string(b & 1) + ", " + std::to_string(load) + ")",
              Tavirex_SetSensMduInit_Ceph(config.path, b & 1, load));
        break;
    }
    case 5:
    case 6: {
        const Path speed = speed_path(a);
        const std::uint32_t passes = counts[b % 8];
        const std::uint32_t interval = of({10u, 0u, 1u, 65536u + 10u}, b >> 3);
        const std::uint32_t lag = of({100u, 0u, 65535u, 40000u}, b >> 5);
        const std::string args = std::string("(") + speed.label + ", " + std::to_string(passes) + ", " + std::to_string(interval) +
                                 ", " + std::to_string(lag) + ")";
        const std::int32_t rc = op == 5 ? after("Tavirex_SetParamforPictEx" + args, Tavirex_SetParamforPictEx(speed.path, passes, interval, lag))
                                        : after("Tavirex_SetParamforPictEx_Ceph" + args,
                                                Tavirex_SetParamforPictEx_Ceph(speed.path, passes, interval, lag));
        if (rc != TAVIREX_E_PASS_COUNT) pano_filled_ = false;  // the picture blocks were taken anew
        break;
    }
    case 7: after("Tavirex_SetWaitXExpose()", Tavirex_SetWaitXExpose()); break;
    case 8:
        if ((b & 1) != 0) after("Tavirex_CheckPictStatus(NULL)", Tavirex_CheckPictStatus(nullptr));
        else {
            std::uint8_t done = 0x5A;
            const std::int32_t rc = after("Tavirex_CheckPictStatus(&byte)", Tavirex_CheckPictStatus(&done));
            status_byte("Tavirex_CheckPictStatus", rc, done);
        }
        break;
    case 9: {
        if (!whole_picture("Tavirex_GetImageDataEx")) break;
        const std::uint32_t segments = counts[b % 8];
        if (after("Tavirex_GetImageDataEx(" + std::to_string(segments) + ")", Tavirex_GetImageDataEx(segments)) == 0) pano_filled_ = true;
        break;
    }
    case 10: after("Tavirex_ResetAll()", Tavirex_ResetAll()); break;
    case 11: after("Tavirex_SetDeviceFree()", Tavirex_SetDeviceFree()); break;
    case 12: {
        static const std::uint8_t frame[3] = {0x02, 0x41, 0x03};
        static const std::uint8_t block[1024] = {0x02};
        const std::uint8_t* data[] = {frame, nullptr, nullptr, frame, frame, block};
        const std::uint32_t lengths[] = {3, 0, 5, 1, 0, 1024};
        const char* labels[] = {"STX A ETX, 3", "NULL, 0", "NULL, 5", "STX A ETX, 1", "STX A ETX, 0", "1024 bytes, 1024"};
        after(std::string("Tavirex_Ether232Send(") + labels[b % 6] + ")", Tavirex_Ether232Send(data[b % 6], lengths[b % 6]));
        break;
    }
    case 13: {
        std::uint8_t buffer[2048];
        std::memset(buffer, 0x5A, sizeof buffer);
        const bool null = (b & 1) != 0;
        const std::int32_t rc = after(null ? "Tavirex_Ether232Recv(NULL)" : "Tavirex_Ether232Recv(buffer)",
                                      Tavirex_Ether232Recv(null ? nullptr : buffer));
        // A count has its terminator behind it; 19 (no link) writes nothing.
        const bool untouched = buffer[0] == 0x5A && std::memcmp(buffer, buffer + 1, sizeof buffer - 1) == 0;
        if (!null && rc >= 0 && !(rc == TAVIREX_E_LINK_LIBRARY && untouched) && (rc > 1024 || buffer[rc] != 0))
            violation(calls_, "Tavirex_Ether232Recv returned %d without the terminator behind the bytes", rc);
        break;
    }
    case 14: {
        static const std::string long_word(400, 'w');
        const char* sources[] = {"name 1 2 3 4 5 6", nullptr, "", long_word.c_str(), "x 99999999999 -1 a 4", "   7 8"};
        char name[300];
        std::memset(name, 0x5A, sizeof name);
        std::int32_t v[6] = {};
        const bool null_name = (b & 8) != 0, null_value = (b & 16) != 0;
        after("Tavirex_GetInfoData(source " + std::to_string(b % 6) + (null_name ? ", NULL" : ", name") + (null_value ? ", NULL ...)" : ", &v ...)"),
              Tavirex_GetInfoData(sources[b % 6], null_name ? nullptr : name, &v[0], &v[1], &v[2], &v[3], &v[4],
                                  null_value ? nullptr : &v[5]));
        for (std::size_t i = 256; i < sizeof name; ++i)
            if (name[i] != 0x5A) violation(calls_, "Tavirex_GetInfoData wrote byte %zu of the name", i);
        break;
    }
    case 15:
    case 16: {
        if (!whole_picture("Tavirex_ImageProcessingEx")) break;
        const Path out = raw_output(b);
        const bool pointers = (a & 3) != 3;
        std::uint32_t w = 0, h = 0;
        const Snapshot before = snapshot(out.path);
        const char* name = op == 15 ? "Tavirex_ImageProcessingEx" : "Tavirex_ImageProcessingEx2";
        const std::int32_t rc = after(std::string(name) + "(" + out.label + (pointers ? ", &w, &h)" : ", NULL, NULL)"),
                                      op == 15 ? Tavirex_ImageProcessingEx(out.path, pointers ? &w : nullptr, pointers ? &h : nullptr)
                                               : Tavirex_ImageProcessingEx2(out.path, pointers ? &w : nullptr, pointers ? &h : nullptr));
        if (rc == 0 && !pano_filled_) violation(calls_, "%s reported success for a picture no readout filled", name);
        if (out.path != nullptr && pointers) pano_filled_ = false;
        check_output(name, rc, out, before, Output::Raw, 2ull * w * h);
        if (rc == 0) width_ = static_cast<std::int32_t>(w), height_ = static_cast<std::int32_t>(h);
        break;
    }
    case 17: {
        const Path in = raw_input(a), out = raw_output(b);
        std::int32_t w = 0, h = 0;
        std::string size;
        size_argument(a >> 3, &w, &h, &size);
        if (whole_image(in, w, h) && !whole_picture("Tavirex_ImageProcessingExDummy")) break;
        std::uint32_t uw = static_cast<std::uint32_t>(w), uh = static_cast<std::uint32_t>(h);
        // The copy gets the separator bands of the last readout's segment count.
        const std::uint64_t segments = tvx::ReadSegments, band = tvx::SeparatorLineList.Width;
        const std::uint64_t wide = uw + (segments >= 2 && band >= 1 ? (segments - 1) * band : 0);
        const Snapshot before = snapshot(out.path);
        const std::int32_t rc = after(std::string("Tavirex_ImageProcessingExDummy(") + in.label + ", " + out.label + ", " + size + ")",
                                      Tavirex_ImageProcessingExDummy(in.path, out.path, &uw, &uh));
        check_output("Tavirex_ImageProcessingExDummy", rc, out, before, Output::Raw, 2 * wide * uh);
        break;
    }
    case 18: case 19: case 20: case 21: case 23: case 26: case 27: file_export(op, a, b); break;
    case 22: {
        const std::int32_t center = of({2048, 0, -1, INT32_MAX, INT32_MIN, 4095, 8191, 100000}, b);
        const std::int32_t width = of({4096, 0, 1, -1, INT32_MAX, INT32_MIN, 2, 8192}, b >> 3);
        after("Tavirex_SetWindowPos(" + std::to_string(center) + ", " + std::to_string(width) + ")", Tavirex_SetWindowPos(center, width));
        break;
    }
    case 24: after("Tavirex_GetWindowCenter()", Tavirex_GetWindowCenter()); break;
    case 25: after("Tavirex_GetWindowWidth()", Tavirex_GetWindowWidth()); break;
    case 28:
    case 29:
    case 30: {
        const Path bmp = bitmap_in_place(a);
        const Snapshot before = snapshot(bmp.path);
        const std::int32_t side = of({1, 0, -1}, b);
        std::int32_t rc;
        std::string name;
        if (op == 28) {
            const double gamma = of({1.0, 0.01, 5.0, 0.0, 5.01, kNaN, -1.0, 2.0}, b);
            const double contrast = of({1.0, 0.0, 2.0, 2.5, kNaN, -0.1}, b >> 3);
            const double brightness = of({0.0, 100.0, -100.0, 101.0, kNaN}, b >> 5);
            name = std::string("Tavirex_BitmapChange(") + bmp.label + ", " + std::to_string(gamma) + ", " + std::to_string(contrast) +
                   ", " + std::to_string(brightness) + ")";
            rc = Tavirex_BitmapChange(bmp.path, gamma, contrast, brightness);
        } else if (op == 29) {
            name = std::string("Tavirex_MarkingInBitmap(") + bmp.label + ", " + std::to_string(side) + ")";
            rc = Tavirex_MarkingInBitmap(bmp.path, side);
        } else {
            name = std::string("Tavirex_MarkingInBitmap_Tomo(") + bmp.label + ", " + std::to_string(side) + ")";
            rc = Tavirex_MarkingInBitmap_Tomo(bmp.path, side);
        }
        after(name, rc);
        check_output(name.c_str(), rc, bmp, before, Output::InPlace, 0);
        break;
    }
    case 31: {
        const Path config = config_path(a);
        after(std::string("Tavirex_Init_Tomo(") + config.label + ", " + std::to_string(b & 1) + ")", Tavirex_Init_Tomo(config.path, b & 1));
        break;
    }
    case 32:
        after("Tavirex_SetSensMdulInit_Tomo(" + std::to_string(a) + ", " + arg_b + ")", Tavirex_SetSensMdulInit_Tomo(a, b));
        tomo_closed_ = tomo_read_ = 0;  // a new acquisition: the frames go
        break;
    case 33: after("Tavirex_SetParamforPictEx_Tomo()", Tavirex_SetParamforPictEx_Tomo()); break;
    case 34: after("Tavirex_ResetAll_Tomo()", Tavirex_ResetAll_Tomo()); break;
    case 35: after("Tavirex_SetWaitXExpose_Tomo()", Tavirex_SetWaitXExpose_Tomo()); break;
    case 36: {
        if (++tomo_pictures_ > kMaxTomoPictures) break;
        const std::uint32_t kind = kinds[b % 8];
        after("Tavirex_SetTIMERandMODREG_Tomo(" + std::to_string(kind) + ")", Tavirex_SetTIMERandMODREG_Tomo(kind));
        if (kind == 4) ++tomo_closed_;
        break;
    }
    case 37:
        if ((b & 1) != 0) after("Tavirex_CheckPictStatus_Tomo(NULL)", Tavirex_CheckPictStatus_Tomo(nullptr));
        else {
            std::uint8_t done = 0x5A;
            const std::int32_t rc = after("Tavirex_CheckPictStatus_Tomo(&byte)", Tavirex_CheckPictStatus_Tomo(&done));
            status_byte("Tavirex_CheckPictStatus_Tomo", rc, done);
        }
        break;
    case 38: {
        const std::uint32_t kind = kinds[b % 8];
        after("Tavirex_GetEXTIMEandECTIME_Tomo(" + std::to_string(kind) + ")", Tavirex_GetEXTIMEandECTIME_Tomo(kind));
        break;
    }
    case 39:
        if (!whole_picture("Tavirex_GetImageDataEx_Tomo")) break;
        tomo_read_ = after("Tavirex_GetImageDataEx_Tomo()", Tavirex_GetImageDataEx_Tomo()) == 0 ? tomo_closed_ : 0;
        break;
    case 40: after("Tavirex_PictStartbyCommand_Tomo()", Tavirex_PictStartbyCommand_Tomo()); break;
    case 41: after("Tavirex_SetDeviceFree_Tomo()", Tavirex_SetDeviceFree_Tomo()); break;
    case 42:
        if (whole_picture("Tavirex_ImageProcessingEx_Tomo")) tomo_processing(b);
        break;
    // ---- the module
    case 43: {
        const std::int32_t code = of({-7, -31, 1, 0, -2}, b);
        TvxSim_SetFault(TVXSIM_FAULT_FAIL_CALL, static_cast<std::int32_t>(a) + 1, code);
        calls_ += "  (module: link call " + std::to_string(a + 1) + " from now returns " + std::to_string(code) + ")\n";
        break;
    }
    case 44: {
        const std::int32_t bytes = b < 128 ? static_cast<std::int32_t>(b) : -1;
        TvxSim_SetFault(TVXSIM_FAULT_SHORT_READ, static_cast<std::int32_t>(a) + 1, bytes);
        calls_ += "  (module: read " + std::to_string(a + 1) + " from now returns " + (bytes < 0 ? "one byte less" : std::to_string(bytes)) + ")\n";
        break;
    }
    case 45:
        TvxSim_SetFault(TVXSIM_FAULT_DEAD, static_cast<std::int32_t>(a) + 1, -31);
        calls_ += "  (module: dead from link call " + std::to_string(a + 1) + " from now)\n";
        break;
    case 46:
        TvxSim_SetFault(TVXSIM_FAULT_CONVERTER_BUSY, a & 1, 0);
        TvxSim_SetFault(TVXSIM_FAULT_NEVER_READY, b & 1, 0);
        calls_ += "  (module: converter stuck " + std::to_string(a & 1) + ", never ready " + std::to_string(b & 1) + ")\n";
        break;
    case 47:
        switch (a % 6) {
        case 0: TvxSim_SetMode(of({TVXSIM_MODE_FLAT, TVXSIM_MODE_DARK, TVXSIM_MODE_RAMP, TVXSIM_MODE_PHANTOM}, b), nullptr); break;
        case 1: TvxSim_SetExposureReads(of({0, 5, 60, -1}, b)); break;
        case 2: TvxSim_SetFault(TVXSIM_FAULT_CCD_CORRUPT, static_cast<std::int32_t>(b % 4) - 1, 0); break;
        case 3: TvxSim_SetFault(TVXSIM_FAULT_ECTIME_DRIFT, static_cast<std::int32_t>(b % 8), 0); break;
        case 4: TvxSim_SetFault(TVXSIM_FAULT_DARK_MISMATCH, static_cast<std::int32_t>(b % 8), 0); break;
        default: TvxSim_Reset(); break;  // unplugged and plugged in again
        }
        calls_ += "  (module setting " + std::to_string(a % 6) + ", " + arg_b + ")\n";
        break;
    // ---- what a host repeats
    case 48: poll_pano(); break;
    case 49: tomo_picture(kinds[b % 8]); break;
    default:
        for (std::uint32_t p = 0; p < 18; ++p)
            if (tomo_picture(tvx_fuzz::picture_kind(p)) != 0) break;
        break;
    }
}

// The library unloaded: nothing it took may stay held.
void Run::finish() {
    if (std::getenv("TAVIREX_FUZZ_TRACE") != nullptr) std::fputs(calls_.c_str(), stderr);
    tvx_fuzz::reset_library();
    const std::int64_t held = tvx::core::test_blocks_held() - held_;
    if (held != 0) violation(calls_, "%lld blocks still held after the library's unload", static_cast<long long>(held));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Files& f = files();
    tvx_fuzz::reset_library();
    restore_files(f);
    Run run;
    for (std::size_t i = 0; i + 3 <= size && i / 3 < kMaxSteps; i += 3) run.step(data[i] % 51u, data[i + 1], data[i + 2]);
    run.finish();
    return 0;
}
