// The analogue front end of the sensor module: converter words and their transfer.
#pragma once

#include <cstdint>

#include "device/registers.h"
#include "state/records.h"

namespace tvx::device {

constexpr int kConverterWordsPerGroup = 5;

// The five converter words of one settings group. The top nibble selects the
// converter register; only the lowest bit of each Action and Control entry is
// used, Control[7] and Control[8] are not sent, and the gain and clamp additions
// wrap at 16 bits (a value of 0x1000 or more carries into the selector).
void converter_words(const AdSetGroup& group, std::uint16_t words[kConverterWordsPerGroup]) noexcept;

// Where a module takes its converter words: its status read, its register write
// and the addresses of DASDAT and ADGSET in its register window.
struct ConverterPort {
    StatusReader Read;
    RegisterWriter Write;
    std::uint32_t Dasdat;
    std::uint32_t Adgset;
};
constexpr ConverterPort kPanoramicPort{read_status, write_register, reg::DASDAT, reg::ADGSET};

// Sends one converter word: idle wait, DASDAT, idle wait, ADGSET strobe.
// 0 or the first failing result.
std::int32_t send_converter_word(std::uint16_t word, const ConverterPort& port = kPanoramicPort) noexcept;

// Sends the converter words of groups 1 and 2, and of group 3 in cephalometric
// mode, each framed by converter idle waits. 0 or the first failing result
// (2, 18, 19, a link result).
std::int32_t program_front_end(const DeviceContext& record) noexcept;

}  // namespace tvx::device
