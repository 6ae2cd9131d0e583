// The patient and the study stamped into a DICOM picture, from the options or
// from an item of the clinic's modality worklist, every value checked against
// its value representation before anything is written: an archive files
// pictures by these values, and a wrong one files them under another patient.
#include <cstdio>
#include <string>

#include "checks.h"
#include "common.h"
#include "dicom.h"
#include "dicom_net.h"

namespace cli {

namespace {

// Characters of valid UTF-8 text; -1 when it is not (a stray or missing continuation
// byte, an overlong form, a surrogate, beyond U+10FFFF).
long utf8_length(const std::string& s) {
    long n = 0;
    for (std::size_t i = 0; i < s.size(); ++n) {
        const auto c = static_cast<unsigned char>(s[i]);
        const int more = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
        if (more < 0 || s.size() - i <= static_cast<std::size_t>(more)) return -1;
        unsigned cp = more == 0 ? c : c & (0x3Fu >> more);
        for (int k = 1; k <= more; ++k) {
            const auto d = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
            if ((d & 0xC0) != 0x80) return -1;
            cp = cp << 6 | (d & 0x3F);
        }
        static const unsigned least[] = {0, 0x80, 0x800, 0x10000};
        if (cp < least[more] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return -1;
        i += static_cast<std::size_t>(more) + 1;
    }
    return n;
}

bool digits(const std::string& s, std::size_t at, std::size_t n, int lo, int hi) {
    if (s.size() < at + n) return false;
    int v = 0;
    for (std::size_t i = at; i < at + n; ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
        v = v * 10 + (s[i] - '0');
    }
    return v >= lo && v <= hi;
}

enum class Vr { PN, LO, SH, Sex, DA, TM, UI };

// "" when the value fits its value representation, else the rule it breaks.
std::string broken_rule(Vr vr, const std::string& v) {
    const long length = utf8_length(v);
    if (length < 0) return "valid UTF-8 text";
    if (v.find('\\') != std::string::npos) return "one value, without a backslash (it would split the value in two)";
    for (char c : v)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return "free of control characters";
    switch (vr) {
        case Vr::PN: {
            int groups = 1, parts = 1;
            long chars = 0;
            for (std::size_t i = 0; i < v.size(); ++i) {
                if (v[i] == '=') groups++, parts = 1, chars = 0;
                else if (v[i] == '^') parts++;
                if ((static_cast<unsigned char>(v[i]) & 0xC0) != 0x80 && v[i] != '=') chars++;
                if (groups > 3 || parts > 5 || chars > 64)
                    return "a person name (PN): Family^Given^Middle^Prefix^Suffix, at most 5 parts and 64 characters";
            }
            return "";
        }
        case Vr::LO: return length > 64 ? "a long string (LO): at most 64 characters" : "";
        case Vr::SH: return length > 16 ? "a short string (SH): at most 16 characters" : "";
        case Vr::Sex: return v.empty() || v == "M" || v == "F" || v == "O" ? "" : "a code string (CS): M, F or O";
        case Vr::DA: {
            static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
            bool ok = v.size() == 8 && digits(v, 0, 4, 1800, 9999) && digits(v, 4, 2, 1, 12);
            if (ok) {
                const int year = std::stoi(v.substr(0, 4)), month = std::stoi(v.substr(4, 2));
                const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
                ok = digits(v, 6, 2, 1, days[month - 1] + (month == 2 && leap ? 1 : 0));
            }
            return v.empty() || ok ? "" : "a date (DA): YYYYMMDD";
        }
        case Vr::TM: {
            const std::size_t dot = v.find('.'), whole = dot == std::string::npos ? v.size() : dot;
            const bool ok = (whole == 2 || whole == 4 || whole == 6) && digits(v, 0, 2, 0, 23) &&
                            (whole < 4 || digits(v, 2, 2, 0, 59)) && (whole < 6 || digits(v, 4, 2, 0, 60)) &&
                            (dot == std::string::npos ||
                             (whole == 6 && v.size() > 7 && v.size() <= 13 && digits(v, 7, v.size() - 7, 0, 999999)));
            return v.empty() || ok ? "" : "a time (TM): HHMMSS, optionally with a fraction .FFFFFF";
        }
        case Vr::UI: {
            bool ok = v.size() <= 64 && !v.empty() && v.front() != '.' && v.back() != '.';
            for (std::size_t i = 0; ok && i < v.size(); ++i)
                ok = (v[i] >= '0' && v[i] <= '9' && !(v[i] == '0' && (i == 0 || v[i - 1] == '.') && i + 1 < v.size() &&
                                                      v[i + 1] != '.')) ||
                     (v[i] == '.' && v[i - 1] != '.');
            return ok ? "" : "a UID (UI): at most 64 digits and dots, no empty part, no part with a leading zero";
        }
    }
    return "";
}

}  // namespace

int dicom_identity(const Args& args, const char* command, DicomRequest* rq) {
    const char* own[] = {"patient-id", "patient-name", "birth-date", "sex", "study-uid", "accession"};
    std::string label = "--";  // the option the values come from, named in every refusal
    if (args.has("worklist")) {
        for (const char* o : own)
            if (args.has(o)) {
                std::fprintf(stderr, "tavirex %s: --%s: not with --worklist, which gives the patient and the study\n",
                             command, o);
                return kRefused;
            }
        Peer peer;
        if (!args.has("pacs")) {
            std::fprintf(stderr, "tavirex %s: --worklist needs --pacs AET@HOST:PORT, the archive that holds the worklist\n",
                         command);
            return kRefused;
        }
        if (!peer_option(command, args.get("pacs"), args.get("aet"), &peer)) return kRefused;
        WorklistItem item;
        if (const int status = worklist_item(command, peer, args.get("worklist"), &item)) return status;
        rq->patient_name = item.patient_name;
        rq->patient_id = item.patient_id;
        rq->birth_date = item.birth_date;
        rq->sex = item.sex;
        rq->accession = item.accession;
        rq->study_uid = item.study_uid;
        rq->referring = item.referring;
        rq->procedure = item.procedure;
        rq->procedure_id = item.procedure_id;
        rq->step_id = item.step_id;
        rq->step_description = item.step_description;
        rq->study_date = item.date;
        rq->study_time = item.date.empty() ? "" : item.time;
        label = "--worklist " + args.get("worklist") + ": the item's ";
        if (rq->study_uid.empty()) rq->study_uid = new_uid();
    } else {
        for (const char* o : {"pacs", "aet"})
            if (args.has(o)) {
                std::fprintf(stderr, "tavirex %s: --%s: only with --worklist ACCESSION\n", command, o);
                return kRefused;
            }
        rq->patient_id = args.get("patient-id", rq->patient_id);
        rq->patient_name = args.get("patient-name", rq->patient_name);
        rq->birth_date = args.get("birth-date", rq->birth_date);
        rq->sex = args.get("sex", rq->sex);
        rq->accession = args.get("accession", rq->accession);
        rq->study_uid = args.get("study-uid", rq->study_uid);
    }
    rq->study_description = args.get("study-description", rq->study_description);
    const bool worklist = label != "--";
    // (option or worklist attribute, representation, value); the options' names as given on the command line.
    const bool w = worklist;
    const struct { bool option; const char* name; Vr vr; const std::string& value; } fields[] = {
        {!w, w ? "patient ID" : "patient-id", Vr::LO, rq->patient_id},
        {!w, w ? "patient name" : "patient-name", Vr::PN, rq->patient_name},
        {!w, w ? "birth date" : "birth-date", Vr::DA, rq->birth_date},
        {!w, "sex", Vr::Sex, rq->sex},
        {!w, w ? "accession number" : "accession", Vr::SH, rq->accession},
        {!w, w ? "study instance UID" : "study-uid", Vr::UI, rq->study_uid},
        {true, "study-description", Vr::LO, rq->study_description},
        {false, "referring physician", Vr::PN, rq->referring},
        {false, "requested procedure", Vr::LO, rq->procedure},
        {false, "requested procedure ID", Vr::SH, rq->procedure_id},
        {false, "step ID", Vr::SH, rq->step_id},
        {false, "step description", Vr::LO, rq->step_description},
        {false, "scheduled date", Vr::DA, rq->study_date},
        {false, "scheduled time", Vr::TM, rq->study_time},
    };
    for (const auto& f : fields) {
        if (f.vr == Vr::UI && f.value.empty()) continue;  // a new study
        const std::string rule = broken_rule(f.vr, f.value);
        if (rule.empty()) continue;
        std::fprintf(stderr, "tavirex %s: %s%s must be %s\n", command, f.option ? "--" : label.c_str(), f.name, rule.c_str());
        return kRefused;
    }
    if (rq->patient_id.find_first_not_of(' ') == std::string::npos) {
        if (worklist)
            std::fprintf(stderr, "tavirex %s: %spatient ID is empty: a picture is not written without its patient\n",
                         command, label.c_str());
        else
            std::fprintf(stderr,
                         "tavirex %s: --patient-id is needed (or --worklist ACCESSION --pacs AET@HOST:PORT): a picture "
                         "is not written without its patient\n",
                         command);
        return kRefused;
    }
    return 0;
}

}  // namespace cli
