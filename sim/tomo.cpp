// The tomographic register window of the simulated module: configuration
// ready value, converter busy bit, the picture logic with its timer, start
// command, generator trigger and measured times, and the picture memory that
// both sides write into.
//
// A picture is prepared by writing TIMER, then MODREG (1: X-ray exposure,
// anything else: dark picture); MODREG alone prepares nothing. It starts only
// while POWER is 1 and the low 4 bits of PALSON are 3: with START = 1 or, when
// the host never writes START, with the generator's trigger on the
// (exposure_reads + 1)-th status read after the preparation. It ends with the
// exposure_reads-th status read after its start (at once for 0, never for
// < 0); POWER 0 drops a prepared or running picture. At its end the picture
// status bit is set, EXTIME holds the TIMER value the picture ran with and
// ECTIME what the exposure counter measured: the same value unless a fault
// skews it. Writing ECTCLR clears ECTIME, EXTCLR clears EXTIME and the
// status bit. An X-ray picture is strip (n mod 8) of frame (n / 8), n
// counting the X-ray pictures since arming (PALSON 3 written while POWER is
// 1). The memory keeps what is needed to render a picture when its block is
// read.
#include <chrono>
#include <cstring>

#include "module.h"

namespace tvxsim {

namespace {

bool pictures_enabled() { return tomo_reg(kTomoPower) == 1 && (tomo_reg(kTomoPalson) & 0x0F) == 3; }

void end_picture(Module& m) {
    TomoSide& t = m.tomo;
    TomoShot shot = t.current;
    t.running = false;
    t.picture_ready = true;
    shot.number = t.pictures;
    shot.strip = static_cast<std::int32_t>(t.exposures % kTomoStrips);
    shot.frame = static_cast<std::int32_t>(t.exposures / kTomoStrips);
    const std::int32_t skew = shot.xray ? m.faults.ectime_drift * shot.strip : m.faults.dark_mismatch;
    tomo_reg(kTomoExtime) = shot.timer;
    tomo_reg(kTomoEctime) = static_cast<std::uint16_t>(shot.timer + skew);
    if (shot.xray) ++t.exposures;
    // Pictures beyond the last block are measured but have nowhere to go.
    if (t.pictures < kTomoBlocks) {
        shot.generation = ++m.generation;
        t.blocks[t.pictures] = shot;
    }
    ++t.pictures;
    ++m.stats.tomo_pictures;
}

void start_picture(Module& m) {
    TomoSide& t = m.tomo;
    t.prepared = false;
    t.running = true;
    t.current = t.next;
    t.done_left = m.exposure_reads;
    if (m.exposure_reads == 0) end_picture(m);
}

}  // namespace

bool is_tomo_register(std::uint32_t address) {
    return address >= kTomoRegisterFirst && address <= kTomoRegisterLast && (address & 1) == 0;
}

std::uint16_t& tomo_reg(std::uint32_t address) { return module().tomo.registers[(address - kTomoRegisterFirst) / 2]; }

std::uint16_t tomo_status_value() {
    const Module& m = module();
    std::uint16_t value = 0;
    if (m.fpga_loaded && m.tomo.reset_after_fpga && !m.faults.never_ready) value = tomo_reg(kTomoStsreg) & 0xFF;
    if (m.tomo.picture_ready) value |= 0x0100;
    if (m.tomo.busy_left > 0 || m.faults.converter_busy) value |= 0x0200;
    return value;
}

void tomo_reset_pictures(Module& m) {
    TomoSide& t = m.tomo;
    t.timer_written = t.prepared = t.running = t.picture_ready = false;
    t.pictures = t.exposures = 0;
    t.busy_left = 0;
    tomo_reg(kTomoExtime) = tomo_reg(kTomoEctime) = 0;
}

std::uint16_t tomo_read_register(Module& m, std::uint32_t address) {
    if (address != kTomoStatus) return tomo_reg(address);
    ++m.stats.status_reads;
    TomoSide& t = m.tomo;
    if (t.running && m.exposure_reads > 0) {
        if (--t.done_left <= 0) end_picture(m);
    } else if (t.prepared && !t.running && m.exposure_reads >= 0 && pictures_enabled()) {
        if (t.trigger_left <= 0) start_picture(m);
        else --t.trigger_left;
    }
    const std::uint16_t value = tomo_status_value();
    if (t.busy_left > 0) --t.busy_left;
    return value;
}

void tomo_write_register(Module& m, std::uint32_t address, std::uint16_t value) {
    ++m.stats.register_writes;
    TomoSide& t = m.tomo;
    tomo_reg(address) = value;
    switch (address) {
        case kTomoSysrst:
            // STSREG keeps its value, so the module stays "ready".
            tomo_reset_pictures(m);
            tomo_reg(kTomoPower) = tomo_reg(kTomoPalson) = 0;
            if (m.fpga_loaded) t.reset_after_fpga = true;
            break;
        case kTomoTimer:
            t.timer_written = true;
            break;
        case kTomoModreg:
            // MODREG alone (as when arming) changes the mode and prepares nothing.
            if (!t.timer_written) break;
            t.timer_written = false;
            t.prepared = true;
            t.next = TomoShot{};
            t.next.timer = tomo_reg(kTomoTimer);
            t.next.xray = value == 1;
            t.next.pattern = (tomo_reg(kTomoPalson) & 0x10) != 0;
            t.next.mode = m.mode;
            t.next.seed = m.seed;
            t.next.overlap = m.tomo_overlap;
            t.next.up_down = m.tomo_up_down;
            t.trigger_left = m.exposure_reads;
            break;
        case kTomoPalson:
            // Arming: the strips of the first frame come next.
            if ((value & 0x0F) == 3 && tomo_reg(kTomoPower) == 1) t.exposures = 0;
            break;
        case kTomoStart:
            if ((value & 1) != 0 && t.prepared && !t.running && pictures_enabled()) start_picture(m);
            break;
        case kTomoPower:
            if (value == 0) t.prepared = t.running = false;
            break;
        case kTomoEctclr:
            tomo_reg(kTomoEctime) = 0;
            break;
        case kTomoExtclr:
            tomo_reg(kTomoExtime) = 0;
            t.picture_ready = false;
            break;
        case kTomoDasdat:
            ++m.stats.converter_words;
            t.busy_left = m.busy_reads;
            break;
        default:
            break;
    }
}

std::int64_t memory_offset(std::uint32_t address, std::uint32_t count) {
    if (address < kWindow1 || address >= kMemoryEnd) return -1;
    const std::uint32_t offset = address - kWindow1;
    if (count == 0 || count > kWindowSize || count > kMemoryBytes - offset) return -1;
    return offset;
}

void read_memory(Module& m, std::int64_t offset, std::uint32_t count, std::uint8_t* out) {
    TomoSide& t = m.tomo;
    const std::int64_t pano_bytes = static_cast<std::int64_t>(m.picture.size()) * 2;
    while (count > 0) {
        const std::int64_t block = offset / kTomoBlockBytes, inside = offset % kTomoBlockBytes;
        std::int64_t piece = kTomoBlockBytes - inside;
        if (offset < pano_bytes && pano_bytes - offset < piece) piece = pano_bytes - offset;
        if (count < piece) piece = count;
        const TomoShot* shot = block < kTomoBlocks ? &t.blocks[block] : nullptr;
        const bool tomo = shot != nullptr && shot->generation != 0 &&
                          (offset >= pano_bytes || shot->generation > m.picture_generation);
        const auto n = static_cast<std::size_t>(piece);
        if (tomo) {
            if (t.cache_block != block || t.cache_generation != shot->generation) {
                const auto t0 = std::chrono::steady_clock::now();
                t.cache.resize(kTomoSamples);
                const std::size_t frame = static_cast<std::size_t>(shot->number) / kTomoFrameBlocks;
                if (frame < m.tomo_replay.size() / kTomoFrameSamples)
                    replay_tomo(m.tomo_replay.data() + frame * kTomoFrameSamples, shot->number % kTomoFrameBlocks,
                                t.cache.data());
                else
                    render_tomo(*shot, t.cache.data());
                t.cache_block = static_cast<int>(block);
                t.cache_generation = shot->generation;
                m.stats.last_render_us = static_cast<std::uint32_t>(
                    std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0).count());
            }
            std::memcpy(out, reinterpret_cast<const std::uint8_t*>(t.cache.data()) + inside, n);
        } else if (offset < pano_bytes) {
            std::memcpy(out, reinterpret_cast<const std::uint8_t*>(m.picture.data()) + offset, n);
        } else {
            std::memset(out, 0, n);
        }
        out += n;
        offset += piece;
        count -= static_cast<std::uint32_t>(piece);
    }
}

}  // namespace tvxsim
