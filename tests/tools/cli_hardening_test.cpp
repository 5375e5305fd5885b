// The orvane program against hostile image headers and failing writes.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace fs = std::filesystem;
using orvane::test::readFile;
using orvane::test::tempDir;
using orvane::test::writeFile;

namespace {

struct CliRun {
    int status = -1;
    std::string err;
};

std::string quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// Runs orvane through sh, after the given shell commands (limits, traps).
// Its error output comes through a pipe, which no file-size limit touches.
CliRun orvane(const std::string& arguments, const std::string& before = "") {
    const std::string command = before + " " + quote(ORVANE_CLI_PATH) + " " + arguments + " 2>&1 >/dev/null </dev/null";
    CliRun r;
    FILE* pipe = popen(("sh -c " + quote(command)).c_str(), "r");
    if (!pipe) return r;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) r.err.append(buffer, n);
    const int raw = pclose(pipe);
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return r;
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

void put16be(std::vector<uint8_t>& b, uint32_t v) {
    b.push_back(uint8_t(v >> 8));
    b.push_back(uint8_t(v));
}
void put32be(std::vector<uint8_t>& b, uint32_t v) {
    put16be(b, v >> 16);
    put16be(b, v & 0xFFFF);
}
void put16le(std::vector<uint8_t>& b, uint32_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
void put32le(std::vector<uint8_t>& b, uint32_t v) {
    put16le(b, v & 0xFFFF);
    put16le(b, v >> 16);
}

// Headers only: each claims a width x height picture and holds a few bytes.
std::vector<uint8_t> pngHeader(uint32_t width, uint32_t height) {
    std::vector<uint8_t> b = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    put32be(b, 13);
    for (char c : std::string("IHDR")) b.push_back(uint8_t(c));
    put32be(b, width);
    put32be(b, height);
    b.insert(b.end(), {16, 6, 0, 0, 0});  // 16-bit RGBA: 8 bytes a pixel
    put32be(b, 0);                         // check sum, not verified
    return b;
}
std::vector<uint8_t> jpegHeader(uint32_t width, uint32_t height) {
    std::vector<uint8_t> b = {0xFF, 0xD8, 0xFF, 0xC0};
    put16be(b, 17);
    b.push_back(8);
    put16be(b, height);
    put16be(b, width);
    b.push_back(3);
    for (uint8_t id = 1; id <= 3; ++id) b.insert(b.end(), {id, 0x11, 0});
    return b;
}
std::vector<uint8_t> pgmHeader(uint32_t width, uint32_t height) {
    const std::string head = "P5\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
    std::vector<uint8_t> b(head.begin(), head.end());
    b.resize(b.size() + 64, 0x80);
    return b;
}
std::vector<uint8_t> tiffHeader(uint32_t width, uint32_t height) {
    std::vector<uint8_t> b = {'I', 'I', 42, 0};
    put32le(b, 8);
    const uint32_t entries[][3] = {{256, 4, width}, {257, 4, height}, {258, 3, 8},      {259, 3, 1},
                                   {262, 3, 1},     {273, 4, 200},    {277, 3, 1},      {278, 4, height},
                                   {279, 4, 4096}};
    put16le(b, 9);
    for (const auto& e : entries) {
        put16le(b, e[0]);
        put16le(b, e[1]);
        put32le(b, 1);
        if (e[1] == 3) {
            put16le(b, e[2]);
            put16le(b, 0);
        } else {
            put32le(b, e[2]);
        }
    }
    put32le(b, 0);
    b.resize(256, 0);
    return b;
}
std::vector<uint8_t> bmpHeader(uint32_t width, uint32_t height) {
    std::vector<uint8_t> b = {'B', 'M'};
    put32le(b, 1078);
    put32le(b, 0);
    put32le(b, 1078);
    put32le(b, 40);
    put32le(b, width);
    put32le(b, height);
    put16le(b, 1);
    put16le(b, 8);
    for (int i = 0; i < 6; ++i) put32le(b, i == 4 ? 256 : 0);
    b.resize(1078 + 64, 0);
    return b;
}

TEST(CliImageSize, HeadersClaimingHugePicturesAreRefusedBeforeDecoding) {
    struct Format {
        const char* name;
        std::vector<uint8_t> (*header)(uint32_t, uint32_t);
    };
    const Format formats[] = {{"png", pngHeader}, {"jpg", jpegHeader}, {"pgm", pgmHeader},
                              {"tif", tiffHeader}, {"bmp", bmpHeader}};
    const std::string dir = tempDir();
    for (const Format& f : formats) {
        // 8000 x 8000 (hundreds of MB once decoded), and far past any decoder.
        for (const uint32_t side : {8000u, 60000u}) {
            SCOPED_TRACE(std::string(f.name) + " " + std::to_string(side));
            const std::string path = dir + "/bomb" + std::to_string(side) + "." + f.name;
            writeFile(path, f.header(side, side));
            const CliRun r = orvane("quality " + quote(path));
            EXPECT_EQ(r.status, 1);
            // The PNG decoder already refuses the longer side by itself.
            if (side == 8000 || std::string(f.name) != "png") {
                EXPECT_TRUE(contains(r.err, std::to_string(side) + " x " + std::to_string(side) +
                                                " pixels is far too large"))
                    << r.err;
            }
        }
    }
}

// The packaged JPEG decoder writes a Huffman table of more than 256 codes past
// its arrays: such a file is refused before the decoder sees it, wherever the
// table stands (before the frame header, or between scans, also after scan
// data that ends in FF fill bytes before a 00, which is one data byte).
TEST(CliImageSize, JpegHuffmanTablesOfMoreThan256CodesAreRefused) {
    const std::string dir = tempDir();
    std::vector<uint8_t> table = {0xFF, 0xC4};
    put16be(table, 2 + 17 + 300);
    table.push_back(0x00);  // DC table 0
    for (int i = 0; i < 16; ++i) table.push_back(i < 15 ? 20 : 0);  // 300 codes
    table.resize(table.size() + 300, 0x01);
    // A comment, then stray bytes, which the decoder steps over.
    std::vector<uint8_t> early = table;
    early.insert(early.begin(), {0xFF, 0xD8, 0xFF, 0xFE, 0x00, 0x04, 'h', 'i', 0x01, 0x12});
    const std::vector<uint8_t> scan = {0xFF, 0xDA, 0x00, 0x08, 0x01, 0x01, 0x00, 0x00, 0x3F, 0x00};
    std::vector<uint8_t> late = jpegHeader(16, 16), afterFill = late;
    late.insert(late.end(), scan.begin(), scan.end());
    late.insert(late.end(), {0x12, 0xFF, 0x00, 0x34});
    late.insert(late.end(), table.begin(), table.end());
    afterFill.insert(afterFill.end(), scan.begin(), scan.end());
    afterFill.insert(afterFill.end(), {0x12, 0xFF, 0xFF, 0xFF, 0x00, 0x34});
    afterFill.insert(afterFill.end(), table.begin(), table.end());
    int fileNumber = 0;
    for (std::vector<uint8_t>* file : {&early, &late, &afterFill}) {
        file->insert(file->end(), {0xFF, 0xD9});
        const std::string path = dir + "/table" + std::to_string(fileNumber++) + ".jpg";
        writeFile(path, *file);
        const CliRun r = orvane("quality " + quote(path));
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(contains(r.err, "damaged JPEG image (a Huffman table of 300 codes)")) << r.err;
    }
    // Cut short inside the counts: the decoder takes the end marker for two
    // counts (255 + 217) and the missing bytes for zeros.
    writeFile(dir + "/cut.jpg", {0xFF, 0xD8, 0xFF, 0xC4, 0x00, 0x14, 0x11, 0xFF, 0xD9});
    const CliRun r = orvane("quality " + quote(dir + "/cut.jpg"));
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "a Huffman table of 472 codes")) << r.err;
}

// The packaged PNG decoder grows its data buffer to a chunk's claimed length
// before reading it: a file of a few dozen bytes claiming 2 GB of image data
// is refused without that allocation.
TEST(CliImageSize, PngDataChunksLongerThanTheFileAreRefused) {
    std::vector<uint8_t> file = pngHeader(16, 16);
    file[24] = 8, file[25] = 0;  // 8-bit grey
    put32be(file, 0x7FFFFF00);
    for (char c : std::string("IDAT")) file.push_back(uint8_t(c));
    file.insert(file.end(), {0x78, 0x9C, 0x63, 0x64, 0, 0, 0, 0, 0, 0});
    const std::string path = tempDir() + "/long-chunk.png";
    writeFile(path, file);
    const CliRun r = orvane("quality " + quote(path));
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "damaged image, file cut short (a PNG data chunk of 2147483392 bytes with 10 left)"))
        << r.err;
}

// The packaged decoder keeps its Huffman tables in memory it never clears: a
// scan that uses a table not defined before it would decode with leftovers.
TEST(CliImageSize, JpegScansUsingAnUndefinedHuffmanTableAreRefused) {
    std::vector<uint8_t> file = jpegHeader(16, 16);
    // DC table 0 only (one code of one bit), then a sequential scan that
    // needs AC table 0 too.
    file.insert(file.end(), {0xFF, 0xC4, 0x00, 0x14, 0x00, 0x01});
    file.resize(file.size() + 15, 0);
    file.push_back(0x00);
    file.insert(file.end(), {0xFF, 0xDA, 0x00, 0x08, 0x01, 0x01, 0x00, 0x00, 0x3F, 0x00, 0x12, 0x34, 0xFF, 0xD9});
    const std::string path = tempDir() + "/undefined.jpg";
    writeFile(path, file);
    const CliRun r = orvane("quality " + quote(path));
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "damaged JPEG image (a scan uses a Huffman table not defined before it)")) << r.err;
}

// The packaged decoder reads the numbers of a PGM header into an int without
// checking: 2^32 + 64 would wrap round to 64 and a 64 x 64 picture be read
// from a file that claims another. Such numbers are refused first.
TEST(CliImageSize, PgmHeaderNumbersPastTheDecodersIntAreRefused) {
    const std::string dir = tempDir();
    const struct {
        const char* header;
        const char* message;
    } cases[] = {
        {"P5\n4294967360 64\n255\n", "a width of 4294967360, out of range"},
        {"P5 64\n# comment\n4294967360 255\n", "a height of 4294967360, out of range"},
        {"P5\n64 64\n4294967551\n", "a largest value of 4294967551, out of range"},
        {"P555555555555555555555555555555\n", "a width of 55555555555555555555..., out of range"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.header);
        std::vector<uint8_t> file(c.header, c.header + std::string(c.header).size());
        file.resize(file.size() + 64 * 64, 0x80);
        writeFile(dir + "/wrap.pgm", file);
        const CliRun r = orvane("quality " + quote(dir + "/wrap.pgm"));
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(contains(r.err, c.message)) << r.err;
    }
}

// The packaged decoder turns 16-bit colour to grey with its 8-bit conversion
// and reads past the end of that buffer; 16-bit grey is read correctly.
TEST(CliImageSize, SixteenBitColourPpmIsRefusedAndSixteenBitGreyRead) {
    const std::string dir = tempDir();
    for (const bool colour : {true, false}) {
        SCOPED_TRACE(colour ? "P6" : "P5");
        const std::string head = std::string(colour ? "P6" : "P5") + "\n96 96\n65535\n";
        std::vector<uint8_t> file(head.begin(), head.end());
        file.resize(file.size() + 96 * 96 * (colour ? 3 : 1) * 2, 0x80);
        writeFile(dir + "/deep.pnm", file);
        const CliRun r = orvane("quality " + quote(dir + "/deep.pnm"));
        if (colour) {
            EXPECT_EQ(r.status, 1);
            EXPECT_TRUE(contains(r.err, "16-bit colour PPM images are not supported")) << r.err;
        } else {
            EXPECT_FALSE(contains(r.err, "not supported")) << r.err;
        }
    }
}

// An info header of 13 to 19 bytes is too short for the fields read from it.
TEST(CliImageSize, BitmapInfoHeaderTooShortForItsFieldsIsDamaged) {
    std::vector<uint8_t> file = {'B', 'M'};
    put32le(file, 32);
    put32le(file, 0);
    put32le(file, 32);
    put32le(file, 18);  // info header size
    file.resize(32, 0x01);
    const std::string path = tempDir() + "/short.bmp";
    writeFile(path, file);
    const CliRun r = orvane("quality " + quote(path));
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "damaged image, damaged header")) << r.err;
}

// The largest header a bitmap can hold, 2^31 - 1 pixels wide and 2^31 rows
// of 32 bits, is measured against the file without overflow (the rows' size
// passes 2^63) and the file is cut short. With 0 planes the general decoder
// cannot read the header, so the tool's size check does not see it first;
// with 1 plane that check refuses the size (its height, -2^31, has no int
// magnitude).
TEST(CliImageSize, BitmapOfTheLargestClaimedSizeIsRefusedWithoutOverflow) {
    const std::string dir = tempDir();
    for (const uint16_t planes : {0, 1}) {
        std::vector<uint8_t> file = {'B', 'M'};
        put32le(file, 0);
        put32le(file, 0);
        put32le(file, 54);          // pixel rows right after the headers
        put32le(file, 40);          // info header size
        put32le(file, 0x7FFFFFFF);  // width
        put32le(file, 0x80000000);  // height: 2^31 rows stored top row first
        put16le(file, planes);
        put16le(file, 32);
        file.resize(64, 0);
        const std::string path = dir + "/largest" + std::to_string(planes) + ".bmp";
        writeFile(path, file);
        const CliRun r = orvane("quality " + quote(path));
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(contains(r.err, planes == 0 ? "damaged image, file cut short (64 of 18446744065119617078 bytes)"
                                                : "2147483647 x 2147483648 pixels is far too large"))
            << r.err;
    }
}

std::vector<std::string> leftovers(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (name.find(".tmp-") != std::string::npos) names.push_back(name);
    }
    return names;
}

// Templates and pictures replace the old file whole or not at all.
TEST(CliWrites, AFailedOrInterruptedWriteKeepsTheOldFile) {
    const std::string dir = tempDir();
    ASSERT_EQ(orvane("synth " + quote(dir + "/prints") + " --fingers 1 --impressions 1").status, 0);
    const std::string print = dir + "/prints/001_1.bmp";
    const std::vector<uint8_t> old(300, 'x');
    struct Output {
        const char* command;
        const char* file;
    };
    for (const Output& o : {Output{"extract", "out.tpl"}, Output{"draw", "out.png"}}) {
        SCOPED_TRACE(o.command);
        const std::string target = dir + "/" + o.file;
        const std::string args = std::string(o.command) + " " + quote(print) + " -o " + quote(target);
        writeFile(target, old);
        // A full disk: every write fails (the size-limit signal is ignored).
        CliRun r = orvane(args, "trap '' XFSZ; ulimit -f 0;");
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_TRUE(contains(r.err, target)) << r.err;
        EXPECT_EQ(readFile(target), old);
        EXPECT_TRUE(leftovers(dir).empty());
        // Killed in the middle of the write.
        r = orvane(args, "ulimit -f 0;");
        EXPECT_NE(r.status, 0);
        EXPECT_EQ(readFile(target), old);
        for (const std::string& name : leftovers(dir)) fs::remove(dir + "/" + name);
        // A device that is always full stays a device (draw refuses the name
        // first: it has no picture extension).
        r = orvane(std::string(o.command) + " " + quote(print) + " -o /dev/full");
        EXPECT_EQ(r.status, std::string(o.command) == "draw" ? 2 : 1) << r.err;
        struct stat device;
        ASSERT_EQ(stat("/dev/full", &device), 0);
        EXPECT_TRUE(S_ISCHR(device.st_mode));
        // Without a limit the new file replaces the old one.
        r = orvane(args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_NE(readFile(target), old);
        EXPECT_TRUE(leftovers(dir).empty());
    }
}

}  // namespace
