#include "gallery_commands.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <memory>
#include <set>

#include "batch.h"
#include "common.h"
#include "orvane.h"
#include "gallery/gallery.h"
#include "image_input.h"
#include "print_window.h"
#include "search/search.h"
#include "template_formats.h"

namespace fs = std::filesystem;

namespace orvane::cli {

namespace {

using gallery::Gallery;
using gallery::GalleryError;
using Clock = std::chrono::steady_clock;

bool json() { return settings().json; }

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// Images larger than this are not read for their digest.
constexpr size_t kMaxImageFileBytes = size_t(1) << 30;
// Prints extracted, then written in one transaction, at a time.
constexpr long kDefaultBatch = 256;
const char* const kManifestName = "manifest.tsv";

// Gallery failures reach the user as the tool's one-line errors.
template <typename Work>
auto galleryGuard(Work work) -> decltype(work()) {
    try {
        return work();
    } catch (const GalleryError& e) {
        throw CliError(e.what());
    }
}

std::unique_ptr<Gallery> openGallery(const std::string& path, gallery::OpenMode mode, const std::string& command) {
    auto g = galleryGuard([&] { return std::make_unique<Gallery>(path, mode); });
    g->setWarningHandler([command, path](const std::string& warning) { warn(command, path + ": " + warning); });
    return g;
}

search::MatchMode modeOf(const Options& opt) {
    return opt.flag("--quick") ? search::MatchMode::Quick : search::MatchMode::Full;
}
const char* modeName(search::MatchMode mode) { return mode == search::MatchMode::Quick ? "quick" : "full"; }

int32_t thresholdOf(const Options& opt) {
    return static_cast<int32_t>(opt.integer("--threshold", kDefaultDecisionThreshold, 0,
                                            std::numeric_limits<int32_t>::max()));
}

std::string plural(size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// The start of a gallery command's JSON object.
std::string jsonHead(const std::string& command, const std::string& action = "") {
    return "{\"command\":" + jsonString(command) + (action.empty() ? "" : ",\"action\":" + jsonString(action));
}

std::string utcTime(int64_t seconds) {
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    if (!gmtime_r(&t, &tm)) return std::to_string(seconds);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return buf;
}

// Subject and impression from a FINGER_IMPRESSION file name; false when the
// name does not have that form or the impression is not a number in range.
bool namedPrint(const std::string& path, std::string& subject, int32_t& impression) {
    const std::string stem = fileStem(path);
    const size_t cut = stem.rfind('_');
    if (cut == std::string::npos || cut == 0 || cut + 1 == stem.size()) return false;
    const std::string number = stem.substr(cut + 1);
    if (number.size() > 7 || number.find_first_not_of("0123456789") != std::string::npos) return false;
    const long n = std::stol(number);
    if (n > gallery::kMaxImpression) return false;
    subject = stem.substr(0, cut);
    impression = static_cast<int32_t>(n);
    return true;
}

// Files of the command line, folders replaced by their files (sorted).
std::vector<std::string> expandInputs(const std::vector<std::string>& inputs) {
    std::vector<std::string> files;
    for (const std::string& in : inputs) {
        std::error_code ec;
        if (fs::is_directory(in, ec)) {
            for (const std::string& f : listFiles(in, false)) {
                if (fs::path(f).filename() != kManifestName) files.push_back(f);
            }
        } else {
            files.push_back(in);
        }
    }
    return files;
}

// One print on its way into the gallery.
struct EnrolJob {
    std::string file;
    gallery::NewPrint print;
    std::string error;       // set when it cannot be enrolled; starts with the file name
    std::string warning;     // an implausible template (see extraction_notes.h)
    bool fromImage = false;
    bool cropped = false;    // extracted from window of the image
    PictureWindow window;
    gallery::EnrolOutcome outcome;
};

// The template, quality and digest of a file: an image (extracted here) or
// a template.
void prepareJob(Workspace& ws, CropMode crop, EnrolJob& job) {
    if (!job.error.empty()) return;
    try {
        const FileKind kind = sniffFile(job.file);
        if (kind == FileKind::Bitmap || kind == FileKind::OtherImage) {
            const std::vector<uint8_t> bytes = readWholeFile(job.file, kMaxImageFileBytes);
            job.print.info.imageSha256 = gallery::sha256Hex(bytes.data(), bytes.size());
            ExtractionOutcome o = extractFile(ws, job.file, crop, nullptr, true);
            if (!o.ok()) {
                job.error = o.message;
                return;
            }
            job.print.featureTemplate = std::move(o.featureTemplate);
            job.print.quality = o.quality;
            job.fromImage = true;
            job.warning = o.warning;
            job.cropped = o.cropped;
            job.window = o.window;
        } else {
            job.print.featureTemplate = templateOfFile(ws, job.file, crop);
        }
    } catch (const CliError& e) {
        job.error = e.what();
    }
}

struct EnrolSummary {
    size_t enrolled = 0;
    size_t failed = 0;
    double extractSeconds = 0;   // wall time of the extraction phases
    double databaseSeconds = 0;  // wall time of the transactions
};

// Extracts jobs in batches on all cores and enrols each batch in one
// transaction. Calls report(job) for every job in order.
EnrolSummary enrolJobs(Gallery& g, std::vector<EnrolJob>& jobs, CropMode crop, const gallery::EnrolOptions& options,
                       size_t batch, const std::function<void(const EnrolJob&)>& report) {
    EnrolSummary summary;
    for (size_t start = 0; start < jobs.size(); start += batch) {
        const size_t end = std::min(jobs.size(), start + batch);
        const auto extractStart = Clock::now();
        parallelFor(end - start, "enrolling", [&](size_t i, Workspace& ws) { prepareJob(ws, crop, jobs[start + i]); });
        summary.extractSeconds += secondsSince(extractStart);

        std::vector<gallery::NewPrint> prints;
        std::vector<size_t> index;
        for (size_t i = start; i < end; ++i) {
            if (!jobs[i].error.empty()) continue;
            prints.push_back(jobs[i].print);
            index.push_back(i);
        }
        const auto databaseStart = Clock::now();
        const std::vector<gallery::EnrolOutcome> outcomes = galleryGuard([&] { return g.enrol(prints, options); });
        summary.databaseSeconds += secondsSince(databaseStart);
        for (size_t k = 0; k < outcomes.size(); ++k) {
            EnrolJob& job = jobs[index[k]];
            job.outcome = outcomes[k];
            if (!job.outcome.ok()) job.error = job.file + ": " + job.outcome.message;
        }
        for (size_t i = start; i < end; ++i) {
            (jobs[i].error.empty() ? summary.enrolled : summary.failed) += 1;
            report(jobs[i]);
        }
    }
    return summary;
}

std::string jobJson(const EnrolJob& job) {
    std::string s = "{\"file\":" + jsonString(job.file) + ",\"enrolled\":" + (job.error.empty() ? "true" : "false");
    if (job.error.empty()) {
        const gallery::PrintInfo& info = job.print.info;
        s += ",\"id\":" + std::to_string(job.outcome.id) + ",\"subject\":" + jsonString(info.subject) +
             ",\"finger\":" + std::to_string(info.finger) + ",\"impression\":" + std::to_string(info.impression) +
             ",\"minutiae\":" + std::to_string((job.print.featureTemplate.size() - 4) / 7) +
             ",\"quality\":" + std::to_string(job.print.quality);
        if (job.cropped) s += ",\"window\":" + windowJson(job.window);
        if (!job.warning.empty()) s += ",\"warning\":" + jsonString(job.warning);
    } else {
        s += ",\"error\":" + jsonString(job.error);
        if (job.outcome.matchedId) {
            s += ",\"matchedId\":" + std::to_string(job.outcome.matchedId) +
                 ",\"matchedSubject\":" + jsonString(job.outcome.matchedSubject);
        }
    }
    return s + "}";
}

// A line on stdout for each print of a batch, as extract does: what went in,
// or why not (the reason starts with the file name).
void printJobLine(const std::string& command, const EnrolJob& job) {
    if (!job.error.empty()) {
        std::printf("%s\n", job.error.c_str());
        return;
    }
    const gallery::PrintInfo& info = job.print.info;
    std::printf("%s: enrolled as row %lld (subject %s, finger %d, impression %d, %zu minutiae", job.file.c_str(),
                static_cast<long long>(job.outcome.id), info.subject.c_str(), info.finger, info.impression,
                (job.print.featureTemplate.size() - 4) / 7);
    if (job.print.quality >= 0) std::printf(", quality %d", job.print.quality);
    std::printf("%s)\n", job.cropped ? (", " + windowText(job.window)).c_str() : "");
    if (!job.warning.empty()) warn(command, job.file + ": " + job.warning);
}

gallery::EnrolOptions enrolOptionsOf(const Options& opt) {
    gallery::EnrolOptions options;
    options.allowDuplicates = opt.flag("--allow-duplicates");
    options.dedupThreshold =
        static_cast<int32_t>(opt.integer("--dedup", 0, 1, std::numeric_limits<int32_t>::max()));
    options.dedupMode = modeOf(opt);
    return options;
}

// Runs the jobs and prints what happened, as extract does for a batch: a
// line (or a JSON item) for each print, failures included, then one error
// that counts them. A single print that fails is just that error.
int enrolAndReport(const std::string& command, const std::string& galleryPath, std::vector<EnrolJob>& jobs,
                   const Options& opt) {
    const bool importing = command == "gallery import";
    std::unique_ptr<Gallery> g = openGallery(galleryPath, gallery::OpenMode::ReadWrite, command);
    const size_t batch = static_cast<size_t>(opt.integer("--batch", kDefaultBatch, 1, 100000));
    const bool single = jobs.size() == 1;
    const auto start = Clock::now();
    std::string items;
    const EnrolSummary s = enrolJobs(*g, jobs, cropOption(opt), enrolOptionsOf(opt), batch, [&](const EnrolJob& job) {
        if (single && !job.error.empty()) return;
        if (json()) {
            items += (items.empty() ? "" : ",") + jobJson(job);
        } else {
            printJobLine(command, job);
        }
    });
    if (single && s.failed) throw CliError(jobs[0].error);
    const double seconds = secondsSince(start);
    const double rate = seconds > 0 ? double(jobs.size()) / seconds : 0;
    if (json()) {
        emitJson((importing ? jsonHead("gallery", "import") : jsonHead("enroll")) +
                 ",\"gallery\":" + jsonString(galleryPath) + ",\"files\":" + std::to_string(jobs.size()) +
                 ",\"enrolled\":" + std::to_string(s.enrolled) + ",\"failed\":" + std::to_string(s.failed) +
                 ",\"seconds\":" + jsonNumber(seconds) + ",\"printsPerSecond\":" + jsonNumber(rate) +
                 ",\"extractionSeconds\":" + jsonNumber(s.extractSeconds) +
                 ",\"databaseSeconds\":" + jsonNumber(s.databaseSeconds) + ",\"prints\":[" + items + "]}");
    } else {
        std::printf("%s %zu of %s into %s in %.2f s (%.1f prints/s; reading and extraction %.2f s, "
                    "database %.3f s)\n",
                    importing ? "imported" : "enrolled", s.enrolled, plural(jobs.size(), "print", "prints").c_str(),
                    galleryPath.c_str(), seconds, rate, s.extractSeconds, s.databaseSeconds);
    }
    if (s.failed) {
        throw CliError(std::to_string(s.failed) + " of " + std::to_string(jobs.size()) +
                       " prints could not be enrolled");
    }
    return kExitOk;
}

// The probe of identify and verify: a template, or an image extracted here
// (with the window it was taken from when cropped).
ExtractionOutcome readProbe(const std::string& path, CropMode crop) {
    ExtractionOutcome probe = std::move(templatesOfFiles({path}, crop, false, "")[0]);
    if (!probe.ok()) throw CliError(probe.message);
    return probe;
}

// The probe's window, when it was cropped: a JSON member or a text line.
std::string probeWindowJson(const ExtractionOutcome& probe) {
    return probe.cropped ? ",\"probeWindow\":" + windowJson(probe.window) : "";
}
void printProbeWindow(const std::string& path, const ExtractionOutcome& probe) {
    if (probe.cropped) std::printf("probe %s: %s\n", path.c_str(), windowText(probe.window).c_str());
}

// One ranked candidate, from a gallery file or a folder.
struct Candidate {
    int32_t score = 0;
    std::string entry;  // subject, or file in a folder
    int64_t id = 0;     // gallery row (0 for a folder)
    int32_t finger = 0;
    int32_t impression = 0;
};

struct Identification {
    std::vector<Candidate> candidates;
    size_t searched = 0;
    size_t skipped = 0;
    double loadSeconds = 0;
    double searchSeconds = 0;
};

Identification identifyInGallery(const std::string& path, const search::Probe& probe,
                                 const gallery::IdentifyOptions& options) {
    Identification out;
    const auto start = Clock::now();
    std::unique_ptr<Gallery> g = openGallery(path, gallery::OpenMode::ReadOnly, "identify");
    galleryGuard([&] { return g->load(); });
    out.loadSeconds = secondsSince(start);
    const gallery::IdentifyResult r = galleryGuard([&] { return g->identify(probe, options); });
    out.searchSeconds = r.searchSeconds;
    out.searched = r.searched;
    out.skipped = g->lastSkipped().size();
    for (const gallery::Hit& h : r.hits) out.candidates.push_back({h.score, h.subject, h.id, h.finger, h.impression});
    return out;
}

Identification identifyInFolder(const std::string& folder, const search::Probe& probe,
                                const gallery::IdentifyOptions& options, CropMode crop) {
    Identification out;
    const std::vector<std::string> files = listFiles(folder, false);
    std::vector<std::vector<uint8_t>> templates(files.size());
    std::vector<std::string> errors(files.size());
    size_t images = 0;
    for (const std::string& f : files) images += hasImageExtension(f) ? 1 : 0;
    const auto start = Clock::now();
    parallelFor(files.size(), images ? "extracting" : "loading", [&](size_t i, Workspace& ws) {
        try {
            templates[i] = templateOfFile(ws, files[i], crop);
        } catch (const CliError& e) {
            errors[i] = e.what();
        }
    });
    search::TemplateSet set;
    std::vector<size_t> fileOf;
    set.reserve(files.size());
    for (size_t i = 0; i < files.size(); ++i) {
        if (errors[i].empty() && !set.add(templates[i].data(), templates[i].size(), &errors[i])) {
            errors[i] = files[i] + ": " + errors[i];
        }
        if (errors[i].empty()) {
            fileOf.push_back(i);
        } else {
            ++out.skipped;
            if (!settings().quiet) std::fprintf(stderr, "orvane: identify: skipped %s\n", errors[i].c_str());
        }
    }
    out.loadSeconds = secondsSince(start);
    if (set.size() == 0) throw CliError(folder + ": no usable templates or prints in the gallery");
    search::SearchOptions so;
    so.topK = options.topK;
    so.threshold = options.threshold;
    so.mode = options.mode;
    so.threads = options.threads;
    search::SearchStats stats;
    const auto searchStart = Clock::now();
    const std::vector<search::Hit> hits = search::search(set, probe, so, &stats);
    out.searchSeconds = secondsSince(searchStart);
    out.searched = stats.entries;
    for (const search::Hit& h : hits) out.candidates.push_back({h.score, files[fileOf[h.index]], 0, 0, 0});
    return out;
}

bool isGalleryPath(const std::string& path) {
    std::error_code ec;
    return !fs::is_directory(path, ec);
}

}  // namespace

int runIdentify(const Args& args) {
    Options opt(args, {"--top", "--threshold", "--crop"}, {"--quick"});
    if (opt.positional().size() != 2) throw UsageError("identify needs a probe and a gallery (file or folder)");
    const std::string probePath = opt.positional()[0];
    const std::string galleryPath = opt.positional()[1];
    gallery::IdentifyOptions options;
    options.topK = static_cast<size_t>(opt.integer("--top", 10, 1, 1000000));
    options.mode = modeOf(opt);
    options.threads = static_cast<unsigned>(workerCount());
    const int32_t threshold = thresholdOf(opt);
    const CropMode crop = cropOption(opt);
    const bool fromGallery = isGalleryPath(galleryPath);
    std::error_code ec;
    if (!fs::exists(galleryPath, ec)) throw CliError(galleryPath + ": no such folder or gallery file");

    const ExtractionOutcome probeFile = readProbe(probePath, crop);
    const std::vector<uint8_t>& probeBytes = probeFile.featureTemplate;
    search::Probe probe;
    if (search::Probe::prepare(probeBytes.data(), probeBytes.size(), probe) != 0) {
        throw CliError(probePath + ": " + resultCodeWithText(ORVANE_E_BAD_TEMPLATE));
    }
    const Identification r = fromGallery ? identifyInGallery(galleryPath, probe, options)
                                         : identifyInFolder(galleryPath, probe, options, crop);
    const bool match = !r.candidates.empty() && r.candidates[0].score >= threshold;
    const double rate = r.searchSeconds > 0 ? double(r.searched) / r.searchSeconds : 0;

    if (json()) {
        std::string results;
        for (size_t i = 0; i < r.candidates.size(); ++i) {
            const Candidate& c = r.candidates[i];
            results += std::string(i ? "," : "") + "{\"rank\":" + std::to_string(i + 1) +
                       ",\"score\":" + std::to_string(c.score) + ",\"entry\":" + jsonString(c.entry);
            if (fromGallery) {
                results += ",\"id\":" + std::to_string(c.id) + ",\"finger\":" + std::to_string(c.finger) +
                           ",\"impression\":" + std::to_string(c.impression);
            }
            results += "}";
        }
        emitJson(jsonHead("identify") + ",\"probe\":" + jsonString(probePath) + probeWindowJson(probeFile) +
                 ",\"gallery\":" + jsonString(galleryPath) + ",\"searched\":" + std::to_string(r.searched) +
                 ",\"skipped\":" + std::to_string(r.skipped) + ",\"search\":\"" + modeName(options.mode) +
                 "\",\"threshold\":" + std::to_string(threshold) + ",\"match\":" + (match ? "true" : "false") +
                 ",\"seconds\":" + jsonNumber(r.searchSeconds) + ",\"comparisonsPerSecond\":" + jsonNumber(rate) +
                 ",\"loadSeconds\":" + jsonNumber(r.loadSeconds) + ",\"results\":[" + results + "]}");
        return kExitOk;
    }
    printProbeWindow(probePath, probeFile);
    if (fromGallery) {
        std::printf("%-5s %7s %8s  %-6s %-10s %s\n", "rank", "score", "row", "finger", "impression", "subject");
        for (size_t i = 0; i < r.candidates.size(); ++i) {
            const Candidate& c = r.candidates[i];
            std::printf("%-5zu %7d %8lld  %-6d %-10d %s\n", i + 1, c.score, static_cast<long long>(c.id), c.finger,
                        c.impression, c.entry.c_str());
        }
    } else {
        std::printf("%-5s %7s  %s\n", "rank", "score", "gallery entry");
        for (size_t i = 0; i < r.candidates.size(); ++i) {
            std::printf("%-5zu %7d  %s\n", i + 1, r.candidates[i].score, r.candidates[i].entry.c_str());
        }
    }
    if (match) {
        std::printf("match: %s (score %d, threshold %d)\n", r.candidates[0].entry.c_str(), r.candidates[0].score,
                    threshold);
    } else {
        std::printf("no match (best score %d, threshold %d)\n", r.candidates.empty() ? 0 : r.candidates[0].score,
                    threshold);
    }
    const int threads = std::max(1, std::min(workerCount(), static_cast<int>(r.searched)));
    std::printf("searched %s (%s search) in %.3f s: %.0f comparisons/s on %s; gallery read in %.3f s\n",
                plural(r.searched, "entry", "entries").c_str(), modeName(options.mode), r.searchSeconds, rate,
                plural(static_cast<size_t>(threads), "thread", "threads").c_str(), r.loadSeconds);
    return kExitOk;
}

int runEnroll(const Args& args) {
    Options opt(args, {"--subject", "--finger", "--impression", "--dedup", "--batch", "--crop"},
                {"--allow-duplicates", "--quick"});
    if (opt.positional().size() < 2) throw UsageError("enroll needs a gallery and at least one image or template");
    const std::string galleryPath = opt.positional()[0];
    gallery::PrintInfo given;
    given.subject = opt.value("--subject");
    given.finger = static_cast<int32_t>(opt.integer("--finger", 0, 0, gallery::kMaxFinger));
    given.impression = static_cast<int32_t>(opt.integer("--impression", 0, 0, gallery::kMaxImpression));
    if (opt.has("--subject")) {
        const std::string problem = gallery::checkPrintInfo(given);
        if (!problem.empty()) throw UsageError("--subject: " + problem);
    }

    const std::vector<std::string> files =
        expandInputs(std::vector<std::string>(opt.positional().begin() + 1, opt.positional().end()));
    if (files.empty()) throw CliError("no files to enrol");
    std::vector<EnrolJob> jobs(files.size());
    for (size_t i = 0; i < files.size(); ++i) {
        EnrolJob& job = jobs[i];
        job.file = files[i];
        job.print.info = given;
        job.print.info.sourceName = files[i];
        std::string subject;
        int32_t impression = 0;
        const bool named = namedPrint(files[i], subject, impression);
        if (!opt.has("--subject")) {
            if (!named) {
                job.error = files[i] + ": not named SUBJECT_IMPRESSION (give --subject)";
                continue;
            }
            job.print.info.subject = subject;
        }
        if (!opt.has("--impression") && named) job.print.info.impression = impression;
        const std::string problem = gallery::checkPrintInfo(job.print.info);
        if (!problem.empty()) job.error = files[i] + ": " + problem;
    }
    return enrolAndReport("enroll", galleryPath, jobs, opt);
}

int runVerify(const Args& args) {
    Options opt(args, {"--subject", "--threshold", "--crop"}, {"--quick"});
    if (opt.positional().size() != 2) throw UsageError("verify needs a probe and a gallery file");
    if (!opt.has("--subject")) throw UsageError("verify needs --subject S");
    const std::string probePath = opt.positional()[0];
    const std::string galleryPath = opt.positional()[1];
    const std::string subject = opt.value("--subject");
    const int32_t threshold = thresholdOf(opt);
    const search::MatchMode mode = modeOf(opt);
    std::unique_ptr<Gallery> g = openGallery(galleryPath, gallery::OpenMode::ReadOnly, "verify");
    const ExtractionOutcome probeFile = readProbe(probePath, cropOption(opt));
    const std::vector<uint8_t>& probe = probeFile.featureTemplate;
    const gallery::VerifyResult r =
        galleryGuard([&] { return g->verify(probe.data(), probe.size(), subject, threshold, mode); });
    if (r.compared == 0) throw CliError(galleryPath + ": subject " + subject + " has no usable prints");
    if (json()) {
        emitJson(jsonHead("verify") + ",\"probe\":" + jsonString(probePath) + probeWindowJson(probeFile) +
                 ",\"gallery\":" + jsonString(galleryPath) + ",\"subject\":" + jsonString(subject) +
                 ",\"compared\":" + std::to_string(r.compared) + ",\"score\":" + std::to_string(r.bestScore) +
                 ",\"id\":" + std::to_string(r.bestId) + ",\"search\":\"" + modeName(mode) +
                 "\",\"threshold\":" + std::to_string(threshold) + ",\"match\":" + (r.accepted ? "true" : "false") +
                 "}");
    } else {
        printProbeWindow(probePath, probeFile);
        std::printf("subject %s: best score %d (row %lld, %zu print%s compared, %s search): %s at threshold %d\n",
                    subject.c_str(), r.bestScore, static_cast<long long>(r.bestId), r.compared,
                    r.compared == 1 ? "" : "s", modeName(mode), r.accepted ? "match" : "no match", threshold);
    }
    return kExitOk;
}

namespace {

int galleryList(const std::string& path, const Options& opt) {
    std::unique_ptr<Gallery> g = openGallery(path, gallery::OpenMode::ReadOnly, "gallery list");
    gallery::ListFilter filter;
    filter.subject = opt.value("--subject");
    filter.limit = static_cast<size_t>(opt.integer("--limit", 0, 0, std::numeric_limits<long>::max()));
    const std::vector<gallery::Entry> entries = galleryGuard([&] { return g->list(filter); });
    if (json()) {
        std::string items;
        for (size_t i = 0; i < entries.size(); ++i) {
            const gallery::Entry& e = entries[i];
            items += std::string(i ? "," : "") + "{\"id\":" + std::to_string(e.id) +
                     ",\"subject\":" + jsonString(e.info.subject) + ",\"finger\":" + std::to_string(e.info.finger) +
                     ",\"impression\":" + std::to_string(e.info.impression) +
                     ",\"minutiae\":" + std::to_string(e.minutiae) + ",\"quality\":" + std::to_string(e.quality) +
                     ",\"enrolled\":" + jsonString(utcTime(e.enrolledAt)) +
                     ",\"source\":" + jsonString(e.info.sourceName) +
                     ",\"imageSha256\":" + (e.info.imageSha256.empty() ? "null" : jsonString(e.info.imageSha256)) + "}";
        }
        emitJson(jsonHead("gallery", "list") + ",\"gallery\":" + jsonString(path) + ",\"entries\":[" + items + "]}");
        return kExitOk;
    }
    std::printf("%8s  %-6s %-10s %8s %7s  %-20s  %-16s %s\n", "row", "finger", "impression", "minutiae", "quality",
                "enrolled (UTC)", "subject", "source");
    for (const gallery::Entry& e : entries) {
        std::printf("%8lld  %-6d %-10d %8d %7d  %-20s  %-16s %s\n", static_cast<long long>(e.id), e.info.finger,
                    e.info.impression, e.minutiae, e.quality, utcTime(e.enrolledAt).c_str(), e.info.subject.c_str(),
                    e.info.sourceName.c_str());
    }
    return kExitOk;
}

int galleryStats(const std::string& path) {
    std::unique_ptr<Gallery> g = openGallery(path, gallery::OpenMode::ReadOnly, "gallery stats");
    const gallery::Stats s = galleryGuard([&] { return g->stats(); });
    const auto start = Clock::now();
    const size_t searchable = galleryGuard([&] { return g->load(); });
    const double loadSeconds = secondsSince(start);
    // The write-ahead log holds recent batches until SQLite copies them back.
    std::error_code ec, walError;
    const uintmax_t walBytes = fs::file_size(path + "-wal", walError);
    const uintmax_t fileBytes = fs::file_size(path, ec) + (walError ? 0 : walBytes);
    if (json()) {
        std::string byFinger;
        for (int f = 0; f <= gallery::kMaxFinger; ++f) byFinger += (f ? "," : "") + std::to_string(s.byFinger[f]);
        emitJson(jsonHead("gallery", "stats") + ",\"gallery\":" + jsonString(path) +
                 ",\"schemaVersion\":" + std::to_string(s.schemaVersion) + ",\"entries\":" + std::to_string(s.entries) +
                 ",\"subjects\":" + std::to_string(s.subjects) + ",\"fromImages\":" + std::to_string(s.fromImages) +
                 ",\"searchable\":" + std::to_string(searchable) + ",\"meanMinutiae\":" + jsonNumber(s.meanMinutiae) +
                 ",\"meanQuality\":" + jsonNumber(s.meanQuality) +
                 ",\"firstEnrolled\":" + (s.entries ? jsonString(utcTime(s.firstEnrolled)) : "null") +
                 ",\"lastEnrolled\":" + (s.entries ? jsonString(utcTime(s.lastEnrolled)) : "null") +
                 ",\"fileBytes\":" + std::to_string(ec ? 0 : fileBytes) + ",\"loadSeconds\":" + jsonNumber(loadSeconds) +
                 ",\"searchBytes\":" + std::to_string(g->templates().memoryBytes()) + ",\"byFinger\":[" + byFinger +
                 "]}");
        return kExitOk;
    }
    std::printf("%s: schema version %d, %s of %s (%zu from images)\n", path.c_str(), s.schemaVersion,
                plural(s.entries, "print", "prints").c_str(), plural(s.subjects, "subject", "subjects").c_str(),
                s.fromImages);
    std::printf("minutiae %.1f and quality %.1f on average\n", s.meanMinutiae, s.meanQuality);
    if (s.entries) {
        std::printf("enrolled from %s to %s\n", utcTime(s.firstEnrolled).c_str(), utcTime(s.lastEnrolled).c_str());
    }
    std::printf("by finger position:");
    for (int f = 0; f <= gallery::kMaxFinger; ++f) {
        if (s.byFinger[f]) std::printf(" %d: %zu", f, s.byFinger[f]);
    }
    std::printf("\nfile %.1f MB; %s loaded in %.3f s (%.1f MB in memory)\n", ec ? 0.0 : double(fileBytes) / 1e6,
                plural(searchable, "searchable print", "searchable prints").c_str(), loadSeconds,
                double(g->templates().memoryBytes()) / 1e6);
    return kExitOk;
}

int galleryRemove(const std::string& path, const Options& opt, const std::vector<std::string>& ids) {
    if (ids.empty() == !opt.has("--subject")) throw UsageError("gallery remove takes row ids or --subject S");
    std::vector<int64_t> rows;
    for (const std::string& text : ids) {
        char* end = nullptr;
        const long long id = std::strtoll(text.c_str(), &end, 10);
        if (text.empty() || *end != '\0' || id < 1) throw UsageError("\"" + text + "\" is not a row id");
        rows.push_back(id);
    }
    std::unique_ptr<Gallery> g = openGallery(path, gallery::OpenMode::ReadWrite, "gallery remove");
    size_t removed = 0;
    std::vector<int64_t> missing;
    if (opt.has("--subject")) {
        removed = galleryGuard([&] { return g->removeSubject(opt.value("--subject")); });
    } else {
        for (int64_t id : rows) {
            if (galleryGuard([&] { return g->remove(id); })) {
                ++removed;
            } else {
                missing.push_back(id);
            }
        }
    }
    std::string notFound;  // the rows asked for that are not there
    for (size_t i = 0; i < missing.size(); ++i) notFound += (i ? ", " : "") + std::to_string(missing[i]);
    notFound = path + (missing.size() == 1 ? ": no row " : ": no rows ") + notFound;
    // Nothing removed: just the error, as for a single failed item.
    if (removed == 0) {
        throw CliError(opt.has("--subject") ? path + ": subject " + opt.value("--subject") + " has no prints" : notFound);
    }
    if (json()) {
        std::string list;
        for (size_t i = 0; i < missing.size(); ++i) list += (i ? "," : "") + std::to_string(missing[i]);
        emitJson(jsonHead("gallery", "remove") + ",\"gallery\":" + jsonString(path) +
                 ",\"removed\":" + std::to_string(removed) + ",\"missing\":[" + list + "]}");
    } else {
        std::printf("removed %s from %s\n", plural(removed, "print", "prints").c_str(), path.c_str());
    }
    if (!missing.empty()) throw CliError(notFound);
    return kExitOk;
}

// Letters, digits, '-' and '.' stay; anything else becomes '-'.
std::string safeFileName(const std::string& text) {
    std::string out = text;
    for (char& c : out) {
        const bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.';
        if (!keep) c = '-';
    }
    if (out.empty() || out[0] == '.') out = "-" + out;
    return out;
}

std::string withoutControls(std::string text) {
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
    }
    return text;
}

int galleryExport(const std::string& path, const Options& opt, const std::vector<std::string>& rest) {
    if (rest.size() != 1) throw UsageError("gallery export needs a gallery and an output folder");
    const std::string dir = rest[0];
    std::unique_ptr<Gallery> g = openGallery(path, gallery::OpenMode::ReadOnly, "gallery export");
    gallery::ListFilter filter;
    filter.subject = opt.value("--subject");
    filter.withTemplates = true;
    const std::vector<gallery::Entry> entries = galleryGuard([&] { return g->list(filter); });
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (!fs::is_directory(dir, ec)) throw CliError(dir + ": cannot create folder");
    const std::string manifestPath = (fs::path(dir) / kManifestName).string();
    std::ofstream manifest(manifestPath, std::ios::binary | std::ios::trunc);
    if (!manifest) throw CliError(manifestPath + ": cannot write");
    manifest << "file\tsubject\tfinger\timpression\tquality\tsource\timage_sha256\n";
    std::set<std::string> used;
    for (const gallery::Entry& e : entries) {
        std::string name = safeFileName(e.info.subject) + "_" + std::to_string(e.info.impression);
        if (!used.insert(name).second) name += "-r" + std::to_string(e.id);
        used.insert(name);
        name += ".tpl";
        saveTemplate((fs::path(dir) / name).string(), e.featureTemplate);
        manifest << name << '\t' << e.info.subject << '\t' << e.info.finger << '\t' << e.info.impression << '\t'
                 << e.quality << '\t' << withoutControls(e.info.sourceName) << '\t' << e.info.imageSha256 << '\n';
    }
    manifest.close();
    if (!manifest) throw CliError(manifestPath + ": cannot write");
    if (json()) {
        emitJson(jsonHead("gallery", "export") + ",\"gallery\":" + jsonString(path) + ",\"folder\":" + jsonString(dir) +
                 ",\"exported\":" + std::to_string(entries.size()) + ",\"manifest\":" + jsonString(manifestPath) + "}");
    } else {
        std::printf("exported %s from %s to %s (metadata in %s)\n", plural(entries.size(), "template", "templates").c_str(),
                    path.c_str(), dir.c_str(), kManifestName);
    }
    return kExitOk;
}

std::vector<std::string> splitTabs(const std::string& line) {
    std::vector<std::string> fields;
    size_t from = 0;
    for (size_t tab; (tab = line.find('\t', from)) != std::string::npos; from = tab + 1) {
        fields.push_back(line.substr(from, tab - from));
    }
    fields.push_back(line.substr(from));
    return fields;
}

long manifestNumber(const std::string& text, long minimum, long maximum, const std::string& where) {
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || v < minimum || v > maximum) {
        throw CliError(where + ": \"" + text + "\" is not a number from " + std::to_string(minimum) + " to " +
                       std::to_string(maximum));
    }
    return v;
}

int galleryImport(const std::string& path, const Options& opt, const std::vector<std::string>& rest) {
    if (rest.size() != 1) throw UsageError("gallery import needs a gallery and a folder written by gallery export");
    const fs::path dir = rest[0];
    const std::string manifestPath = (dir / kManifestName).string();
    std::ifstream manifest(manifestPath, std::ios::binary);
    if (!manifest) throw CliError(manifestPath + ": cannot read (import takes a folder written by gallery export)");
    std::vector<EnrolJob> jobs;
    std::string line;
    std::getline(manifest, line);  // the header
    for (size_t lineNumber = 2; std::getline(manifest, line); ++lineNumber) {
        if (line.empty()) continue;
        const std::string where = manifestPath + ":" + std::to_string(lineNumber);
        const std::vector<std::string> f = splitTabs(line);
        if (f.size() != 7) throw CliError(where + ": expected 7 tab-separated fields");
        EnrolJob job;
        if (f[0].find('/') != std::string::npos || f[0].empty()) throw CliError(where + ": bad file name");
        job.file = (dir / f[0]).string();
        job.print.info.subject = f[1];
        job.print.info.finger = static_cast<int32_t>(manifestNumber(f[2], 0, gallery::kMaxFinger, where));
        job.print.info.impression = static_cast<int32_t>(manifestNumber(f[3], 0, gallery::kMaxImpression, where));
        const int32_t quality = static_cast<int32_t>(manifestNumber(f[4], -1, 100, where));
        job.print.info.sourceName = f[5];
        job.print.info.imageSha256 = f[6];
        const std::string problem = gallery::checkPrintInfo(job.print.info);
        if (!problem.empty()) throw CliError(where + ": " + problem);
        try {
            job.print.featureTemplate = loadTemplate(job.file);
            job.print.quality = quality;
        } catch (const CliError& e) {
            job.error = e.what();
        }
        jobs.push_back(std::move(job));
    }
    if (jobs.empty()) throw CliError(manifestPath + ": lists no templates");
    return enrolAndReport("gallery import", path, jobs, opt);
}

}  // namespace

int runGallery(const Args& args) {
    if (args.empty()) throw UsageError("gallery needs list, stats, remove, export or import");
    const std::string action = args[0];
    const Args rest(args.begin() + 1, args.end());
    if (action == "list" || action == "stats") {
        Options opt(rest, {"--subject", "--limit"}, {});
        if (opt.positional().size() != 1) throw UsageError("gallery " + action + " needs one gallery file");
        return action == "list" ? galleryList(opt.positional()[0], opt) : galleryStats(opt.positional()[0]);
    }
    if (action == "remove") {
        Options opt(rest, {"--subject"}, {});
        if (opt.positional().empty()) throw UsageError("gallery remove needs a gallery file");
        return galleryRemove(opt.positional()[0], opt, Args(opt.positional().begin() + 1, opt.positional().end()));
    }
    if (action == "export") {
        Options opt(rest, {"--subject"}, {});
        if (opt.positional().empty()) throw UsageError("gallery export needs a gallery file");
        return galleryExport(opt.positional()[0], opt, Args(opt.positional().begin() + 1, opt.positional().end()));
    }
    if (action == "import") {
        Options opt(rest, {"--dedup", "--batch"}, {"--allow-duplicates", "--quick"});
        if (opt.positional().empty()) throw UsageError("gallery import needs a gallery file");
        return galleryImport(opt.positional()[0], opt, Args(opt.positional().begin() + 1, opt.positional().end()));
    }
    throw UsageError("unknown gallery action \"" + action + "\" (list, stats, remove, export, import)");
}

std::string demoGallery(const std::string& folder, const std::vector<std::string>& prints) {
    // Fingers in file order; impression 1 of each is kept out as a probe,
    // and the last two fingers stay out of the gallery altogether.
    std::vector<std::string> fingers;
    std::map<std::string, std::string> firstImpression;
    std::vector<EnrolJob> jobs;
    for (const std::string& file : prints) {
        std::string subject;
        int32_t impression = 0;
        if (!namedPrint(file, subject, impression)) continue;
        if (firstImpression.count(subject) == 0 && impression == 1) fingers.push_back(subject);
        if (impression == 1) {
            firstImpression[subject] = file;
            continue;
        }
        EnrolJob job;
        job.file = file;
        job.print.info.subject = subject;
        job.print.info.impression = impression;
        job.print.info.sourceName = file;
        jobs.push_back(std::move(job));
    }
    if (fingers.size() < 3) return "";
    const std::set<std::string> leftOut(fingers.end() - 2, fingers.end());
    jobs.erase(std::remove_if(jobs.begin(), jobs.end(),
                              [&](const EnrolJob& j) { return leftOut.count(j.print.info.subject) != 0; }),
               jobs.end());

    const std::string path = (fs::path(folder) / "gallery.db").string();
    std::error_code ec;
    for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(path + suffix, ec);
    std::unique_ptr<Gallery> g = openGallery(path, gallery::OpenMode::ReadWrite, "demo");
    const EnrolSummary s = enrolJobs(*g, jobs, CropMode::None, {}, static_cast<size_t>(kDefaultBatch), [](const EnrolJob&) {});
    const size_t enrolledFingers = fingers.size() - leftOut.size();
    if (!json()) {
        std::printf("\ngallery: enrolled %zu prints of %zu fingers into %s (extraction %.2f s, database %.3f s)\n",
                    s.enrolled, enrolledFingers, path.c_str(), s.extractSeconds, s.databaseSeconds);
        std::printf("%-28s %-9s %-11s %6s  decision (threshold %d), rank of the true finger\n", "probe", "kind",
                    "best entry", "score", kDefaultDecisionThreshold);
    }

    std::vector<std::pair<std::string, bool>> probes;  // finger, mated
    for (size_t i = 0; i < std::min<size_t>(3, fingers.size() - 2); ++i) probes.emplace_back(fingers[i], true);
    for (const std::string& f : leftOut) probes.emplace_back(f, false);
    std::unique_ptr<Workspace> ws = newWorkspace();
    std::string probesJson;
    for (const auto& [finger, mated] : probes) {
        const std::string file = firstImpression[finger];
        std::vector<uint8_t> probe;
        try {
            probe = templateOfFile(*ws, file, CropMode::None);
        } catch (const CliError& e) {
            if (json()) {
                probesJson += std::string(probesJson.empty() ? "" : ",") + "{\"probe\":" + jsonString(file) +
                              ",\"mated\":" + (mated ? "true" : "false") + ",\"error\":" + jsonString(e.what()) + "}";
            } else {
                std::printf("%s\n", e.what());  // starts with the file name
            }
            continue;
        }
        gallery::IdentifyOptions options;
        options.topK = 10;
        const gallery::IdentifyResult r = galleryGuard([&] { return g->identify(probe.data(), probe.size(), options); });
        const int32_t best = r.hits.empty() ? 0 : r.hits[0].score;
        size_t rank = 0;  // of the true finger; 0 when not in the top 10
        for (size_t i = 0; i < r.hits.size() && rank == 0; ++i) {
            if (r.hits[i].subject == finger) rank = i + 1;
        }
        const bool match = best >= kDefaultDecisionThreshold;
        if (json()) {
            probesJson += std::string(probesJson.empty() ? "" : ",") + "{\"probe\":" + jsonString(file) +
                          ",\"mated\":" + (mated ? "true" : "false") +
                          ",\"best\":" + (r.hits.empty() ? "null" : jsonString(r.hits[0].subject)) +
                          ",\"score\":" + std::to_string(best) + ",\"match\":" + (match ? "true" : "false") +
                          ",\"rank\":" + (rank ? std::to_string(rank) : "null") + "}";
            continue;
        }
        const std::string rankText = rank ? "rank " + std::to_string(rank) : mated ? "not in the top 10" : "not enrolled";
        std::printf("%-28s %-9s %-11s %6d  %s, %s\n", fs::path(file).filename().string().c_str(),
                    mated ? "mated" : "non-mated", r.hits.empty() ? "-" : r.hits[0].subject.c_str(), best,
                    match ? ("match " + r.hits[0].subject).c_str() : "no match", rankText.c_str());
    }
    if (!json()) return "";
    return "{\"gallery\":" + jsonString(path) + ",\"enrolled\":" + std::to_string(s.enrolled) +
           ",\"fingers\":" + std::to_string(enrolledFingers) + ",\"extractionSeconds\":" + jsonNumber(s.extractSeconds) +
           ",\"databaseSeconds\":" + jsonNumber(s.databaseSeconds) +
           ",\"threshold\":" + std::to_string(kDefaultDecisionThreshold) + ",\"probes\":[" + probesJson + "]}";
}

}  // namespace orvane::cli
