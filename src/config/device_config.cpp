#include "config/device_config.h"

#include <cstdio>
#include <cstring>

#include "config/keys.h"
#include "core/intmath.h"
#include "platform/profile.h"

namespace tvx::config {
namespace {

using platform::profile_int;
using platform::profile_string;

const char* const kAdSections[3] = {"AD1SET", "AD2SET", "AD3SET"};

const char* const kProcessKeys[kProcessFlagCount] = {
    "DELDC",        "DELSHADW",       "CORRINJLINE",      "PXIMG",          "FILLOPENING",
    "CORRIMGSIZE",  "DELNOISE",       "BRISMOOTH",        "BRISMOOTH_PANO", "BRISMOOTH_CEPH",
    "CORRBRISCALE", "EMPHASISCONTRAST", "2ndCORRBRISCALE", "GammaCorrForCephalo"};

const char* const kXyCorrKeys[kXyCorrCount] = {"XPOS",   "XPOS2",      "YPOS",       "YPOS2",
                                               "UPPERYPOS", "UPPERYPOS2", "CCDGAP",  "CCDGAP2",
                                               "LOWERCUT01", "LOWERCUT02", "UPPERCUT01", "UPPERCUT02"};
const std::int32_t kXyCorrDefaults[kXyCorrCount] = {0, 0, 768, 767, 0, 0, 2, 3, 1, 0, 1, 1};


}  // namespace

void read_init_keys(DeviceContext& r, const char* path) {
    std::memset(&r, 0, sizeof r);

    r.DebugProcess = u8_key("DEBUG", "PROCESS", 0, path);
    r.DebugParam = u8_key("DEBUG", "PARAM", 0, path);
    r.DebugCheckState = u8_key("DEBUG", "CHECKSTATE", 0, path);
    r.DebugDebug4 = u8_key("DEBUG", "DEBUG4", 0, path);
    r.DebugOutput = u8_key("DEBUG", "OUTPUT", 0, path);

    profile_string("DLL", "FILENAME", "", r.LinkLibraryPath, sizeof r.LinkLibraryPath, path);
    profile_string("LOADPROG", "BOOT", "", r.BootPath, sizeof r.BootPath, path);
    r.BootLoad = u8_key("LOADPROG", "FLG_BOOT", 1, path);

    profile_string("PICTCNTL", "IPADDRESS", "", r.IpAddress, sizeof r.IpAddress, path);
    r.LanTimeout = profile_int("PICTCNTL", "LANTIMEOUT", 5000, path);
    r.LanRetry = u8_key("PICTCNTL", "LANRETRY", 5, path);
    r.InitValue = u16_key("PICTCNTL", "INITVALUE", 1, path);
    r.StartSignal = u8_key("PICTCNTL", "STARTSIGNAL", 1, path);
    r.PictPattern = u8_key("PICTCNTL", "PICTPATTERN", 0, path);

    for (std::size_t i = 0; i < kProcessFlagCount; ++i)
        r.ProcessFlags[i] = u8_key("PROCESS", kProcessKeys[i], i == kGammaCorrForCephalo ? 0 : 1, path);

    profile_string("CORRINJLINE", "CORRLINEDATA", "", r.CorrLineDataPath, sizeof r.CorrLineDataPath, path);
    r.DefaultOffset = u16_key("CORRIMGSIZE", "DEFAULTOFFSET", 0, path);
    r.SideCutWidth = u16_key("CORRIMGSIZE", "SIDECUTWIDTH", 0, path);

    for (std::size_t n = 0; n < 3; ++n) {
        AdSetGroup& g = r.AdSet[n];
        char key[16];
        for (int i = 0; i < 6; ++i) {
            std::snprintf(key, sizeof key, "ACTION_D%d", i);
            g.Action[i] = u8_key(kAdSections[n], key, 0, path);
        }
        g.ClampLevel = u16_key(kAdSections[n], "ClampLevel", 0, path);
        for (int i = 0; i < 10; ++i) {
            std::snprintf(key, sizeof key, "CONTROL_D%d", i);
            g.Control[i] = u8_key(kAdSections[n], key, i == 3 ? 1 : 0, path);
        }
        g.PxgaGain = u16_key(kAdSections[n], "PxGAGain", 32, path);
    }

    for (std::size_t i = 0; i < kXyCorrCount; ++i) r.XyCorr[i] = u16_key("XYCORR", kXyCorrKeys[i], kXyCorrDefaults[i], path);

    r.AveRange = u16_key("BRISMOOTH", "AVERANGE", 80, path);
    r.AveRangeLow = u16_key("BRISMOOTH", "AVERANGELOW", 80, path);
    r.ChgSumRange = u16_key("BRISMOOTH", "CHGSUMRANGE", 30, path);
    r.SimaRange = scaled_key("EMPHASISCONTRAST", "SIMARANGE", 15, 0.1, path);
    r.SmoothRange = u16_key("EMPHASISCONTRAST", "SMOOTHRANGE", 200, path);
}

void read_pano_keys(DeviceContext& r, const char* path) {
    profile_string("DELSHADW", "CALIBDATA", "", r.CalibDataPath, sizeof r.CalibDataPath, path);
    profile_string("CORRINJLINE", "CORRLINEDATA", "", r.CorrLineDataPath, sizeof r.CorrLineDataPath, path);
    profile_string("LOADPROG", "FPGA", "", r.FpgaPath, sizeof r.FpgaPath, path);
    r.ManySideCutRatio = scaled_key("XMANYSIDECUTPERCENTAGE", "PANO", 1, 0.001, path);
    r.FewSideCutRatio = scaled_key("XFEWSIDECUTPERCENTAGE", "PANO", 1, 0.001, path);
    r.SecondBriScaleSelect = u8_key("IMAGE", "2NDCBSSELETFLG", 7, path);
    for (std::size_t n = 0; n < 3; ++n) r.AdSet[n].VgaGain = u16_key(kAdSections[n], "VGAGain", 150, path);
}

void read_ceph_keys(DeviceContext& r, const char* path, bool lateral) {
    profile_string("DELSHADW", "CALIBDATA_CEPH", "", r.CalibDataPath, sizeof r.CalibDataPath, path);
    profile_string("CORRINJLINE", "CORRLINEDATA", "", r.CorrLineDataPath, sizeof r.CorrLineDataPath, path);
    profile_string("LOADPROG", "FPGA_CEPH", "", r.FpgaPath, sizeof r.FpgaPath, path);
    if (lateral) {
        r.SecondBriScaleSelect = u8_key("IMAGE_SOKU", "2NDCBSSELETFLG", 6, path);
        // Both ratios come from the same key; only their defaults differ.
        r.ManySideCutRatio = scaled_key("XMANYSIDECUTPERCENTAGE_SOKU", "CEPH", 0, 0.001, path);
        r.FewSideCutRatio = scaled_key("XMANYSIDECUTPERCENTAGE_SOKU", "CEPH", 5, 0.001, path);
    } else {
        r.SecondBriScaleSelect = u8_key("IMAGE", "2NDCBSSELETFLG", 7, path);
        r.ManySideCutRatio = scaled_key("XMANYSIDECUTPERCENTAGE", "CEPH", 1, 0.001, path);
        r.FewSideCutRatio = scaled_key("XFEWSIDECUTPERCENTAGE", "CEPH", 1, 0.001, path);
    }
    for (std::size_t n = 0; n < 3; ++n) r.AdSet[n].VgaGain = u16_key(kAdSections[n], "VGAGainCeph", 485, path);
}

void read_separator_settings(SeparatorLines& lines, const char* path) {
    const std::int64_t count = static_cast<std::int32_t>(profile_int("ExOption", "PictLineNum", 0, path));
    const std::int64_t band = 4 * count;
    // No band is drawn for a width below 1; keep the stored width non-negative.
    lines.Width = static_cast<std::uint32_t>(core::clamp_to<std::int64_t>(band, 0, INT32_MAX));
    lines.Color = u16_key("ExOption", "PictLineColor", 0, path) == 1 ? 1u : 0u;
}

InitialWindow read_initial_window(const char* path) {
    return {static_cast<std::int32_t>(profile_int("INIT_WINDOW", "WINDOW_CENTER", 2048, path)),
            static_cast<std::int32_t>(profile_int("INIT_WINDOW", "WINDOW_WIDTH", 4096, path))};
}

}  // namespace tvx::config
