#include "workspace/workspace.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "support/test_support.h"

namespace orvane {
namespace {

std::vector<uint8_t> pattern(int32_t width, int32_t height, uint8_t seed) {
    std::vector<uint8_t> image(size_t(width) * height);
    for (size_t i = 0; i < image.size(); ++i) image[i] = uint8_t(i * 13 + seed);
    return image;
}

void expectHolds(const Workspace& ws, int32_t width, int32_t height, uint8_t seed) {
    EXPECT_EQ(ws.width, width);
    EXPECT_EQ(ws.height, height);
    EXPECT_EQ(ws.pixelCount, width * height);
    auto image = pattern(width, height, seed);
    EXPECT_EQ(std::memcmp(ws.imagePlane, image.data(), image.size()), 0);
}

TEST(Workspace, LibraryWorkspaceStartsAt256By360) {
    const Workspace& ws = libraryWorkspace();
    EXPECT_EQ(ws.width, 256);
    EXPECT_EQ(ws.height, 360);
    EXPECT_EQ(ws.pixelCount, 92160);
}

TEST(Workspace, SetImagePacksRowsFromTheStart) {
    auto ws = test::makeWorkspace();
    auto full = pattern(640, 480, 1);
    ASSERT_EQ(setWorkspaceImage(*ws, full.data(), 640, 480), 0);
    expectHolds(*ws, 640, 480, 1);
    auto small = pattern(100, 100, 2);
    ASSERT_EQ(setWorkspaceImage(*ws, small.data(), 100, 100), 0);
    expectHolds(*ws, 100, 100, 2);
}

TEST(Workspace, SetImageRefusesSizesAndKeepsThePreviousImage) {
    auto ws = test::makeWorkspace();
    auto image = pattern(30, 20, 3);
    ASSERT_EQ(setWorkspaceImage(*ws, image.data(), 30, 20), 0);
    auto big = pattern(641, 2, 9);
    struct Case {
        int32_t width, height;
    };
    for (Case c : {Case{641, 1}, Case{1, 481}, Case{0, 10}, Case{10, 0}, Case{-5, -5}, Case{-1, 480}}) {
        EXPECT_EQ(setWorkspaceImage(*ws, big.data(), c.width, c.height), 1) << c.width << "x" << c.height;
        expectHolds(*ws, 30, 20, 3);
    }
    EXPECT_EQ(setWorkspaceImage(*ws, nullptr, 10, 10), 1);
    expectHolds(*ws, 30, 20, 3);
}

}  // namespace
}  // namespace orvane
