#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

namespace orvane::test {

std::unique_ptr<Workspace> makeWorkspace() { return std::unique_ptr<Workspace>(new Workspace()); }

std::string dataDir() {
    const char* env = std::getenv("ORVANE_DATA_DIR");
    std::string dir = env && *env ? env : ORVANE_DATA_DIR;
    std::error_code ec;
    return fs::is_directory(dir, ec) ? dir : std::string();
}

std::vector<std::string> realPrints() {
    std::vector<std::string> out;
    std::string dir = dataDir();
    if (dir.empty()) return out;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        if (it->is_regular_file() && it->path().extension() == ".bmp") out.push_back(it->path().string());
    }
    std::sort(out.begin(), out.end());
    return out;
}

namespace {
struct TempRoot {
    fs::path path;
    ~TempRoot() {
        std::error_code ec;
        if (!path.empty()) fs::remove_all(path, ec);
    }
};
TempRoot g_root;
int g_counter = 0;
}  // namespace

std::string tempDir() {
    if (g_root.path.empty()) {
        std::string templ = (fs::temp_directory_path() / "orvane-test-XXXXXX").string();
        std::vector<char> buf(templ.begin(), templ.end());
        buf.push_back('\0');
        if (!mkdtemp(buf.data())) std::abort();
        g_root.path = buf.data();
    }
    fs::path dir = g_root.path / std::to_string(++g_counter);
    fs::create_directories(dir);
    return dir.string();
}

std::vector<uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> patternImage(int32_t width, int32_t height, uint8_t seed) {
    std::vector<uint8_t> image(size_t(width) * height);
    for (size_t i = 0; i < image.size(); ++i) image[i] = uint8_t(i * 13 + seed);
    return image;
}

void expectHoldsPattern(const Workspace& ws, int32_t width, int32_t height, uint8_t seed) {
    EXPECT_EQ(ws.width, width);
    EXPECT_EQ(ws.height, height);
    EXPECT_EQ(ws.pixelCount, width * height);
    const std::vector<uint8_t> image = patternImage(width, height, seed);
    EXPECT_EQ(std::memcmp(ws.imagePlane, image.data(), image.size()), 0);
}

}  // namespace orvane::test
