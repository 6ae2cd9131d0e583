// Shading calibration and line table of a sensor, from a dark and a flat-field
// readout or from the simulated module's own sensor model.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace cli {

struct Calibration {
    int rows = 0;
    std::vector<std::uint16_t> shading;  // rows x 4096: row r maps a dark-free value to the corrected one
    std::vector<int> band_row, band_height;  // defective rows, first raw row and height
    double target = 0;                   // flat-field level the tables map to
};

// From raw readouts (width x rows samples, 12-bit) taken without exposure and
// with an even exposure. False (with a message) when the flat field shows no
// exposed columns.
bool calibration_from_readouts(const std::vector<std::uint16_t>& dark, const std::vector<std::uint16_t>& flat, int width,
                               int rows, Calibration* out);

// From the simulated module's sensor model (its TvxSim_RowGain and TvxSim_DefectBands).
bool calibration_from_model(const std::string& sim_path, bool ceph, Calibration* out);

// Shading file: rows x 4096 16-bit little-endian words. Line table: count,
// positions, heights as 16-bit little-endian words; panoramic positions are
// stored 768 rows (half the image) further down, as the correction expects.
// Both writers leave no file behind when they fail; false then.
bool write_shading_file(const std::string& path, const Calibration& c);
bool write_line_table(const std::string& path, const Calibration& c, bool ceph);

}  // namespace cli

#include "acquire.h"

namespace cli {

// What `tavirex calibrate` was asked to do.
struct CalibrateRequest {
    bool ceph = false;
    std::string source;        // "acquire", "files" or "model"
    AcquireOptions acquire;    // source acquire
    std::string dark, flat;    // source files
    std::string sim_path;      // source model
    std::string shading, lines;
};

// Runs a calibration and writes both files; the process exit status. `write_failed`, when
// given, is set when the measurement succeeded but its files could not be written.
int run_calibrate(const CalibrateRequest& request, bool* write_failed = nullptr);

}  // namespace cli
