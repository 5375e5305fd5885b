#include "print_window.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "common.h"
#include "workspace/workspace.h"

namespace orvane::cli {

namespace {

constexpr int32_t kBlock = 16;              // about two ridge periods at 500 dpi
constexpr double kReferenceShare = 0.95;    // blocks ranked: the one at 95% sets the scale
constexpr double kContrastFraction = 0.25;  // a print block has at least this share of it
constexpr int32_t kMargin = kBlock;         // kept around the found box

// A window of buffer rows (row 0 = first stored row).
struct BufferBox {
    int32_t x0, y0, x1, y1;  // inclusive-exclusive
};

// The largest 8-connected region of set cells; its bounding box in cells.
bool largestRegion(const std::vector<uint8_t>& cells, int32_t columns, int32_t rows, BufferBox& box) {
    std::vector<int32_t> label(cells.size(), 0);
    std::vector<int32_t> stack;
    size_t bestSize = 0;
    int32_t next = 0;
    for (int32_t start = 0; start < columns * rows; ++start) {
        if (!cells[static_cast<size_t>(start)] || label[static_cast<size_t>(start)]) continue;
        ++next;
        BufferBox b{columns, rows, -1, -1};
        size_t size = 0;
        stack.assign(1, start);
        label[static_cast<size_t>(start)] = next;
        while (!stack.empty()) {
            const int32_t at = stack.back();
            stack.pop_back();
            ++size;
            const int32_t cx = at % columns, cy = at / columns;
            b.x0 = std::min(b.x0, cx);
            b.y0 = std::min(b.y0, cy);
            b.x1 = std::max(b.x1, cx + 1);
            b.y1 = std::max(b.y1, cy + 1);
            for (int32_t dy = -1; dy <= 1; ++dy) {
                for (int32_t dx = -1; dx <= 1; ++dx) {
                    const int32_t nx = cx + dx, ny = cy + dy;
                    if (nx < 0 || ny < 0 || nx >= columns || ny >= rows) continue;
                    const size_t n = static_cast<size_t>(ny) * static_cast<size_t>(columns) + static_cast<size_t>(nx);
                    if (cells[n] && !label[n]) {
                        label[n] = next;
                        stack.push_back(static_cast<int32_t>(n));
                    }
                }
            }
        }
        if (size > bestSize) {
            bestSize = size;
            box = b;
        }
    }
    return bestSize > 0;
}

// At most limit long, around the centre of [from, to), inside [0, extent).
void fitSpan(int32_t& from, int32_t& to, int32_t limit, int32_t extent) {
    if (to - from > limit) {
        const int32_t centre = (from + to) / 2;
        from = centre - limit / 2;
        to = from + limit;
    }
    if (from < 0) {
        to -= from;
        from = 0;
    }
    if (to > extent) {
        from -= to - extent;
        to = extent;
    }
    from = std::max(from, 0);
}

}  // namespace

PictureWindow findPrintWindow(const GreyImage& image) {
    const int32_t w = image.width, h = image.height;
    const int32_t columns = (w + kBlock - 1) / kBlock, rows = (h + kBlock - 1) / kBlock;
    BufferBox box{0, 0, w, h};
    if (w >= 3 && h >= 3) {
        // Per block: the oriented part of the gradient's structure tensor.
        std::vector<double> gxx(static_cast<size_t>(columns * rows), 0), gyy(gxx), gxy(gxx), count(gxx);
        const uint8_t* p = image.pixels.data();
        for (int32_t y = 1; y + 1 < h; ++y) {
            const uint8_t* row = p + static_cast<size_t>(y) * static_cast<size_t>(w);
            for (int32_t x = 1; x + 1 < w; ++x) {
                const double gx = double(row[x + 1]) - double(row[x - 1]);
                const double gy = double(row[x + w]) - double(row[x - w]);
                const size_t cell = static_cast<size_t>((y / kBlock) * columns + x / kBlock);
                gxx[cell] += gx * gx;
                gyy[cell] += gy * gy;
                gxy[cell] += gx * gy;
                count[cell] += 1;
            }
        }
        std::vector<double> contrast(gxx.size(), 0);
        for (size_t c = 0; c < contrast.size(); ++c) {
            if (count[c] <= 0) continue;
            const double d = gxx[c] - gyy[c];
            contrast[c] = std::sqrt(d * d + 4 * gxy[c] * gxy[c]) / count[c];
        }
        std::vector<double> ranked(contrast);
        std::sort(ranked.begin(), ranked.end());
        const double reference = ranked[static_cast<size_t>(kReferenceShare * double(ranked.size() - 1))];
        std::vector<uint8_t> cells(contrast.size(), 0);
        for (size_t c = 0; c < contrast.size(); ++c) cells[c] = reference > 0 && contrast[c] >= kContrastFraction * reference;
        BufferBox found{};
        if (largestRegion(cells, columns, rows, found)) {
            box = {std::max(0, found.x0 * kBlock - kMargin), std::max(0, found.y0 * kBlock - kMargin),
                   std::min(w, found.x1 * kBlock + kMargin), std::min(h, found.y1 * kBlock + kMargin)};
        }
    }
    fitSpan(box.x0, box.x1, kMaxWidth, w);
    fitSpan(box.y0, box.y1, kMaxHeight, h);
    // Buffer rows run bottom up; the window is given as the picture shows it.
    return {box.x0, h - box.y1, box.x1 - box.x0, box.y1 - box.y0};
}

void cropToWindow(GreyImage& image, const PictureWindow& window) {
    const int32_t firstRow = image.height - window.top - window.height;  // in buffer order
    std::vector<uint8_t> out(static_cast<size_t>(window.width) * static_cast<size_t>(window.height));
    for (int32_t y = 0; y < window.height; ++y) {
        std::memcpy(out.data() + static_cast<size_t>(y) * static_cast<size_t>(window.width),
                    image.pixels.data() + static_cast<size_t>(firstRow + y) * static_cast<size_t>(image.width) +
                        static_cast<size_t>(window.left),
                    static_cast<size_t>(window.width));
    }
    image.pixels.swap(out);
    image.width = window.width;
    image.height = window.height;
    image.cropped = true;
    image.window = window;
}

void cropToPrint(GreyImage& image) { cropToWindow(image, findPrintWindow(image)); }

CropMode cropOption(const Options& options) {
    if (!options.has("--crop")) return CropMode::None;
    const std::string mode = options.value("--crop");
    if (mode == "auto") return CropMode::Auto;
    if (mode == "centre" || mode == "center") return CropMode::Centre;
    throw UsageError("option --crop takes auto (the print's bounding box) or centre, not \"" + mode + "\"");
}

}  // namespace orvane::cli
