#include "gallery/gallery.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <limits>
#include <utility>

#include "formats/feature_template.h"
#include "gallery/row.h"
#include "interface/extraction.h"
#include "workspace/workspace.h"

namespace orvane::gallery {

namespace {

// Marks the file as a gallery of this program (PRAGMA application_id).
constexpr int32_t kApplicationId = 0x4f52474c;
// How long a writer or a reader waits for another process's lock.
constexpr int kBusyTimeoutMs = 30000;

const char* const kSchema =
    "CREATE TABLE prints ("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " subject TEXT NOT NULL,"
    " finger INTEGER NOT NULL CHECK (finger BETWEEN 0 AND 10),"
    " impression INTEGER NOT NULL CHECK (impression >= 0),"
    " template BLOB NOT NULL CHECK (typeof(template) = 'blob'),"
    " minutiae INTEGER NOT NULL,"
    " quality INTEGER NOT NULL,"
    " source TEXT NOT NULL DEFAULT '',"
    " image_sha256 TEXT,"
    " enrolled_at INTEGER NOT NULL);"
    "CREATE INDEX prints_by_subject ON prints (subject, finger);"
    "CREATE INDEX prints_by_image ON prints (image_sha256) WHERE image_sha256 IS NOT NULL;";

// Columns read by every row decoder, in this order.
const char* const kRowColumns =
    "id, subject, finger, impression, minutiae, quality, enrolled_at, template, source, image_sha256";

[[noreturn]] void fail(const std::string& path, const std::string& what) { throw GalleryError(path + ": " + what); }

class Statement {
public:
    Statement(sqlite3* db, const std::string& path, const std::string& sql) : db_(db), path_(path) {
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt_, nullptr) != SQLITE_OK) {
            const std::string message = sqlite3_errmsg(db);
            sqlite3_finalize(stmt_);
            fail(path, message);
        }
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    // Makes a statement that has been stepped ready for new values.
    Statement& reset() {
        sqlite3_reset(stmt_);
        sqlite3_clear_bindings(stmt_);
        return *this;
    }
    Statement& bind(int index, int64_t value) {
        check(sqlite3_bind_int64(stmt_, index, value));
        return *this;
    }
    Statement& bind(int index, const std::string& value) {
        check(sqlite3_bind_text(stmt_, index, value.data(), int(value.size()), SQLITE_TRANSIENT));
        return *this;
    }
    Statement& bindBlob(int index, const uint8_t* data, std::size_t size) {
        check(sqlite3_bind_blob(stmt_, index, data, int(size), SQLITE_TRANSIENT));
        return *this;
    }
    Statement& bindNull(int index) {
        check(sqlite3_bind_null(stmt_, index));
        return *this;
    }
    // True while there is a row.
    bool step() {
        const int rc = sqlite3_step(stmt_);
        if (rc == SQLITE_ROW) return true;
        if (rc == SQLITE_DONE) return false;
        fail(path_, sqlite3_errmsg(db_));
    }
    void run() {
        while (step()) {
        }
    }
    int64_t integer(int column) const { return sqlite3_column_int64(stmt_, column); }
    double real(int column) const { return sqlite3_column_double(stmt_, column); }
    int type(int column) const { return sqlite3_column_type(stmt_, column); }
    std::string_view text(int column) const {
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
        const int n = sqlite3_column_bytes(stmt_, column);
        return p ? std::string_view(p, std::size_t(n)) : std::string_view();
    }
    const uint8_t* blob(int column, std::size_t& size) const {
        const auto* p = static_cast<const uint8_t*>(sqlite3_column_blob(stmt_, column));
        size = std::size_t(sqlite3_column_bytes(stmt_, column));
        return p;
    }

private:
    void check(int rc) {
        if (rc != SQLITE_OK) fail(path_, sqlite3_errmsg(db_));
    }
    sqlite3* db_;
    const std::string& path_;
    sqlite3_stmt* stmt_ = nullptr;
};

// Reads the columns of kRowColumns (from column `first` on) as they are.
detail::StoredRow storedRow(const Statement& s) {
    detail::StoredRow row;
    row.id = s.integer(0);
    row.subjectIsText = s.type(1) == SQLITE_TEXT;
    row.subject = s.text(1);
    for (int c = 2; c <= 6; ++c) row.integersTyped = row.integersTyped && s.type(c) == SQLITE_INTEGER;
    row.finger = s.integer(2);
    row.impression = s.integer(3);
    row.minutiae = s.integer(4);
    row.quality = s.integer(5);
    row.enrolledAt = s.integer(6);
    row.templateIsBlob = s.type(7) == SQLITE_BLOB;
    row.featureTemplate = s.blob(7, row.templateBytes);
    row.sourceName = s.type(8) == SQLITE_TEXT ? s.text(8) : std::string_view();
    row.imageSha256 = s.type(9) == SQLITE_TEXT ? s.text(9) : std::string_view();
    return row;
}

bool isDirectory(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

}  // namespace

namespace detail {
struct GalleryState {
    std::string path;
    bool readOnly = false;
    sqlite3* db = nullptr;
    std::function<void(const std::string&)> warn;
    mutable std::vector<SkippedRow> skipped;

    // Changes made through this connection; other connections' commits show
    // in PRAGMA data_version.
    uint64_t changes = 0;
    bool inTransaction = false;

    // The loaded search: entry i is row ids[i]; rows up to maxLoadedId were
    // read (rowsSeen of them, damaged ones included).
    bool loaded = false;
    search::TemplateSet set;
    std::vector<int64_t> ids;
    int64_t maxLoadedId = 0;
    std::size_t rowsSeen = 0;
    int64_t loadedDataVersion = -1;
    uint64_t loadedChanges = 0;

    std::unique_ptr<Workspace> workspace;  // for enrolImage, made on first use

    ~GalleryState() {
        if (db) sqlite3_close_v2(db);
    }

    void exec(const char* sql) {
        char* message = nullptr;
        if (sqlite3_exec(db, sql, nullptr, nullptr, &message) != SQLITE_OK) {
            const std::string text = message ? message : sqlite3_errmsg(db);
            sqlite3_free(message);
            fail(path, text);
        }
    }

    int64_t single(const std::string& sql) {
        Statement s(db, path, sql);
        return s.step() ? s.integer(0) : 0;
    }

    void warnSkipped(int64_t id, const std::string& reason) const {
        skipped.push_back({id, reason});
        if (warn) warn("row " + std::to_string(id) + " skipped: " + reason);
    }

    void requireWritable() const {
        if (readOnly) fail(path, "the gallery is open read-only");
    }
};
}  // namespace detail

using State = detail::GalleryState;

namespace {

// A read or write transaction that rolls back unless committed. Nested use
// (a read inside an enrolment) joins the outer one.
class Transaction {
public:
    Transaction(State& state, bool write) : state_(state), owner_(!state.inTransaction) {
        if (!owner_) return;
        state_.exec(write ? "BEGIN IMMEDIATE" : "BEGIN");
        state_.inTransaction = true;
    }
    ~Transaction() {
        if (!owner_ || committed_) return;
        sqlite3_exec(state_.db, "ROLLBACK", nullptr, nullptr, nullptr);
        state_.inTransaction = false;
        state_.loaded = false;  // the search may hold rows that are gone
    }
    void commit() {
        if (!owner_) return;
        state_.exec("COMMIT");
        committed_ = true;
        state_.inTransaction = false;
    }

private:
    State& state_;
    bool owner_;
    bool committed_ = false;
};

}  // namespace

Gallery::Gallery(const std::string& path, OpenMode mode) : state_(std::make_unique<detail::GalleryState>()) {
    State& st = *state_;
    st.path = path;
    st.readOnly = mode == OpenMode::ReadOnly;
    if (path.empty()) throw GalleryError("the gallery's file name is empty");
    if (isDirectory(path)) fail(path, "is a folder, not a gallery file");
    const bool existed = exists(path);
    if (st.readOnly && !existed) fail(path, "no such gallery");

    const int flags = (st.readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) |
                      SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(path.c_str(), &st.db, flags, nullptr) != SQLITE_OK) {
        fail(path, st.db ? sqlite3_errmsg(st.db) : "cannot open");
    }
    sqlite3_extended_result_codes(st.db, 0);
    sqlite3_busy_timeout(st.db, kBusyTimeoutMs);

    // Read the header first: nothing is written to a file that is not a
    // gallery of this or an older version.
    int64_t version = 0;
    int64_t applicationId = 0;
    int64_t objects = 0;
    auto readHeader = [&]() {
        version = st.single("PRAGMA user_version");
        applicationId = st.single("PRAGMA application_id");
        objects = st.single("SELECT count(*) FROM sqlite_master");
    };
    try {
        readHeader();
    } catch (const GalleryError&) {
        const int code = sqlite3_errcode(st.db);
        if (code == SQLITE_NOTADB) fail(path, "not a gallery (not an SQLite database)");
        if (!st.readOnly || (code != SQLITE_CANTOPEN && code != SQLITE_READONLY)) throw;
        // A WAL database on a medium that cannot hold its shared-memory file:
        // read it as immutable (nobody can be writing it there), unless a log
        // holds rows that an immutable read would miss.
        struct stat wal;
        if (::stat((path + "-wal").c_str(), &wal) == 0 && wal.st_size > 0) {
            fail(path, "its write-ahead log cannot be read here (the folder must be writable)");
        }
        sqlite3_close_v2(st.db);
        st.db = nullptr;
        char* uri = sqlite3_mprintf("file:%q?immutable=1", path.c_str());
        const int rc = sqlite3_open_v2(uri, &st.db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX,
                                       nullptr);
        sqlite3_free(uri);
        if (rc != SQLITE_OK) fail(path, st.db ? sqlite3_errmsg(st.db) : "cannot open");
        readHeader();
    }

    if (version > kSchemaVersion) {
        fail(path, "gallery schema version " + std::to_string(version) + " is newer than this program's (" +
                       std::to_string(kSchemaVersion) + ")");
    }
    if (version == 0 && objects == 0 && applicationId == 0) {
        if (st.readOnly) fail(path, "not a gallery (an empty database)");
        // A new gallery. WAL is a property of the file; it must be set
        // outside a transaction.
        st.exec("PRAGMA journal_mode=WAL");
        Transaction create(st, true);
        if (st.single("PRAGMA user_version") == 0 && st.single("SELECT count(*) FROM sqlite_master") == 0) {
            st.exec(kSchema);
            st.exec(("PRAGMA application_id=" + std::to_string(kApplicationId)).c_str());
            st.exec(("PRAGMA user_version=" + std::to_string(kSchemaVersion)).c_str());
        }
        create.commit();
        version = st.single("PRAGMA user_version");
        applicationId = st.single("PRAGMA application_id");
    }
    if (applicationId != kApplicationId || version < 1) {
        fail(path, "not a gallery (an SQLite database of another kind)");
    }
    // Every statement this class uses must compile against the file's schema.
    Statement(st.db, path, std::string("SELECT ") + kRowColumns + " FROM prints LIMIT 0");
}

Gallery::~Gallery() = default;
Gallery::Gallery(Gallery&&) noexcept = default;
Gallery& Gallery::operator=(Gallery&&) noexcept = default;

const std::string& Gallery::path() const { return state_->path; }
bool Gallery::readOnly() const { return state_->readOnly; }

void Gallery::setWarningHandler(std::function<void(const std::string&)> handler) { state_->warn = std::move(handler); }

const std::vector<SkippedRow>& Gallery::lastSkipped() const { return state_->skipped; }

namespace {

// Loads rows with id > state.maxLoadedId into the search (all rows when
// the search is empty). Runs inside a transaction.
void appendRows(State& st) {
    Statement s(st.db, st.path, "SELECT id, template FROM prints WHERE id > ?1 ORDER BY id");
    s.bind(1, st.maxLoadedId);
    while (s.step()) {
        const int64_t id = s.integer(0);
        std::size_t size = 0;
        const uint8_t* bytes = s.blob(1, size);
        ++st.rowsSeen;
        st.maxLoadedId = id;
        std::string problem =
            s.type(1) == SQLITE_BLOB ? detail::templateProblem(bytes, size) : "the template is not a blob";
        // The set checks the template again and gives its own reason.
        if (problem.empty() && st.set.add(bytes, size, &problem)) {
            st.ids.push_back(id);
        } else {
            st.warnSkipped(id, problem);
        }
    }
}

int64_t dataVersion(State& st) { return st.single("PRAGMA data_version"); }

// Brings the search up to date with the file: rows added since the last
// load are appended; any removal reloads everything.
void refresh(State& st) {
    const int64_t version = dataVersion(st);
    if (st.loaded && version == st.loadedDataVersion && st.changes == st.loadedChanges) return;
    Transaction read(st, false);
    bool appendOnly = st.loaded;
    if (appendOnly) {
        Statement s(st.db, st.path, "SELECT count(*) FROM prints WHERE id <= ?1");
        s.bind(1, st.maxLoadedId);
        appendOnly = s.step() && std::size_t(s.integer(0)) == st.rowsSeen;
    }
    st.skipped.clear();
    if (!appendOnly) {
        st.loaded = false;
        st.set = search::TemplateSet();
        st.ids.clear();
        st.maxLoadedId = 0;
        st.rowsSeen = 0;
        const std::size_t expected = std::size_t(st.single("SELECT count(*) FROM prints"));
        st.set.reserve(expected);
        st.ids.reserve(expected);
    }
    appendRows(st);
    read.commit();
    st.loaded = true;
    st.loadedDataVersion = version;
    st.loadedChanges = st.changes;
}

// The subject, finger and impression of a row ("" and 0 when it is gone).
Hit hitOf(Statement& lookup, int64_t id, int32_t score) {
    Hit h;
    h.id = id;
    h.score = score;
    lookup.reset().bind(1, id);
    if (lookup.step()) {
        h.subject = std::string(lookup.text(0));
        h.finger = int32_t(lookup.integer(1));
        h.impression = int32_t(lookup.integer(2));
    }
    return h;
}

}  // namespace

std::size_t Gallery::load() {
    refresh(*state_);
    return state_->set.size();
}

const search::TemplateSet& Gallery::templates() const { return state_->set; }
const std::vector<int64_t>& Gallery::rowIds() const { return state_->ids; }

IdentifyResult Gallery::identify(const uint8_t* probe, std::size_t length, const IdentifyOptions& options) {
    search::Probe prepared;
    if (probe == nullptr || !detail::templateProblem(probe, length).empty() ||
        search::Probe::prepare(probe, length, prepared) != 0) {
        fail(state_->path, "the probe is not a valid template");
    }
    return identify(prepared, options);
}

IdentifyResult Gallery::identify(const search::Probe& probe, const IdentifyOptions& options) {
    State& st = *state_;
    IdentifyResult result;
    const auto loadStart = std::chrono::steady_clock::now();
    const bool wasCurrent = st.loaded && dataVersion(st) == st.loadedDataVersion && st.changes == st.loadedChanges;
    refresh(st);
    const auto searchStart = std::chrono::steady_clock::now();
    if (!wasCurrent) result.loadSeconds = std::chrono::duration<double>(searchStart - loadStart).count();

    search::SearchOptions so;
    so.topK = options.topK;
    so.threshold = options.threshold;
    so.mode = options.mode;
    so.threads = options.threads;
    search::SearchStats stats;
    const std::vector<search::Hit> hits = search::search(st.set, probe, so, &stats);
    result.searchSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - searchStart).count();
    result.searched = stats.entries;
    result.scored = stats.scored;

    result.hits.reserve(hits.size());
    Statement lookup(st.db, st.path, "SELECT subject, finger, impression FROM prints WHERE id = ?1");
    for (const search::Hit& h : hits) result.hits.push_back(hitOf(lookup, st.ids[h.index], h.score));
    return result;
}

VerifyResult Gallery::verify(const uint8_t* probe, std::size_t length, const std::string& subject, int32_t threshold,
                             search::MatchMode mode) const {
    State& st = *state_;
    search::Probe prepared;
    if (probe == nullptr || !detail::templateProblem(probe, length).empty() ||
        search::Probe::prepare(probe, length, prepared) != 0) {
        fail(st.path, "the probe is not a valid template");
    }
    VerifyResult result;
    st.skipped.clear();
    Statement s(st.db, st.path, std::string("SELECT ") + kRowColumns + " FROM prints WHERE subject = ?1 ORDER BY id");
    s.bind(1, subject);
    while (s.step()) {
        Entry e;
        const detail::StoredRow row = storedRow(s);
        const std::string problem = detail::decodeRow(row, false, e);
        if (!problem.empty()) {
            st.warnSkipped(row.id, problem);
            continue;
        }
        int32_t score = 0;
        if (search::matchTemplate(prepared, row.featureTemplate, row.templateBytes, mode, &score) != 0) {
            st.warnSkipped(row.id, "the template does not unpack");
            continue;
        }
        if (result.compared == 0 || score > result.bestScore) {
            result.bestScore = score;
            result.bestId = row.id;
        }
        ++result.compared;
    }
    result.accepted = result.compared > 0 && result.bestScore >= threshold;
    return result;
}

std::vector<EnrolOutcome> Gallery::enrol(const std::vector<NewPrint>& prints, const EnrolOptions& options) {
    State& st = *state_;
    st.requireWritable();
    std::vector<EnrolOutcome> outcomes(prints.size());
    if (prints.empty()) return outcomes;

    Transaction write(st, true);
    const bool dedup = options.dedupThreshold > 0;
    if (dedup) refresh(st);
    Statement insert(st.db, st.path,
                     "INSERT INTO prints (subject, finger, impression, template, minutiae, quality, source,"
                     " image_sha256, enrolled_at) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)");
    const int64_t now = int64_t(std::time(nullptr));
    for (std::size_t i = 0; i < prints.size(); ++i) {
        const NewPrint& p = prints[i];
        EnrolOutcome& out = outcomes[i];
        out.status = EnrolStatus::Invalid;
        out.message = checkPrintInfo(p.info);
        if (out.message.empty()) out.message = detail::templateProblem(p.featureTemplate.data(), p.featureTemplate.size());
        if (out.message.empty() && (p.quality < -1 || p.quality > 100)) {
            out.message = "quality " + std::to_string(p.quality) + " is outside -1..100";
        }
        if (!out.message.empty()) continue;

        if (!options.allowDuplicates && !p.info.imageSha256.empty()) {
            Statement same(st.db, st.path, "SELECT id, subject FROM prints WHERE image_sha256 = ?1 ORDER BY id LIMIT 1");
            same.bind(1, p.info.imageSha256);
            if (same.step()) {
                out.status = EnrolStatus::DuplicateImage;
                out.matchedId = same.integer(0);
                out.matchedSubject = std::string(same.text(1));
                out.message = "the same image is enrolled already (row " + std::to_string(out.matchedId) +
                              ", subject " + out.matchedSubject + ")";
                continue;
            }
        }
        if (dedup) {
            search::Probe probe;
            if (search::Probe::prepare(p.featureTemplate.data(), p.featureTemplate.size(), probe) != 0) {
                out.message = "the template does not unpack";
                continue;
            }
            search::SearchOptions so;
            so.topK = st.set.size();
            so.threshold = options.dedupThreshold;
            so.mode = options.dedupMode;
            Statement lookup(st.db, st.path, "SELECT subject FROM prints WHERE id = ?1");
            bool refused = false;
            for (const search::Hit& h : search::search(st.set, probe, so)) {
                lookup.reset().bind(1, st.ids[h.index]);
                const std::string subject = lookup.step() ? std::string(lookup.text(0)) : std::string();
                if (subject != p.info.subject) {
                    out.status = EnrolStatus::DuplicateFinger;
                    out.matchedId = st.ids[h.index];
                    out.matchedSubject = subject;
                    out.matchedScore = h.score;
                    out.message = "matches subject " + subject + " (row " + std::to_string(out.matchedId) +
                                  ", score " + std::to_string(h.score) + ")";
                    refused = true;
                    break;
                }
            }
            if (refused) continue;
        }

        insert.reset()
            .bind(1, p.info.subject)
            .bind(2, int64_t(p.info.finger))
            .bind(3, int64_t(p.info.impression))
            .bindBlob(4, p.featureTemplate.data(), p.featureTemplate.size())
            .bind(5, int64_t((p.featureTemplate.size() - 4) / 7))
            .bind(6, int64_t(p.quality))
            .bind(7, p.info.sourceName)
            .bind(9, now);
        if (p.info.imageSha256.empty()) {
            insert.bindNull(8);
        } else {
            insert.bind(8, p.info.imageSha256);
        }
        insert.run();
        out.id = sqlite3_last_insert_rowid(st.db);
        out.status = EnrolStatus::Enrolled;
        out.message.clear();
        ++st.changes;
        if (dedup) {
            // Later prints of the batch are compared with this one too.
            std::string problem;
            if (st.set.add(p.featureTemplate.data(), p.featureTemplate.size(), &problem)) st.ids.push_back(out.id);
            st.maxLoadedId = out.id;
            ++st.rowsSeen;
            st.loadedChanges = st.changes;
        }
    }
    write.commit();
    return outcomes;
}

EnrolOutcome Gallery::enrolTemplate(const PrintInfo& info, const uint8_t* featureTemplate, std::size_t length,
                                    int32_t quality, const EnrolOptions& options) {
    NewPrint p;
    p.info = info;
    p.quality = quality;
    if (featureTemplate == nullptr) {
        EnrolOutcome out;
        out.message = "the template is missing";
        return out;
    }
    p.featureTemplate.assign(featureTemplate, featureTemplate + length);
    return enrol({p}, options).front();
}

EnrolOutcome Gallery::enrolImage(const PrintInfo& info, const uint8_t* pixels, int32_t width, int32_t height,
                                 const EnrolOptions& options) {
    State& st = *state_;
    st.requireWritable();
    EnrolOutcome out;
    out.message = checkPrintInfo(info);
    if (!out.message.empty()) return out;
    if (!st.workspace) st.workspace = std::make_unique<Workspace>();
    uint8_t featureTemplate[kMaxTemplateBytes] = {};
    int32_t length = 0;
    const int32_t code = extractTemplate(*st.workspace, pixels, width, height, featureTemplate, &length, nullptr);
    if (code != 0) {
        out.message = "extraction failed (result " + std::to_string(code) + ")";
        return out;
    }
    int32_t quality = -1;
    if (measureQuality(*st.workspace, pixels, width, height, &quality) != 0) quality = -1;
    return enrolTemplate(info, featureTemplate, std::size_t(length), quality, options);
}

bool Gallery::remove(int64_t id) {
    State& st = *state_;
    st.requireWritable();
    Statement s(st.db, st.path, "DELETE FROM prints WHERE id = ?1");
    s.bind(1, id).run();
    const bool removed = sqlite3_changes(st.db) > 0;
    if (removed) ++st.changes;
    return removed;
}

std::size_t Gallery::removeSubject(const std::string& subject) {
    State& st = *state_;
    st.requireWritable();
    Statement s(st.db, st.path, "DELETE FROM prints WHERE subject = ?1");
    s.bind(1, subject).run();
    const std::size_t removed = std::size_t(sqlite3_changes(st.db));
    if (removed) ++st.changes;
    return removed;
}

std::size_t Gallery::count() const { return std::size_t(state_->single("SELECT count(*) FROM prints")); }

Stats Gallery::stats() const {
    State& st = *state_;
    Stats out;
    Transaction read(st, false);
    Statement s(st.db, st.path,
                "SELECT count(*), count(DISTINCT subject), count(image_sha256), ifnull(avg(minutiae), 0),"
                " ifnull(min(enrolled_at), 0), ifnull(max(enrolled_at), 0),"
                " ifnull((SELECT avg(quality) FROM prints WHERE quality >= 0), 0) FROM prints");
    if (s.step()) {
        out.entries = std::size_t(s.integer(0));
        out.subjects = std::size_t(s.integer(1));
        out.fromImages = std::size_t(s.integer(2));
        out.meanMinutiae = s.real(3);
        out.firstEnrolled = s.integer(4);
        out.lastEnrolled = s.integer(5);
        out.meanQuality = s.real(6);
    }
    Statement fingers(st.db, st.path, "SELECT finger, count(*) FROM prints GROUP BY finger");
    while (fingers.step()) {
        const int64_t f = fingers.integer(0);
        if (f >= 0 && f <= kMaxFinger) out.byFinger[f] = std::size_t(fingers.integer(1));
    }
    out.schemaVersion = int32_t(st.single("PRAGMA user_version"));
    read.commit();
    return out;
}

std::vector<Entry> Gallery::list(const ListFilter& filter) const {
    State& st = *state_;
    st.skipped.clear();
    std::string sql = std::string("SELECT ") + kRowColumns + " FROM prints";
    if (!filter.subject.empty()) sql += " WHERE subject = ?1";
    sql += " ORDER BY id";
    if (filter.limit) sql += " LIMIT " + std::to_string(filter.limit);
    Statement s(st.db, st.path, sql);
    if (!filter.subject.empty()) s.bind(1, filter.subject);
    std::vector<Entry> out;
    while (s.step()) {
        Entry e;
        const detail::StoredRow row = storedRow(s);
        const std::string problem = detail::decodeRow(row, filter.withTemplates, e);
        if (problem.empty()) {
            out.push_back(std::move(e));
        } else {
            st.warnSkipped(row.id, problem);
        }
    }
    return out;
}

bool Gallery::entry(int64_t id, Entry& out) const {
    State& st = *state_;
    Statement s(st.db, st.path, std::string("SELECT ") + kRowColumns + " FROM prints WHERE id = ?1");
    s.bind(1, id);
    if (!s.step()) return false;
    const detail::StoredRow row = storedRow(s);
    const std::string problem = detail::decodeRow(row, true, out);
    if (problem.empty()) return true;
    st.warnSkipped(row.id, problem);
    return false;
}

bool Gallery::containsImage(const std::string& sha256) const {
    State& st = *state_;
    Statement s(st.db, st.path, "SELECT 1 FROM prints WHERE image_sha256 = ?1 LIMIT 1");
    s.bind(1, sha256);
    return s.step();
}

void Gallery::scan(const std::function<void(const Entry&)>& visit, int64_t fromId) const {
    State& st = *state_;
    st.skipped.clear();
    Statement s(st.db, st.path, std::string("SELECT ") + kRowColumns + " FROM prints WHERE id >= ?1 ORDER BY id");
    s.bind(1, fromId);
    Entry e;
    while (s.step()) {
        const detail::StoredRow row = storedRow(s);
        const std::string problem = detail::decodeRow(row, true, e);
        if (problem.empty()) {
            visit(e);
        } else {
            st.warnSkipped(row.id, problem);
        }
    }
}

}  // namespace orvane::gallery
