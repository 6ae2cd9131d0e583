#include "config/tomo_config.h"

#include <cstdio>
#include <cstring>

#include "config/keys.h"
#include "platform/profile.h"
#include "platform/system.h"
#include "core/geometry.h"

namespace tvx::config {
namespace {

using platform::profile_string;

const char* const kAdSections[3] = {"AD1SET", "AD2SET", "AD3SET"};
const char* const kProcessKeys[kTomoProcessFlagCount] = {"DELDC",   "CORRSENS",    "CORRINJLINE",
                                                         "PUTIMAGES", "FILLIN",    "CORRIMGSIZE",
                                                         "DELNOISE1", "DELNOISE2", "CORRBRISCALE"};

// The keys of one file.
struct Reader {
    const char* path;
    std::uint8_t u8(const char* section, const char* key, std::int32_t fallback) const {
        return u8_key(section, key, fallback, path);
    }
    std::uint16_t u16(const char* section, const char* key, std::int32_t fallback) const {
        return u16_key(section, key, fallback, path);
    }
    double scaled(const char* section, const char* key, std::int32_t fallback, double scale) const {
        return scaled_key(section, key, fallback, scale, path);
    }
};

void read_debug(TomoContext& r, const Reader& in) {
    r.DebugProcess = in.u8("DEBUG", "PROCESS", 0);
    r.DebugParam = in.u8("DEBUG", "PARAM", 0);
    r.DebugCheckState = in.u8("DEBUG", "CHECKSTATE", 0);
    r.DebugDebug4 = in.u8("DEBUG", "DEBUG4", 0);
    r.DebugOutput = in.u8("DEBUG", "OUTPUT", 0);
}

void read_ad_group(AdSetGroup& g, const char* section, const Reader& in) {
    char key[16];
    for (int i = 0; i < 6; ++i) {
        std::snprintf(key, sizeof key, "ACTION_D%d", i);
        g.Action[i] = in.u8(section, key, 0);
    }
    g.VgaGain = in.u16(section, "VGAGain", 150);
    g.ClampLevel = in.u16(section, "ClampLevel", 0);
    for (int i = 0; i < 10; ++i) {
        std::snprintf(key, sizeof key, "CONTROL_D%d", i);
        g.Control[i] = in.u8(section, key, i == 3 ? 1 : 0);
    }
    g.PxgaGain = in.u16(section, "PxGAGain", 32);
}

// The reference folder ends in a separator so that table names can be appended;
// one already there (either kind) is kept, and an empty folder stays empty (the
// current folder).
void read_folder(char (&folder)[kTomoFolderSize], const Reader& in) {
    const std::size_t n = profile_string("REFFILE", "FOLDER", "", folder, sizeof folder - 1, in.path);
    if (n == 0 || folder[n - 1] == '\\' || folder[n - 1] == '/') return;
    folder[n] = platform::path_separator();
    folder[n + 1] = '\0';
}

}  // namespace

void read_tomo_keys(TomoContext& r, TomoWaits& waits, const char* path) noexcept {
    const Reader in{path};
    read_debug(r, in);
    waits.expose_to_dark = in.u16("WAITTIME", "EXPOS2DC", 100);
    waits.dark_to_expose = in.u16("WAITTIME", "DC2EXPOS", 100);

    read_debug(r, in);
    r.LanRetry = in.u8("PICTCNTL", "LANRETRY", 5);
    profile_string("LOADPROG", "FPGA", "", r.FpgaPath, sizeof r.FpgaPath, path);
    r.FpgaLoad = in.u8("LOADPROG", "FLG_FPGA", 1);
    r.StripCount = core::kTomoStrips;
    r.InitValue = in.u16("PICTCNTL", "INITVALUE", 34);
    r.PictModeXray = in.u8("PICTCNTL", "PICTMODE_XRAY", 1);
    r.PictPattern = in.u8("PICTCNTL", "PICTPATTERN", 0);
    r.TimerSetXray = in.u16("PICTCNTL", "TIMERSET_XRAY", 100);
    r.PictModeDc = in.u8("PICTCNTL", "PICTMODE_DC", 5);
    r.TimerSetDc = in.u16("PICTCNTL", "TIMERSET_DC", 450);
    r.LimitDiffEcTime = in.u16("PICTCNTL", "LIMITDIFFECTIME", 0);
    for (std::size_t n = 0; n < 3; ++n) read_ad_group(r.AdSet[n], kAdSections[n], in);

    r.Binning = in.u16("BINNING", "PIXEL", 2);
    for (std::size_t i = 0; i < kTomoProcessFlagCount; ++i) r.ProcessFlags[i] = in.u8("PROCESS", kProcessKeys[i], 1);
    read_folder(r.RefFolder, in);
    profile_string("SENSOR_ID", "SENSOR_ID", "", r.SensorId, sizeof r.SensorId, path);
    r.TopOffset = in.u16("CORRIMGSIZE", "TOPOFFSET", 0);
    r.BottomOffset = in.u16("CORRIMGSIZE", "BOTTOMOFFSET", 0);
    r.LeftOffset = in.u16("CORRIMGSIZE", "LEFTOFFSET", 0);
    r.RightOffset = in.u16("CORRIMGSIZE", "RIGHTOFFSET", 0);
    r.Average = in.u16("PUTIMAGES", "AVERAGE", 50);
    r.Overlay = in.u16("PUTIMAGES", "OVERLAY", 4);
    r.CcdGap0 = in.u16("FILLIN", "CCDGAP0", 2);
    r.CcdGap1 = in.u16("FILLIN", "CCDGAP1", 3);
    r.TopCut0 = in.u16("FILLIN", "TOPCUT0", 0);
    r.TopCut1 = in.u16("FILLIN", "TOPCUT1", 1);
    r.TopCut2 = in.u16("FILLIN", "TOPCUT2", 1);
    r.BottomCut0 = in.u16("FILLIN", "BOTTOMCUT0", 1);
    r.BottomCut1 = in.u16("FILLIN", "BOTTOMCUT1", 1);
    r.BottomCut2 = in.u16("FILLIN", "BOTTOMCUT2", 0);
    for (std::size_t i = 0; i < kTomoConfiguredCuts; ++i) {
        char key[16];
        std::snprintf(key, sizeof key, "LEFTCUT%d", static_cast<int>(i));
        r.LeftCut[i] = in.u16("PUTIMAGES", key, 0);
        std::snprintf(key, sizeof key, "RIGHTCUT%d", static_cast<int>(i));
        r.RightCut[i] = in.u16("PUTIMAGES", key, 0);
        std::snprintf(key, sizeof key, "UP_DOWN%d", static_cast<int>(i));
        r.UpDown[i] = in.u16("PUTIMAGES", key, 0);
    }
    r.SelectFlg1st = in.u8("CORRBRISCALE", "SELECT_FLG_1st", 3);
    r.XManySidePercentage = in.scaled("FULLSCALE", "XMANYSIDE_PERCENTAGE", 1, 0.001);
    r.XFewSidePercentage = in.scaled("FULLSCALE", "XFEWSIDE_PERCENTAGE", 1, 0.001);
    r.Target = in.u16("GAMMA", "TARGET", 128);
    r.Percentage = in.scaled("GAMMA", "PERCENTAGE", 500, 0.1);

    r.Width = core::kTomoColumns;
    r.Height = core::kTomoRows;
}

}  // namespace tvx::config
