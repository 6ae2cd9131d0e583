#include "dicom.h"

#include <cstdio>

#if TAVIREX_WITH_DICOM
#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>

#include <unistd.h>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dctk.h>

#include "platform/system.h"
#include "tavirex.h"
#endif

namespace cli {

int default_bits_stored(const std::string& kind) { return kind == "tomo" ? 14 : 12; }

#if !TAVIREX_WITH_DICOM

bool dicom_in_build() { return false; }

std::string new_uid() { return ""; }

bool write_dicom(const DicomRequest&, const std::vector<std::uint16_t>&, const std::string&) {
    std::fprintf(stderr, "tavirex dicom: not in this build (it needs DCMTK, on Linux)\n");
    return false;
}

#else

namespace {

// The project's UID root, generated once from a random UUID (2.25 followed by
// the UUID as one decimal number). Every UID we write is this root, one arc
// unique to the export (seconds, process, count) and 1 study, 2 series, 3 instance;
// 61 characters at most, within the 64 a UID may have.
constexpr char kUidRoot[] = "2.25.60811574166163878386720479869724102614";

constexpr char kManufacturer[] = "Tavirex";
constexpr char kModel[] = "Tavirex simulated sensor";

std::string export_arc() {
    static unsigned count = 0;
    char arc[40];
    std::snprintf(arc, sizeof arc, "%lld%04u%u", static_cast<long long>(std::time(nullptr)),
                  static_cast<unsigned>(getpid() % 10000), count++ % 10);
    return arc;
}

struct Stamp {
    std::string date, time;
};

Stamp stamp_of(std::time_t t) {
    std::tm tm{};
    tvx::platform::local_time(t, &tm);
    char date[16], time[16];
    std::strftime(date, sizeof date, "%Y%m%d", &tm);
    std::strftime(time, sizeof time, "%H%M%S", &tm);
    return {date, time};
}

std::string number(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", v);
    return text;
}

}  // namespace

bool dicom_in_build() { return true; }

std::string new_uid() { return std::string(kUidRoot) + "." + export_arc() + ".1"; }

bool write_dicom(const DicomRequest& rq, const std::vector<std::uint16_t>& pixels, const std::string& out) {
    const std::uint32_t maximum = (1u << rq.bits_stored) - 1;
    // The library's bitmaps show the window over the inverted data (maximum - value):
    // bright where the sensor saw little radiation. The same picture from the data as
    // it stands is MONOCHROME1 (the lowest value white) with the window mirrored
    // about the middle of the range: centre maximum - centre, the same width.
    const std::int32_t center = static_cast<std::int32_t>(maximum) - rq.center;
    const std::int32_t width = rq.window_width < 1 ? 1 : rq.window_width;
    const std::string arc = export_arc(), uid = std::string(kUidRoot) + "." + arc + ".";
    const Stamp now = stamp_of(std::time(nullptr));
    // The acquisition: when the processed image was written.
    Stamp acquired = now;
    std::error_code ec;
    const auto written = std::filesystem::last_write_time(rq.raw_path, ec);
    if (!ec)
        acquired = stamp_of(std::chrono::system_clock::to_time_t(std::chrono::file_clock::to_sys(written)));
    const bool ceph = rq.kind == "ceph";
    // UTF-8 is declared only where a value needs it (the checks refused invalid UTF-8).
    bool ascii = true;
    for (const std::string* v : {&rq.patient_name, &rq.patient_id, &rq.study_description, &rq.referring, &rq.procedure,
                                 &rq.step_description, &rq.accession, &rq.procedure_id, &rq.step_id})
        ascii = ascii && std::all_of(v->begin(), v->end(), [](char c) { return (c & 0x80) == 0; });

    DcmFileFormat file;
    DcmDataset* ds = file.getDataset();
    const struct { DcmTagKey tag; std::string value; } text[] = {
        {DCM_SpecificCharacterSet, ascii ? "" : "ISO_IR 192"},
        {DCM_SOPClassUID, UID_DigitalXRayImageStorageForPresentation},
        {DCM_SOPInstanceUID, uid + "3"},
        // Patient
        {DCM_PatientName, rq.patient_name},
        {DCM_PatientID, rq.patient_id},
        {DCM_PatientBirthDate, rq.birth_date},
        {DCM_PatientSex, rq.sex},
        // Study
        {DCM_StudyInstanceUID, rq.study_uid.empty() ? uid + "1" : rq.study_uid},
        {DCM_StudyDate, rq.study_date.empty() ? acquired.date : rq.study_date},
        {DCM_StudyTime, rq.study_date.empty() ? acquired.time : rq.study_time},
        {DCM_ReferringPhysicianName, rq.referring},
        {DCM_StudyID, "1"},
        {DCM_AccessionNumber, rq.accession},
        {DCM_StudyDescription, rq.study_description.empty() ? rq.procedure : rq.study_description},
        // Series
        {DCM_Modality, ceph ? "DX" : "PX"},
        {DCM_SeriesInstanceUID, uid + "2"},
        // Each picture a series of its own, numbered by kind within the visit's study.
        {DCM_SeriesNumber, ceph ? "2" : rq.kind == "tomo" ? "3" : "1"},
        {DCM_PresentationIntentType, "FOR PRESENTATION"},
        // Equipment
        {DCM_Manufacturer, kManufacturer},
        {DCM_ManufacturerModelName, kModel},
        {DCM_SoftwareVersions, TAVIREX_VERSION_STRING},
        // Image
        {DCM_InstanceNumber, "1"},
        // Rows run towards the patient's right (the L marker stands on the left), posterior for
        // the lateral view (the face on the left), anterior for the tomographic cuts (P left, A right).
        {DCM_PatientOrientation, ceph ? "P\\F" : rq.kind == "tomo" ? "A\\F" : "R\\F"},
        {DCM_ContentDate, now.date},
        {DCM_ContentTime, now.time},
        {DCM_AcquisitionDateTime, acquired.date + acquired.time},
        {DCM_ImageType, "ORIGINAL\\PRIMARY"},
        {DCM_ImageLaterality, "U"},
        {DCM_PhotometricInterpretation, "MONOCHROME1"},
        {DCM_PixelIntensityRelationship, "LIN"},
        {DCM_PixelIntensityRelationshipSign, "1"},
        {DCM_RescaleIntercept, "0"},
        {DCM_RescaleSlope, "1"},
        {DCM_RescaleType, "US"},
        {DCM_PresentationLUTShape, "INVERSE"},
        {DCM_LossyImageCompression, "00"},
        {DCM_BurnedInAnnotation, "NO"},
        {DCM_WindowCenter, std::to_string(center)},
        {DCM_WindowWidth, std::to_string(width)},
        // Detector
        {DCM_DetectorType, "SCINTILLATOR"},
        {DCM_ImagerPixelSpacing, number(rq.pixel_spacing) + "\\" + number(rq.pixel_spacing)},
    };
    bool ok = true;
    for (const auto& t : text)
        ok = ok && (t.value.empty() && t.tag == DCM_SpecificCharacterSet ? true
                                                                          : ds->putAndInsertString(t.tag, t.value.c_str()).good());
    // The worklist's request: the requested procedure and the scheduled step this picture answers.
    DcmItem* request = nullptr;
    if (ok && !(rq.procedure_id + rq.step_id + rq.procedure).empty()) {
        ok = ds->findOrCreateSequenceItem(DCM_RequestAttributesSequence, request, -2).good();
        const struct { DcmTagKey tag; const std::string& value; } asked[] = {
            {DCM_RequestedProcedureID, rq.procedure_id}, {DCM_RequestedProcedureDescription, rq.procedure},
            {DCM_ScheduledProcedureStepID, rq.step_id}, {DCM_ScheduledProcedureStepDescription, rq.step_description}};
        for (const auto& a : asked) ok = ok && (a.value.empty() || request->putAndInsertString(a.tag, a.value.c_str()).good());
    }
    const struct { DcmTagKey tag; Uint16 value; } words[] = {
        {DCM_SamplesPerPixel, 1},
        {DCM_Rows, static_cast<Uint16>(rq.height)},
        {DCM_Columns, static_cast<Uint16>(rq.width)},
        {DCM_BitsAllocated, 16},
        {DCM_BitsStored, static_cast<Uint16>(rq.bits_stored)},
        {DCM_HighBit, static_cast<Uint16>(rq.bits_stored - 1)},
        {DCM_PixelRepresentation, 0},
    };
    for (const auto& w : words) ok = ok && ds->putAndInsertUint16(w.tag, w.value).good();
    // Raw row 0 is the bottom row of the picture (as in the bitmaps); DICOM stores the top row first.
    std::vector<Uint16> rows(pixels.size());
    const std::size_t w = static_cast<std::size_t>(rq.width), h = static_cast<std::size_t>(rq.height);
    for (std::size_t r = 0; r < h; ++r)
        std::copy(pixels.begin() + static_cast<std::ptrdiff_t>((h - 1 - r) * w),
                  pixels.begin() + static_cast<std::ptrdiff_t>((h - r) * w), rows.begin() + static_cast<std::ptrdiff_t>(r * w));
    ok = ok && ds->insertEmptyElement(DCM_AcquisitionContextSequence).good() &&
         ds->insertEmptyElement(DCM_AnatomicRegionSequence).good() &&
         ds->putAndInsertUint16Array(DCM_PixelData, rows.data(), static_cast<unsigned long>(rows.size())).good();
    tvx::platform::remove_file(out.c_str());
    const OFCondition saved = ok ? file.saveFile(out.c_str(), EXS_LittleEndianExplicit) : EC_IllegalCall;
    if (saved.good()) return true;
    tvx::platform::remove_file(out.c_str());
    std::fprintf(stderr, "tavirex dicom: %s could not be written (%s)\n", out.c_str(), saved.text());
    return false;
}

#endif

}  // namespace cli
