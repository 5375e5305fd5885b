// The file exports through the public C interface.
#include <gtest/gtest.h>

#include <vector>

#include "orvane.h"
#include "support/test_support.h"

namespace {

TEST(Exports, SaveAndLoadFinger) {
    const std::string dir = orvane::test::tempDir();
    const uint8_t image[6] = {0, 50, 100, 150, 200, 250};
    const std::string path = dir + "/f.bmp";
    ASSERT_EQ(SaveFinger(path.c_str(), image, 3, 2), ORVANE_OK);
    EXPECT_EQ(orvane::test::readFile(path).size(), 1086u);

    int32_t w = 0, h = 0;
    ASSERT_EQ(LoadFinger(path.c_str(), nullptr, &w, &h), ORVANE_OK);
    EXPECT_EQ(w, 3);
    EXPECT_EQ(h, 2);
    uint8_t back[6] = {};
    ASSERT_EQ(LoadFinger(path.c_str(), back, &w, &h), ORVANE_OK);
    EXPECT_EQ(std::vector<uint8_t>(back, back + 6), std::vector<uint8_t>(image, image + 6));
}

TEST(Exports, LoadFingerHasNoSizeLimit) {
    std::vector<uint8_t> image(700 * 3, 9);
    const std::string path = orvane::test::tempDir() + "/wide.bmp";
    ASSERT_EQ(SaveFinger(path.c_str(), image.data(), 700, 3), ORVANE_OK);
    int32_t w = 0, h = 0;
    ASSERT_EQ(LoadFinger(path.c_str(), image.data(), &w, &h), ORVANE_OK);
    EXPECT_EQ(w, 700);
}

TEST(Exports, FileFailuresAndNullPointers) {
    const std::string dir = orvane::test::tempDir();
    const uint8_t image[4] = {};
    int32_t w = -1, h = -1;
    EXPECT_EQ(SaveFinger((dir + "/no/dir/x.bmp").c_str(), image, 2, 2), ORVANE_E_SAVE_IMAGE);
    EXPECT_EQ(SaveFinger(nullptr, image, 2, 2), ORVANE_E_SAVE_IMAGE);
    EXPECT_EQ(SaveFinger((dir + "/n.bmp").c_str(), nullptr, 2, 2), ORVANE_E_SAVE_IMAGE);

    const std::string notBm = dir + "/x.bmp";
    orvane::test::writeFile(notBm, std::vector<uint8_t>(2000, 'x'));
    EXPECT_EQ(LoadFinger(notBm.c_str(), nullptr, &w, &h), ORVANE_E_LOAD_IMAGE);
    EXPECT_EQ(LoadFinger((dir + "/none.bmp").c_str(), nullptr, &w, &h), ORVANE_E_LOAD_IMAGE);
    EXPECT_EQ(LoadFinger(nullptr, nullptr, &w, &h), ORVANE_E_LOAD_IMAGE);
    EXPECT_EQ(w, -1);
    EXPECT_EQ(h, -1);

    const std::string good = dir + "/g.bmp";
    ASSERT_EQ(SaveFinger(good.c_str(), image, 2, 2), ORVANE_OK);
    EXPECT_EQ(LoadFinger(good.c_str(), nullptr, nullptr, &h), ORVANE_E_LOAD_IMAGE);
    EXPECT_EQ(LoadFinger(good.c_str(), nullptr, &w, nullptr), ORVANE_E_LOAD_IMAGE);
    EXPECT_EQ(w, -1);
}

}  // namespace

namespace {

TEST(Exports, ImageExportsRefuseSizesAndMissingImages) {
    std::vector<uint8_t> image(641 * 481, 128);
    uint8_t featureTemplate[ORVANE_MAX_TEMPLATE_BYTES] = {};
    int32_t length = -1, quality = -1;
    struct Case {
        int32_t width, height;
        const uint8_t* image;
    };
    for (Case c : {Case{641, 480, image.data()}, Case{640, 481, image.data()}, Case{0, 10, image.data()},
                   Case{10, -1, image.data()}, Case{100, 100, nullptr}}) {
        EXPECT_EQ(Extract(c.width, c.height, c.image, 0, featureTemplate, &length), ORVANE_E_IMAGE_SIZE);
        EXPECT_EQ(GetQuality(c.image, c.width, c.height, &quality), ORVANE_E_IMAGE_SIZE);
    }
    EXPECT_EQ(length, -1);
    EXPECT_EQ(quality, -1);
    EXPECT_EQ(featureTemplate[0], 0);

    const std::string wide = orvane::test::tempDir() + "/wide.bmp";
    ASSERT_EQ(SaveFinger(wide.c_str(), image.data(), 700, 10), ORVANE_OK);
    EXPECT_EQ(ExtractEx(wide.c_str(), 0, featureTemplate, &length), ORVANE_E_LOAD_IMAGE);
    EXPECT_EQ(ExtractEx(nullptr, 0, featureTemplate, &length), ORVANE_E_LOAD_IMAGE);
    EXPECT_EQ(length, -1);
}

}  // namespace
