// DICOM export of a processed image: one Digital X-Ray Image Storage - For
// Presentation object per picture (tavirex dicom, and the demo's .dcm files).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace cli {

// True when this build writes DICOM files (Linux with DCMTK).
bool dicom_in_build();

// The guard of dicom, worklist and send: true in a build with DICOM, else false after
// saying "tavirex <command>: not in this build ...".
bool dicom_command_in_build(const char* command);

// The pixel pitch of the simulated sensor, mm: its rows are 0.03 mm apart, and its
// columns, half that, are summed in pairs, so that its pictures have square pixels.
constexpr double kSensorPitch = 0.03;

struct Args;

struct DicomRequest {
    std::string kind;      // pano, ceph or tomo
    std::string raw_path;  // the processed image file: its time is the acquisition's
    std::int32_t width = 0, height = 0;
    int bits_stored = 12;  // 12, or the tomographic bit depth
    std::int32_t center = 0, window_width = 0;  // the library's display window (of the inverted data)
    // The patient and the study (no defaults: a picture is refused without a patient ID);
    // each value checked against its value representation by dicom_identity().
    std::string patient_name, patient_id, birth_date, sex, study_description, accession;
    std::string study_uid;                   // one per visit: given, the worklist item's, or new
    std::string study_date, study_time;      // the worklist item's scheduled start, or the acquisition's
    std::string referring, procedure, procedure_id, step_id, step_description;  // from the worklist item
    double pixel_spacing = kSensorPitch;     // mm, at the detector
};

// A new UID under the project's root (studies of a visit: one taken once, shared by its pictures).
std::string new_uid();

// The patient and study of a picture from the options --patient-id, --patient-name, --birth-date,
// --sex, --study-uid, --study-description, --accession, or from the worklist item --worklist
// ACCESSION of the archive --pacs AET@HOST:PORT (--aet OURS); every value checked against its
// value representation. 0, or the exit status with the reason (naming the option and the rule) on stderr.
int dicom_identity(const Args& args, const char* command, DicomRequest* rq);

// The default bits stored of a kind: 12, or 14 for tomographic pictures (binning by 2).
int default_bits_stored(const std::string& kind);

// Looks at the image before the file is written, in file order (raw row 0 first), and may
// complete the request (the window): 0 to go on, or the exit status to end with (its
// message printed).
using DicomCheck = std::function<int(const std::uint16_t* pixels, std::size_t count, DicomRequest& rq)>;

// Reads rq.raw_path (width x height words) straight into the pixel data of the DICOM
// object, so that the image is held once, runs `check`, and writes `out` through a
// temporary file in its folder that replaces `out` only once it is written whole.
// 0 when done; otherwise the exit status (2: the raw file could not be read or is too
// large for a DICOM file; 1: memory ran short or a write failed), the reason on stderr,
// no temporary file left and `out` as it was (absent, or an older file untouched).
int write_dicom(DicomRequest& rq, const std::string& out, const DicomCheck& check = nullptr);

}  // namespace cli
