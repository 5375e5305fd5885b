// A gallery of enrolled prints kept in one SQLite file: enrolment with its
// metadata, listing and removal, and 1:N identification and 1:1 verification
// through the in-memory search of search/search.h.
//
// One row per print; rows are never changed, only added or removed. The
// gallery order used by identification (and by every tool that shards a
// gallery) is ascending row id. Several processes may read a gallery while
// one writes it (WAL mode); a writer that is killed leaves only the batches
// it committed.
//
// A Gallery object is one database connection: use it from one thread at a
// time (open one object per thread). No SQLite type appears here, so the
// class can be wrapped for other languages as it is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "search/search.h"

namespace orvane::gallery {

// The schema version this code writes and reads (PRAGMA user_version).
constexpr int32_t kSchemaVersion = 1;
// Finger positions 0..10: 0 unknown, 1..10 the standard finger codes
// (right thumb .. right little, left thumb .. left little).
constexpr int32_t kMaxFinger = 10;
constexpr int32_t kMaxImpression = 1000000;
// Subjects are 1..255 bytes of UTF-8 without control characters.
constexpr std::size_t kMaxSubjectBytes = 255;

// A failure of the gallery as a whole (cannot open, not a gallery, newer
// schema, disk full, ...), one line. Nothing was changed by the failing call.
class GalleryError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class OpenMode {
    ReadWrite,  // creates the file and its schema when missing
    ReadOnly,   // never writes; also works on a file or folder that is not writable
};

// What the caller says about a print.
struct PrintInfo {
    std::string subject;      // the caller's identifier of the person
    int32_t finger = 0;       // 0..kMaxFinger
    int32_t impression = 0;   // 0 unknown, else 1..kMaxImpression
    std::string sourceName;   // file the print came from ("" when none)
    std::string imageSha256;  // lowercase hex SHA-256 of the image bytes ("" when enrolled from a template)
};

// One stored row.
struct Entry {
    int64_t id = 0;
    PrintInfo info;
    int32_t minutiae = 0;
    int32_t quality = -1;                  // 0..100, -1 when not measured
    int64_t enrolledAt = 0;                // seconds since 1970-01-01 UTC
    std::vector<uint8_t> featureTemplate;  // filled only where asked for
};

// A print to enrol from its template.
struct NewPrint {
    PrintInfo info;
    std::vector<uint8_t> featureTemplate;
    int32_t quality = -1;
};

struct EnrolOptions {
    // Refuse a print whose image (same SHA-256) is already in the gallery.
    bool allowDuplicates = false;
    // Identify each print first and refuse it when a different subject
    // scores dedupThreshold or more (0: no check).
    int32_t dedupThreshold = 0;
    search::MatchMode dedupMode = search::MatchMode::Full;
};

enum class EnrolStatus {
    Enrolled,
    Invalid,          // bad subject, finger, impression or template
    DuplicateImage,   // the same image bytes are enrolled already
    DuplicateFinger,  // dedup: another subject matches
};

struct EnrolOutcome {
    EnrolStatus status = EnrolStatus::Invalid;
    int64_t id = 0;       // the new row when enrolled
    std::string message;  // one line when not enrolled
    // Dedup and duplicate refusals: the row it collides with, and the score.
    int64_t matchedId = 0;
    std::string matchedSubject;
    int32_t matchedScore = 0;

    bool ok() const { return status == EnrolStatus::Enrolled; }
};

struct IdentifyOptions {
    std::size_t topK = 10;
    int32_t threshold = 0;  // hits score at least this
    search::MatchMode mode = search::MatchMode::Full;
    unsigned threads = 0;   // 0: one per core
};

struct Hit {
    int64_t id = 0;
    std::string subject;
    int32_t finger = 0;
    int32_t impression = 0;
    int32_t score = 0;
};

struct IdentifyResult {
    std::vector<Hit> hits;      // score descending, then row id ascending
    std::size_t searched = 0;   // entries in the search
    std::size_t scored = 0;     // entries given an exact score
    double loadSeconds = 0;     // reading the gallery into the search (0 when it was current)
    double searchSeconds = 0;
};

struct VerifyResult {
    std::size_t compared = 0;  // the subject's prints (damaged rows left out)
    int32_t bestScore = 0;
    int64_t bestId = 0;        // 0 when the subject has no prints
    bool accepted = false;     // bestScore >= threshold and compared > 0
};

struct Stats {
    std::size_t entries = 0;
    std::size_t subjects = 0;
    std::size_t fromImages = 0;  // rows with an image SHA-256
    std::size_t byFinger[kMaxFinger + 1] = {};
    double meanMinutiae = 0;
    double meanQuality = 0;      // over rows with a measured quality
    int64_t firstEnrolled = 0;
    int64_t lastEnrolled = 0;
    int32_t schemaVersion = kSchemaVersion;
};

struct ListFilter {
    std::string subject;          // "" for all
    bool withTemplates = false;
    std::size_t limit = 0;        // 0: no limit
};

// Rows whose stored data is damaged (written by another tool) and were left
// out of a load or a scan.
struct SkippedRow {
    int64_t id;
    std::string reason;
};

namespace detail {
struct GalleryState;
}

class Gallery {
public:
    // Throws GalleryError: not an SQLite file, an SQLite file that is not a
    // gallery, a newer schema version, a missing file in ReadOnly mode, ...
    explicit Gallery(const std::string& path, OpenMode mode = OpenMode::ReadWrite);
    ~Gallery();
    Gallery(Gallery&&) noexcept;
    Gallery& operator=(Gallery&&) noexcept;

    const std::string& path() const;
    bool readOnly() const;

    // Warnings (damaged rows skipped, ...) go here, one line each; by default
    // they are only kept in lastSkipped().
    void setWarningHandler(std::function<void(const std::string&)> handler);

    // Enrols a batch in one transaction: every print gets an outcome, in
    // order; refused prints leave the rest of the batch going. Throws
    // GalleryError when the database fails, and then nothing of the batch is
    // kept.
    std::vector<EnrolOutcome> enrol(const std::vector<NewPrint>& prints, const EnrolOptions& options = {});
    EnrolOutcome enrolTemplate(const PrintInfo& info, const uint8_t* featureTemplate, std::size_t length,
                               int32_t quality = -1, const EnrolOptions& options = {});
    // Extracts the template (and quality) of an 8-bit grey image, width *
    // height bytes, then enrols it. An extraction failure is an Invalid
    // outcome with the library's result code in its message.
    EnrolOutcome enrolImage(const PrintInfo& info, const uint8_t* pixels, int32_t width, int32_t height,
                            const EnrolOptions& options = {});

    // Returns whether the row existed.
    bool remove(int64_t id);
    // Returns the number of rows removed.
    std::size_t removeSubject(const std::string& subject);

    std::size_t count() const;
    Stats stats() const;
    std::vector<Entry> list(const ListFilter& filter = {}) const;
    // The row with its template; false when there is none or it is damaged.
    bool entry(int64_t id, Entry& out) const;
    // Whether an image with this SHA-256 (lowercase hex) is enrolled.
    bool containsImage(const std::string& sha256) const;

    // Every row with a valid template, ascending row id, from fromId on;
    // damaged rows are skipped (warning, lastSkipped()).
    void scan(const std::function<void(const Entry&)>& visit, int64_t fromId = 0) const;

    // The probe is a template of `length` bytes; throws GalleryError when it
    // is not a valid template. The search is loaded (or refreshed after
    // changes by any process) as needed.
    IdentifyResult identify(const uint8_t* probe, std::size_t length, const IdentifyOptions& options = {});
    IdentifyResult identify(const search::Probe& probe, const IdentifyOptions& options = {});
    VerifyResult verify(const uint8_t* probe, std::size_t length, const std::string& subject, int32_t threshold,
                        search::MatchMode mode = search::MatchMode::Full) const;

    // Loads the search now (identify does it when needed) and returns the
    // number of entries in it.
    std::size_t load();
    // The loaded search and its map from index to row id (valid until the
    // next call that changes or reloads the gallery).
    const search::TemplateSet& templates() const;
    const std::vector<int64_t>& rowIds() const;

    // Rows skipped by the last load or scan.
    const std::vector<SkippedRow>& lastSkipped() const;

private:
    std::unique_ptr<detail::GalleryState> state_;
};

// Checks metadata as enrolment does: "" when fine, else the reason.
std::string checkPrintInfo(const PrintInfo& info);

// Lowercase hex SHA-256 of size bytes.
std::string sha256Hex(const uint8_t* data, std::size_t size);

}  // namespace orvane::gallery
