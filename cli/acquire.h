// One panoramic or cephalometric acquisition in the host's call order, shared
// by `tavirex acquire`, `tavirex calibrate` and `tavirex demo`.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace cli {

struct AcquireOptions {
    bool ceph = false;
    bool lateral = false;       // cephalometric lateral view
    std::string config;
    std::string profile;        // speed profile
    std::uint32_t passes = 1;   // panoramic pass count 1..4
    std::uint32_t interval = 10;  // ms between speed samples
    std::uint32_t lag = 100;    // ms before the first picture line
    std::string output;         // raw readout file; empty: not written
    std::string sim_mode;       // image mode of the simulated module ("" keeps it)
    std::string replay;         // recorded readout for sim_mode "replay"
    long poll_limit = 200000;   // status polls before giving up on the exposure
    bool progress = true;
};

struct AcquireResult {
    std::int32_t code = 0;      // first failing result, 0 when every call succeeded
    std::string failed_stage;
    std::vector<std::uint16_t> image;  // the readout: width x height samples
    int width = 0, height = 0;
    int segments = 0;
    std::uint16_t segment_start[4] = {}, segment_width[4] = {};
};

// Runs Init, SetCommInit, sensor initialisation, picture set-up, arming,
// polling, readout, reset and free, printing each stage with its duration.
// Returns 0 on success, else the failing result code (also in result->code);
// -1000 when the exposure did not come within the poll limit, -1001 when the
// simulated module refused the image mode, -1002 when the output file could
// not be written.
std::int32_t acquire(const AcquireOptions& options, AcquireResult* result);

constexpr std::int32_t kNoExposure = -1000;
constexpr std::int32_t kNoSimMode = -1001;
constexpr std::int32_t kOutputFailed = -1002;

}  // namespace cli
