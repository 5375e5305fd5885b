// The gallery store: enrolment, listing, removal, identification and
// verification, checked against the search run on the same templates.
#include <gtest/gtest.h>

#include <algorithm>

#include "gallery_fixture.h"
#include "formats/bitmap.h"
#include "workspace/workspace.h"

namespace orvane::gallery {
namespace {

using test::freshPath;
using test::rawSql;
using test::syntheticPrints;

TEST(Sha256, StandardVectorsAndBlockEdges) {
    const std::string abc = "abc";
    const std::string twoBlocks = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    EXPECT_EQ(sha256Hex(nullptr, 0), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(sha256Hex(reinterpret_cast<const uint8_t*>(abc.data()), abc.size()),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(sha256Hex(reinterpret_cast<const uint8_t*>(twoBlocks.data()), twoBlocks.size()),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    const std::vector<uint8_t> million(1000000, 'a');
    EXPECT_EQ(sha256Hex(million.data(), million.size()),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    // Lengths around the padding edges.
    const struct {
        std::size_t size;
        const char* digest;
    } edges[] = {
        {55, "e7313d333c272e639f790978283f9eb392e843d0f29b7016828bb1daa4aac70b"},
        {56, "4324d65f3c103567f5589c710bc08f8523f929a9272e3af36fc968e52abc6c27"},
        {63, "81c80242132f230c3bd41b3e63bbcff16107339549214a99614ff26664625055"},
        {64, "39e3d7b6b5d075d37d053ad89b24b41bef4f3c29760c84447cab3f3be1882241"},
        {65, "aacca6ff74fdbb296d165a45cecfa04e5127bc008770fbbdd48006f2d2fae95e"},
        {119, "9ce7368e4daf32341631b492e80359dc9f594b48453cd0dd5bf0b19279cc177e"},
        {120, "7836b787757e95e58b3ca5aec90b1b004e8deba1e50e9675af9cabf1a13a04b5"},
    };
    for (const auto& e : edges) {
        std::vector<uint8_t> bytes(e.size);
        for (std::size_t i = 0; i < e.size; ++i) bytes[i] = uint8_t(i * 7 + 3);
        EXPECT_EQ(sha256Hex(bytes.data(), bytes.size()), e.digest) << e.size << " bytes";
    }
}

// The gallery's identification equals the search over its templates in row
// order, with indices mapped to row ids.
void expectSameAsSearch(Gallery& g, const std::vector<NewPrint>& prints, const std::vector<int64_t>& ids,
                        const std::vector<uint8_t>& probeTemplate, const IdentifyOptions& options) {
    search::TemplateSet set;
    for (const NewPrint& p : prints) ASSERT_TRUE(set.add(p.featureTemplate.data(), p.featureTemplate.size()));
    search::Probe probe;
    ASSERT_EQ(search::Probe::prepare(probeTemplate.data(), probeTemplate.size(), probe), 0);
    search::SearchOptions so;
    so.topK = options.topK;
    so.threshold = options.threshold;
    so.mode = options.mode;
    const std::vector<search::Hit> expected = search::search(set, probe, so);
    const IdentifyResult got = g.identify(probeTemplate.data(), probeTemplate.size(), options);
    ASSERT_EQ(got.hits.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(got.hits[i].id, ids[expected[i].index]) << "rank " << i;
        EXPECT_EQ(got.hits[i].score, expected[i].score) << "rank " << i;
        EXPECT_EQ(got.hits[i].subject, prints[expected[i].index].info.subject);
        EXPECT_EQ(got.hits[i].impression, prints[expected[i].index].info.impression);
    }
    EXPECT_EQ(got.searched, prints.size());
}

TEST(Gallery, EnrolListIdentifyVerifyRemoveAndReopen) {
    const std::string path = freshPath("round_trip.gallery");
    const std::vector<NewPrint> prints = syntheticPrints(40, 7);
    std::vector<int64_t> ids;
    {
        Gallery g(path);
        EXPECT_EQ(g.count(), 0u);
        for (const EnrolOutcome& o : g.enrol(prints)) {
            ASSERT_TRUE(o.ok()) << o.message;
            ids.push_back(o.id);
        }
        EXPECT_TRUE(std::is_sorted(ids.begin(), ids.end()));
    }
    Gallery g(path);  // everything survives a reopen
    ASSERT_EQ(g.count(), prints.size());
    const std::vector<Entry> listed = g.list({"", true, 0});
    ASSERT_EQ(listed.size(), prints.size());
    for (std::size_t i = 0; i < listed.size(); ++i) {
        EXPECT_EQ(listed[i].id, ids[i]);
        EXPECT_EQ(listed[i].info.subject, prints[i].info.subject);
        EXPECT_EQ(listed[i].featureTemplate, prints[i].featureTemplate);
        EXPECT_EQ(listed[i].minutiae, int32_t((prints[i].featureTemplate.size() - 4) / 7));
        EXPECT_EQ(listed[i].quality, 50);
        EXPECT_GT(listed[i].enrolledAt, 0);
    }
    EXPECT_EQ(g.list({"s3", false, 0}).size(), 4u);
    const Stats stats = g.stats();
    EXPECT_EQ(stats.entries, 40u);
    EXPECT_EQ(stats.subjects, 10u);
    EXPECT_EQ(stats.byFinger[2], 40u);
    EXPECT_DOUBLE_EQ(stats.meanQuality, 50);

    // Identification: every threshold and K case against the plain search.
    const std::vector<uint8_t>& mated = prints[5].featureTemplate;
    const std::vector<uint8_t> nonMated = syntheticPrints(1, 99)[0].featureTemplate;
    for (const auto& probe : {mated, nonMated}) {
        for (std::size_t k : {std::size_t(1), std::size_t(3), std::size_t(100)}) {
            for (int32_t threshold : {0, 1, 40}) {
                expectSameAsSearch(g, prints, ids, probe, {k, threshold, search::MatchMode::Full, 0});
            }
        }
        expectSameAsSearch(g, prints, ids, probe, {10, 0, search::MatchMode::Quick, 1});
    }
    EXPECT_EQ(g.rowIds(), ids);

    // Verification: the best of the subject's prints.
    const VerifyResult v = g.verify(mated.data(), mated.size(), prints[5].info.subject, 40);
    EXPECT_EQ(v.compared, 4u);
    EXPECT_EQ(v.bestId, ids[5]);
    EXPECT_TRUE(v.accepted);
    const VerifyResult stranger = g.verify(nonMated.data(), nonMated.size(), prints[5].info.subject, 40);
    EXPECT_FALSE(stranger.accepted);
    const VerifyResult nobody = g.verify(mated.data(), mated.size(), "nobody", 0);
    EXPECT_EQ(nobody.compared, 0u);
    EXPECT_FALSE(nobody.accepted);

    // Removal shows in the next identification (the search reloads).
    EXPECT_TRUE(g.remove(ids[5]));
    EXPECT_FALSE(g.remove(ids[5]));
    EXPECT_EQ(g.removeSubject(prints[0].info.subject), 4u);
    std::vector<NewPrint> kept;
    std::vector<int64_t> keptIds;
    for (std::size_t i = 0; i < prints.size(); ++i) {
        if (i != 5 && prints[i].info.subject != prints[0].info.subject) {
            kept.push_back(prints[i]);
            keptIds.push_back(ids[i]);
        }
    }
    expectSameAsSearch(g, kept, keptIds, mated, {10, 0, search::MatchMode::Full, 0});

    // Rows added by another connection are appended to the loaded search.
    const std::vector<NewPrint> more = syntheticPrints(6, 8, "late");
    {
        Gallery writer(path);
        const std::vector<EnrolOutcome> added = writer.enrol(more);
        for (std::size_t i = 0; i < more.size(); ++i) {
            kept.push_back(more[i]);
            keptIds.push_back(added[i].id);
        }
    }
    expectSameAsSearch(g, kept, keptIds, more[2].featureTemplate, {10, 0, search::MatchMode::Full, 0});
}

TEST(Gallery, RefusesBadPrintsAndLeavesTheRestOfTheBatch) {
    const std::string path = freshPath("bad_prints.gallery");
    Gallery g(path);
    const NewPrint good = syntheticPrints(1, 3)[0];
    auto with = [&](auto change) {
        NewPrint p = good;
        change(p);
        return p;
    };
    std::vector<uint8_t> badCheck = good.featureTemplate;
    badCheck.back() ^= 1;
    std::vector<uint8_t> shortened = good.featureTemplate;
    shortened.pop_back();
    const std::vector<NewPrint> batch = {
        with([](NewPrint& p) { p.info.subject = ""; }),
        with([](NewPrint& p) { p.info.subject = std::string(kMaxSubjectBytes + 1, 'x'); }),
        with([](NewPrint& p) { p.info.subject = "tab\there"; }),
        with([](NewPrint& p) { p.info.finger = -1; }),
        with([](NewPrint& p) { p.info.finger = kMaxFinger + 1; }),
        with([](NewPrint& p) { p.info.impression = -1; }),
        with([](NewPrint& p) { p.info.imageSha256 = "ABC"; }),
        with([](NewPrint& p) { p.quality = 101; }),
        with([&](NewPrint& p) { p.featureTemplate = badCheck; }),
        with([&](NewPrint& p) { p.featureTemplate = shortened; }),
        with([](NewPrint& p) { p.featureTemplate.clear(); }),
        good,
    };
    const std::vector<EnrolOutcome> out = g.enrol(batch);
    for (std::size_t i = 0; i + 1 < batch.size(); ++i) {
        EXPECT_EQ(out[i].status, EnrolStatus::Invalid) << "case " << i;
        EXPECT_FALSE(out[i].message.empty()) << "case " << i;
    }
    EXPECT_TRUE(out.back().ok());
    EXPECT_EQ(g.count(), 1u);
    EXPECT_NE(out[4].message.find("finger 11"), std::string::npos) << out[4].message;
    EXPECT_THROW(g.identify(badCheck.data(), badCheck.size()), GalleryError);
    EXPECT_THROW(g.verify(nullptr, 0, "s0", 0), GalleryError);
}

TEST(Gallery, DuplicateImagesAndDedup) {
    const std::string path = freshPath("dedup.gallery");
    Gallery g(path);
    std::vector<NewPrint> prints = syntheticPrints(8, 11);  // subjects s0 and s1
    const std::string digest(64, 'a');
    prints[0].info.imageSha256 = digest;
    ASSERT_TRUE(g.enrol({prints[0]})[0].ok());

    // The same image bytes again, under any subject.
    NewPrint again = prints[1];
    again.info.imageSha256 = digest;
    const EnrolOutcome refused = g.enrol({again})[0];
    EXPECT_EQ(refused.status, EnrolStatus::DuplicateImage);
    EXPECT_EQ(refused.matchedSubject, "s0");
    EnrolOptions allow;
    allow.allowDuplicates = true;
    EXPECT_TRUE(g.enrol({again}, allow)[0].ok());
    EXPECT_TRUE(g.containsImage(digest));
    EXPECT_EQ(g.count(), 2u);

    // Dedup: another impression of s0 is fine under s0, refused under a new
    // name; the check also sees prints enrolled earlier in the same batch.
    const int32_t mateScore = [&] {
        const IdentifyResult r = g.identify(prints[2].featureTemplate.data(), prints[2].featureTemplate.size());
        return r.hits.at(0).score;
    }();
    ASSERT_GT(mateScore, 0);
    EnrolOptions dedup;
    dedup.dedupThreshold = mateScore;
    NewPrint alias = prints[2];
    alias.info.subject = "alias";
    NewPrint second = prints[5];  // s1
    NewPrint secondAlias = prints[5];
    secondAlias.info.subject = "alias2";
    const std::vector<EnrolOutcome> out = g.enrol({prints[2], alias, second, secondAlias}, dedup);
    EXPECT_TRUE(out[0].ok()) << out[0].message;
    EXPECT_EQ(out[1].status, EnrolStatus::DuplicateFinger);
    EXPECT_EQ(out[1].matchedSubject, "s0");
    EXPECT_GE(out[1].matchedScore, mateScore);
    EXPECT_TRUE(out[2].ok());
    EXPECT_EQ(out[3].status, EnrolStatus::DuplicateFinger);
    EXPECT_EQ(out[3].matchedId, out[2].id);
    EXPECT_EQ(g.count(), 4u);
}

TEST(Gallery, EnrolsImagesAndReportsFailedExtraction) {
    const std::string path = freshPath("images.gallery");
    Gallery g(path);
    std::vector<uint8_t> blank(300 * 300, 255);
    PrintInfo info;
    info.subject = "blank";
    const EnrolOutcome failed = g.enrolImage(info, blank.data(), 300, 300);
    EXPECT_EQ(failed.status, EnrolStatus::Invalid);
    EXPECT_NE(failed.message.find("extraction failed"), std::string::npos) << failed.message;
    EXPECT_EQ(g.count(), 0u);

    const std::vector<std::string> real = orvane::test::realPrints();
    if (real.empty()) GTEST_SKIP() << "no real prints";
    std::vector<uint8_t> pixels(640 * 480);
    int32_t width = 0, height = 0;
    ASSERT_EQ(readBitmapWithin(real[0].c_str(), pixels.data(), 640, 480, &width, &height), 0);
    info.subject = "real";
    info.finger = 1;
    const EnrolOutcome ok = g.enrolImage(info, pixels.data(), width, height);
    ASSERT_TRUE(ok.ok()) << ok.message;
    Entry e;
    ASSERT_TRUE(g.entry(ok.id, e));
    EXPECT_GE(e.quality, 0);
    EXPECT_GT(e.minutiae, 0);
    const VerifyResult v = g.verify(e.featureTemplate.data(), e.featureTemplate.size(), "real", 1);
    EXPECT_TRUE(v.accepted);
}

}  // namespace
}  // namespace orvane::gallery
