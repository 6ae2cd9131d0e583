// The calls a FakeLink recorded, as one line that a test compares with the
// sequence worked out by hand: "W addr value" (register write), "W addr #count"
// (block write), "S" (status register read), "R addr #count" (other read),
// "C command #count" (any other command), separated by ", ".
#pragma once

#include <cstdio>
#include <string>

#include "support/fake_link.h"

namespace tvxtest {

inline std::string traffic(const FakeLink& fake) {
    std::string out;
    for (const auto& c : fake.calls) {
        char b[48];
        const unsigned a = c.address, n = c.count;
        if (c.command == 513 && n == 2)
            std::snprintf(b, sizeof b, "W %X %04X", a, static_cast<unsigned>(c.value()));
        else if (c.command == 513)
            std::snprintf(b, sizeof b, "W %X #%u", a, n);
        else if (c.command == 514 && a == 0x27F00002 && n == 2)
            std::snprintf(b, sizeof b, "S");
        else if (c.command == 514)
            std::snprintf(b, sizeof b, "R %X #%u", a, n);
        else
            std::snprintf(b, sizeof b, "C %u #%u", static_cast<unsigned>(c.command), n);
        out += (out.empty() ? "" : ", ") + std::string(b);
    }
    return out;
}

}  // namespace tvxtest
