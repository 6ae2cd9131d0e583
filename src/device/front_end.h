// The analogue front end of the sensor module: converter words and their transfer.
#pragma once

#include <cstdint>

#include "state/context.h"

namespace tvx::device {

constexpr int kConverterWordsPerGroup = 5;

// The five converter words of one settings group. The top nibble selects the
// converter register; only the lowest bit of each Action and Control entry is
// used, Control[7] and Control[8] are not sent, and the gain and clamp additions
// wrap at 16 bits (a value of 0x1000 or more carries into the selector).
void converter_words(const AdSetGroup& group, std::uint16_t words[kConverterWordsPerGroup]) noexcept;

// Sends the converter words of groups 1 and 2, and of group 3 in cephalometric
// mode, each framed by converter idle waits. 0 or the first failing result
// (2, 18, 19, a link result).
std::int32_t program_front_end(const DeviceContext& record) noexcept;

}  // namespace tvx::device
