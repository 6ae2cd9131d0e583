#include "device/registers.h"

#include <cstdio>
#include <cstring>

#include "state/context.h"
#include "diag/diag.h"
#include "link/link.h"
#include "tavirex.h"

namespace tvx::device {
namespace {

// "CCDCntlData" followed by "write, attempt %d" in code page 932.
constexpr char kMsgWriteAttempt[] = "CCDCntlData\x8F\x91\x82\xAB\x8D\x9E\x82\xDD%d\x89\xF1\x96\xDA\n";
// "CCDCntlData" followed by "read-back check OK" in code page 932.
constexpr char kMsgVerifyOk[] = "CCDCntlData\x93\xC7\x82\xDD\x8D\x9E\x82\xDD\x8A\x6D\x94\x46OK\n";
// "CCDCntlData" followed by "read-back check NG" in code page 932.
constexpr char kMsgVerifyNg[] = "CCDCntlData\x93\xC7\x82\xDD\x8D\x9E\x82\xDD\x8A\x6D\x94\x46NG\n";

std::int32_t read_back(std::uint8_t* into, std::uint32_t bytes) noexcept {
    const std::int32_t n = link::Link.EtherComm(TAVIREX_LINK_READ, reg::CCD_CONTROL_DATA, bytes, into);
    if (n < 0) return n;
    if (static_cast<std::uint32_t>(n) != bytes) return TAVIREX_E_SHORT_READ;
    return TAVIREX_OK;
}

}  // namespace

std::int32_t write_register(const char* name, std::uint32_t address, std::uint16_t value) noexcept {
    if (!link::loaded()) return TAVIREX_E_LINK_LIBRARY;
    if (DebugFlags.DebugOutput) diag::log_register_write(name, address, value);
    std::uint8_t bytes[2] = {static_cast<std::uint8_t>(value & 0xFF), static_cast<std::uint8_t>(value >> 8)};
    return link::Link.EtherComm(TAVIREX_LINK_WRITE, address, 2, bytes);
}

std::int32_t read_status(std::uint16_t* status) noexcept {
    if (!link::loaded()) return TAVIREX_E_LINK_LIBRARY;
    std::uint8_t bytes[4] = {0, 0, 0, 0};
    const std::int32_t n = link::Link.EtherComm(TAVIREX_LINK_READ, reg::STATUS, 2, bytes);
    if (n < 0) return n;
    if (n != 2) return TAVIREX_E_SHORT_READ;
    *status = static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
    return TAVIREX_OK;
}

std::int32_t ready_check(std::uint16_t expected, std::uint32_t tries, StatusReader read) noexcept {
    if (tries == 0) return expected != 0 ? TAVIREX_E_NOT_READY : TAVIREX_OK;
    for (std::uint32_t i = 0; i < tries; ++i) {
        std::uint16_t status = 0;
        const std::int32_t rc = read(&status);
        if (rc != 0) return rc;
        if ((status & 0xFF) == expected) return TAVIREX_OK;
    }
    return TAVIREX_E_NOT_READY;
}

std::int32_t check_ad_status(StatusReader read) noexcept {
    if (DebugFlags.DebugProcess) diag::print_stamp("CheckADStatus Start");
    std::uint32_t reads = 0;
    std::uint16_t status = 0;
    do {
        const std::int32_t rc = read(&status);
        if (rc != 0) return rc;
        ++reads;
    } while ((status & kConverterBusyBit) != 0 && reads < kConverterBusyReads);
    if (DebugFlags.DebugCheckState) {
        diag::print_stamp("CheckADStatus End");
        std::fprintf(stderr, "   [%ld]\n", static_cast<long>(reads));
    }
    return (status & kConverterBusyBit) != 0 ? TAVIREX_E_CONVERTER_BUSY : TAVIREX_OK;
}

std::int32_t write_ccd_control_data(bool trace, const std::uint16_t* table, std::uint32_t bytes,
                                    std::uint32_t tries) noexcept {
    if (tries == 0) return TAVIREX_E_VERIFY;
    if (!link::loaded()) return TAVIREX_E_LINK_LIBRARY;
    if (bytes > kCcdReadBackBytes) return TAVIREX_E_RANGE;
    std::uint8_t back[kCcdReadBackBytes];
    // The link takes a mutable buffer; the write does not change it.
    void* source = const_cast<std::uint16_t*>(table);
    for (std::uint32_t attempt = 1; attempt <= tries; ++attempt) {
        if (trace) {
            std::fprintf(stderr, kMsgWriteAttempt, static_cast<int>(attempt));
            diag::log_register_write("WaitRAM", reg::CCD_CONTROL_DATA, bytes >= 2 ? table[0] : 0);
        }
        const std::int32_t w = link::Link.EtherComm(TAVIREX_LINK_WRITE, reg::CCD_CONTROL_DATA, bytes, source);
        if (w != 0) return w;
        std::int32_t rc = read_back(back, bytes);
        if (rc != 0) return rc;
        if (std::memcmp(back, table, bytes) == 0) {
            if (trace) std::fputs(kMsgVerifyOk, stderr);
            return TAVIREX_OK;
        }
        if (trace) std::fputs(kMsgVerifyNg, stderr);
        rc = read_back(back, bytes);
        if (rc != 0) return rc;
        if (std::memcmp(back, table, bytes) == 0) {
            if (trace) std::fputs(kMsgVerifyOk, stderr);
            return TAVIREX_OK;
        }
        if (trace) std::fputs(kMsgVerifyNg, stderr);
    }
    return TAVIREX_E_VERIFY;
}

}  // namespace tvx::device
