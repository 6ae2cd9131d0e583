// The five link-library entry points of the simulated sensor module and the
// module's register behaviour.
#include <bit>
#include <cstring>

#include "module.h"
#include "tavirex_link.h"

static_assert(std::endian::native == std::endian::little, "picture memory is copied as little-endian samples");

namespace tvxsim {

Module& module() {
    static Module m;
    return m;
}

bool is_register(std::uint32_t address) {
    return address >= kRegisterFirst && address <= kRegisterLast && (address & 1) == 0;
}

std::uint16_t& reg(std::uint32_t address) { return module().registers[(address - kRegisterFirst) / 2]; }

std::uint16_t status_value() {
    Module& m = module();
    std::uint16_t value = 0;
    // The ready value appears once a configuration runs and has been reset.
    if (m.fpga_loaded && m.reset_after_fpga && !m.faults.never_ready) value = reg(kStsreg) & 0xFF;
    if (m.picture_ready) value |= 0x0100;
    if (m.busy_left > 0 || m.faults.converter_busy) value |= 0x0200;
    return value;
}

namespace {

// Counts a link call; the fault's code when this is the call that fails, else 0 to go on.
bool fail_this_call(std::int32_t* code) {
    Module& m = module();
    ++m.stats.link_calls;
    ++m.calls_since_fault_set;
    if (m.faults.fail_call_at > 0 && m.calls_since_fault_set == m.faults.fail_call_at) {
        m.faults.fail_call_at = 0;
        ++m.stats.faults_fired;
        *code = m.faults.fail_call_code;
        return true;
    }
    if (m.faults.dead_from > 0 && m.calls_since_fault_set >= m.faults.dead_from) {
        ++m.stats.faults_fired;
        *code = m.faults.dead_code;
        return true;
    }
    return false;
}

void write_register(Module& m, std::uint32_t address, std::uint16_t value) {
    ++m.stats.register_writes;
    reg(address) = value;
    switch (address) {
        case kSysrst:
            // Resets the picture logic; STSREG keeps its value so the module stays "ready".
            m.picture_ready = false;
            m.armed = false;
            m.palson_primed = false;
            m.busy_left = 0;
            reg(kPowset) = 0;
            reg(kPalson) = 0;
            if (m.fpga_loaded) m.reset_after_fpga = true;
            break;
        case kPowset:
            if (value == 0) {
                // Power off the sensor: the readout starts, the picture status ends.
                m.picture_ready = false;
                m.armed = false;
                m.palson_primed = false;
            }
            break;
        case kPalson:
            if ((value & 0x0F) == 0x02) {
                m.palson_primed = true;
            } else if ((value & 0x0F) == 0x01 && m.palson_primed && reg(kPowset) == 1) {
                m.palson_primed = false;
                m.armed = true;
                m.picture_ready = false;
                m.exposure_left = m.exposure_reads;
            }
            break;
        case kDasdat:
            ++m.stats.converter_words;
            m.busy_left = m.busy_reads;
            break;
        default:
            break;
    }
}

std::uint16_t read_status(Module& m) {
    ++m.stats.status_reads;
    if (m.armed && m.exposure_reads >= 0) {
        if (m.exposure_left <= 0) {
            render_exposure(m);
            m.armed = false;
            m.picture_ready = true;
        } else {
            --m.exposure_left;
        }
    }
    const std::uint16_t value = status_value();
    if (m.busy_left > 0) --m.busy_left;
    return value;
}

std::int32_t do_write(Module& m, std::uint32_t address, std::uint32_t count, const std::uint8_t* bytes) {
    if (bytes == nullptr) return kBadRequest;
    if (!m.booted) return kNotLoaded;
    if (is_register(address)) {
        if (count != 2 || address == kStatus) return kBadRequest;
        write_register(m, address, static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8)));
        return 0;
    }
    if (is_tomo_register(address)) {
        if (count != 2 || address == kTomoStatus || address == kTomoExtime || address == kTomoEctime) return kBadRequest;
        tomo_write_register(m, address, static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8)));
        return 0;
    }
    if (address >= kCcdRam && address - kCcdRam < kCcdRamSize) {
        const std::uint32_t offset = address - kCcdRam;
        if (count == 0 || count > kCcdRamSize - offset) return kBadRequest;
        std::memcpy(m.ccd_ram + offset, bytes, count);
        m.ccd_bytes = offset + count;
        m.stats.ccd_bytes = m.ccd_bytes;
        ++m.stats.ccd_writes;
        return 0;
    }
    return kBadRequest;
}

std::int32_t do_read(Module& m, std::uint32_t address, std::uint32_t count, std::uint8_t* bytes) {
    if (bytes == nullptr) return kBadRequest;
    if (!m.booted) return kNotLoaded;
    ++m.reads_since_fault_set;
    ++m.stats.reads;
    std::int32_t delivered = static_cast<std::int32_t>(count);
    if (m.faults.short_read_at > 0 && m.reads_since_fault_set == m.faults.short_read_at) {
        m.faults.short_read_at = 0;
        ++m.stats.faults_fired;
        const std::int32_t wanted = m.faults.short_read_count;
        delivered = wanted >= 0 && static_cast<std::uint32_t>(wanted) < count ? wanted
                                                                              : static_cast<std::int32_t>(count) - 1;
    }
    if (is_register(address) || is_tomo_register(address)) {
        if (count != 2) return kBadRequest;
        const std::uint16_t value = is_tomo_register(address) ? tomo_read_register(m, address)
                                    : address == kStatus      ? read_status(m)
                                                              : reg(address);
        const std::uint8_t two[2] = {static_cast<std::uint8_t>(value & 0xFF), static_cast<std::uint8_t>(value >> 8)};
        std::memcpy(bytes, two, static_cast<std::size_t>(delivered));
        return delivered;
    }
    if (address >= kCcdRam && address - kCcdRam < kCcdRamSize) {
        const std::uint32_t offset = address - kCcdRam;
        if (count == 0 || count > kCcdRamSize - offset) return kBadRequest;
        ++m.stats.ccd_reads;
        std::memcpy(bytes, m.ccd_ram + offset, static_cast<std::size_t>(delivered));
        if (m.faults.ccd_corrupt >= 0 && delivered > 0) {
            bytes[delivered / 2] ^= 0x5A;
            ++m.stats.faults_fired;
            if (m.faults.ccd_corrupt > 0 && --m.faults.ccd_corrupt == 0) m.faults.ccd_corrupt = -1;
        }
        return delivered;
    }
    const std::int64_t offset = memory_offset(address, count);
    if (offset < 0) return kBadRequest;
    ++m.stats.picture_reads;
    read_memory(m, offset, static_cast<std::uint32_t>(delivered), bytes);
    m.stats.picture_bytes += static_cast<std::uint32_t>(delivered);
    return delivered;
}

std::int32_t load_program(std::vector<std::uint8_t>* into, std::uint32_t address, std::uint32_t count,
                          const std::uint8_t* bytes) {
    if (address != 0 || count == 0 || bytes == nullptr) return kBadRequest;
    into->assign(bytes, bytes + count);
    return 0;
}

}  // namespace
}  // namespace tvxsim

using tvxsim::module;

extern "C" {

TAVIREX_LINK_EXPORT int32_t EtherInit(const char* ipAddress, uint32_t, uint32_t) {
    tvxsim::apply_environment_settings();
    std::int32_t code;
    if (tvxsim::fail_this_call(&code)) return code;
    if (ipAddress == nullptr) return tvxsim::kBadRequest;
    module().link_open = true;
    return 0;
}

TAVIREX_LINK_EXPORT int32_t EtherComm(uint32_t command, uint32_t address, uint32_t count, void* buffer) {
    std::int32_t code;
    if (tvxsim::fail_this_call(&code)) return code;
    tvxsim::Module& m = module();
    if (!m.link_open) return tvxsim::kNotOpen;
    auto* bytes = static_cast<uint8_t*>(buffer);
    switch (command) {
        case TAVIREX_LINK_BOOT_PREPARE:
            if (address != 0 || count != 0) return tvxsim::kBadRequest;
            // The module drops to its loader and waits for a program.
            m.boot_prepared = true;
            m.booted = m.fpga_loaded = m.reset_after_fpga = false;
            return 0;
        case TAVIREX_LINK_BOOT_PROGRAM: {
            if (!m.boot_prepared) return tvxsim::kNotLoaded;
            const std::int32_t rc = tvxsim::load_program(&m.boot_program, address, count, bytes);
            if (rc != 0) return rc;
            m.boot_prepared = false;
            m.booted = true;
            std::memset(m.registers, 0, sizeof m.registers);
            std::memset(m.tomo.registers, 0, sizeof m.tomo.registers);
            tvxsim::tomo_reset_pictures(m);
            ++m.stats.boot_loads;
            m.stats.boot_size = count;
            return 0;
        }
        case TAVIREX_LINK_FPGA_PROGRAM: {
            if (!m.booted) return tvxsim::kNotLoaded;
            const std::int32_t rc = tvxsim::load_program(&m.fpga_config, address, count, bytes);
            if (rc != 0) return rc;
            // A new configuration starts with its registers cleared and waits for SYSRST.
            m.fpga_loaded = true;
            m.reset_after_fpga = false;
            std::memset(m.registers, 0, sizeof m.registers);
            m.armed = m.picture_ready = m.palson_primed = false;
            m.busy_left = 0;
            // The tomographic window likewise: a new acquisition starts at the first block.
            m.tomo.reset_after_fpga = false;
            std::memset(m.tomo.registers, 0, sizeof m.tomo.registers);
            tvxsim::tomo_reset_pictures(m);
            ++m.stats.fpga_loads;
            m.stats.fpga_size = count;
            return 0;
        }
        case TAVIREX_LINK_WRITE:
            return tvxsim::do_write(m, address, count, bytes);
        case TAVIREX_LINK_READ:
            return tvxsim::do_read(m, address, count, bytes);
        default:
            return tvxsim::kBadRequest;
    }
}

TAVIREX_LINK_EXPORT int32_t Ether232Send(const uint8_t* data, uint32_t length) {
    std::int32_t code;
    if (tvxsim::fail_this_call(&code)) return code;
    tvxsim::Module& m = module();
    if (!m.link_open) return tvxsim::kNotOpen;
    if (data == nullptr && length != 0) return tvxsim::kBadRequest;
    // The unit acknowledges a whole STX..ETX frame; anything else goes unanswered.
    if (length >= 2 && data[0] == 0x02 && data[length - 1] == 0x03) {
        m.serial_reply.assign(1, 0x06);
        ++m.stats.serial_frames;
    }
    m.serial_pending = 2;
    return 0;
}

TAVIREX_LINK_EXPORT int32_t Ether232Recv(uint8_t* buffer) {
    std::int32_t code;
    if (tvxsim::fail_this_call(&code)) return code;
    tvxsim::Module& m = module();
    if (!m.link_open) return tvxsim::kNotOpen;
    if (buffer == nullptr) return tvxsim::kBadRequest;
    const std::size_t n = m.serial_reply.size();
    if (n != 0) std::memcpy(buffer, m.serial_reply.data(), n);
    m.serial_reply.clear();
    return static_cast<int32_t>(n);
}

TAVIREX_LINK_EXPORT int32_t Ether232Check(void) {
    std::int32_t code;
    if (tvxsim::fail_this_call(&code)) return code;
    tvxsim::Module& m = module();
    if (!m.link_open) return tvxsim::kNotOpen;
    // A send stays pending for two polls.
    return m.serial_pending > 0 ? m.serial_pending-- : 0;
}

}  // extern "C"
