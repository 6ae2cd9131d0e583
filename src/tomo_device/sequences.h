// The tomographic module's set-up sequences and picture-taking steps. The
// set-up sequences take a copy of the record; the capture steps update its
// counters, exposure-time lists and frame list.
#pragma once

#include <cstdint>

#include "state/records.h"

namespace tvx::tomo_device {

// Module initialisation: unless the module already echoes INITVALUE, downloads
// the FPGA file, resets the module, writes INITVALUE and checks the echo.
// 0, 1, 3 (load flag or INITVALUE out of range), 5, 7, 9 (module not booted), 18, 20 or a link result.
std::int32_t initialise_module(const TomoContext& record) noexcept;

// Programs the five front-end words of converters 1..3, then checks the echo.
std::int32_t program_front_end(const TomoContext& record) noexcept;

// Resets the picture logic and switches the analogue supply off.
std::int32_t reset_module() noexcept;

// The waits before a picture, in milliseconds.
struct PictureWaits {
    std::uint16_t expose_to_dark;
    std::uint16_t dark_to_expose;
};

// Picture kinds of a frame: strip exposure, its dark picture, the calibration
// picture (dark mode with the exposure timer) and the closing dark picture.
enum PictureKind : std::uint32_t { kExposure = 1, kDarkAfterExposure = 2, kCalibration = 3, kClosingDark = 4 };

// Arms the module (MODREG 5, POWER 1, PALSON 3 or 19) and restarts the picture
// counters: 0, 3 (PICTPATTERN not 0 or 1) or the first failing write's result.
std::int32_t arm(TomoContext& record) noexcept;

// Waits as the kind requires, counts the picture and writes its TIMER and MODREG:
// 0, 3 (kind outside 1..4, or an exposure beyond the 56 the lists hold), 103 (a
// frame closed with another number of counted pictures) or a write's result.
std::int32_t prepare_picture(TomoContext& record, std::uint32_t kind, PictureWaits waits) noexcept;

// Starts the prepared picture by command (START 1).
std::int32_t start_picture() noexcept;

// Waits 10 ms, reads STATUS and stores its picture status bit (0 or 1) in
// *status: 0 when the module echoes INITVALUE, 1 when not, 3 for a null pointer,
// 18 or a link result (the byte then unchanged).
std::int32_t picture_status(const TomoContext& record, std::uint8_t* status) noexcept;

// Reads ECTIME and EXTIME of the picture just taken, checks the echo, clears the
// times and checks them: 0, 1, 3 (no counted picture to store it for), 18, 102
// (ECTIME spread in the frame above the limit), 104 (dark ECTIME not
// TIMERSET_DC) or a link result.
std::int32_t read_exposure_times(TomoContext& record, std::uint32_t kind) noexcept;

// Reads every block of every counted frame into new frame buffers (2304 rows by
// 128 columns per block, 13-bit samples): 0, 1, 3 (more blocks than the frame
// list can describe), 5, 18 or a link result. Frames of an earlier readout are
// released first; on failure no frame is kept.
std::int32_t read_frames(TomoContext& record) noexcept;

}  // namespace tvx::tomo_device
