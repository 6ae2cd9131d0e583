// What a careful host checks before it calls the library: files that must be
// there, values the library would take but cannot mean what was asked, and
// outputs that could not be written. Each check prints one line that names the
// file or option at fault ("tavirex <command>: ...") and returns false; the
// command then exits with kRefused before any library call.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "common.h"

namespace cli {


// A regular file that can be opened for reading; `what` says what it is for.
bool input_file(const char* command, const char* what, const std::string& path);

// --config given and readable (the library takes a missing file silently, as defaults).
bool config_option(const Args& args, const char* command, std::string* config);

// One speed per line, each a positive number, at least one line, no more lines
// than the library reads: it reads a blank or text line as a speed of 0.
bool speed_profile(const char* command, const std::string& path);

// A file of exactly `bytes` bytes. `what` completes "... is not <what>".
bool file_size_is(const char* command, const std::string& path, std::uint64_t bytes, const std::string& what);

// A raw image file of width x height 16-bit words (both positive).
bool raw_image(const char* command, const std::string& path, std::int32_t width, std::int32_t height);

// A raw image whose samples all lie in the 12 bits (0..4095) the library's bitmap, window and
// raw-file functions take outside a tomographic processing run: a processed tomographic image
// (13 or 14 bits) would come out as a wrong picture with success, so it is refused with the
// command that writes its bitmap in the processing run.
bool twelve_bit_image(const char* command, const std::string& path);

// The files a configuration names for `sensor`, checked before any exposure: the boot program
// ([LOADPROG] BOOT when FLG_BOOT is on) and the FPGA file (FPGA, FPGA_CEPH for ceph; for tomo
// when FLG_FPGA is on) and, with `tables`, the tables its [PROCESS] steps will read: the shading
// calibration ([DELSHADW] CALIBDATA or CALIBDATA_CEPH) and the injection line table ([CORRINJLINE]
// CORRLINEDATA), or the tomographic gain, offset and noise-row tables ([REFFILE] FOLDER and
// [SENSOR_ID] SENSOR_ID name them). A panoramic configuration given for tomo is refused here.
bool configured_files(const char* command, const std::string& config, Sensor sensor, bool tables);

// A recorded readout the simulated module can deliver in the mode.
bool recorded_readout(const char* command, const std::string& path, bool ceph);

// Output files that can be written: distinct, each in an existing folder, none
// a folder itself, each openable for writing (tried without changing a file).
bool output_files(const char* command, const std::vector<std::string>& paths);

// Refuses any of `names` that was given; `why` completes "--name <why>".
bool refuse_options(const Args& args, const char* command, std::initializer_list<const char*> names, const char* why);

// Both of two options or neither.
bool options_together(const Args& args, const char* command, const char* a, const char* b);

// --distance and --gain of the detail enhancement filter: both or neither, in
// the ranges the filter sees (it keeps the low 8 bits of the distance and the
// low 16 of the gain, and a 0 switches it off); 0 and 0 when absent.
bool filter_options(const Args& args, const char* command, std::int32_t* distance, std::int32_t* gain);

// A loadable simulated module: a library with the module's controls.
bool sim_module(const char* command, const std::string& path);

// The module named by --sim is the link library the configuration names (the
// controls reach the module the library drives only then).
bool same_module(const char* command, const std::string& sim, const std::string& config);

// --sim PATH when given: a simulated module that is the configuration's link library.
bool sim_option(const Args& args, const char* command, const std::string& config, std::string* sim);

// --sim-mode NAME when given: an image mode of the simulated module (replay only where it applies).
bool sim_mode_option(const Args& args, const char* command, bool replay, std::string* mode);

// The path made absolute against the current folder.
std::string absolute_path(const std::string& path);

// Folder part of a path including its last separator ("" for none).
std::string folder_of(const std::string& path);

// After a library failure: the files the configuration names for that result and sensor (any
// sensor's for Sensor::none), each with what is there.
void name_configured_files(const std::string& config, std::int32_t code, Sensor sensor = Sensor::none);

// Why `path` could not be written, in the system's words: what its folder shows now (gone, no
// space left, no permission), else the errno the failed write left.
std::string write_failure_reason(const std::string& path, int error);

// The paths where no file is yet: what a command that fails removes again.
std::vector<std::string> absent_files(const std::vector<std::string>& paths);
void remove_files(const std::vector<std::string>& paths);

}  // namespace cli
