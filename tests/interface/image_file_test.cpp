#include "interface/image_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "formats/bitmap.h"
#include "support/test_support.h"

namespace orvane {
namespace {

std::string bitmapPath(int32_t width, int32_t height, uint8_t seed) {
    std::string path = test::tempDir() + "/w.bmp";
    auto image = test::patternImage(width, height, seed);
    EXPECT_EQ(writeBitmap(image.data(), width, height, path.c_str()), 0);
    return path;
}

TEST(ImageFile, LoadsABitmapIntoTheWorkspace) {
    auto ws = test::makeWorkspace();
    ASSERT_EQ(loadWorkspaceImage(*ws, bitmapPath(37, 11, 4).c_str()), 0);
    test::expectHoldsPattern(*ws, 37, 11, 4);
    ASSERT_EQ(loadWorkspaceImage(*ws, bitmapPath(640, 480, 5).c_str()), 0);
    test::expectHoldsPattern(*ws, 640, 480, 5);
}

TEST(ImageFile, RefusalsKeepThePreviousImage) {
    auto ws = test::makeWorkspace();
    ASSERT_EQ(loadWorkspaceImage(*ws, bitmapPath(12, 9, 6).c_str()), 0);

    std::vector<std::string> refused = {bitmapPath(641, 10, 7), bitmapPath(10, 481, 7),
                                        test::tempDir() + "/missing.bmp"};
    // A file whose pixel rows are cut short.
    std::string cut = bitmapPath(40, 30, 8);
    auto bytes = test::readFile(cut);
    bytes.resize(bytes.size() - 50);
    test::writeFile(cut, bytes);
    refused.push_back(cut);
    for (const std::string& path : refused) {
        EXPECT_EQ(loadWorkspaceImage(*ws, path.c_str()), 1) << path;
        test::expectHoldsPattern(*ws, 12, 9, 6);
    }
    EXPECT_EQ(loadWorkspaceImage(*ws, nullptr), 1);
}

}  // namespace
}  // namespace orvane
