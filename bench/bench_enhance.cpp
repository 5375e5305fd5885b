// Each enhancement stage and the quality score on one 640 x 480 print: a real
// one when the data folder is present, a synthetic ridge pattern otherwise.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>

#include "core/parameters.h"
#include "enhance/enhance.h"
#include "formats/bitmap.h"
#include "interface/extraction.h"

namespace {

using orvane::Workspace;

constexpr int32_t kWidth = 640;
constexpr int32_t kHeight = 480;

// The grey print, 640 x 480.
const uint8_t* printImage() {
    static uint8_t image[kWidth * kHeight];
    static bool ready = false;
    if (ready) return image;
    const std::string path = std::string(ORVANE_DATA_DIR) + "/fvc2004_db1_b/101_1.bmp";
    int32_t width = 0, height = 0;
    if (orvane::readBitmap(path.c_str(), nullptr, &width, &height) != 0 || width != kWidth || height != kHeight ||
        orvane::readBitmap(path.c_str(), image, &width, &height) != 0) {
        for (int32_t y = 0; y < kHeight; ++y) {
            for (int32_t x = 0; x < kWidth; ++x) {
                const double dx = x - 320.0, dy = y - 250.0;
                const bool inside = dx * dx / (260.0 * 260.0) + dy * dy / (210.0 * 210.0) <= 1.0;
                const double r = std::sqrt(dx * dx + 1.7 * dy * dy);
                image[y * kWidth + x] =
                    static_cast<uint8_t>(inside ? 120.0 + 90.0 * std::sin(r * 0.7) : 215.0 + ((x * 7 + y * 13) % 9));
            }
        }
    }
    ready = true;
    return image;
}

// A workspace holding the print after the stages before `stop`.
enum class Stop { kSmoothing, kOrientation, kSegmentation, kFilter, kBinarize, kNoise, kMask };

std::unique_ptr<Workspace> prepared(Stop stop) {
    std::unique_ptr<Workspace> ws(new Workspace());
    orvane::setWorkspaceImage(*ws, printImage(), kWidth, kHeight);
    if (stop == Stop::kSmoothing) return ws;
    orvane::smoothAndHalve(*ws);
    if (stop == Stop::kOrientation) return ws;
    orvane::computeOrientationField(*ws, orvane::kOrientationRadius);
    if (stop == Stop::kSegmentation) return ws;
    orvane::segmentForeground(*ws, orvane::kSegmentationRadius, orvane::kSegmentationThreshold);
    if (stop == Stop::kFilter) return ws;
    orvane::filterAlongRidges(*ws);
    if (stop == Stop::kBinarize) return ws;
    orvane::binarizeRidges(*ws);
    if (stop == Stop::kNoise) return ws;
    orvane::removeBinaryNoise(*ws);
    return ws;
}

void BM_BoxMean3x3(benchmark::State& state) {
    auto ws = prepared(Stop::kSmoothing);
    for (auto _ : state) {
        orvane::boxMean(*ws, ws->imagePlane, ws->scratchPlane, 1, 1);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_BoxMean3x3)->Unit(benchmark::kMicrosecond);

void BM_BoxMeanRadius12Sampling2(benchmark::State& state) {
    auto ws = prepared(Stop::kSegmentation);
    for (auto _ : state) {
        orvane::boxMean(*ws, ws->maskPlane, ws->scratchPlane, orvane::kSegmentationRadius, 2);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_BoxMeanRadius12Sampling2)->Unit(benchmark::kMicrosecond);

void BM_HalveImage(benchmark::State& state) {
    auto ws = prepared(Stop::kOrientation);
    for (auto _ : state) {
        orvane::halveImage(*ws);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_HalveImage)->Unit(benchmark::kMicrosecond);

void BM_SmoothAndHalve(benchmark::State& state) {
    auto ws = prepared(Stop::kSmoothing);
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(ws->imagePlane, printImage(), kWidth * kHeight);
        state.ResumeTiming();
        orvane::smoothAndHalve(*ws);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_SmoothAndHalve)->Unit(benchmark::kMicrosecond);

void BM_ComputeOrientationField(benchmark::State& state) {
    auto ws = prepared(Stop::kOrientation);
    for (auto _ : state) {
        orvane::computeOrientationField(*ws, orvane::kOrientationRadius);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_ComputeOrientationField)->Unit(benchmark::kMicrosecond);

// Stages that change their own input run on a fresh copy of it each time.
template <Stop kStop, void (*kRun)(Workspace&)>
void runInPlaceStage(benchmark::State& state) {
    auto ws = prepared(kStop);
    auto start = prepared(kStop);
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(ws->imagePlane, start->imagePlane, sizeof ws->imagePlane);
        std::memcpy(ws->maskPlane, start->maskPlane, sizeof ws->maskPlane);
        std::memcpy(ws->orientationPlane, start->orientationPlane, sizeof ws->orientationPlane);
        state.ResumeTiming();
        kRun(*ws);
        benchmark::ClobberMemory();
    }
}

void segment(Workspace& ws) {
    benchmark::DoNotOptimize(orvane::segmentForeground(ws, orvane::kSegmentationRadius, orvane::kSegmentationThreshold));
}

BENCHMARK_TEMPLATE(runInPlaceStage, Stop::kSegmentation, segment)
    ->Name("BM_SegmentForeground")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(runInPlaceStage, Stop::kFilter, orvane::filterAlongRidges)
    ->Name("BM_FilterAlongRidges")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(runInPlaceStage, Stop::kBinarize, orvane::binarizeRidges)
    ->Name("BM_BinarizeRidges")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(runInPlaceStage, Stop::kNoise, orvane::removeBinaryNoise)
    ->Name("BM_RemoveBinaryNoise")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(runInPlaceStage, Stop::kMask, orvane::applyMask)
    ->Name("BM_ApplyMask")
    ->Unit(benchmark::kMicrosecond);

void BM_MeasureQuality(benchmark::State& state) {
    std::unique_ptr<Workspace> ws(new Workspace());
    int32_t quality = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(orvane::measureQuality(*ws, printImage(), kWidth, kHeight, &quality));
    }
    state.counters["quality"] = quality;
}
BENCHMARK(BM_MeasureQuality)->Unit(benchmark::kMicrosecond);

}  // namespace
