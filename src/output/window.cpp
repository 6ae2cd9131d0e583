#include "output/window.h"

namespace tvx::output {

DisplayWindow Window{};

void set_window(std::int32_t center, std::int32_t width) noexcept {
    const std::int32_t half = width / 2;
    Window.Center = center;
    Window.Width = width;
    if (half == 0) {
        // No span to spread over: window_map treats this as a step at the center.
        Window.Slope = 0.0;
        Window.Offset = 0.0;
        return;
    }
    Window.Slope = -255.0 / (-2.0 * static_cast<double>(half));
    Window.Offset = -((static_cast<double>(center) - static_cast<double>(half)) * Window.Slope);
}

std::uint8_t window_map(std::uint32_t value) noexcept {
    if (Window.Width / 2 == 0) return static_cast<double>(value) < static_cast<double>(Window.Center) ? 0 : 255;
    const double g = static_cast<double>(value) * Window.Slope + Window.Offset;
    if (g > 255.0) return 255;
    if (g < 0.0) return 0;
    return static_cast<std::uint8_t>(g);
}

}  // namespace tvx::output
