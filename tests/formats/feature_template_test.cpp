#include "formats/feature_template.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "orvane.h"
#include "support/test_support.h"

namespace orvane {
namespace {

using test::readFile;
using test::tempDir;
using test::writeFile;

MinutiaSet randomSet(std::mt19937& rng, int count) {
    MinutiaSet set{};
    set.count = count;
    for (int i = 0; i < count; ++i) {
        Minutia& m = set.minutiae[i];
        m.x = int32_t(rng() % 640);
        m.y = int32_t(rng() % 480);
        m.direction = int32_t(rng() % 360);
        for (int k = 0; k < 3; ++k) m.ringOrientation[k] = rng() % 8 == 0 ? 255 : int32_t(rng() % 180);
        m.kind = 1 + int32_t(rng() % 2);
    }
    return set;
}

std::vector<uint8_t> packed(const MinutiaSet& set) {
    std::vector<uint8_t> bytes(kMaxTemplateBytes, 0xCD);
    int32_t length = packTemplate(&set, bytes.data());
    EXPECT_EQ(length, 7 * set.count + 4);
    bytes.resize(size_t(length));
    return bytes;
}

TEST(FeatureTemplate, EmptySetPacksToFourBytes) {
    MinutiaSet set{};
    auto bytes = packed(set);
    EXPECT_EQ(bytes, (std::vector<uint8_t>{0, 4, 0, 4}));
    MinutiaSet back;
    std::memset(&back, 0x55, sizeof back);
    ASSERT_EQ(unpackTemplate(bytes.data(), &back), 0);
    MinutiaSet zero{};
    EXPECT_EQ(std::memcmp(&back, &zero, sizeof back), 0);
}

TEST(FeatureTemplate, ExtremeFieldsPackAsDocumented) {
    MinutiaSet set{};
    set.count = 1;
    set.minutiae[0] = Minutia{639, 479, 359, {179, 0, 255}, 2};
    auto bytes = packed(set);
    ASSERT_EQ(bytes.size(), 11u);
    EXPECT_EQ(bytes[3], 159);
    EXPECT_EQ(bytes[4], 221);
    EXPECT_EQ(bytes[5], 251);
    EXPECT_EQ(bytes[6], 58);
    MinutiaSet back;
    ASSERT_EQ(unpackTemplate(bytes.data(), &back), 0);
    EXPECT_EQ(std::memcmp(&back.minutiae[0], &set.minutiae[0], sizeof(Minutia)), 0);
}

TEST(FeatureTemplate, RoundTripOfRandomSets) {
    std::mt19937 rng(7);
    for (int count : {1, 2, 17, 59, 60}) {
        MinutiaSet set = randomSet(rng, count);
        auto bytes = packed(set);
        MinutiaSet back;
        ASSERT_EQ(unpackTemplate(bytes.data(), &back), 0);
        EXPECT_EQ(std::memcmp(&back, &set, sizeof set), 0) << count;
        EXPECT_EQ(templateChecksum(bytes.data(), int32_t(bytes.size())), 0);
    }
}

TEST(FeatureTemplate, PackRefusesNullAndOversizedSets) {
    MinutiaSet set{};
    uint8_t bytes[kMaxTemplateBytes + 8];
    EXPECT_EQ(packTemplate(nullptr, bytes), 0);
    EXPECT_EQ(packTemplate(&set, nullptr), 0);
    set.count = 61;  // would write past 424 bytes
    EXPECT_EQ(packTemplate(&set, bytes), 0);
    set.count = -1;
    EXPECT_EQ(packTemplate(&set, bytes), 0);
}

TEST(FeatureTemplate, AnyChangedByteIsRefused) {
    std::mt19937 rng(11);
    auto bytes = packed(randomSet(rng, 12));
    for (size_t i = 2; i < bytes.size(); ++i) {
        auto damaged = bytes;
        damaged[i] ^= 0x10;
        MinutiaSet set;
        set.count = 99;
        EXPECT_EQ(unpackTemplate(damaged.data(), &set), 2) << i;
        EXPECT_EQ(set.count, 0) << "set is cleared";
    }
}

TEST(FeatureTemplate, UnpackRefusesForeignShapes) {
    MinutiaSet set;
    EXPECT_EQ(unpackTemplate(nullptr, &set), 1);
    uint8_t bytes[kMaxTemplateBytes] = {0, 4, 0, 4};
    EXPECT_EQ(unpackTemplate(bytes, nullptr), 1);

    // Count above 60 (with a length and check byte that agree with it).
    std::vector<uint8_t> big(7 * 61 + 4, 0);
    big[0] = uint8_t(big.size() >> 8);
    big[1] = uint8_t(big.size());
    big[2] = 61;
    big.back() = templateChecksum(big.data(), int32_t(big.size()) - 1);
    EXPECT_EQ(unpackTemplate(big.data(), &set), 2);

    // Length that disagrees with the count, and the zero-length template.
    uint8_t mismatch[] = {0, 11, 2, 0, 0, 0, 0, 0, 0, 0, 0};
    mismatch[10] = templateChecksum(mismatch, 10);
    EXPECT_EQ(unpackTemplate(mismatch, &set), 2);
    uint8_t zero[] = {0, 0, 0, 0};
    EXPECT_EQ(unpackTemplate(zero, &set), 2);
}

TEST(FeatureTemplate, SaveAndLoadFiles) {
    std::mt19937 rng(3);
    auto bytes = packed(randomSet(rng, 9));
    const std::string path = tempDir() + "/t.tpl";
    ASSERT_EQ(SaveFeature(path.c_str(), bytes.data()), 0);
    EXPECT_EQ(readFile(path), bytes) << "the file holds exactly the template";

    std::vector<uint8_t> loaded(kMaxTemplateBytes, 0x77);
    ASSERT_EQ(LoadFeature(path.c_str(), loaded.data()), 0);
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), loaded.begin()));
    EXPECT_EQ(loaded[bytes.size()], 0x77) << "nothing written past the length";
}

TEST(FeatureTemplate, SaveRefusesMalformedTemplates) {
    const std::string dir = tempDir();
    std::mt19937 rng(5);
    auto good = packed(randomSet(rng, 3));
    auto damaged = good;
    damaged[5] ^= 1;
    uint8_t zeroLength[] = {0, 0, 0, 0};
    uint8_t wrongCount[] = {0, 4, 1, 5};
    const uint8_t* cases[] = {damaged.data(), zeroLength, wrongCount, nullptr};
    for (const uint8_t* t : cases) {
        const std::string path = dir + "/bad.tpl";
        EXPECT_EQ(SaveFeature(path.c_str(), t), ORVANE_E_SAVE_TEMPLATE);
        EXPECT_TRUE(readFile(path).empty()) << "no file is created";
    }
    EXPECT_EQ(SaveFeature((dir + "/missing/dir/t.tpl").c_str(), good.data()), ORVANE_E_SAVE_TEMPLATE);
    EXPECT_EQ(SaveFeature(nullptr, good.data()), ORVANE_E_SAVE_TEMPLATE);
}

TEST(FeatureTemplate, LoadRefusesBadFiles) {
    const std::string dir = tempDir();
    std::mt19937 rng(9);
    auto good = packed(randomSet(rng, 60));
    ASSERT_EQ(good.size(), 424u);
    auto damaged = good;
    damaged[100] ^= 4;
    std::vector<uint8_t> oversized(600, 0);
    oversized[0] = 0x02;  // length 600
    oversized[1] = 0x58;

    struct Case {
        const char* what;
        std::vector<uint8_t> file;
        bool fillsBuffer;
    };
    const Case cases[] = {
        {"empty", {}, false},
        {"one byte", {0}, false},
        {"length 0", {0, 0}, false},
        {"length 3", {0, 3, 0}, false},
        {"length above 424", oversized, false},
        {"shorter than its length", std::vector<uint8_t>(good.begin(), good.end() - 1), false},
        {"wrong check byte", damaged, true},
    };
    for (const Case& c : cases) {
        const std::string path = dir + "/bad.tpl";
        writeFile(path, c.file);
        std::vector<uint8_t> buffer(kMaxTemplateBytes + 16, 0x77);
        EXPECT_EQ(LoadFeature(path.c_str(), buffer.data()), ORVANE_E_LOAD_TEMPLATE) << c.what;
        EXPECT_EQ(buffer[kMaxTemplateBytes], 0x77) << c.what;
        if (!c.fillsBuffer) {
            EXPECT_EQ(buffer[0], 0x77) << c.what;
        }
    }
    std::vector<uint8_t> buffer(kMaxTemplateBytes);
    EXPECT_EQ(LoadFeature((dir + "/none.tpl").c_str(), buffer.data()), ORVANE_E_LOAD_TEMPLATE);
    EXPECT_EQ(LoadFeature(nullptr, buffer.data()), ORVANE_E_LOAD_TEMPLATE);
    const std::string path = dir + "/good.tpl";
    writeFile(path, good);
    EXPECT_EQ(LoadFeature(path.c_str(), nullptr), ORVANE_E_LOAD_TEMPLATE);
}

}  // namespace
}  // namespace orvane
