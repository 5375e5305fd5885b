#include "synth.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <random>

#include "batch.h"
#include "common.h"

namespace fs = std::filesystem;

namespace orvane::cli {

namespace {

constexpr double kPi = 3.14159265358979323846;

uint64_t splitMix(uint64_t x) {
    x += 0x9E3779B97F4A7C15ULL;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    return x ^ (x >> 31);
}

uint32_t mixSeed(uint32_t seed, uint32_t a, uint32_t b) {
    return static_cast<uint32_t>(splitMix(splitMix(splitMix(seed) ^ a) ^ (uint64_t(b) << 32)));
}

// Deterministic on every platform: only the raw engine output is used.
class Random {
public:
    explicit Random(uint32_t seed) : engine_(seed) {}
    double uniform() { return (engine_() >> 5) * (1.0 / 134217728.0); }  // [0, 1)
    double range(double lo, double hi) { return lo + (hi - lo) * uniform(); }
    double normal() {
        const double u = std::max(uniform(), 1e-12), v = uniform();
        return std::sqrt(-2.0 * std::log(u)) * std::cos(2 * kPi * v);
    }
    bool chance(double p) { return uniform() < p; }

private:
    std::mt19937 engine_;
};

// A smooth random field: a sum of a few plane waves, values about -1..1.
class SmoothField {
public:
    SmoothField(Random& rng, int waves, double minWavelength, double maxWavelength) {
        for (int i = 0; i < waves; ++i) {
            const double angle = rng.range(0, 2 * kPi);
            const double k = 2 * kPi / rng.range(minWavelength, maxWavelength);
            waves_.push_back({k * std::cos(angle), k * std::sin(angle), rng.range(0, 2 * kPi)});
        }
        norm_ = waves > 0 ? 1.0 / std::sqrt(waves / 2.0) : 0;
    }
    double operator()(double x, double y) const {
        double s = 0;
        for (const Wave& w : waves_) s += std::sin(w.kx * x + w.ky * y + w.phase);
        return s * norm_;
    }

private:
    struct Wave {
        double kx, ky, phase;
    };
    std::vector<Wave> waves_;
    double norm_ = 0;
};

// A smooth field sampled every few pixels of the output and interpolated.
class CoarseGrid {
public:
    CoarseGrid(const SmoothField& field, int width, int height, int step)
        : step_(step), columns_(width / step + 2), rows_(height / step + 2) {
        values_.resize(static_cast<size_t>(columns_) * rows_);
        for (int r = 0; r < rows_; ++r) {
            for (int c = 0; c < columns_; ++c) values_[static_cast<size_t>(r) * columns_ + c] = field(c * step, r * step);
        }
    }
    double operator()(int x, int y) const {
        const int c = x / step_, r = y / step_;
        const double fx = double(x - c * step_) / step_, fy = double(y - r * step_) / step_;
        const double* v0 = &values_[static_cast<size_t>(r) * columns_ + c];
        const double* v1 = v0 + columns_;
        return (v0[0] * (1 - fx) + v0[1] * fx) * (1 - fy) + (v1[0] * (1 - fx) + v1[1] * fx) * fy;
    }

private:
    int step_, columns_, rows_;
    std::vector<double> values_;
};

double smoothStep(double edge0, double edge1, double x) {
    const double t = std::clamp((x - edge0) / (edge1 - edge0), 0.0, 1.0);
    return t * t * (3 - 2 * t);
}

struct Singularity {
    double x, y;
};

// Ridge orientation (radians, modulo pi; 0 along the rows) of the pattern.
class OrientationModel {
public:
    OrientationModel(Random& rng, double cx, double cy, double rx, double ry)
        : cx_(cx), cy_(cy), rx_(rx), ry_(ry), wobble_(rng, 5, 120, 320) {
        const double kind = rng.uniform();
        const double coreX = cx + rng.normal() * 22;
        const double coreY = cy - 0.15 * ry + rng.normal() * 28;
        if (kind < 0.62) {  // loop, opening to the left or right
            const double side = rng.chance(0.5) ? 1 : -1;
            cores_.push_back({coreX, coreY});
            deltas_.push_back({coreX + side * rng.range(40, 120), coreY + rng.range(70, 150)});
        } else if (kind < 0.90) {  // whorl: two cores, two deltas
            const double tilt = rng.normal() * 0.35;
            const double half = rng.range(10, 22);
            cores_.push_back({coreX - half * std::sin(tilt), coreY - half * std::cos(tilt)});
            cores_.push_back({coreX + half * std::sin(tilt), coreY + half * std::cos(tilt)});
            deltas_.push_back({coreX - rng.range(60, 130), coreY + rng.range(60, 140)});
            deltas_.push_back({coreX + rng.range(60, 130), coreY + rng.range(60, 140)});
        } else if (kind < 0.95) {  // tented arch
            cores_.push_back({coreX, coreY});
            deltas_.push_back({coreX + rng.normal() * 6, coreY + rng.range(55, 75)});
        } else {
            arch_ = true;
            archHeight_ = rng.range(30, 50);
            archWidth_ = rng.range(70, 100);
        }
        wobbleAmount_ = rng.range(0.05, 0.12);
        // The finger lies turned on the pad by a few degrees.
        turn_ = rng.normal() * 0.15;
    }

    double operator()(double px, double py) const {
        const double c = std::cos(turn_), s = std::sin(turn_);
        const double x = cx_ + c * (px - cx_) + s * (py - cy_);
        const double y = cy_ - s * (px - cx_) + c * (py - cy_);
        double theta = turn_;
        if (arch_) {
            const double h = std::max(6.0, archHeight_ * (0.6 + 0.8 * (cy_ - y) / ry_));
            const double u = (x - cx_) / archWidth_;
            theta = std::atan(h * 2 * u / archWidth_ * std::exp(-u * u));
        } else {
            // A core turns the orientation by +pi on a loop around it, a delta by -pi.
            for (const Singularity& c : cores_) theta += 0.5 * std::atan2(y - c.y, x - c.x);
            for (const Singularity& d : deltas_) theta -= 0.5 * std::atan2(y - d.y, x - d.x);
        }
        return theta + wobbleAmount_ * wobble_(px, py);
    }

private:
    double cx_, cy_, rx_, ry_;
    std::vector<Singularity> cores_, deltas_;
    bool arch_ = false;
    double archHeight_ = 0, archWidth_ = 0;
    SmoothField wobble_;
    double wobbleAmount_ = 0;
    double turn_ = 0;
};

constexpr int kOrientationBins = 36;
constexpr int kKernelRadius = 7;
constexpr int kKernelSide = 2 * kKernelRadius + 1;

// Oriented Gabor kernels, one per orientation bin, with no response to a flat image.
std::vector<float> makeKernels(double period) {
    std::vector<float> kernels(static_cast<size_t>(kOrientationBins) * kKernelSide * kKernelSide);
    const double sigmaAlong = 4.5, sigmaAcross = 0.36 * period;
    for (int b = 0; b < kOrientationBins; ++b) {
        const double theta = kPi * b / kOrientationBins;
        const double c = std::cos(theta), s = std::sin(theta);
        float* k = &kernels[static_cast<size_t>(b) * kKernelSide * kKernelSide];
        double sum = 0, weight = 0;
        std::vector<double> envelope(kKernelSide * kKernelSide);
        for (int dy = -kKernelRadius; dy <= kKernelRadius; ++dy) {
            for (int dx = -kKernelRadius; dx <= kKernelRadius; ++dx) {
                const double along = dx * c + dy * s;
                const double across = -dx * s + dy * c;
                const double e = std::exp(-(along * along) / (2 * sigmaAlong * sigmaAlong) -
                                          (across * across) / (2 * sigmaAcross * sigmaAcross));
                const size_t i = static_cast<size_t>((dy + kKernelRadius) * kKernelSide + dx + kKernelRadius);
                envelope[i] = e;
                k[i] = static_cast<float>(e * std::cos(2 * kPi * across / period));
                sum += k[i];
                weight += e;
            }
        }
        for (size_t i = 0; i < envelope.size(); ++i) k[i] = static_cast<float>(k[i] - sum / weight * envelope[i]);
    }
    return kernels;
}

}  // namespace

MasterPrint makeMasterPrint(uint32_t seed) {
    Random rng(seed);
    MasterPrint m;
    m.width = 440;
    m.height = 520;
    m.centreX = m.width / 2.0f + static_cast<float>(rng.normal() * 5);
    m.centreY = m.height / 2.0f + static_cast<float>(rng.normal() * 5);
    m.radiusX = static_cast<float>(rng.range(135, 160));
    m.radiusY = static_cast<float>(rng.range(185, 215));
    m.period = static_cast<float>(rng.range(8.6, 10.2));
    const OrientationModel orientation(rng, m.centreX, m.centreY, m.radiusX, m.radiusY);

    // Ridges grow on a half-resolution grid from a few seeds: each round
    // filters along the local orientation and clips, so ridges spread out and
    // meet; where they meet, endings and bifurcations form.
    const int w = m.width / 2, h = m.height / 2;
    std::vector<uint8_t> bin(static_cast<size_t>(w) * h, 0);
    std::vector<uint8_t> active(static_cast<size_t>(w) * h, 0);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const double fx = 2 * x + 0.5, fy = 2 * y + 0.5;
            const double ex = (fx - m.centreX) / (m.radiusX * 1.12), ey = (fy - m.centreY) / (m.radiusY * 1.12);
            const size_t i = static_cast<size_t>(y) * w + x;
            active[i] = ex * ex + ey * ey <= 1.0 && x >= kKernelRadius && y >= kKernelRadius &&
                        x < w - kKernelRadius && y < h - kKernelRadius;
            double t = std::fmod(orientation(fx, fy), kPi);
            if (t < 0) t += kPi;
            bin[i] = static_cast<uint8_t>(static_cast<int>(std::lround(t / kPi * kOrientationBins)) % kOrientationBins);
        }
    }
    const double halfPeriod = m.period / 2.0;
    const std::vector<float> kernels = makeKernels(halfPeriod);
    // Response of a kernel to a ridge pattern of amplitude 1 that fits it.
    double fitted = 0;
    for (int dy = -kKernelRadius; dy <= kKernelRadius; ++dy) {
        for (int dx = -kKernelRadius; dx <= kKernelRadius; ++dx) {
            fitted += kernels[static_cast<size_t>((dy + kKernelRadius) * kKernelSide + dx + kKernelRadius)] *
                      std::cos(2 * kPi * dy / halfPeriod);
        }
    }
    const float gain = static_cast<float>(1.6 / fitted);

    std::vector<float> current(static_cast<size_t>(w) * h, 0.0f), next(current.size(), 0.0f);
    // A faint noise floor beside the seeds: more places where ridges meet.
    const double floor = rng.range(0.2, 0.3);
    for (size_t i = 0; i < current.size(); ++i) {
        if (active[i]) current[i] = static_cast<float>(floor * (rng.uniform() * 2 - 1));
    }
    const int seeds = static_cast<int>(rng.range(20, 45));
    for (int k = 0; k < seeds; ++k) {
        const double a = rng.range(0, 2 * kPi), r = std::sqrt(rng.uniform()) * 0.9;
        const int sx = static_cast<int>((m.centreX + r * m.radiusX * std::cos(a)) / 2);
        const int sy = static_cast<int>((m.centreY + r * m.radiusY * std::sin(a)) / 2);
        if (sx < 0 || sy < 0 || sx >= w || sy >= h) continue;
        current[static_cast<size_t>(sy) * w + sx] = rng.chance(0.5) ? 1.0f : -1.0f;
    }
    constexpr int kIterations = 28;
    for (int it = 0; it < kIterations; ++it) {
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const size_t i = static_cast<size_t>(y) * w + x;
                if (!active[i]) continue;
                const float* k = &kernels[static_cast<size_t>(bin[i]) * kKernelSide * kKernelSide];
                float acc = 0;
                for (int dy = -kKernelRadius; dy <= kKernelRadius; ++dy) {
                    const float* row = &current[static_cast<size_t>(y + dy) * w + x - kKernelRadius];
                    const float* kr = k + (dy + kKernelRadius) * kKernelSide;
                    for (int dx = 0; dx < kKernelSide; ++dx) acc += kr[dx] * row[dx];
                }
                next[i] = std::clamp(acc * gain, -1.0f, 1.0f);
            }
        }
        current.swap(next);
    }
    // Up to full resolution.
    m.ridges.assign(static_cast<size_t>(m.width) * m.height, 0.0f);
    for (int y = 0; y < m.height; ++y) {
        const double sy = std::clamp((y - 0.5) / 2.0, 0.0, h - 1.001);
        const int y0 = static_cast<int>(sy);
        const double fy = sy - y0;
        for (int x = 0; x < m.width; ++x) {
            const double sx = std::clamp((x - 0.5) / 2.0, 0.0, w - 1.001);
            const int x0 = static_cast<int>(sx);
            const double fx = sx - x0;
            const float* r0 = &current[static_cast<size_t>(y0) * w + x0];
            const float* r1 = r0 + w;
            m.ridges[static_cast<size_t>(y) * m.width + x] = static_cast<float>(
                (r0[0] * (1 - fx) + r0[1] * fx) * (1 - fy) + (r1[0] * (1 - fx) + r1[1] * fx) * fy);
        }
    }
    return m;
}

GreyImage makeImpression(const MasterPrint& master, uint32_t seed, int width, int height) {
    Random rng(seed);
    const double rotation = std::clamp(rng.normal() * 0.2, -0.5, 0.5);
    const double shiftX = rng.range(-0.15, 0.15) * width, shiftY = rng.range(-0.13, 0.13) * height;
    const double pressure = rng.range(0.7, 1.0);
    const double contactShiftY = rng.range(-25, 25);
    const double dryness = rng.range(-0.22, 0.38);
    const double contrast = rng.range(0.55, 0.95);
    const double background = rng.range(205, 245);
    const double noise = rng.range(8, 22);
    const double distortion = rng.range(4.0, 11.0);
    constexpr int kStep = 8;
    const CoarseGrid distortX(SmoothField(rng, 3, 150, 320), width, height, kStep);
    const CoarseGrid distortY(SmoothField(rng, 3, 150, 320), width, height, kStep);
    const CoarseGrid edge(SmoothField(rng, 5, 90, 200), width, height, kStep);
    const CoarseGrid patches(SmoothField(rng, 5, 40, 120), width, height, kStep);
    const CoarseGrid wetness(SmoothField(rng, 5, 30, 90), width, height, kStep);
    const double patchLevel = rng.range(0.3, 0.9);

    const double c = std::cos(rotation), s = std::sin(rotation);
    std::vector<float> grey(static_cast<size_t>(width) * height);
    auto sample = [&](double x, double y) {
        const int x0 = static_cast<int>(std::floor(x)), y0 = static_cast<int>(std::floor(y));
        if (x0 < 0 || y0 < 0 || x0 + 1 >= master.width || y0 + 1 >= master.height) return 0.0;
        const double fx = x - x0, fy = y - y0;
        const float* r0 = &master.ridges[static_cast<size_t>(y0) * master.width + x0];
        const float* r1 = r0 + master.width;
        return (r0[0] * (1 - fx) + r0[1] * fx) * (1 - fy) + (r1[0] * (1 - fx) + r1[1] * fx) * fy;
    };
    for (int v = 0; v < height; ++v) {
        for (int u = 0; u < width; ++u) {
            const double px = u - width / 2.0 - shiftX, py = v - height / 2.0 - shiftY;
            double mx = master.centreX + c * px + s * py;
            double my = master.centreY - s * px + c * py;
            const double ex = (mx - master.centreX) / (master.radiusX * pressure);
            const double ey = (my - master.centreY - contactShiftY) / (master.radiusY * (0.5 + 0.5 * pressure));
            const double reach = std::sqrt(ex * ex + ey * ey) * (1 + 0.06 * edge(u, v));
            const double contact = smoothStep(1.0, 0.86, reach);
            // Skin stretches more towards the rim of the contact area.
            const double stretch = distortion * (0.4 + 0.6 * std::min(1.0, reach));
            mx += stretch * distortX(u, v);
            my += stretch * distortY(u, v);
            const double ridge = sample(mx, my);
            const double ink = std::clamp(0.5 - 1.4 * (ridge + dryness + 0.18 * wetness(u, v)), 0.0, 1.0);
            const double patch = 1 - 0.4 * smoothStep(patchLevel, patchLevel + 0.5, patches(u, v));
            grey[static_cast<size_t>(v) * width + u] =
                static_cast<float>(background - contrast * (background - 15) * ink * contact * patch);
        }
    }
    // Sensor blur (3 x 3 binomial) and noise.
    GreyImage image;
    image.width = width;
    image.height = height;
    image.pixels.resize(grey.size());
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            double sum = 0, weight = 0;
            for (int dy = -1; dy <= 1; ++dy) {
                for (int dx = -1; dx <= 1; ++dx) {
                    const int xx = x + dx, yy = y + dy;
                    if (xx < 0 || yy < 0 || xx >= width || yy >= height) continue;
                    const double wgt = (dx ? 1 : 2) * (dy ? 1 : 2);
                    sum += wgt * grey[static_cast<size_t>(yy) * width + xx];
                    weight += wgt;
                }
            }
            // Roughly normal noise: the sum of four uniforms has variance 1/3.
            const double n = rng.uniform() + rng.uniform() + rng.uniform() + rng.uniform() - 2.0;
            const double value = sum / weight + noise * 1.7320508 * n;
            image.pixels[static_cast<size_t>(y) * width + x] =
                static_cast<uint8_t>(std::clamp(std::lround(value), 0L, 255L));
        }
    }
    return image;
}

std::vector<std::string> synthesiseDatabase(const std::string& dir, const SynthOptions& options) {
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (!fs::is_directory(dir, ec)) throw CliError(dir + ": cannot create folder");
    const int digits = options.fingers >= 1000 ? 5 : 3;
    std::vector<std::string> paths;
    for (int f = 0; f < options.fingers; ++f) {
        for (int i = 0; i < options.impressions; ++i) {
            char name[48];
            std::snprintf(name, sizeof name, "%0*d_%d.bmp", digits, f + 1, i + 1);
            paths.push_back((fs::path(dir) / name).string());
        }
    }
    parallelFor(static_cast<size_t>(options.fingers), "synthesising", [&](size_t f, Workspace&) {
        const MasterPrint master = makeMasterPrint(mixSeed(options.seed, static_cast<uint32_t>(f), 0xF1));
        for (int i = 0; i < options.impressions; ++i) {
            GreyImage image = makeImpression(master, mixSeed(options.seed, static_cast<uint32_t>(f), i + 1),
                                             options.width, options.height);
            // Bitmaps store the bottom row first.
            GreyImage stored = image;
            for (int y = 0; y < image.height; ++y) {
                std::copy_n(&image.pixels[static_cast<size_t>(image.height - 1 - y) * image.width], image.width,
                            &stored.pixels[static_cast<size_t>(y) * image.width]);
            }
            saveGreyBitmap(paths[f * options.impressions + i], stored);
        }
    });
    return paths;
}

}  // namespace orvane::cli
