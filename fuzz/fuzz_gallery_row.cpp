// Hostile gallery rows, as another tool could write them: the input becomes
// the column values (of any SQLite type) of one row beside a sound one, and
// the gallery lists, loads, identifies and verifies over them.
#include <sqlite3.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "gallery/gallery.h"
#include "support/synthetic_gallery.h"

namespace {

using orvane::gallery::Gallery;

const std::vector<uint8_t>& soundTemplate() {
    static const std::vector<uint8_t> t = orvane::synthetic::syntheticGallery(1, 1)[0].featureTemplate;
    return t;
}

// The sound probe, prepared once: preparing it is the search's fixed cost,
// not the rows under test.
const orvane::search::Probe& soundProbe() {
    static const orvane::search::Probe probe = [] {
        orvane::search::Probe p;
        if (orvane::search::Probe::prepare(soundTemplate().data(), soundTemplate().size(), p) != 0) std::abort();
        return p;
    }();
    return probe;
}

// The gallery's file name for the exit handler, in storage that outlives the
// destructors of function statics (which run before handlers registered
// while those statics were being built).
char galleryFileAtExit[256];

void removeGalleryFiles() {
    for (const char* suffix : {"", "-wal", "-shm"}) {
        char name[sizeof galleryFileAtExit + 8];
        std::snprintf(name, sizeof name, "%s%s", galleryFileAtExit, suffix);
        std::remove(name);
    }
}

// A gallery with two sound rows, made once per process.
const std::string& galleryPath() {
    static const std::string path = [] {
        // SQLite needs a path of its own (and its -wal and -shm files): one per
        // process, in memory where the system offers it, removed at exit.
        const std::string folder = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        const std::string p = folder + "/orvane-fuzz-" + std::to_string(getpid()) + ".gallery";
        std::remove(p.c_str());
        std::snprintf(galleryFileAtExit, sizeof galleryFileAtExit, "%s", p.c_str());
        std::atexit(removeGalleryFiles);
        Gallery g(p);
        orvane::gallery::NewPrint print;
        print.info.subject = "s";
        print.featureTemplate = soundTemplate();
        g.enrol({print, print});
        return p;
    }();
    return path;
}

// The connection that writes the hostile row, as another tool would, open
// for the whole process: a connection per input cost a write-ahead log
// checkpoint and the log's removal each time the last one closed.
sqlite3_stmt* rowUpdate() {
    static sqlite3_stmt* const update = [] {
        sqlite3* db = nullptr;
        if (sqlite3_open(galleryPath().c_str(), &db) != SQLITE_OK) std::abort();
        // No flush to disk per input: durability is not what is tested here.
        sqlite3_exec(db, "PRAGMA ignore_check_constraints = ON; PRAGMA synchronous = OFF", nullptr, nullptr, nullptr);
        sqlite3_stmt* s = nullptr;
        if (sqlite3_prepare_v2(db,
                               "UPDATE prints SET subject = ?1, template = ?2, finger = ?3, impression = ?4,"
                               " minutiae = ?5, quality = ?6, enrolled_at = ?7 WHERE id = 1",
                               -1, &s, nullptr) != SQLITE_OK) {
            std::abort();
        }
        return s;
    }();
    return update;
}

struct Reader {
    const uint8_t* data;
    size_t size;
    uint8_t byte() { return size ? (--size, *data++) : 0; }
    int64_t integer() {
        uint64_t v = 0;
        for (int i = 0; i < 8; ++i) v = v << 8 | byte();
        return static_cast<int64_t>(v);
    }
};

// Binds bytes as text, blob, an integer or NULL, as the kind says.
void bindAs(sqlite3_stmt* s, int index, uint8_t kind, const uint8_t* bytes, size_t size, int64_t number) {
    switch (kind % 4) {
        case 0: sqlite3_bind_text(s, index, reinterpret_cast<const char*>(bytes), int(size), SQLITE_TRANSIENT); break;
        case 1: sqlite3_bind_blob(s, index, size ? bytes : reinterpret_cast<const uint8_t*>(""), int(size), SQLITE_TRANSIENT); break;
        case 2: sqlite3_bind_int64(s, index, number); break;
        default: sqlite3_bind_null(s, index); break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& path = galleryPath();
    Reader in{data, size};
    const uint8_t kinds = in.byte();    // column types: subject, template, finger
    const uint8_t numbers = in.byte();  // which integer columns hold text instead
    const uint8_t split = in.byte();
    int64_t values[5];
    for (int64_t& v : values) v = in.integer();
    const size_t subjectBytes = in.size * split / 256;
    const uint8_t* subject = in.data;
    const uint8_t* featureTemplate = in.data + subjectBytes;
    const size_t templateBytes = in.size - subjectBytes;

    sqlite3_stmt* s = rowUpdate();
    sqlite3_reset(s);
    sqlite3_clear_bindings(s);
    bindAs(s, 1, kinds, subject, subjectBytes, values[0]);
    bindAs(s, 2, kinds >> 2 ^ 1, featureTemplate, templateBytes, values[1]);
    for (int c = 0; c < 5; ++c) {
        const std::string text = std::to_string(values[c]) + "x";
        if (numbers >> c & 1) {
            sqlite3_bind_text(s, 3 + c, text.c_str(), -1, SQLITE_TRANSIENT);
        } else {
            sqlite3_bind_int64(s, 3 + c, values[c]);
        }
    }
    sqlite3_step(s);  // a refused value (NULL where the schema forbids it) leaves the row as it was
    sqlite3_reset(s);

    // A gallery opened afresh for each row, as a new process would see it.
    try {
        Gallery g(path, orvane::gallery::OpenMode::ReadOnly);
        g.list({"", true, 0});
        g.stats();
        orvane::gallery::Entry e;
        g.entry(1, e);
        orvane::gallery::IdentifyOptions oneThread;
        oneThread.threads = 1;
        g.identify(soundProbe(), oneThread);
        // The row's own subject, so verify decodes it (the sound row's
        // subject "s" would reach it only when the two are the same).
        const std::vector<uint8_t>& probe = soundTemplate();
        g.verify(probe.data(), probe.size(), std::string(reinterpret_cast<const char*>(subject), subjectBytes), 1);
    } catch (const orvane::gallery::GalleryError&) {
        // A refusal of the whole file is an answer too; crashes are not.
    }
    return 0;
}
