// Shared pieces of the gallery tests: synthetic prints and a raw SQLite
// handle that plays another tool writing the file.
#pragma once

#include <sqlite3.h>

#include <string>
#include <vector>

#include "gallery/gallery.h"
#include "support/synthetic_gallery.h"
#include "support/test_support.h"

namespace orvane::gallery::test {

// count synthetic prints (4 impressions per subject), as enrolment input.
inline std::vector<NewPrint> syntheticPrints(std::size_t count, uint32_t seed, const std::string& prefix = "") {
    std::vector<NewPrint> out;
    for (auto& e : synthetic::syntheticGallery(count, seed)) {
        NewPrint p;
        p.info.subject = prefix + e.subject;
        p.info.impression = e.impression;
        p.info.finger = 2;
        p.featureTemplate = std::move(e.featureTemplate);
        p.quality = 50;
        out.push_back(std::move(p));
    }
    return out;
}

// Runs SQL on the file outside the Gallery class.
inline void rawSql(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    char* message = nullptr;
    const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message);
    const std::string text = message ? message : "";
    sqlite3_free(message);
    sqlite3_close(db);
    ASSERT_EQ(rc, SQLITE_OK) << text;
}

inline std::string freshPath(const std::string& name) { return orvane::test::tempDir() + "/" + name; }

}  // namespace orvane::gallery::test
