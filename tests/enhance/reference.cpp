#include "enhance/reference.h"

#include <cmath>
#include <cstring>

#include "core/parameters.h"
#include "orvane.h"

namespace orvane::reference {

namespace {

const int32_t kTable[12][7][2] = {
    {{-3, 0}, {-2, 0}, {-1, 0}, {0, 0}, {1, 0}, {2, 0}, {3, 0}},
    {{-3, -1}, {-2, -1}, {-1, 0}, {0, 0}, {1, 0}, {2, 1}, {3, 1}},
    {{-3, -2}, {-2, -1}, {-1, -1}, {0, 0}, {1, 1}, {2, 1}, {3, 2}},
    {{-3, -3}, {-2, -2}, {-1, -1}, {0, 0}, {1, 1}, {2, 2}, {3, 3}},
    {{-2, -3}, {-1, -2}, {-1, -1}, {0, 0}, {1, 1}, {1, 2}, {2, 3}},
    {{-1, -3}, {-1, -2}, {0, -1}, {0, 0}, {0, 1}, {1, 2}, {1, 3}},
    {{0, -3}, {0, -2}, {0, -1}, {0, 0}, {0, 1}, {0, 2}, {0, 3}},
    {{-1, 3}, {-1, 2}, {0, 1}, {0, 0}, {0, -1}, {1, -2}, {1, -3}},
    {{-2, 3}, {-1, 2}, {-1, 1}, {0, 0}, {1, -1}, {1, -2}, {2, -3}},
    {{-3, 3}, {-2, 2}, {-1, 1}, {0, 0}, {1, -1}, {2, -2}, {3, -3}},
    {{-3, 2}, {-2, 1}, {-1, 1}, {0, 0}, {1, -1}, {2, -1}, {3, -2}},
    {{-3, 1}, {-2, 1}, {-1, 0}, {0, 0}, {1, 0}, {2, -1}, {3, -1}},
};

int32_t directionIndex(int32_t code) {
    if (code >= 8 && code <= 172) return (code - 8) / 15 + 1;
    return 0;
}

int32_t lineMean(const uint8_t* plane, const Workspace& ws, int32_t x, int32_t y, int32_t k, const int32_t* weights) {
    int32_t s = 0, w = 0;
    for (int32_t i = 0; i < 7; ++i) {
        int32_t px = x + kTable[k][i][0];
        int32_t py = y + kTable[k][i][1];
        if (0 <= px && px < ws.width && 0 <= py && py < ws.height) {
            s += weights[i] * plane[py * ws.width + px];
            w += weights[i];
        }
    }
    return s / w;
}

}  // namespace

void boxMean(Workspace& ws, const uint8_t* source, uint8_t* destination, int32_t r, int32_t sampling) {
    int32_t step = sampling == 2 ? 2 : 1;
    for (int32_t y = 0; y < ws.height; ++y) {
        for (int32_t x = 0; x < ws.width; ++x) {
            int32_t sum = 0, used = 0;
            for (int32_t dy = -r; dy <= r; dy += step) {
                for (int32_t dx = -r; dx <= r; dx += step) {
                    int32_t px = x + dx, py = y + dy;
                    if (0 <= px && px < ws.width && 0 <= py && py < ws.height) {
                        sum += source[py * ws.width + px];
                        ++used;
                    }
                }
            }
            destination[y * ws.width + x] = static_cast<uint8_t>(used == 0 ? 0 : sum / used);
        }
    }
}

void halveImage(Workspace& ws) {
    int32_t w = ws.width, h = ws.height;
    int32_t hw = w / 2, hh = h / 2;
    if (hw == 0 || hh == 0) return;
    const uint8_t* img = ws.imagePlane;
    uint8_t* half = ws.scratchPlane;
    for (int32_t y = 0; y <= 2 * hh - 2; y += 2) {
        half[(y / 2) * hw + 0] = img[y * w + 0];
        half[(y / 2) * hw + hw - 1] = img[y * w + w - 1];
    }
    for (int32_t x = 0; x <= 2 * hw - 2; x += 2) {
        half[0 * hw + x / 2] = img[0 * w + x];
        half[(hh - 1) * hw + x / 2] = img[(h - 1) * w + x];
    }
    static const int32_t kernel[3][3] = {{1, 2, 1}, {2, 4, 2}, {1, 2, 1}};
    for (int32_t y = 2; y < h - 2; y += 2) {
        for (int32_t x = 2; x < w - 2; x += 2) {
            int32_t sum = 0;
            for (int32_t j = -1; j <= 1; ++j)
                for (int32_t i = -1; i <= 1; ++i) sum += kernel[j + 1][i + 1] * img[(y + j) * w + x + i];
            half[(y / 2) * hw + x / 2] = static_cast<uint8_t>(sum >> 4);
        }
    }
}

void smoothAndHalve(Workspace& ws) {
    boxMean(ws, ws.imagePlane, ws.scratchPlane, 1, 1);
    std::memcpy(ws.imagePlane, ws.scratchPlane, static_cast<size_t>(ws.pixelCount));
    boxMean(ws, ws.imagePlane, ws.scratchPlane, 1, 1);
    std::memcpy(ws.imagePlane, ws.scratchPlane, static_cast<size_t>(ws.pixelCount));
    halveImage(ws);
}

void computeOrientationField(Workspace& ws, int32_t r) {
    int32_t w = ws.width, h = ws.height;
    // The blocks miss the last column/row of an odd size: cleared first.
    if (w % 2 == 1)
        for (int32_t y = 0; y < h; ++y) ws.maskPlane[y * w + w - 1] = ws.orientationPlane[y * w + w - 1] = 0;
    if (h % 2 == 1)
        for (int32_t x = 0; x < w; ++x) ws.maskPlane[(h - 1) * w + x] = ws.orientationPlane[(h - 1) * w + x] = 0;
    int32_t hw = w / 2, hh = h / 2;
    const uint8_t* H = ws.scratchPlane;
    auto at = [&](int32_t p, int32_t q) { return static_cast<int32_t>(H[q * hw + p]); };
    for (int32_t v = 0; v < hh; ++v) {
        for (int32_t u = 0; u < hw; ++u) {
            int64_t M = 0, K = 0, L = 0, n = 0;
            for (int32_t q = v - r; q <= v + r; ++q) {
                for (int32_t p = u - r; p <= u + r; ++p) {
                    if (!(1 <= p && p <= hw - 2 && 1 <= q && q <= hh - 2)) continue;
                    int32_t gx = (at(p + 1, q - 1) + 2 * at(p + 1, q) + at(p + 1, q + 1)) -
                                 (at(p - 1, q - 1) + 2 * at(p - 1, q) + at(p - 1, q + 1));
                    int32_t gy = (at(p - 1, q + 1) + 2 * at(p, q + 1) + at(p + 1, q + 1)) -
                                 (at(p - 1, q - 1) + 2 * at(p, q - 1) + at(p + 1, q - 1));
                    M += std::abs(gx) + std::abs(gy);
                    K += gx * gx - gy * gy;
                    L += 2 * gx * gy;
                    n += 1;
                }
            }
            if (n == 0) n = 1;
            int64_t strength = M / n;
            if (strength > 255) strength = 255;
            double psi = std::atan2(static_cast<double>(K), static_cast<double>(L));
            if (psi < 0) psi += 6.283186;
            int32_t g = static_cast<int32_t>(psi * 28.64789 + 0.5);
            int32_t t = g - 135;
            if (t <= 0) t += 180;
            int32_t code = 180 - t;
            for (int32_t by = 0; by < 2; ++by) {
                for (int32_t bx = 0; bx < 2; ++bx) {
                    int32_t i = (2 * v + by) * w + 2 * u + bx;
                    ws.maskPlane[i] = static_cast<uint8_t>(strength);
                    ws.orientationPlane[i] = static_cast<uint8_t>(code);
                }
            }
        }
    }
}

int32_t segmentForeground(Workspace& ws, int32_t radius, int32_t threshold) {
    int32_t w = ws.width, h = ws.height;
    boxMean(ws, ws.maskPlane, ws.scratchPlane, radius, 2);
    for (int32_t y = 0; y < h; ++y) {
        ws.maskPlane[y * w + 0] = 255;
        ws.maskPlane[y * w + w - 1] = 255;
    }
    for (int32_t x = 0; x < w; ++x) {
        ws.maskPlane[0 * w + x] = 255;
        ws.maskPlane[(h - 1) * w + x] = 255;
    }
    int32_t count = 0;
    for (int32_t y = 1; y <= h - 2; ++y) {
        for (int32_t x = 1; x <= w - 2; ++x) {
            if (ws.scratchPlane[y * w + x] < threshold) {
                ws.maskPlane[y * w + x] = 255;
            } else {
                ws.maskPlane[y * w + x] = 0;
                ++count;
            }
        }
    }
    return count < ws.pixelCount / kForegroundShareDivisor ? 1 : 0;
}

void applyMask(Workspace& ws) {
    for (int32_t i = 0; i < ws.pixelCount; ++i) {
        if (ws.maskPlane[i] == 255) {
            ws.imagePlane[i] = 255;
            ws.orientationPlane[i] = 255;
        }
    }
}

void filterAlongRidges(Workspace& ws) {
    static const int32_t along[7] = {1, 1, 1, 1, 1, 1, 1};
    static const int32_t across[7] = {-3, -1, 3, 9, 3, -1, -3};
    int32_t w = ws.width, h = ws.height;
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            int32_t k = directionIndex(ws.orientationPlane[y * w + x]);
            ws.scratchPlane[y * w + x] = static_cast<uint8_t>(lineMean(ws.imagePlane, ws, x, y, k, along));
        }
    }
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            int32_t k = (directionIndex(ws.orientationPlane[y * w + x]) + 6) % 12;
            int32_t m = lineMean(ws.scratchPlane, ws, x, y, k, across);
            if (m < 0) m = 0;
            if (m > 255) m = 255;
            ws.imagePlane[y * w + x] = static_cast<uint8_t>(m);
        }
    }
}

void binarizeRidges(Workspace& ws) {
    static const int32_t along[7] = {2, 2, 3, 4, 3, 2, 2};
    static const int32_t across[7] = {1, 1, 1, 1, 1, 1, 1};
    int32_t w = ws.width, h = ws.height;
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            if (ws.imagePlane[y * w + x] < kRidgeDarkLevel) {
                ws.scratchPlane[y * w + x] = 0;
                continue;
            }
            int32_t k = directionIndex(ws.orientationPlane[y * w + x]);
            int32_t m1 = lineMean(ws.imagePlane, ws, x, y, k, along);
            int32_t m2 = lineMean(ws.imagePlane, ws, x, y, (k + 6) % 12, across);
            ws.scratchPlane[y * w + x] = m1 < m2 ? 0 : 255;
        }
    }
    std::memcpy(ws.imagePlane, ws.scratchPlane, static_cast<size_t>(ws.pixelCount));
}

void removeBinaryNoise(Workspace& ws) {
    int32_t w = ws.width, h = ws.height;
    std::memset(ws.scratchPlane, 255, static_cast<size_t>(ws.pixelCount));
    int32_t passes = 0;
    bool changed;
    do {
        changed = false;
        for (int32_t y = 1; y <= h - 2; ++y) {
            for (int32_t x = 1; x <= w - 2; ++x) {
                if (ws.maskPlane[y * w + x] == 255) continue;
                uint8_t v = ws.imagePlane[y * w + x];
                int32_t n = 0;
                for (int32_t dy = -1; dy <= 1; ++dy)
                    for (int32_t dx = -1; dx <= 1; ++dx)
                        if ((dx != 0 || dy != 0) && ws.imagePlane[(y + dy) * w + x + dx] == v) ++n;
                if (n < 2) {
                    ws.scratchPlane[y * w + x] = static_cast<uint8_t>(255 - v);
                    changed = true;
                } else {
                    ws.scratchPlane[y * w + x] = v;
                }
            }
        }
        std::memcpy(ws.imagePlane, ws.scratchPlane, static_cast<size_t>(ws.pixelCount));
        ++passes;
    } while (changed && passes < kNoisePasses);
}

int32_t measureQuality(Workspace& ws, const uint8_t* image, int32_t width, int32_t height, int32_t* quality) {
    if (setWorkspaceImage(ws, image, width, height) != 0) return ORVANE_E_IMAGE_SIZE;
    smoothAndHalve(ws);
    computeOrientationField(ws, kOrientationRadius);
    segmentForeground(ws, kSegmentationRadius, kQualityThreshold);
    int32_t count = 0;
    for (int32_t y = 0; y < ws.height; ++y)
        for (int32_t x = 0; x < ws.width; ++x)
            if (ws.maskPlane[y * ws.width + x] != 255) ++count;
    int32_t q = static_cast<int32_t>(static_cast<double>(count * 100) / (ws.pixelCount * kFullQualityShare) + 0.5);
    *quality = q > 100 ? 100 : q;
    return 0;
}

}  // namespace orvane::reference
