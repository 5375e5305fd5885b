// Test images for the enhancement stages.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "support/test_support.h"
#include "workspace/workspace.h"

namespace orvane::test {

struct Size {
    int32_t width;
    int32_t height;
};

// Sizes from degenerate to full, odd and even.
inline std::vector<Size> testSizes() {
    return {{1, 1},   {1, 7},   {7, 1},   {2, 2},   {2, 3},    {3, 2},    {3, 3},    {4, 4},    {4, 9},
            {5, 5},   {6, 7},   {7, 6},   {8, 8},   {13, 9},   {31, 17},  {64, 48},  {101, 77}, {256, 360},
            {257, 361}, {639, 479}, {640, 480}};
}

// Every byte of all four planes random, so that stray reads or writes outside
// the image show up as differences.
inline void fillPlanesRandomly(Workspace& ws, std::mt19937& rng) {
    for (uint8_t* plane : {ws.imagePlane, ws.orientationPlane, ws.maskPlane, ws.scratchPlane}) {
        for (int32_t i = 0; i < kPlaneSize; i += 4) {
            const uint32_t bits = rng();
            std::memcpy(plane + i, &bits, 4);
        }
    }
}

inline void setSize(Workspace& ws, Size size) {
    ws.width = size.width;
    ws.height = size.height;
    ws.pixelCount = size.width * size.height;
}

// A print-like image: curved ridges of period about 9 pixels inside an
// ellipse, pale noisy background around it.
inline std::vector<uint8_t> syntheticPrint(Size size, uint32_t seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0.0, 6.0);
    std::vector<uint8_t> image(static_cast<size_t>(size.width) * size.height);
    const double cx = size.width * 0.48, cy = size.height * 0.55;
    const double ax = size.width * 0.38, ay = size.height * 0.42;
    for (int32_t y = 0; y < size.height; ++y) {
        for (int32_t x = 0; x < size.width; ++x) {
            const double dx = x - cx, dy = y - cy;
            double value;
            if ((dx * dx) / (ax * ax) + (dy * dy) / (ay * ay) <= 1.0) {
                const double r = std::sqrt(dx * dx + 1.7 * dy * dy) + 0.02 * dx * dy / (1.0 + std::fabs(dy));
                value = 120.0 + 90.0 * std::sin(r * 0.7) + noise(rng);
            } else {
                value = 215.0 + noise(rng);
            }
            image[static_cast<size_t>(y) * size.width + x] =
                static_cast<uint8_t>(value < 0 ? 0 : (value > 255 ? 255 : value));
        }
    }
    return image;
}

inline std::unique_ptr<Workspace> copyOf(const Workspace& ws) {
    auto copy = makeWorkspace();
    std::memcpy(static_cast<void*>(copy.get()), static_cast<const void*>(&ws), sizeof(Workspace));
    return copy;
}

// First differing byte of two planes (over the whole plane), or -1.
inline int32_t firstDifference(const uint8_t* a, const uint8_t* b) {
    for (int32_t i = 0; i < kPlaneSize; ++i)
        if (a[i] != b[i]) return i;
    return -1;
}

}  // namespace orvane::test
