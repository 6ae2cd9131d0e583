// Shared pieces of the tavirex command-line host: argument parsing, result
// texts, stage timing and where the simulated module lives.
#pragma once

#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

namespace cli {

// Parsed "--name value" options and "--flag" switches; positional words in order.
struct Args {
    std::vector<std::string> positional;
    std::vector<std::pair<std::string, std::string>> options;
    bool help = false;

    bool has(const std::string& name) const;
    std::string get(const std::string& name, const std::string& fallback = "") const;
};

// Options in `with_value` take the next word as their value. False (with a
// message on stderr) for an unknown option or a missing value.
bool parse_args(int argc, char** argv, int first, const std::vector<std::string>& with_value,
                const std::vector<std::string>& switches, Args* out);

constexpr int kRefused = 2;  // exit status of a command refused before any library call

// Outcomes of the host's own steps, below every code of the library and of the link library.
constexpr std::int32_t kNoExposure = -1000;
constexpr std::int32_t kNoSimMode = -1001;
constexpr std::int32_t kOutputFailed = -1002;

// A result code in words.
const char* explain(std::int32_t code);

// The sensor a command drives: it decides which keys of the configuration name its files.
enum class Sensor { none, pano, ceph, tomo };

// A failed step: the call or host step, its result, the errno it left, and what the report
// adds: for a failed write the file (with the system's reason), else the files the
// configuration names for that result and sensor.
struct Failure {
    std::string stage;
    std::int32_t code = 0;
    int error = 0;
    std::string output;
    std::string config;
    Sensor sensor = Sensor::none;
};

// The one way a command reports a failure: "<what> failed at <stage>: <code> (<words>)" (the
// host's own outcomes in words only), then "cannot write <output>: <reason>" or the configured
// files. Returns exit status 1.
int report_failure(const char* what, const Failure& failure);

// Prints "  <stage> ... <code> (<words>) <ms> ms" and returns the code; a failing code is kept,
// with the stage and the errno `error`, as last_failure().
std::int32_t report(const char* stage, std::int32_t code, double ms, int error = 0);
const Failure& last_failure();

// Runs fn, timing it; prints the stage line.
template <typename Fn>
std::int32_t stage(const char* name, Fn&& fn);

// Detail enhancement of the bitmaps the CLI writes itself (demo, process tomo --bitmap):
// filter distance and gain (percent).
constexpr std::int32_t kBitmapFilterDistance = 8;
constexpr std::int32_t kBitmapFilterGain = 60;

// Folder of the running executable, with a trailing separator.
std::string executable_dir();

// Full path of the simulated sensor module next to the executable.
std::string sim_module_path();

double now_ms();

// Headerless raw image files of 16-bit little-endian words. The reader takes
// exactly `count` words (false when the file is missing or shorter); the writer
// replaces the file under the output rule of platform::OutputFile and leaves none
// behind when it cannot write all of it (errno then holds what the failed write left).
bool read_raw_file(const std::string& path, std::size_t count, std::vector<std::uint16_t>* out);
bool write_raw_file(const std::string& path, const std::uint16_t* words, std::size_t count);

// Replaces the file with `bytes`; false (and no file left, errno kept) when it cannot be written whole.
bool write_text(const std::string& path, const std::string& bytes);

// A configuration value as the library reads it ("" when the key is missing).
std::string config_string(const std::string& config, const char* section, const char* key);
long config_int(const std::string& config, const char* section, const char* key, long fallback);

// The controls of the simulated module: the link library the configuration
// names (or `sim`, the same module by another path), loaded beside the
// library's own binding (the process holds one module state). find() is null
// when the library is missing or is not the simulated module.
class SimControl {
public:
    explicit SimControl(const std::string& config, const std::string& sim = "");
    ~SimControl();
    SimControl(const SimControl&) = delete;
    SimControl& operator=(const SimControl&) = delete;
    void* find(const char* name) const;
    const std::string& path() const { return path_; }

private:
    std::string path_;
    void* handle_ = nullptr;
};

template <typename Fn>
std::int32_t stage(const char* name, Fn&& fn) {
    const double t0 = now_ms();
    errno = 0;
    const std::int32_t rc = fn();
    return report(name, rc, now_ms() - t0, errno);
}

// Commands; each returns the process exit status.
int cmd_info(int argc, char** argv);
int cmd_demo(int argc, char** argv);
int cmd_acquire(int argc, char** argv);
int cmd_calibrate(int argc, char** argv);
int cmd_bitmap(int argc, char** argv);
int cmd_window(int argc, char** argv);
int cmd_rawfile(int argc, char** argv);
int cmd_mirror(int argc, char** argv);
int cmd_adjust(int argc, char** argv);
int cmd_mark(int argc, char** argv);
int cmd_process(int argc, char** argv);
int cmd_dicom(int argc, char** argv);
// tavirex calibrate tomo, from cmd_calibrate's parsed arguments; and the same for
// a configuration, measured through the library or from the module's model.
int calibrate_tomo(const Args& args);
int run_calibrate_tomo(const std::string& config, bool model, const std::string& sim, bool* write_failed = nullptr);

}  // namespace cli
