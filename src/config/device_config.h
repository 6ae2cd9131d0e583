// Readers that fill DeviceContext from the configuration file.
#pragma once

#include "state/context.h"

namespace tvx::config {

// Clears the record and reads every key that Tavirex_Init reads, in table order.
void read_init_keys(DeviceContext& record, const char* path);

// Keys read by the panoramic sensor initialisation from its own path.
void read_pano_keys(DeviceContext& record, const char* path);

// Keys read by the cephalometric sensor initialisation; lateral selects the lateral-view keys.
void read_ceph_keys(DeviceContext& record, const char* path, bool lateral);

}  // namespace tvx::config
