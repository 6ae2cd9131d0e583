// tavirex dicom: a processed raw image file as a DICOM file for viewers and archives.
#include <algorithm>
#include <cstdio>
#include <string>

#include "checks.h"
#include "common.h"
#include "dicom.h"
#include "output_args.h"
#include "tavirex.h"

namespace cli {

int cmd_dicom(int argc, char** argv) {
    Args args;
    if (!parse_args(argc, argv, 2,
                    {"width", "height", "kind", "patient-name", "patient-id", "study-description", "accession",
                     "pixel-spacing", "bits-stored", "center", "window-width", "birth-date", "sex", "study-uid",
                     "worklist", "pacs", "aet"},
                    {}, &args))
        return kRefused;
    if (args.help) {
        std::printf(
            "usage: tavirex dicom RAW OUT.dcm --width W --height H --kind pano|ceph|tomo\n"
            "                     --patient-id ID [--patient-name NAME] [--birth-date YYYYMMDD] [--sex M|F|O]\n"
            "                     [--study-uid UID] [--accession NUMBER] [--study-description TEXT]\n"
            "                     [--pixel-spacing MM] [--bits-stored N] [--center C --window-width W]\n"
            "       tavirex dicom RAW OUT.dcm ... --worklist ACCESSION --pacs AET@HOST:PORT [--aet OURS]\n\n"
            "Writes the processed raw image file RAW (W x H 16-bit little-endian words, exactly) as a\n"
            "DICOM Digital X-Ray Image (for presentation, explicit VR little endian): modality PX for\n"
            "pano and tomo, DX for ceph; the data unchanged, 16 bits allocated, --bits-stored of them\n"
            "used (default 12, tomo 14; no value may exceed them), MONOCHROME1 so that a viewer shows\n"
            "what the library's bitmaps show. The window is the library's display window of the data\n"
            "(Tavirex_SetWindowPosAuto) or --center/--window-width as the library gave them, written\n"
            "mirrored for MONOCHROME1 (centre 2^bits - 1 - C). --pixel-spacing is the detector's pixel\n"
            "pitch in mm (default 0.03, the simulated sensor's). Raw row 0 is the bottom row (as in the\n"
            "bitmaps): the DICOM rows run top down.\n\n"
            "The patient: --patient-id (needed: a picture is not written without its patient) and\n"
            "--patient-name as Family^Given, or the patient and study of the worklist item with that\n"
            "accession number (tavirex worklist lists them): its study UID, accession number, referring\n"
            "physician, requested procedure and scheduled date and time. The pictures of one visit share\n"
            "one study: give each the same --study-uid (or the same --worklist item); without, a picture\n"
            "is a study of its own. Each picture is a series and instance of its own. Every value is\n"
            "checked against its DICOM value representation (lengths, characters, one value: no\n"
            "backslash, valid UTF-8, declared as ISO_IR 192 where not ASCII) before anything is written.\n"
            "OUT.dcm is written under a temporary name beside it and renamed once whole: a failed write\n"
            "leaves no file, and an older OUT.dcm as it was.%s\n",
            dicom_in_build() ? "" : "\nNot in this build: it needs DCMTK, on Linux.");
        return 0;
    }
    const char* cmd = "dicom";
    if (!dicom_command_in_build(cmd)) return kRefused;
    if (!positionals(args, 2, cmd, "RAW OUT.dcm")) return kRefused;
    DicomRequest rq;
    rq.raw_path = args.positional[0];
    const std::string out = args.positional[1];
    rq.kind = args.get("kind");
    if (!args.has("kind")) {
        std::fprintf(stderr, "tavirex dicom: --kind pano|ceph|tomo is required (the sensor that took the picture)\n");
        return kRefused;
    }
    if (rq.kind != "pano" && rq.kind != "ceph" && rq.kind != "tomo") {
        std::fprintf(stderr, "tavirex dicom: --kind takes pano, ceph or tomo, not '%s'\n", rq.kind.c_str());
        return kRefused;
    }
    double spacing = kSensorPitch;
    if (!option_int(args, cmd, "width", 0, &rq.width, 0, 65535) ||
        !option_int(args, cmd, "height", 0, &rq.height, 0, 65535) ||
        !option_int(args, cmd, "bits-stored", default_bits_stored(rq.kind), &rq.bits_stored, 8, 16) ||
        !option_double(args, cmd, "pixel-spacing", kSensorPitch, &spacing, 0.001, 10.0) ||
        !options_together(args, cmd, "center", "window-width") ||
        !option_int(args, cmd, "center", 0, &rq.center, 0, 65535) ||
        !option_int(args, cmd, "window-width", 0, &rq.window_width, 1, 65536))
        return kRefused;
    rq.pixel_spacing = spacing;
    if (const int status = dicom_identity(args, cmd, &rq)) return status;
    if (!raw_image(cmd, rq.raw_path, rq.width, rq.height) || !output_files(cmd, {out})) return kRefused;
    const bool window_given = args.has("center");
    const int status = write_dicom(rq, out, [&](const std::uint16_t* pixels, std::size_t count, DicomRequest& r) {
        const std::uint32_t maximum = (1u << r.bits_stored) - 1;
        for (std::size_t i = 0; i < count; ++i)
            if (pixels[i] > maximum) {
                std::fprintf(stderr, "tavirex dicom: %s holds %u at pixel %zu, more than %d bits (--bits-stored)\n",
                             r.raw_path.c_str(), static_cast<unsigned>(pixels[i]), i, r.bits_stored);
                return kRefused;
            }
        // Outside its own tomographic processing the library takes data as 12-bit and
        // limits the window to that range.
        if (!window_given && r.kind == "tomo" &&
            std::any_of(pixels, pixels + count, [](std::uint16_t v) { return v > 4095; })) {
            std::fprintf(stderr,
                         "tavirex dicom: %s holds values above 4095, beyond the window the library sets outside its\n"
                         "tomographic processing: give --center and --window-width (tavirex demo prints them)\n",
                         r.raw_path.c_str());
            return kRefused;
        }
        if (!window_given) {
            const std::int32_t rc = stage("Tavirex_SetWindowPosAuto", [&] {
                return Tavirex_SetWindowPosAuto(r.raw_path.c_str(), r.width, r.height);
            });
            if (rc != 0) return 1;
            r.center = Tavirex_GetWindowCenter();
            r.window_width = Tavirex_GetWindowWidth();
        }
        std::printf("  window centre %ld width %ld\n", static_cast<long>(r.center), static_cast<long>(r.window_width));
        return 0;
    });
    if (status != 0) return status;
    std::printf("  DICOM -> %s\n", out.c_str());
    return 0;
}

}  // namespace cli
