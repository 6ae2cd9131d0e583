// DICOM export of a processed image: one Digital X-Ray Image Storage - For
// Presentation object per picture (tavirex dicom, and the demo's .dcm files).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace cli {

// True when this build writes DICOM files (Linux with DCMTK).
bool dicom_in_build();

struct DicomRequest {
    std::string kind;      // pano, ceph or tomo
    std::string raw_path;  // the processed image file: its time is the acquisition's
    std::int32_t width = 0, height = 0;
    int bits_stored = 12;  // 12, or the tomographic bit depth
    std::int32_t center = 0, window_width = 0;  // the library's display window (of the inverted data)
    std::string patient_name, patient_id = "TVX-0001", study_description, accession;
    double pixel_spacing = 0.1;  // mm, at the detector
};

// The default bits stored of a kind: 12, or 14 for tomographic pictures (binning by 2).
int default_bits_stored(const std::string& kind);

// Writes `out` from the processed image; false (message on stderr, no file left) on failure.
bool write_dicom(const DicomRequest& rq, const std::vector<std::uint16_t>& pixels, const std::string& out);

}  // namespace cli
