// Direct access to the simulated sensor module from tests: its five link entry
// points and its controls, resolved from the same shared object the library
// loads (the process holds one module state).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/system.h"
#include "tavirex_link.h"
#include "tvxsim_control.h"

namespace tvxtest {

class Sim {
public:
    Sim() : handle_(tvx::platform::load_library(TVX_SIM_PATH)) {
        EXPECT_NE(handle_, nullptr);
        reset();
    }
    ~Sim() {
        reset();
        tvx::platform::unload_library(handle_);
    }
    Sim(const Sim&) = delete;
    Sim& operator=(const Sim&) = delete;

    // An exported function of the module; fails the test when it is missing.
    template <typename F>
    F fn(const char* name) {
        void* p = tvx::platform::find_symbol(handle_, name);
        EXPECT_NE(p, nullptr) << name;
        return reinterpret_cast<F>(p);
    }

    void reset() {
        if (auto f = fn<TvxSimResetFn>("TvxSim_Reset")) f();
    }
    int32_t init() { return fn<TavirexEtherInitFn>("EtherInit")("192.168.10.20", 5000, 5); }
    int32_t comm(uint32_t command, uint32_t address, uint32_t count, void* buffer) {
        return fn<TavirexEtherCommFn>("EtherComm")(command, address, count, buffer);
    }
    int32_t write(uint32_t address, uint16_t value) { return comm(TAVIREX_LINK_WRITE, address, 2, &value); }
    int32_t read(uint32_t address, uint16_t* value) {
        *value = 0;
        return comm(TAVIREX_LINK_READ, address, 2, value);
    }
    uint16_t status() {
        uint16_t v = 0;
        EXPECT_EQ(read(0x27F00002, &v), 2);
        return v;
    }
    // Link open, boot program and FPGA configuration loaded, reset, ready value 1.
    void bring_up() {
        ASSERT_EQ(init(), 0);
        uint8_t program[4] = {1, 2, 3, 4};
        ASSERT_EQ(comm(TAVIREX_LINK_BOOT_PREPARE, 0, 0, nullptr), 0);
        ASSERT_EQ(comm(TAVIREX_LINK_BOOT_PROGRAM, 0, 4, program), 0);
        ASSERT_EQ(comm(TAVIREX_LINK_FPGA_PROGRAM, 0, 4, program), 0);
        ASSERT_EQ(write(0x27F00004, 0), 0);
        ASSERT_EQ(write(0x27F0000E, 1), 0);
    }
    // MODREG for one pass, the clock table into the CCD control RAM, then the arming writes.
    void set_up_picture(bool ceph, std::vector<uint16_t> table) {
        ASSERT_EQ(write(0x27F00006, 0x40), 0);
        ASSERT_EQ(comm(TAVIREX_LINK_WRITE, 0x27F02000, static_cast<uint32_t>(table.size() * 2), table.data()), 0);
        arm(ceph);
    }
    void arm(bool ceph) {
        for (const auto& w : {std::pair<uint32_t, uint16_t>{0x27F00034, 0}, {0x27F00008, 2}, {0x27F00010, 1},
                              {0x27F00012, ceph ? 0 : 1}, {0x27F00008, 1}})
            ASSERT_EQ(write(w.first, w.second), 0);
    }
    // Polls the status until the picture bit shows; the number of reads, or -1 after `limit`.
    int wait_picture(int limit = 100) {
        for (int i = 1; i <= limit; ++i)
            if (status() & 0x100) return i;
        return -1;
    }
    // Reads `rows` module rows of 8192 bytes as the readout does: 16 MiB from each window.
    std::vector<uint16_t> read_picture(int rows) {
        std::vector<uint16_t> out(static_cast<std::size_t>(rows) * 4096);
        const uint32_t total = static_cast<uint32_t>(rows) * 8192, window = 16777216;
        for (uint32_t off = 0; off < total; off += window) {
            const uint32_t n = total - off < window ? total - off : window;
            EXPECT_EQ(comm(TAVIREX_LINK_READ, off == 0 ? 0x26000000 : 0x27000000, n, out.data() + off / 2),
                      static_cast<int32_t>(n));
        }
        return out;
    }
    TvxSimStats stats() {
        TvxSimStats s{};
        fn<TvxSimGetStatsFn>("TvxSim_GetStats")(&s);
        return s;
    }
    int32_t set_fault(int32_t kind, int32_t n, int32_t code = 0) {
        return fn<TvxSimSetFaultFn>("TvxSim_SetFault")(kind, n, code);
    }
    int32_t set_mode(int32_t mode, const char* replay = nullptr) { return fn<TvxSimSetModeFn>("TvxSim_SetMode")(mode, replay); }
    void exposure_reads(int32_t n) { fn<TvxSimSetExposureReadsFn>("TvxSim_SetExposureReads")(n); }
    // The remembered boot program (which 0) or FPGA configuration (1); returns its size.
    int32_t program(int which, std::vector<uint8_t>* out) {
        auto get = fn<int32_t (*)(int32_t, uint8_t*, uint32_t)>("TvxSim_GetProgram");
        const int32_t n = get(which, nullptr, 0);
        out->assign(static_cast<std::size_t>(n > 0 ? n : 0), 0);
        if (n > 0) get(which, out->data(), static_cast<uint32_t>(n));
        return n;
    }

private:
    tvx::platform::LibraryHandle handle_ = nullptr;
};

}  // namespace tvxtest
