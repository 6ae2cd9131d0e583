// State of the simulated sensor module: its registers, its boot and FPGA
// state and the link's open flag. The entry points in entry.cpp drive it.
#pragma once

#include <cstdint>
#include <map>

namespace tvxsim {

struct Module {
    bool link_open = false;
    bool booted = false;         // boot program received (command 1 after 259)
    bool boot_prepared = false;  // command 259 seen
    bool fpga_loaded = false;    // FPGA configuration received (command 512)
    std::uint16_t stsreg = 0;    // last value written to STSREG
    std::map<std::uint32_t, std::uint16_t> registers;
};

Module& module();

// Value the status register reports now.
std::uint16_t status_value();

}  // namespace tvxsim
