// The tomographic processing driver: reads the tomographic record, runs the
// numbered steps on each captured frame, resamples each frame by its fixed
// magnification and joins the frames side by side in the raw output file,
// written once at the end. Frames run on workers at once when diagnostics are off.
#pragma once

#include <cstdint>

#include "state/records.h"
#include "tomo_processing/frame.h"

namespace tvx::tomo {

// ImageProcessing4TomoC: runs the steps on `frame` with the settings of `record`;
// the frame's geometry follows each step. 0 or the first failing step's code.
std::int32_t process_tomo_frame(const TomoContext& record, TomoFrame& frame) noexcept;

// The export: every captured frame processed, dumped beside the output, scaled
// and joined. Frame buffers are released whether it succeeds or fails; a failure
// leaves no output file and returns the code of the first failing frame in join order.
// 0, 3 (bad argument, more than three frames, frames not read out), 5, 8, or a step's code.
std::int32_t process_tomo_export(const char* output_path, std::int32_t* width, std::int32_t* height,
                                 bool reverse_order) noexcept;

}  // namespace tvx::tomo
