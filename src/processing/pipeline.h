// The panoramic and cephalometric processing driver: reads the device record,
// runs the numbered steps on its image, cuts the passes into blocks, puts them
// into display order with separator bands between them and writes the raw file.
#pragma once

#include <cstdint>

#include "core/alloc.h"
#include "core/image.h"
#include "diag/diag.h"
#include "processing/steps.h"
#include "state/records.h"

namespace tvx::processing {

// The dark offset step's parameters as the record holds them after a readout.
DarkOffsetParams dark_offset_params(const DeviceContext& d);

// Checks the record, takes the DEBUG switches and runs steps 1 to 5 and the
// block stage on the record's image in place. 0 or the first failing step's code.
std::int32_t run_pipeline(DeviceContext& d);

// Cuts the image into one block per pass, runs steps 7 to 11 on each block and
// joins the blocks side by side at the start of the image. 0, 3 or a step's code.
std::int32_t run_block_stage(DeviceContext& d, const diag::Trace& trace = {});

// The three processing exports. `ex2` forces steps 9 and 10 off and keeps the
// separator settings of the last run.
std::int32_t process_export(const char* output_path, std::uint32_t* width, std::uint32_t* height, bool ex2);
std::int32_t dummy_export(const char* input_path, const char* output_path, const std::uint32_t* width,
                          const std::uint32_t* height);

}  // namespace tvx::processing
