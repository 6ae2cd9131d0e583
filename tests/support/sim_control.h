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
    Sim() {
        handle_ = tvx::platform::load_library(TVX_SIM_PATH);
        EXPECT_NE(handle_, nullptr);
        comm_ = sym<TavirexEtherCommFn>("EtherComm");
        init_ = sym<TavirexEtherInitFn>("EtherInit");
        send_ = sym<TavirexEther232SendFn>("Ether232Send");
        recv_ = sym<TavirexEther232RecvFn>("Ether232Recv");
        check_ = sym<TavirexEther232CheckFn>("Ether232Check");
        reset_ = sym<TvxSimResetFn>("TvxSim_Reset");
        set_fault_ = sym<TvxSimSetFaultFn>("TvxSim_SetFault");
        set_mode_ = sym<TvxSimSetModeFn>("TvxSim_SetMode");
        exposure_reads_ = sym<TvxSimSetExposureReadsFn>("TvxSim_SetExposureReads");
        busy_reads_ = sym<TvxSimSetExposureReadsFn>("TvxSim_SetConverterBusyReads");
        stats_ = sym<TvxSimGetStatsFn>("TvxSim_GetStats");
        load_settings_ = sym<int32_t (*)(const char*)>("TvxSim_LoadSettings");
        get_program_ = sym<int32_t (*)(int32_t, uint8_t*, uint32_t)>("TvxSim_GetProgram");
        row_gain_ = sym<TvxSimRowGainFn>("TvxSim_RowGain");
        defects_ = sym<TvxSimDefectBandsFn>("TvxSim_DefectBands");
        reset();
    }
    ~Sim() {
        reset();
        tvx::platform::unload_library(handle_);
    }
    Sim(const Sim&) = delete;
    Sim& operator=(const Sim&) = delete;

    void reset() {
        if (reset_ != nullptr) reset_();
    }
    int32_t init() { return init_("192.168.10.20", 5000, 5); }
    int32_t comm(uint32_t command, uint32_t address, uint32_t count, void* buffer) {
        return comm_(command, address, count, buffer);
    }
    int32_t write(uint32_t address, uint16_t value) {
        uint8_t b[2] = {static_cast<uint8_t>(value & 0xFF), static_cast<uint8_t>(value >> 8)};
        return comm_(TAVIREX_LINK_WRITE, address, 2, b);
    }
    int32_t read(uint32_t address, uint16_t* value) {
        uint8_t b[2] = {0, 0};
        const int32_t n = comm_(TAVIREX_LINK_READ, address, 2, b);
        *value = static_cast<uint16_t>(b[0] | (b[1] << 8));
        return n;
    }
    uint16_t status() {
        uint16_t v = 0;
        EXPECT_EQ(read(0x27F00002, &v), 2);
        return v;
    }
    // Link open, boot program and FPGA configuration loaded, reset, ready value 1.
    void bring_up(uint16_t ready = 1) {
        ASSERT_EQ(init(), 0);
        uint8_t program[4] = {1, 2, 3, 4};
        ASSERT_EQ(comm(TAVIREX_LINK_BOOT_PREPARE, 0, 0, nullptr), 0);
        ASSERT_EQ(comm(TAVIREX_LINK_BOOT_PROGRAM, 0, 4, program), 0);
        ASSERT_EQ(comm(TAVIREX_LINK_FPGA_PROGRAM, 0, 4, program), 0);
        ASSERT_EQ(write(0x27F00004, 0), 0);
        ASSERT_EQ(write(0x27F0000E, ready), 0);
    }
    // MODREG, the clock table into the CCD control RAM, then the arming writes.
    void set_up_picture(bool ceph, int passes, const std::vector<uint16_t>& table) {
        ASSERT_EQ(write(0x27F00006, static_cast<uint16_t>((16 * (4 + (ceph ? 0 : passes - 1))) & 0xFF)), 0);
        std::vector<uint16_t> t = table;
        ASSERT_EQ(comm(TAVIREX_LINK_WRITE, 0x27F02000, static_cast<uint32_t>(t.size() * 2), t.data()), 0);
        arm(ceph);
    }
    void arm(bool ceph) {
        ASSERT_EQ(write(0x27F00034, 0), 0);
        ASSERT_EQ(write(0x27F00008, 0x02), 0);
        ASSERT_EQ(write(0x27F00010, 1), 0);
        ASSERT_EQ(write(0x27F00012, ceph ? 0 : 1), 0);
        ASSERT_EQ(write(0x27F00008, 0x01), 0);
    }
    // Polls the status until the picture bit shows; the number of reads, or -1 after `limit`.
    int wait_picture(int limit = 100) {
        for (int i = 1; i <= limit; ++i)
            if (status() & 0x100) return i;
        return -1;
    }
    // Reads `rows` module rows of 8192 bytes as the readout does.
    std::vector<uint16_t> read_picture(int rows) {
        std::vector<uint16_t> out(static_cast<std::size_t>(rows) * 4096);
        const uint64_t total = static_cast<uint64_t>(rows) * 8192;
        auto* bytes = reinterpret_cast<uint8_t*>(out.data());
        for (uint64_t off = 0; off < total; off += 16777216) {
            const uint32_t n = static_cast<uint32_t>(total - off < 16777216 ? total - off : 16777216);
            EXPECT_EQ(comm(TAVIREX_LINK_READ, off == 0 ? 0x26000000 : 0x27000000, n, bytes + off), static_cast<int32_t>(n));
        }
        return out;
    }
    TvxSimStats stats() {
        TvxSimStats s{};
        stats_(&s);
        return s;
    }
    int32_t set_fault(int32_t kind, int32_t n, int32_t code = 0) { return set_fault_(kind, n, code); }
    int32_t set_mode(int32_t mode, const char* replay = nullptr) { return set_mode_(mode, replay); }
    void exposure_reads(int32_t n) { exposure_reads_(n); }
    void busy_reads(int32_t n) { busy_reads_(n); }
    int32_t load_settings(const std::string& path) { return load_settings_(path.c_str()); }
    int32_t program(int which, std::vector<uint8_t>* out) {
        const int32_t n = get_program_(which, nullptr, 0);
        if (n > 0) {
            out->assign(static_cast<std::size_t>(n), 0);
            get_program_(which, out->data(), static_cast<uint32_t>(n));
        }
        return n;
    }
    double row_gain(bool ceph, int row) { return row_gain_(ceph ? 1 : 0, row); }
    int32_t defects(bool ceph, int32_t* rows, int32_t* heights, int32_t max) { return defects_(ceph ? 1 : 0, rows, heights, max); }
    int32_t send(const std::vector<uint8_t>& d) { return send_(d.data(), static_cast<uint32_t>(d.size())); }
    int32_t recv(uint8_t* buffer) { return recv_(buffer); }
    int32_t check() { return check_(); }

private:
    template <typename F>
    F sym(const char* name) {
        void* p = tvx::platform::find_symbol(handle_, name);
        EXPECT_NE(p, nullptr) << name;
        return reinterpret_cast<F>(p);
    }
    tvx::platform::LibraryHandle handle_ = nullptr;
    TavirexEtherCommFn comm_ = nullptr;
    TavirexEtherInitFn init_ = nullptr;
    TavirexEther232SendFn send_ = nullptr;
    TavirexEther232RecvFn recv_ = nullptr;
    TavirexEther232CheckFn check_ = nullptr;
    TvxSimResetFn reset_ = nullptr;
    TvxSimSetFaultFn set_fault_ = nullptr;
    TvxSimSetModeFn set_mode_ = nullptr;
    TvxSimSetExposureReadsFn exposure_reads_ = nullptr;
    TvxSimSetExposureReadsFn busy_reads_ = nullptr;
    TvxSimGetStatsFn stats_ = nullptr;
    int32_t (*load_settings_)(const char*) = nullptr;
    int32_t (*get_program_)(int32_t, uint8_t*, uint32_t) = nullptr;
    TvxSimRowGainFn row_gain_ = nullptr;
    TvxSimDefectBandsFn defects_ = nullptr;
};

// A panoramic-like clock table: lag lines, picture lines at `picture` counts, then a rising ramp.
inline std::vector<uint16_t> clock_table(int lines, int passes, uint16_t picture, int picture_lines) {
    std::vector<uint16_t> t(static_cast<std::size_t>(lines), 12);
    const int block = passes == 3 ? 1364 : lines / passes;
    for (int p = 0; p < passes; ++p) {
        uint16_t* b = t.data() + p * block;
        b[0] = 1023;
        b[1] = 227;
        for (int i = 0; i < picture_lines; ++i) b[2 + i] = picture;
        const int ramp = block - 2 - picture_lines;
        for (int i = 0; i < ramp; ++i) b[2 + picture_lines + i] = static_cast<uint16_t>(20 + (i * 280) / (ramp - 1));
        // The picture ends slowing down, above the ramp's start.
        b[1 + picture_lines] = 300;
    }
    return t;
}

}  // namespace tvxtest
