#include "formats/bitmap.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace orvane {
namespace {

using test::readFile;
using test::tempDir;
using test::writeFile;

std::vector<uint8_t> ramp(int32_t width, int32_t height) {
    std::vector<uint8_t> image(size_t(width) * height);
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7 + 3);
    return image;
}

void putLe32(std::vector<uint8_t>& file, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) file[at + i] = uint8_t(v >> (8 * i));
}

// A bitmap file of the given size as writeBitmap makes it.
std::vector<uint8_t> bitmapFile(int32_t width, int32_t height) {
    std::string path = tempDir() + "/b.bmp";
    auto image = ramp(width, height);
    EXPECT_EQ(writeBitmap(image.data(), width, height, path.c_str()), 0);
    return readFile(path);
}

TEST(Bitmap, WriteLayoutAndRoundTrip) {
    struct Case {
        int32_t width, height;
        size_t fileSize;
    };
    for (Case c : {Case{100, 100, 11078}, Case{3, 2, 1086}, Case{1, 1, 1082}, Case{640, 480, 1078 + 307200}}) {
        std::string path = tempDir() + "/img.bmp";
        auto image = ramp(c.width, c.height);
        ASSERT_EQ(writeBitmap(image.data(), c.width, c.height, path.c_str()), 0);
        auto file = readFile(path);
        ASSERT_EQ(file.size(), c.fileSize) << c.width << "x" << c.height;
        EXPECT_EQ(file[0], 'B');
        EXPECT_EQ(file[1], 'M');
        EXPECT_EQ(file[10] | file[11] << 8, 1078);
        EXPECT_EQ(file[28], 8);
        EXPECT_EQ(file[46] | file[47] << 8, 256);
        EXPECT_EQ(file[54 + 4 * 200], 200);  // grey ramp palette

        std::vector<uint8_t> back(image.size(), 0xEE);
        int32_t w = 0, h = 0;
        ASSERT_EQ(readBitmap(path.c_str(), back.data(), &w, &h), 0);
        EXPECT_EQ(w, c.width);
        EXPECT_EQ(h, c.height);
        EXPECT_EQ(back, image);
    }
}

TEST(Bitmap, FillBytesAreZero) {
    auto file = bitmapFile(3, 2);
    EXPECT_EQ(file[1078 + 3], 0);
    EXPECT_EQ(file[1078 + 7], 0);
}

TEST(Bitmap, SizeQueryReadsNoPixels) {
    auto file = bitmapFile(5, 4);
    file.resize(54);  // headers only: a size query still succeeds
    std::string path = tempDir() + "/h.bmp";
    writeFile(path, file);
    int32_t w = 0, h = 0;
    ASSERT_EQ(readBitmap(path.c_str(), nullptr, &w, &h), 0);
    EXPECT_EQ(w, 5);
    EXPECT_EQ(h, 4);
}

TEST(Bitmap, AcceptanceRule) {
    struct Case {
        const char* what;
        uint16_t bits;
        uint32_t colours;
        int32_t expected;
    };
    const Case cases[] = {
        {"8 bits, 0 colours", 8, 0, 0},
        {"24 bits, 256 colours", 24, 256, 0},
        {"24 bits, 0 colours", 24, 0, 3},
        {"1 bit, 2 colours", 1, 2, 3},
    };
    for (const Case& c : cases) {
        auto file = bitmapFile(6, 3);
        file[28] = uint8_t(c.bits);
        file[29] = uint8_t(c.bits >> 8);
        putLe32(file, 46, c.colours);
        std::string path = tempDir() + "/a.bmp";
        writeFile(path, file);
        std::vector<uint8_t> buffer(18);
        int32_t w = -1, h = -1;
        EXPECT_EQ(readBitmap(path.c_str(), buffer.data(), &w, &h), c.expected) << c.what;
        if (c.expected == 0) {
            EXPECT_EQ(buffer, ramp(6, 3)) << c.what;
        }
    }
}

TEST(Bitmap, PixelsAlwaysReadFromOffset1078) {
    auto file = bitmapFile(4, 2);
    putLe32(file, 10, 54);  // a wrong pixel offset field is ignored
    std::string path = tempDir() + "/o.bmp";
    writeFile(path, file);
    std::vector<uint8_t> buffer(8);
    int32_t w, h;
    ASSERT_EQ(readBitmap(path.c_str(), buffer.data(), &w, &h), 0);
    EXPECT_EQ(buffer, ramp(4, 2));
}

TEST(Bitmap, RefusalsLeaveOutputsUntouched) {
    const std::string dir = tempDir();
    auto good = bitmapFile(6, 5);  // stride 8

    struct Case {
        const char* what;
        std::vector<uint8_t> file;
        int32_t expected;
    };
    std::vector<Case> cases;
    {
        auto f = good;
        f[0] = 'X';
        cases.push_back({"not BM", f, 2});
    }
    cases.push_back({"shorter than the headers", std::vector<uint8_t>(good.begin(), good.begin() + 40), 3});
    cases.push_back({"empty file", {}, 3});
    cases.push_back({"last row cut inside its pixels",
                     std::vector<uint8_t>(good.begin(), good.begin() + 1078 + 4 * 8 + 5), 3});
    cases.push_back({"rows missing", std::vector<uint8_t>(good.begin(), good.begin() + 1078 + 8), 3});
    for (auto [w, h] : {std::pair{0, 5}, {6, 0}, {6, -5}, {-6, 5}, {65536, 65536}, {0x7FFFFFFF, 1},
                        {1, 0x7FFFFFFF}}) {
        auto f = good;
        putLe32(f, 18, uint32_t(w));
        putLe32(f, 22, uint32_t(h));
        cases.push_back({"odd size", f, 3});
    }
    for (const Case& c : cases) {
        std::string path = dir + "/r.bmp";
        writeFile(path, c.file);
        std::vector<uint8_t> buffer(30, 0xAB);
        int32_t w = -7, h = -9;
        EXPECT_EQ(readBitmap(path.c_str(), buffer.data(), &w, &h), c.expected) << c.what;
        EXPECT_EQ(w, -7) << c.what;
        EXPECT_EQ(h, -9) << c.what;
        EXPECT_EQ(buffer, std::vector<uint8_t>(30, 0xAB)) << c.what;
    }
    int32_t w = -7, h = -9;
    EXPECT_EQ(readBitmap((dir + "/missing.bmp").c_str(), nullptr, &w, &h), 1);
    EXPECT_EQ(readBitmap(nullptr, nullptr, &w, &h), 1);
    EXPECT_EQ(w, -7);
}

TEST(Bitmap, LastRowWithoutFillBytesIsRead) {
    auto file = bitmapFile(6, 5);  // stride 8: the last row's 2 fill bytes may be missing
    file.resize(file.size() - 2);
    std::string path = tempDir() + "/f.bmp";
    writeFile(path, file);
    std::vector<uint8_t> buffer(30);
    int32_t w, h;
    ASSERT_EQ(readBitmap(path.c_str(), buffer.data(), &w, &h), 0);
    EXPECT_EQ(buffer, ramp(6, 5));
}

TEST(Bitmap, BoundedReadRefusesLargerFiles) {
    auto file = bitmapFile(7, 3);
    std::string path = tempDir() + "/l.bmp";
    writeFile(path, file);
    std::vector<uint8_t> buffer(21, 1);
    int32_t w = 0, h = 0;
    EXPECT_EQ(readBitmapWithin(path.c_str(), buffer.data(), 6, 3, &w, &h), 3);
    EXPECT_EQ(readBitmapWithin(path.c_str(), buffer.data(), 7, 2, &w, &h), 3);
    EXPECT_EQ(buffer, std::vector<uint8_t>(21, 1));
    EXPECT_EQ(readBitmapWithin(path.c_str(), buffer.data(), 7, 3, &w, &h), 0);
}

TEST(Bitmap, WriteFailures) {
    auto image = ramp(3, 2);
    EXPECT_EQ(writeBitmap(image.data(), 3, 2, (tempDir() + "/no/such/dir/x.bmp").c_str()), 1);
    EXPECT_EQ(writeBitmap(image.data(), 0, 2, (tempDir() + "/z.bmp").c_str()), 1);
    EXPECT_EQ(writeBitmap(nullptr, 3, 2, (tempDir() + "/n.bmp").c_str()), 1);
}

TEST(Bitmap, RealPrintsRoundTrip) {
    auto prints = test::realPrints();
    if (prints.empty()) GTEST_SKIP() << "no real prints";
    for (size_t i = 0; i < prints.size(); i += 37) {
        int32_t w = 0, h = 0;
        ASSERT_EQ(readBitmap(prints[i].c_str(), nullptr, &w, &h), 0);
        std::vector<uint8_t> image(size_t(w) * h);
        ASSERT_EQ(readBitmap(prints[i].c_str(), image.data(), &w, &h), 0);
        std::string copy = tempDir() + "/copy.bmp";
        ASSERT_EQ(writeBitmap(image.data(), w, h, copy.c_str()), 0);
        std::vector<uint8_t> back(image.size());
        ASSERT_EQ(readBitmap(copy.c_str(), back.data(), &w, &h), 0);
        EXPECT_EQ(back, image) << prints[i];
    }
}

}  // namespace
}  // namespace orvane
