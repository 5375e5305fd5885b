#include "workspace/workspace.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "support/test_support.h"

namespace orvane {
namespace {

TEST(Workspace, LibraryWorkspaceStartsAt256By360) {
    const Workspace& ws = libraryWorkspace();
    EXPECT_EQ(ws.width, 256);
    EXPECT_EQ(ws.height, 360);
    EXPECT_EQ(ws.pixelCount, 92160);
}

TEST(Workspace, SetImagePacksRowsFromTheStart) {
    auto ws = test::makeWorkspace();
    auto full = test::patternImage(640, 480, 1);
    ASSERT_EQ(setWorkspaceImage(*ws, full.data(), 640, 480), 0);
    test::expectHoldsPattern(*ws, 640, 480, 1);
    auto small = test::patternImage(100, 100, 2);
    ASSERT_EQ(setWorkspaceImage(*ws, small.data(), 100, 100), 0);
    test::expectHoldsPattern(*ws, 100, 100, 2);
}

TEST(Workspace, SetImageRefusesSizesAndKeepsThePreviousImage) {
    auto ws = test::makeWorkspace();
    auto image = test::patternImage(30, 20, 3);
    ASSERT_EQ(setWorkspaceImage(*ws, image.data(), 30, 20), 0);
    auto big = test::patternImage(641, 2, 9);
    struct Case {
        int32_t width, height;
    };
    for (Case c : {Case{641, 1}, Case{1, 481}, Case{0, 10}, Case{10, 0}, Case{-5, -5}, Case{-1, 480}}) {
        EXPECT_EQ(setWorkspaceImage(*ws, big.data(), c.width, c.height), 1) << c.width << "x" << c.height;
        test::expectHoldsPattern(*ws, 30, 20, 3);
    }
    EXPECT_EQ(setWorkspaceImage(*ws, nullptr, 10, 10), 1);
    test::expectHoldsPattern(*ws, 30, 20, 3);
}

}  // namespace
}  // namespace orvane
