// The library's module-wide state put back as a fresh load leaves it: no link, empty
// records and globals, no allocation set to fail, the simulated module reset. Shared
// by the suite's reset between tests and the fuzz targets that drive whole cycles, so
// a new global is cleared in one place. Blocks the records still own are the caller's
// to release first.
#pragma once

#include <algorithm>
#include <iterator>

#include "core/alloc.h"
#include "link/link.h"
#include "output/window.h"
#include "state/context.h"
#include "tvxsim_control.h"

namespace tvxtest {

inline void reset_library_state() {
    tvx::core::test_fail_allocation(0);
    tvx::link::unload();
    tvx::Tomo = tvx::TomoContext{};
    tvx::TomoConfigPath[0] = '\0';
    tvx::ExposeToDarkWait = tvx::DarkToExposeWait = 0;
    tvx::Device = tvx::DeviceContext{};
    tvx::DebugFlags = tvx::DebugFlagSet{};
    tvx::SeparatorLineList = tvx::SeparatorLines{};
    tvx::ConfigPath[0] = '\0';
    tvx::SerialPassThrough = 1;
    std::fill(std::begin(tvx::SerialReplyBuffer), std::end(tvx::SerialReplyBuffer), 0);
    tvx::PassCount = tvx::ReadSegments = tvx::TomoImageActive = 0;
    tvx::PictureStage = tvx::kPictureNone;
    tvx::ModuleBooted[0] = tvx::ModuleBooted[1] = tvx::CurrentModule = 0;
    tvx::output::Window = tvx::output::DisplayWindow{};
    TvxSim_Reset();
}

}  // namespace tvxtest
