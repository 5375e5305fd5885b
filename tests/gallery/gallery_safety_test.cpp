// The gallery under hostile files, damaged rows, read-only access, a killed
// writer and a reader running beside a writer.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "gallery_fixture.h"

namespace orvane::gallery {
namespace {

using test::freshPath;
using test::rawSql;
using test::syntheticPrints;

std::string openError(const std::string& path, OpenMode mode = OpenMode::ReadWrite) {
    try {
        Gallery g(path, mode);
    } catch (const GalleryError& e) {
        return e.what();
    }
    return "";
}

TEST(GallerySafety, RefusesFilesThatAreNotGalleriesWithoutChangingThem) {
    const std::string dir = orvane::test::tempDir();
    const std::string text = dir + "/notes.txt";
    const std::vector<uint8_t> words = {'n', 'o', 't', ' ', 'a', ' ', 'd', 'b', '\n'};
    std::vector<uint8_t> textBytes;
    for (int i = 0; i < 200; ++i) textBytes.insert(textBytes.end(), words.begin(), words.end());
    orvane::test::writeFile(text, textBytes);

    const std::string other = dir + "/other.sqlite";
    rawSql(other, "CREATE TABLE t(x); INSERT INTO t VALUES (1);");
    const std::vector<uint8_t> otherBytes = orvane::test::readFile(other);

    const std::string newer = dir + "/newer.gallery";
    { Gallery g(newer); }
    rawSql(newer, "PRAGMA user_version = " + std::to_string(kSchemaVersion + 1));

    const struct {
        std::string path;
        OpenMode mode;
        const char* expected;
    } cases[] = {
        {text, OpenMode::ReadWrite, "not an SQLite database"},
        {text, OpenMode::ReadOnly, "not an SQLite database"},
        {other, OpenMode::ReadWrite, "of another kind"},
        {newer, OpenMode::ReadWrite, "newer than this program's"},
        {newer, OpenMode::ReadOnly, "newer than this program's"},
        {dir + "/missing.gallery", OpenMode::ReadOnly, "no such gallery"},
        {dir, OpenMode::ReadWrite, "is a folder"},
    };
    for (const auto& c : cases) {
        const std::string error = openError(c.path, c.mode);
        EXPECT_NE(error.find(c.expected), std::string::npos) << c.path << ": " << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    }
    EXPECT_EQ(orvane::test::readFile(text), textBytes);
    EXPECT_EQ(orvane::test::readFile(other), otherBytes);
    struct stat st;
    EXPECT_NE(::stat((dir + "/missing.gallery").c_str(), &st), 0);
}

TEST(GallerySafety, SkipsDamagedRowsNamingThem) {
    const std::string path = freshPath("damaged.gallery");
    const std::vector<NewPrint> prints = syntheticPrints(8, 5);
    std::vector<int64_t> ids;
    {
        Gallery g(path);
        for (const EnrolOutcome& o : g.enrol(prints)) ids.push_back(o.id);
    }
    // Another tool damages three rows: a flipped check byte, a cut blob and
    // a minutia count that disagrees.
    auto hex = [](const std::vector<uint8_t>& bytes) {
        std::string out = "x'";
        for (uint8_t b : bytes) out += "0123456789abcdef"[b >> 4], out += "0123456789abcdef"[b & 15];
        return out + "'";
    };
    std::vector<uint8_t> flipped = prints[1].featureTemplate;
    flipped.back() ^= 0x5a;
    const std::vector<uint8_t> cut(prints[2].featureTemplate.begin(), prints[2].featureTemplate.begin() + 10);
    rawSql(path, "UPDATE prints SET template = " + hex(flipped) + " WHERE id = " + std::to_string(ids[1]) + ";" +
                     "UPDATE prints SET template = " + hex(cut) + " WHERE id = " + std::to_string(ids[2]) + ";" +
                     "UPDATE prints SET minutiae = 61 WHERE id = " + std::to_string(ids[3]) + ";");
    Gallery g(path);
    std::vector<std::string> warnings;
    g.setWarningHandler([&](const std::string& w) { warnings.push_back(w); });
    const IdentifyResult r = g.identify(prints[0].featureTemplate.data(), prints[0].featureTemplate.size());
    // The search checks the template bytes; the count column matters to listing.
    EXPECT_EQ(r.searched, prints.size() - 2);
    ASSERT_EQ(g.lastSkipped().size(), 2u);
    EXPECT_EQ(g.lastSkipped()[0].id, ids[1]);
    EXPECT_EQ(g.lastSkipped()[1].id, ids[2]);
    ASSERT_EQ(warnings.size(), 2u);
    EXPECT_NE(warnings[0].find("row " + std::to_string(ids[1])), std::string::npos) << warnings[0];
    for (const Hit& h : r.hits) EXPECT_NE(h.id, ids[1]);

    warnings.clear();
    EXPECT_EQ(g.list().size(), prints.size() - 3);
    EXPECT_EQ(warnings.size(), 3u);
    const VerifyResult v = g.verify(prints[1].featureTemplate.data(), prints[1].featureTemplate.size(), "s0", 0);
    EXPECT_EQ(v.compared, 1u);  // s0's rows 0..3: three damaged
    Entry e;
    EXPECT_FALSE(g.entry(ids[2], e));
    EXPECT_EQ(g.count(), prints.size());  // nothing was removed
}

TEST(GallerySafety, ReadOnlyGalleriesCanBeSearched) {
    const std::string top = orvane::test::tempDir();
    const std::string dir = top + "/readonly";
    ASSERT_EQ(::mkdir(dir.c_str(), 0755), 0);
    const std::string path = dir + "/g.gallery";
    const std::vector<NewPrint> prints = syntheticPrints(12, 9);
    { Gallery(path).enrol(prints); }

    {
        Gallery g(path, OpenMode::ReadOnly);
        EXPECT_TRUE(g.readOnly());
        EXPECT_EQ(g.identify(prints[4].featureTemplate.data(), prints[4].featureTemplate.size()).searched, 12u);
        EXPECT_THROW(g.enrol(prints), GalleryError);
        EXPECT_THROW(g.remove(1), GalleryError);
        EXPECT_EQ(g.count(), 12u);
    }

    // The file and its folder not writable (as an ordinary user: root would
    // write anyway): a child process drops its privileges and searches.
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    ASSERT_EQ(::chmod(dir.c_str(), 0555), 0);
    // The temporary folders above it must let the other user through.
    for (std::string up = top; up.size() > 5 && up.rfind('/') != std::string::npos; up.resize(up.rfind('/'))) {
        ::chmod(up.c_str(), 0755);
    }
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::getuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(3);
        try {
            Gallery g(path, OpenMode::ReadOnly);
            const IdentifyResult r = g.identify(prints[4].featureTemplate.data(), prints[4].featureTemplate.size());
            ::_exit(r.searched == 12 && !r.hits.empty() ? 0 : 1);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "read-only child: %s\n", e.what());
            ::_exit(2);
        }
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ::chmod(dir.c_str(), 0755);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
}

constexpr std::size_t kBatch = 25;

TEST(GallerySafety, KilledWriterLeavesOnlyWholeBatches) {
    const std::string path = freshPath("killed.gallery");
    { Gallery g(path); }
    const std::vector<NewPrint> batch = syntheticPrints(kBatch, 21);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        try {
            Gallery g(path);
            for (;;) g.enrol(batch);
        } catch (...) {
        }
        ::_exit(1);
    }
    // Kill it once it has committed a few batches and is inside another.
    Gallery reader(path, OpenMode::ReadOnly);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (reader.count() < 4 * kBatch && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_EQ(::kill(child, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the writer stopped by itself";

    Gallery g(path);
    const std::size_t rows = g.count();
    EXPECT_GE(rows, 4 * kBatch);
    EXPECT_EQ(rows % kBatch, 0u) << "a batch was kept in part";
    EXPECT_EQ(g.load(), rows);
    EXPECT_TRUE(g.lastSkipped().empty());
    EXPECT_EQ(g.list().size(), rows);
    // And it takes writes again.
    EXPECT_TRUE(g.enrol({batch[0]})[0].ok());
}

TEST(GallerySafety, ReaderRunsWhileAWriterEnrols) {
    const std::string path = freshPath("concurrent.gallery");
    { Gallery g(path); }
    const std::vector<NewPrint> batch = syntheticPrints(kBatch, 31);
    constexpr int kBatches = 30;
    std::atomic<bool> writing{true};
    std::string writerError;
    std::thread writer([&] {
        try {
            Gallery g(path);
            for (int i = 0; i < kBatches; ++i) g.enrol(batch);
        } catch (const std::exception& e) {
            writerError = e.what();
        }
        writing = false;
    });
    Gallery reader(path, OpenMode::ReadOnly);
    std::size_t searches = 0, lastSeen = 0;
    bool sawPartial = false, wentBack = false;
    while (writing || searches == 0) {
        const IdentifyResult r = reader.identify(batch[3].featureTemplate.data(), batch[3].featureTemplate.size(),
                                                 {5, 0, search::MatchMode::Full, 1});
        sawPartial = sawPartial || r.searched % kBatch != 0;
        wentBack = wentBack || r.searched < lastSeen;
        lastSeen = r.searched;
        ++searches;
    }
    writer.join();
    EXPECT_EQ(writerError, "");
    EXPECT_FALSE(sawPartial);
    EXPECT_FALSE(wentBack);
    EXPECT_EQ(reader.identify(batch[3].featureTemplate.data(), batch[3].featureTemplate.size()).searched,
              kBatch * kBatches);
    EXPECT_GT(searches, 1u);
}

}  // namespace
}  // namespace orvane::gallery
