// Small skeleton fixtures drawn from text: '#' is a ridge pixel (0), anything
// else background (255).
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "workspace/workspace.h"

namespace orvane::test {

struct Canvas {
    std::unique_ptr<Workspace> ws = makeWorkspace();

    Canvas(int32_t width, int32_t height, uint8_t orientation = 0) {
        ws->width = width;
        ws->height = height;
        ws->pixelCount = width * height;
        std::memset(ws->imagePlane, 255, sizeof ws->imagePlane);
        std::memset(ws->orientationPlane, orientation, sizeof ws->orientationPlane);
    }
    Workspace& w() { return *ws; }
    int32_t at(int32_t x, int32_t y) const { return y * ws->width + x; }
    uint8_t& pixel(int32_t x, int32_t y) { return ws->imagePlane[at(x, y)]; }
    void ridge(int32_t x, int32_t y) { pixel(x, y) = 0; }
    void draw(int32_t x0, int32_t y0, const std::vector<std::string>& art) {
        for (size_t r = 0; r < art.size(); ++r)
            for (size_t c = 0; c < art[r].size(); ++c)
                if (art[r][c] == '#') ridge(x0 + static_cast<int32_t>(c), y0 + static_cast<int32_t>(r));
    }
    void line(int32_t x0, int32_t y0, int32_t dx, int32_t dy, int32_t n) {
        for (int32_t i = 0; i < n; ++i) ridge(x0 + i * dx, y0 + i * dy);
    }
    void rect(int32_t x0, int32_t y0, int32_t w, int32_t h) {
        for (int32_t y = y0; y < y0 + h; ++y)
            for (int32_t x = x0; x < x0 + w; ++x) ridge(x, y);
    }
    std::vector<std::string> art(int32_t x0, int32_t y0, int32_t w, int32_t h) const {
        std::vector<std::string> out;
        for (int32_t y = y0; y < y0 + h; ++y) {
            std::string row;
            for (int32_t x = x0; x < x0 + w; ++x) row += ws->imagePlane[at(x, y)] == 0 ? '#' : '.';
            out.push_back(row);
        }
        return out;
    }
    std::vector<uint8_t> image() const {
        return std::vector<uint8_t>(ws->imagePlane, ws->imagePlane + ws->pixelCount);
    }
    int32_t ridgeCount() const {
        int32_t n = 0;
        for (int32_t i = 0; i < ws->pixelCount; ++i) n += ws->imagePlane[i] == 0;
        return n;
    }
};

// Random blobs of ridge with a background border: rectangles, discs and
// lines of random widths, the raw material for thinning comparisons.
inline void randomRidges(Canvas& c, uint32_t seed, int32_t shapes) {
    std::mt19937 rng(seed);
    const int32_t w = c.ws->width, h = c.ws->height;
    auto uni = [&](int32_t lo, int32_t hi) { return std::uniform_int_distribution<int32_t>(lo, hi)(rng); };
    for (int32_t s = 0; s < shapes; ++s) {
        const int32_t kind = uni(0, 2);
        const int32_t cx = uni(1, w - 2), cy = uni(1, h - 2);
        if (kind == 0) {
            const int32_t rw = uni(1, 12), rh = uni(1, 12);
            for (int32_t y = cy; y < cy + rh && y < h - 1; ++y)
                for (int32_t x = cx; x < cx + rw && x < w - 1; ++x) c.ridge(x, y);
        } else if (kind == 1) {
            const int32_t r = uni(1, 7);
            for (int32_t y = cy - r; y <= cy + r; ++y)
                for (int32_t x = cx - r; x <= cx + r; ++x)
                    if (x >= 1 && y >= 1 && x < w - 1 && y < h - 1 && (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r)
                        c.ridge(x, y);
        } else {
            const double angle = uni(0, 359) * 3.14159 / 180;
            const int32_t len = uni(5, 60), width = uni(1, 6);
            for (int32_t i = 0; i < len; ++i)
                for (int32_t k = 0; k < width; ++k) {
                    const int32_t x = cx + static_cast<int32_t>(i * std::cos(angle) - k * std::sin(angle));
                    const int32_t y = cy + static_cast<int32_t>(i * std::sin(angle) + k * std::cos(angle));
                    if (x >= 1 && y >= 1 && x < w - 1 && y < h - 1) c.ridge(x, y);
                }
        }
    }
}

}  // namespace orvane::test
