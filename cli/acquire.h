// One panoramic or cephalometric acquisition in the host's call order, shared
// by `tavirex acquire`, `tavirex calibrate` and `tavirex demo`.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common.h"

namespace cli {

struct AcquireOptions {
    bool ceph = false;
    bool lateral = false;       // cephalometric lateral view
    std::string config;
    std::string profile;        // speed profile
    std::uint32_t passes = 1;   // panoramic pass count 1..4
    std::uint32_t segments = 0; // passes read out (0: all)
    std::uint32_t interval = 10;  // ms between speed samples
    std::uint32_t lag = 100;    // ms before the first picture line
    std::string output;         // raw readout file; empty: not written
    std::string sim;            // the simulated module's path for its controls ("": the configuration's link library)
    std::string sim_mode;       // image mode of the simulated module ("" keeps it)
    std::string replay;         // recorded readout for sim_mode "replay"
    long poll_limit = 200000;   // status polls before giving up on the exposure
    bool keep_image = false;    // copy the readout into the result also when no output file is named
    bool process = false;       // run the processing export after the readout
    bool ex2 = false;           // ... as Tavirex_ImageProcessingEx2
    std::string processed;      // its output file
    bool progress = true;       // progress indicator, only when standard error is a terminal
};

struct AcquireResult {
    Failure failure;            // the first failing step (code 0 when every call succeeded)
    std::vector<std::uint16_t> image;  // the readout: width x height samples
    int width = 0, height = 0;
    std::uint32_t processed_width = 0, processed_height = 0;
};

// Runs Init, SetCommInit, sensor initialisation, picture set-up, arming,
// polling, readout, reset and free, printing each stage with its duration.
// Returns 0 on success, else the failing result code (also in result->failure);
// kNoExposure when the exposure did not come within the poll limit, kNoSimMode
// when the link library is not the simulated module or refused the image mode,
// kOutputFailed when the output file could not be written.
std::int32_t acquire(const AcquireOptions& options, AcquireResult* result);

// The `tavirex process` command that processes the readout `o` wrote the way it was taken.
std::string process_command(const AcquireOptions& o);

// The opening and closing both hosts share: Tavirex_Init and Tavirex_SetCommInit
// (link, boot), then, on every way out, the module reset (once armed) and the
// link released with the panoramic or the tomographic exports, and a failing
// step recorded in `failure` (with the errno it left and the configuration).
class HostSession {
public:
    HostSession(const std::string& config, Sensor sensor, Failure* failure)
        : config_(config), sensor_(sensor), failure_(failure) {}
    // 0, or the failing code after the link was released again.
    std::int32_t open();
    // From now on the module is reset before the link is released.
    void armed() { armed_ = true; }
    // Resets (once armed) and releases the link; returns `code` (0: success), recording
    // `stage` as the failing one, and `output` as the file it was writing, when it is not 0.
    std::int32_t finish(const char* stage, std::int32_t code, const std::string& output = "");

private:
    void release();

    const std::string& config_;
    Sensor sensor_;
    Failure* failure_;
    bool armed_ = false;
};

}  // namespace cli
