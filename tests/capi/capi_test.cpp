// The reentrant C API: the same templates, quality values and scores as the
// eight exports, workspaces used on several threads at once, and a result
// code (never a crash) for every bad argument.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "formats/bitmap.h"
#include "formats/feature_template.h"
#include "support/synthetic_sets.h"
#include "orvane_api.h"
#include "support/test_support.h"

namespace orvane::test {
namespace {

struct Image {
    std::string path;  // a bitmap file holding the pixels
    int32_t width = 0, height = 0;
    std::vector<uint8_t> pixels;
};

using Template = std::vector<uint8_t>;

// Warped stripes of random size: some give templates, some fail extraction.
std::vector<Image> syntheticImages(size_t count) {
    std::mt19937 rng(7);
    std::vector<Image> images;
    for (size_t i = 0; i < count; ++i) {
        Image im;
        im.width = 200 + static_cast<int32_t>(rng() % 300);
        im.height = 200 + static_cast<int32_t>(rng() % 200);
        im.pixels.resize(static_cast<size_t>(im.width * im.height));
        const double period = 7 + rng() % 4, angle = (rng() % 180) * 3.14159 / 180;
        for (int32_t y = 0; y < im.height; ++y)
            for (int32_t x = 0; x < im.width; ++x) {
                const double phase = (x * std::cos(angle) + y * std::sin(angle)) * 6.28318 / period;
                im.pixels[static_cast<size_t>(y * im.width + x)] =
                    static_cast<uint8_t>(127.5 + 127.5 * std::sin(phase + 0.002 * x * y));
            }
        im.path = tempDir() + "/synthetic" + std::to_string(i) + ".bmp";
        EXPECT_EQ(writeBitmap(im.pixels.data(), im.width, im.height, im.path.c_str()), 0);
        images.push_back(std::move(im));
    }
    return images;
}

// Up to `count` real prints, or synthetic images without the data.
std::vector<Image> testImages(size_t count) {
    const auto paths = realPrints();
    if (paths.empty()) return syntheticImages(count);
    std::vector<Image> images;
    for (size_t i = 0; i < paths.size() && images.size() < count; i += std::max<size_t>(1, paths.size() / count)) {
        Image im;
        im.path = paths[i];
        EXPECT_EQ(LoadFinger(im.path.c_str(), nullptr, &im.width, &im.height), 0);
        im.pixels.resize(static_cast<size_t>(im.width * im.height));
        EXPECT_EQ(LoadFinger(im.path.c_str(), im.pixels.data(), &im.width, &im.height), 0);
        images.push_back(std::move(im));
    }
    return images;
}

struct Extracted {
    int32_t code = -1;
    Template bytes;
};

Extracted extractWithApi(orvane_workspace* ws, const Image& im) {
    Extracted e;
    e.bytes.resize(ORVANE_MAX_TEMPLATE_BYTES);
    size_t length = 0;
    e.code = orvane_extract(ws, im.pixels.data(), im.width, im.height, e.bytes.data(), e.bytes.size(), &length);
    e.bytes.resize(e.code == 0 ? length : 0);
    return e;
}

Extracted extractWithExport(const Image& im) {
    Extracted e;
    e.bytes.resize(ORVANE_MAX_TEMPLATE_BYTES);
    int32_t length = 0;
    e.code = Extract(im.width, im.height, im.pixels.data(), 0, e.bytes.data(), &length);
    e.bytes.resize(e.code == 0 ? static_cast<size_t>(length) : 0);
    return e;
}

Template pack(const MinutiaSet& set) {
    Template t(kMaxTemplateBytes);
    t.resize(static_cast<size_t>(packTemplate(&set, t.data())));
    return t;
}

class CApi : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(orvane_workspace_create(&ws), ORVANE_OK); }
    void TearDown() override { EXPECT_EQ(orvane_workspace_destroy(ws), ORVANE_OK); }
    orvane_workspace* ws = nullptr;
};

TEST_F(CApi, SameResultsAsTheExports) {
    const auto images = testImages(10);
    std::vector<Template> templates;
    for (const Image& im : images) {
        const Extracted mine = extractWithApi(ws, im), theirs = extractWithExport(im);
        ASSERT_EQ(mine.code, theirs.code) << im.path;
        EXPECT_EQ(mine.bytes, theirs.bytes) << im.path;

        Template fromFile(ORVANE_MAX_TEMPLATE_BYTES);
        size_t length = 0;
        EXPECT_EQ(orvane_extract_file(ws, im.path.c_str(), fromFile.data(), fromFile.size(), &length), mine.code);
        fromFile.resize(mine.code == 0 ? length : 0);
        EXPECT_EQ(fromFile, mine.bytes) << im.path;

        int32_t quality = -1, expectedQuality = -2;
        ASSERT_EQ(orvane_quality(ws, im.pixels.data(), im.width, im.height, &quality), 0);
        ASSERT_EQ(GetQuality(im.pixels.data(), im.width, im.height, &expectedQuality), 0);
        EXPECT_EQ(quality, expectedQuality);
        quality = -1;
        ASSERT_EQ(orvane_quality_file(ws, im.path.c_str(), &quality), 0);
        EXPECT_EQ(quality, expectedQuality);

        if (mine.code != 0) continue;
        orvane_minutia minutiae[ORVANE_MAX_MINUTIAE];
        size_t count = 0;
        ASSERT_EQ(orvane_template_minutiae(mine.bytes.data(), mine.bytes.size(), minutiae, ORVANE_MAX_MINUTIAE, &count),
                  0);
        MinutiaSet set;
        ASSERT_EQ(unpackTemplate(mine.bytes.data(), &set), 0);
        ASSERT_EQ(count, static_cast<size_t>(set.count));
        for (size_t i = 0; i < count; ++i) {
            EXPECT_EQ(minutiae[i].x, set.minutiae[i].x);
            EXPECT_EQ(minutiae[i].direction, set.minutiae[i].direction);
            EXPECT_EQ(minutiae[i].ring_orientation[2], set.minutiae[i].ringOrientation[2]);
        }
        templates.push_back(mine.bytes);
    }
    // Impressions of synthetic fingers besides, so that pairs mate even
    // without real prints.
    std::mt19937 rng(5);
    for (int f = 0; f < 2; ++f) {
        const synthetic::Finger finger = synthetic::makeFinger(rng, 40);
        for (int i = 0; i < 2; ++i)
            templates.push_back(pack(synthetic::impress(rng, finger, synthetic::randomImpression(rng))));
    }

    for (const Template& a : templates)
        for (const Template& b : templates)
            for (int32_t mode : {ORVANE_MATCH_FULL, ORVANE_MATCH_QUICK}) {
                int32_t score = -1, expected = -2;
                ASSERT_EQ(orvane_match(a.data(), a.size(), b.data(), b.size(), mode, &score), 0);
                ASSERT_EQ(VerifyMatch(a.data(), b.data(), &expected, mode), 0);
                EXPECT_EQ(score, expected);
            }
}

TEST(CApiThreads, WorkspacesExtractAtOnceWithTheSameTemplates) {
    const auto images = testImages(12);
    std::vector<Extracted> expected;
    for (const Image& im : images) expected.push_back(extractWithExport(im));

    constexpr int kThreads = 4;
    std::vector<std::vector<Extracted>> results(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            orvane_workspace* ws = nullptr;
            if (orvane_workspace_create(&ws) != 0) return;
            for (size_t i = 0; i < images.size(); ++i) {
                // Each thread starts at a different image so that they overlap.
                results[t].push_back(extractWithApi(ws, images[(i + static_cast<size_t>(t) * 3) % images.size()]));
            }
            orvane_workspace_destroy(ws);
        });
    }
    for (auto& th : threads) th.join();
    for (int t = 0; t < kThreads; ++t) {
        ASSERT_EQ(results[t].size(), images.size());
        for (size_t i = 0; i < images.size(); ++i) {
            const Extracted& want = expected[(i + static_cast<size_t>(t) * 3) % images.size()];
            EXPECT_EQ(results[t][i].code, want.code);
            EXPECT_EQ(results[t][i].bytes, want.bytes);
        }
    }
}

TEST(CApiSearch, HitsAreTheBestScoresOfEveryEntry) {
    std::mt19937 rng(11);
    std::vector<synthetic::Finger> fingers;
    for (int f = 0; f < 6; ++f) fingers.push_back(synthetic::makeFinger(rng, synthetic::uniform(rng, 25, 50)));
    std::vector<Template> gallery;
    for (int i = 0; i < 60; ++i) {
        gallery.push_back(
            pack(synthetic::impress(rng, fingers[static_cast<size_t>(i % 6)], synthetic::randomImpression(rng))));
    }
    orvane_template_set* set = nullptr;
    ASSERT_EQ(orvane_template_set_create(&set), 0);
    for (const Template& t : gallery) ASSERT_EQ(orvane_template_set_add(set, t.data(), t.size()), 0);
    size_t size = 0;
    ASSERT_EQ(orvane_template_set_size(set, &size), 0);
    EXPECT_EQ(size, gallery.size());

    const Template probe = pack(synthetic::impress(rng, fingers[2], synthetic::randomImpression(rng)));
    for (int32_t mode : {ORVANE_MATCH_FULL, ORVANE_MATCH_QUICK}) {
        std::vector<orvane_hit> expected;
        for (size_t i = 0; i < gallery.size(); ++i) {
            int32_t score = 0;
            ASSERT_EQ(orvane_match(probe.data(), probe.size(), gallery[i].data(), gallery[i].size(), mode, &score), 0);
            if (score >= 1) expected.push_back(orvane_hit{i, score});
        }
        std::stable_sort(expected.begin(), expected.end(),
                         [](const orvane_hit& a, const orvane_hit& b) { return a.score > b.score; });
        expected.resize(std::min<size_t>(expected.size(), 5));

        orvane_search_options options = orvane_search_defaults();
        options.top_k = 5;
        options.threshold = 1;
        options.mode = mode;
        options.threads = 2;
        orvane_hit hits[5];
        size_t count = 99;
        ASSERT_EQ(orvane_search(set, probe.data(), probe.size(), &options, hits, 5, &count), 0);
        ASSERT_EQ(count, expected.size());
        for (size_t i = 0; i < count; ++i) {
            EXPECT_EQ(hits[i].index, expected[i].index);
            EXPECT_EQ(hits[i].score, expected[i].score);
        }
        if (count > 1) {
            EXPECT_EQ(orvane_search(set, probe.data(), probe.size(), &options, hits, 1, &count),
                      ORVANE_E_BUFFER_TOO_SMALL);
        }
    }
    EXPECT_EQ(orvane_template_set_destroy(set), 0);
}

TEST_F(CApi, BadArgumentsGiveCodesAndMessages) {
    const Image im = syntheticImages(1)[0];
    uint8_t tpl[ORVANE_MAX_TEMPLATE_BYTES];
    size_t length = 12345;
    int32_t value = -7;
    orvane_minutia minutiae[ORVANE_MAX_MINUTIAE];
    std::mt19937 rng(3);
    const Template good = pack(synthetic::randomSet(rng, 20, 0, 0, 300, 300));
    Template damaged = good;
    damaged.back() ^= 1;
    orvane_template_set* set = nullptr;
    ASSERT_EQ(orvane_template_set_create(&set), 0);
    const orvane_search_options options = orvane_search_defaults();
    orvane_search_options badMode = options;
    badMode.mode = 7;
    orvane_hit hits[10];

    struct Case {
        const char* what;
        int32_t code;
        int32_t expected;
        const char* inMessage;
    };
    const std::string missing = tempDir() + "/none.bmp";
    const std::string wide = tempDir() + "/wide.bmp";
    const std::vector<uint8_t> widePixels(641 * 2, 200);
    ASSERT_EQ(writeBitmap(widePixels.data(), 641, 2, wide.c_str()), 0);
    const Case cases[] = {
        {"create null", orvane_workspace_create(nullptr), ORVANE_E_INVALID_ARGUMENT, "workspace is null"},
        {"extract null workspace",
         orvane_extract(nullptr, im.pixels.data(), im.width, im.height, tpl, sizeof tpl, &length),
         ORVANE_E_INVALID_ARGUMENT, "workspace"},
        {"extract null image", orvane_extract(ws, nullptr, 10, 10, tpl, sizeof tpl, &length), ORVANE_E_INVALID_ARGUMENT,
         "image"},
        {"extract null length", orvane_extract(ws, im.pixels.data(), im.width, im.height, tpl, sizeof tpl, nullptr),
         ORVANE_E_INVALID_ARGUMENT, "length"},
        {"extract too wide", orvane_extract(ws, im.pixels.data(), 641, 10, tpl, sizeof tpl, &length),
         ORVANE_E_IMAGE_SIZE, "size"},
        {"extract tiny image", orvane_extract(ws, good.data() /* any pixels */, 1, 1, tpl, sizeof tpl, &length),
         ORVANE_E_EXTRACTION, "extraction"},
        {"file missing", orvane_extract_file(ws, missing.c_str(), tpl, sizeof tpl, &length), ORVANE_E_LOAD_IMAGE,
         "none.bmp"},
        {"file null path", orvane_extract_file(ws, nullptr, tpl, sizeof tpl, &length), ORVANE_E_INVALID_ARGUMENT,
         "path"},
        {"quality null", orvane_quality(ws, im.pixels.data(), im.width, im.height, nullptr), ORVANE_E_INVALID_ARGUMENT,
         "quality"},
        {"quality size", orvane_quality(ws, im.pixels.data(), 0, 5, &value), ORVANE_E_IMAGE_SIZE, ""},
        {"quality file missing", orvane_quality_file(ws, missing.c_str(), &value), ORVANE_E_LOAD_IMAGE, ""},
        {"quality file too wide", orvane_quality_file(ws, wide.c_str(), &value), ORVANE_E_IMAGE_SIZE, ""},
        {"minutiae damaged", orvane_template_minutiae(damaged.data(), damaged.size(), minutiae, 60, &length),
         ORVANE_E_BAD_TEMPLATE, ""},
        {"minutiae cut short", orvane_template_minutiae(good.data(), good.size() - 1, minutiae, 60, &length),
         ORVANE_E_BAD_TEMPLATE, "bytes given"},
        {"minutiae with bytes after", orvane_template_minutiae(good.data(), good.size() + 1, minutiae, 60, &length),
         ORVANE_E_BAD_TEMPLATE, "bytes given"},
        {"minutiae capacity", orvane_template_minutiae(good.data(), good.size(), minutiae, 19, &length),
         ORVANE_E_BUFFER_TOO_SMALL, "20 minutiae"},
        {"match null probe", orvane_match(nullptr, 0, good.data(), good.size(), ORVANE_MATCH_FULL, &value),
         ORVANE_E_BAD_TEMPLATE, "probe"},
        {"match damaged reference",
         orvane_match(good.data(), good.size(), damaged.data(), damaged.size(), ORVANE_MATCH_QUICK, &value),
         ORVANE_E_BAD_TEMPLATE, "reference"},
        {"match reference cut short",
         orvane_match(good.data(), good.size(), good.data(), 40, ORVANE_MATCH_FULL, &value), ORVANE_E_BAD_TEMPLATE,
         "reference"},
        {"match null score",
         orvane_match(good.data(), good.size(), good.data(), good.size(), ORVANE_MATCH_FULL, nullptr),
         ORVANE_E_INVALID_ARGUMENT, "score"},
        {"match mode", orvane_match(good.data(), good.size(), good.data(), good.size(), 2, &value),
         ORVANE_E_INVALID_ARGUMENT, "mode"},
        {"set add damaged", orvane_template_set_add(set, damaged.data(), damaged.size()), ORVANE_E_BAD_TEMPLATE, ""},
        {"set add null", orvane_template_set_add(set, nullptr, 10), ORVANE_E_INVALID_ARGUMENT, "template"},
        {"set add to null", orvane_template_set_add(nullptr, good.data(), good.size()), ORVANE_E_INVALID_ARGUMENT,
         "set"},
        {"set size null", orvane_template_set_size(set, nullptr), ORVANE_E_INVALID_ARGUMENT, "size"},
        {"search null options", orvane_search(set, good.data(), good.size(), nullptr, hits, 10, &length),
         ORVANE_E_INVALID_ARGUMENT, "options"},
        {"search mode", orvane_search(set, good.data(), good.size(), &badMode, hits, 10, &length),
         ORVANE_E_INVALID_ARGUMENT, "mode"},
        {"search damaged probe", orvane_search(set, damaged.data(), damaged.size(), &options, hits, 10, &length),
         ORVANE_E_BAD_TEMPLATE, "probe"},
        {"search null hits", orvane_search(set, good.data(), good.size(), &options, nullptr, 10, &length),
         ORVANE_E_INVALID_ARGUMENT, "hits"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.code, c.expected) << c.what;
    EXPECT_EQ(length, 12345u) << "out-parameters are written only on success";
    EXPECT_EQ(value, -7);
    size_t size = 99;
    ASSERT_EQ(orvane_template_set_size(set, &size), 0);
    EXPECT_EQ(size, 0u) << "refused templates leave the set unchanged";

    // Messages name the failure; each call sets its thread's message anew.
    EXPECT_EQ(orvane_extract_file(ws, missing.c_str(), tpl, sizeof tpl, &length), ORVANE_E_LOAD_IMAGE);
    EXPECT_NE(std::string(orvane_error_message()).find("none.bmp"), std::string::npos) << orvane_error_message();
    EXPECT_EQ(orvane_match(good.data(), good.size(), good.data(), 40, ORVANE_MATCH_FULL, &value),
              ORVANE_E_BAD_TEMPLATE);
    EXPECT_NE(std::string(orvane_error_message()).find("reference"), std::string::npos) << orvane_error_message();
    EXPECT_EQ(orvane_template_set_add(set, damaged.data(), damaged.size()), ORVANE_E_BAD_TEMPLATE);
    EXPECT_NE(std::string(orvane_error_message()).find("damaged"), std::string::npos) << orvane_error_message();
    EXPECT_EQ(orvane_match(good.data(), good.size(), good.data(), good.size(), ORVANE_MATCH_FULL, &value), 0);
    EXPECT_STREQ(orvane_error_message(), "");
    EXPECT_STREQ(orvane_result_text(ORVANE_E_BUFFER_TOO_SMALL), "buffer too small");
    EXPECT_STREQ(orvane_result_text(-1), "unknown result code");
    EXPECT_EQ(orvane_workspace_destroy(nullptr), 0);
    EXPECT_EQ(orvane_template_set_destroy(nullptr), 0);
    EXPECT_EQ(orvane_template_set_destroy(set), 0);
}

TEST_F(CApi, TemplateLargerThanTheBufferIsRefused) {
    for (const Image& im : testImages(6)) {
        const Extracted e = extractWithApi(ws, im);
        if (e.code != 0) continue;
        Template small(e.bytes.size() - 1);
        size_t length = 0;
        EXPECT_EQ(orvane_extract(ws, im.pixels.data(), im.width, im.height, small.data(), small.size(), &length),
                  ORVANE_E_BUFFER_TOO_SMALL);
        EXPECT_EQ(length, 0u);
        return;
    }
    GTEST_SKIP() << "no image gave a template";
}

TEST(CApiGallery, EnrolIdentifyVerifyAndRemove) {
    std::mt19937 rng(21);
    std::vector<synthetic::Finger> fingers;
    for (int f = 0; f < 4; ++f) fingers.push_back(synthetic::makeFinger(rng, 40));
    const std::string path = tempDir() + "/gallery.db";
    orvane_gallery* gallery = nullptr;
    ASSERT_EQ(orvane_gallery_open(path.c_str(), ORVANE_GALLERY_READ_WRITE, &gallery), 0) << orvane_error_message();

    orvane_template_set* set = nullptr;
    ASSERT_EQ(orvane_template_set_create(&set), 0);
    std::vector<int64_t> ids;
    const std::string subjects[] = {"ann", "bob", "cy", "dee"};
    for (int i = 0; i < 12; ++i) {
        const Template t =
            pack(synthetic::impress(rng, fingers[static_cast<size_t>(i % 4)], synthetic::randomImpression(rng)));
        const orvane_print_info info{subjects[i % 4].c_str(), 1 + i % 4, 1 + i / 4, nullptr};
        int64_t id = 0;
        ASSERT_EQ(orvane_gallery_enrol_template(gallery, &info, t.data(), t.size(), &id), 0) << orvane_error_message();
        ids.push_back(id);
        ASSERT_EQ(orvane_template_set_add(set, t.data(), t.size()), 0);
    }
    size_t count = 0;
    ASSERT_EQ(orvane_gallery_count(gallery, &count), 0);
    EXPECT_EQ(count, 12u);

    // Identification gives the hits of the plain search, with each row's metadata.
    const Template probe = pack(synthetic::impress(rng, fingers[1], synthetic::randomImpression(rng)));
    orvane_search_options options = orvane_search_defaults();
    options.top_k = 4;
    orvane_gallery_hit hits[4];
    orvane_hit expected[4];
    size_t expectedCount = 0;
    ASSERT_EQ(orvane_search(set, probe.data(), probe.size(), &options, expected, 4, &expectedCount), 0);
    ASSERT_EQ(orvane_gallery_identify(gallery, probe.data(), probe.size(), &options, hits, 4, &count), 0)
        << orvane_error_message();
    ASSERT_EQ(count, expectedCount);
    for (size_t i = 0; i < count; ++i) {
        EXPECT_EQ(hits[i].score, expected[i].score);
        EXPECT_EQ(hits[i].id, ids[expected[i].index]);
        EXPECT_EQ(hits[i].subject, subjects[expected[i].index % 4]);
        EXPECT_EQ(hits[i].finger, static_cast<int32_t>(1 + expected[i].index % 4));
    }
    EXPECT_STREQ(hits[0].subject, "bob");

    int32_t best = -1, accepted = -1;
    int64_t bestId = -1;
    ASSERT_EQ(orvane_gallery_verify(gallery, probe.data(), probe.size(), "bob", hits[0].score, ORVANE_MATCH_FULL, &best,
                                    &bestId, &accepted),
              0);
    EXPECT_EQ(best, hits[0].score);
    EXPECT_EQ(bestId, hits[0].id);
    EXPECT_EQ(accepted, 1);
    ASSERT_EQ(orvane_gallery_verify(gallery, probe.data(), probe.size(), "nobody", 1, ORVANE_MATCH_QUICK, &best,
                                    &bestId, &accepted),
              0);
    EXPECT_EQ(accepted, 0);
    EXPECT_EQ(bestId, 0);

    int32_t removed = -1;
    ASSERT_EQ(orvane_gallery_remove(gallery, ids[0], &removed), 0);
    EXPECT_EQ(removed, 1);
    ASSERT_EQ(orvane_gallery_remove(gallery, ids[0], &removed), 0);
    EXPECT_EQ(removed, 0);
    EXPECT_EQ(orvane_gallery_close(gallery), 0);

    // Read-only: what was written is there; writing is refused.
    ASSERT_EQ(orvane_gallery_open(path.c_str(), ORVANE_GALLERY_READ_ONLY, &gallery), 0) << orvane_error_message();
    ASSERT_EQ(orvane_gallery_count(gallery, &count), 0);
    EXPECT_EQ(count, 11u);
    const orvane_print_info info{"eve", 0, 0, nullptr};
    int64_t id = 0;
    EXPECT_NE(orvane_gallery_enrol_template(gallery, &info, probe.data(), probe.size(), &id), 0);
    EXPECT_EQ(orvane_gallery_close(gallery), 0);
    EXPECT_EQ(orvane_template_set_destroy(set), 0);
}

TEST(CApiGallery, RefusalsAndBadArguments) {
    const std::string dir = tempDir();
    const std::string notAGallery = dir + "/text.db";
    writeFile(notAGallery, std::vector<uint8_t>(100, 'x'));
    orvane_gallery* gallery = nullptr;
    EXPECT_EQ(orvane_gallery_open(notAGallery.c_str(), ORVANE_GALLERY_READ_WRITE, &gallery), ORVANE_E_GALLERY);
    EXPECT_EQ(orvane_gallery_open((dir + "/missing.db").c_str(), ORVANE_GALLERY_READ_ONLY, &gallery), ORVANE_E_GALLERY);
    EXPECT_EQ(orvane_gallery_open(nullptr, ORVANE_GALLERY_READ_WRITE, &gallery), ORVANE_E_INVALID_ARGUMENT);
    EXPECT_EQ(gallery, nullptr);
    ASSERT_EQ(orvane_gallery_open((dir + "/g.db").c_str(), ORVANE_GALLERY_READ_WRITE, &gallery), 0);

    std::mt19937 rng(4);
    const Template good = pack(synthetic::randomSet(rng, 20, 0, 0, 300, 300));
    Template damaged = good;
    damaged.back() ^= 1;
    const Image blank{dir + "/blank.bmp", 300, 300, std::vector<uint8_t>(300 * 300, 255)};
    ASSERT_EQ(writeBitmap(blank.pixels.data(), blank.width, blank.height, blank.path.c_str()), 0);
    const orvane_print_info ok{"ann", 1, 1, "a.bmp"}, noSubject{"", 1, 1, nullptr}, badFinger{"ann", 11, 1, nullptr},
        nullSubject{nullptr, 0, 0, nullptr};
    int64_t id = -1;
    int32_t value = 0;
    orvane_gallery_hit hits[2];
    size_t count = 0;
    const orvane_search_options options = orvane_search_defaults();
    struct Case {
        const char* what;
        int32_t code;
        int32_t expected;
    };
    const Case cases[] = {
        {"damaged template", orvane_gallery_enrol_template(gallery, &ok, damaged.data(), damaged.size(), &id),
         ORVANE_E_ENROL_REFUSED},
        {"empty subject", orvane_gallery_enrol_template(gallery, &noSubject, good.data(), good.size(), &id),
         ORVANE_E_ENROL_REFUSED},
        {"finger 11", orvane_gallery_enrol_template(gallery, &badFinger, good.data(), good.size(), &id),
         ORVANE_E_ENROL_REFUSED},
        {"null subject", orvane_gallery_enrol_template(gallery, &nullSubject, good.data(), good.size(), &id),
         ORVANE_E_INVALID_ARGUMENT},
        {"null info", orvane_gallery_enrol_template(gallery, nullptr, good.data(), good.size(), &id),
         ORVANE_E_INVALID_ARGUMENT},
        {"null gallery", orvane_gallery_enrol_template(nullptr, &ok, good.data(), good.size(), &id),
         ORVANE_E_INVALID_ARGUMENT},
        {"blank image", orvane_gallery_enrol_image(gallery, &ok, blank.pixels.data(), 300, 300, &id),
         ORVANE_E_ENROL_REFUSED},
        {"blank file", orvane_gallery_enrol_file(gallery, &ok, blank.path.c_str(), &id), ORVANE_E_ENROL_REFUSED},
        {"missing file", orvane_gallery_enrol_file(gallery, &ok, (dir + "/none.bmp").c_str(), &id),
         ORVANE_E_LOAD_IMAGE},
        {"remove null", orvane_gallery_remove(gallery, 1, nullptr), ORVANE_E_INVALID_ARGUMENT},
        {"identify damaged",
         orvane_gallery_identify(gallery, damaged.data(), damaged.size(), &options, hits, 2, &count),
         ORVANE_E_BAD_TEMPLATE},
        {"verify null subject",
         orvane_gallery_verify(gallery, good.data(), good.size(), nullptr, 0, ORVANE_MATCH_FULL, &value, &id, &value),
         ORVANE_E_INVALID_ARGUMENT},
    };
    for (const Case& c : cases) EXPECT_EQ(c.code, c.expected) << c.what;
    EXPECT_EQ(id, -1);
    ASSERT_EQ(orvane_gallery_enrol_template(gallery, &ok, good.data(), good.size(), &id), 0);
    ASSERT_EQ(orvane_gallery_enrol_template(gallery, &ok, good.data(), good.size(), &id), 0);
    EXPECT_EQ(orvane_gallery_identify(gallery, good.data(), good.size(), &options, hits, 1, &count),
              ORVANE_E_BUFFER_TOO_SMALL);
    EXPECT_EQ(orvane_gallery_enrol_image(gallery, &ok, blank.pixels.data(), 300, 300, &id), ORVANE_E_ENROL_REFUSED);
    EXPECT_NE(std::string(orvane_error_message()).find("10400"), std::string::npos) << orvane_error_message();
    EXPECT_EQ(orvane_gallery_close(gallery), 0);
    EXPECT_EQ(orvane_gallery_close(nullptr), 0);
}

}  // namespace
}  // namespace orvane::test
