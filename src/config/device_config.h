// Readers that fill DeviceContext from the configuration file.
#pragma once

#include <cstdint>

#include "state/records.h"

namespace tvx::config {

// Clears the record and reads every key that Tavirex_Init reads, in table order.
void read_init_keys(DeviceContext& record, const char* path);

// Keys read by the panoramic sensor initialisation from its own path.
void read_pano_keys(DeviceContext& record, const char* path);

// Keys read by the cephalometric sensor initialisation; lateral selects the lateral-view keys.
void read_ceph_keys(DeviceContext& record, const char* path, bool lateral);

// The separator band settings of section ExOption the processing exports of both
// pipelines read before a run: width 4 x PictLineNum (limited to 0..INT32_MAX) and
// color 1 (black) for PictLineColor 1, else 0 (white). Position and count stay.
void read_separator_settings(SeparatorLines& lines, const char* path);

// The display window Tavirex_Init starts with (section INIT_WINDOW; 2048 and 4096 by default).
struct InitialWindow {
    std::int32_t Center;
    std::int32_t Width;
};
InitialWindow read_initial_window(const char* path);

}  // namespace tvx::config
