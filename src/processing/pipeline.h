// The panoramic and cephalometric processing driver: reads the device record,
// runs the numbered steps on its image, cuts the passes into blocks, puts them
// into display order with separator bands between them and writes the raw file.
#pragma once

#include <cstdint>

#include "api/context.h"
#include "core/alloc.h"
#include "core/image.h"
#include "processing/steps.h"

namespace tvx::processing {

// The dark offset step's parameters as the record holds them after a readout.
DarkOffsetParams dark_offset_params(const DeviceContext& d);

// Checks the record, takes the DEBUG switches and runs steps 1 to 5 and the
// block stage on the record's image in place. 0 or the first failing step's code.
std::int32_t run_pipeline(DeviceContext& d);

// Cuts the image into one block per pass, runs steps 7 to 11 on each block and
// joins the blocks side by side at the start of the image. 0, 3 or a step's code.
std::int32_t run_block_stage(DeviceContext& d);

// Copies B columns of the image starting at `first_column` into the block
// (mirrored left to right when asked). Columns past a row's end continue into the
// following row, as the image is one run of memory; nothing past the image is read
// (those pixels are 0).
void cut_block(core::ImageView image, std::uint64_t first_column, bool mirror, core::ImageView block);

// Keeps the first `read_segments` of `pass_count` equal segments of every row and
// puts them into display order. 0, or -96 without memory.
std::int32_t crop_and_order(DeviceContext& d, std::uint32_t pass_count, std::uint32_t read_segments);

// Display order: output segment k is taken from segment kSegmentOrder[count][k].
extern const std::uint8_t kSegmentOrder[5][4];

// Builds the image with `band` columns of separator colour between the `count`
// segments of every row into `out` and updates `list`. 0 or -96.
std::int32_t insert_separators(const std::uint16_t* pixels, std::uint32_t width, std::uint32_t height,
                               std::uint32_t count, std::uint32_t band, std::uint32_t colour,
                               core::Buffer<std::uint16_t>* out, std::uint32_t* out_width, SeparatorLines* list);

// The three processing exports. `ex2` forces steps 9 and 10 off and keeps the
// separator settings of the last run.
std::int32_t process_export(const char* output_path, std::uint32_t* width, std::uint32_t* height, bool ex2);
std::int32_t dummy_export(const char* input_path, const char* output_path, const std::uint32_t* width,
                          const std::uint32_t* height);

}  // namespace tvx::processing
