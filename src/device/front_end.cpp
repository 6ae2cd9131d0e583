#include "device/front_end.h"

#include "core/intmath.h"
#include "device/registers.h"
#include "tavirex.h"

namespace tvx::device {
namespace {

std::int32_t send_group(std::uint16_t select, const AdSetGroup& group) noexcept {
    const std::int32_t rc = write_register("ADGSEL", reg::ADGSEL, select);
    if (rc != 0) return rc;
    std::uint16_t words[kConverterWordsPerGroup];
    converter_words(group, words);
    for (const std::uint16_t w : words) {
        const std::int32_t sent = send_converter_word(w);
        if (sent != 0) return sent;
    }
    return TAVIREX_OK;
}

}  // namespace

std::int32_t send_converter_word(std::uint16_t word, const ConverterPort& port) noexcept {
    std::int32_t rc = check_ad_status(port.Read);
    if (rc != 0) return rc;
    rc = port.Write("DASDAT", port.Dasdat, word);
    if (rc != 0) return rc;
    rc = check_ad_status(port.Read);
    if (rc != 0) return rc;
    return port.Write("ADGSET", port.Adgset, 0);
}

void converter_words(const AdSetGroup& g, std::uint16_t words[kConverterWordsPerGroup]) noexcept {
    std::uint32_t action = 0x0080;
    for (int i = 0; i < 6; ++i) action += static_cast<std::uint32_t>(g.Action[i] & 1u) << i;
    std::uint32_t control = 0x3000;
    for (int i = 0; i < 7; ++i) control += static_cast<std::uint32_t>(g.Control[i] & 1u) << i;
    control += static_cast<std::uint32_t>(g.Control[9] & 1u) << 9;
    words[0] = core::low16(action);
    words[1] = core::low16(0x1000u + g.VgaGain);
    words[2] = core::low16(0x2000u + g.ClampLevel);
    words[3] = core::low16(control);
    words[4] = core::low16(0x4000u + g.PxgaGain);
}

std::int32_t program_front_end(const DeviceContext& record) noexcept {
    std::int32_t rc = check_ad_status();
    if (rc != 0) return rc;
    rc = send_group(0, record.AdSet[0]);
    if (rc != 0) return rc;
    rc = check_ad_status();
    if (rc != 0) return rc;
    rc = send_group(1, record.AdSet[1]);
    if (rc != 0) return rc;
    rc = check_ad_status();
    if (rc != 0) return rc;
    if (record.CephMode == 1) return send_group(2, record.AdSet[2]);
    return TAVIREX_OK;
}

}  // namespace tvx::device
