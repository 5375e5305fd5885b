// The quality score over a workspace, and the GetQuality export.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "enhance/images.h"
#include "formats/bitmap.h"
#include "interface/extraction.h"
#include "orvane.h"

namespace orvane {
namespace {

using test::Size;

TEST(Quality, FlatImagesScoreZero) {
    for (Size size : {Size{640, 480}, Size{256, 360}, Size{1, 1}, Size{3, 2}, Size{37, 5}}) {
        const std::vector<uint8_t> flat(static_cast<size_t>(size.width) * size.height, 128);
        auto ws = test::makeWorkspace();
        int32_t quality = -1;
        EXPECT_EQ(measureQuality(*ws, flat.data(), size.width, size.height, &quality), 0);
        EXPECT_EQ(quality, 0) << size.width << "x" << size.height;
    }
}

TEST(Quality, RefusedInputsLeaveQualityAlone) {
    const std::vector<uint8_t> image(641 * 481, 100);
    struct Case {
        const uint8_t* image;
        int32_t width, height;
        bool nullQuality;
    };
    const Case cases[] = {{image.data(), 641, 480, false}, {image.data(), 640, 481, false},
                          {image.data(), 0, 10, false},    {image.data(), 10, 0, false},
                          {image.data(), -5, 10, false},   {nullptr, 10, 10, false},
                          {image.data(), 10, 10, true}};
    for (const Case& c : cases) {
        auto ws = test::makeWorkspace();
        int32_t quality = -7;
        EXPECT_EQ(measureQuality(*ws, c.image, c.width, c.height, c.nullQuality ? nullptr : &quality), 10300)
            << c.width << "x" << c.height;
        EXPECT_EQ(quality, -7);
        EXPECT_EQ(ws->width, 256);  // the workspace keeps its image
    }
    int32_t quality = -7;
    EXPECT_EQ(GetQuality(image.data(), 641, 480, &quality), ORVANE_E_IMAGE_SIZE);
    EXPECT_EQ(quality, -7);
}

TEST(Quality, PrintScoresHighAndDependsOnTheImageAlone) {
    // An odd-sized print after a different earlier image scores as in a
    // fresh workspace.
    const Size size{333, 401};
    const auto print = test::syntheticPrint(size, 3);
    auto fresh = test::makeWorkspace();
    int32_t expected = -1;
    ASSERT_EQ(measureQuality(*fresh, print.data(), size.width, size.height, &expected), 0);
    EXPECT_GE(expected, 60);
    EXPECT_LE(expected, 100);

    auto used = test::makeWorkspace();
    const auto other = test::syntheticPrint({640, 480}, 4);
    int32_t quality = -1;
    ASSERT_EQ(measureQuality(*used, other.data(), 640, 480, &quality), 0);
    ASSERT_EQ(measureQuality(*used, print.data(), size.width, size.height, &quality), 0);
    EXPECT_EQ(quality, expected);
    EXPECT_EQ(GetQuality(print.data(), size.width, size.height, &quality), 0);
    EXPECT_EQ(quality, expected);
}

TEST(Quality, RealPrints) {
    const auto prints = test::realPrints();
    if (prints.empty()) GTEST_SKIP() << "no real prints";
    std::map<std::string, std::vector<int32_t>> byFolder;
    auto ws = test::makeWorkspace();
    static uint8_t image[kPlaneSize];
    for (const std::string& path : prints) {
        int32_t width = 0, height = 0;
        ASSERT_EQ(readBitmap(path.c_str(), nullptr, &width, &height), 0) << path;
        ASSERT_TRUE(width <= kMaxWidth && height <= kMaxHeight) << path;
        ASSERT_EQ(readBitmap(path.c_str(), image, &width, &height), 0) << path;
        int32_t quality = -1;
        ASSERT_EQ(measureQuality(*ws, image, width, height, &quality), 0) << path;
        ASSERT_GE(quality, 0);
        ASSERT_LE(quality, 100);
        const std::string folder = path.substr(0, path.find_last_of('/'));
        byFolder[folder.substr(folder.find_last_of('/') + 1)].push_back(quality);
    }
    for (auto& [folder, scores] : byFolder) {
        std::sort(scores.begin(), scores.end());
        const size_t n = scores.size();
        double mean = 0;
        for (int32_t s : scores) mean += s;
        mean /= static_cast<double>(n);
        std::printf("%-16s n=%zu min=%d p10=%d median=%d p90=%d max=%d mean=%.1f\n", folder.c_str(), n, scores[0],
                    scores[n / 10], scores[n / 2], scores[n * 9 / 10], scores[n - 1], mean);
        // Real sensor prints cover a good part of their frames.
        EXPECT_GE(scores[n / 2], 30) << folder;
    }
}

}  // namespace
}  // namespace orvane
