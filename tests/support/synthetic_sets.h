// Minutia sets for matcher tests and benchmarks: random sets of several
// densities, and synthetic "fingers" whose impressions are turned, shifted and
// jittered copies with minutiae lost and added, as two prints of one finger
// are. Header-only so the benchmark can use it too.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "core/minutia.h"

namespace orvane::synthetic {

inline int32_t uniform(std::mt19937& rng, int32_t lo, int32_t hi) {
    return std::uniform_int_distribution<int32_t>(lo, hi)(rng);
}

inline bool chance(std::mt19937& rng, double p) { return std::uniform_real_distribution<double>(0.0, 1.0)(rng) < p; }

inline MinutiaSet emptySet() {
    MinutiaSet s{};
    return s;
}

// count minutiae with x in [x0, x0 + w), y in [y0, y0 + h), any direction,
// kinds 1 and 2, rings 0..179 with some 255.
inline MinutiaSet randomSet(std::mt19937& rng, int32_t count, int32_t x0, int32_t y0, int32_t w, int32_t h) {
    MinutiaSet s = emptySet();
    s.count = count;
    for (int32_t i = 0; i < count; ++i) {
        Minutia& m = s.minutiae[i];
        m.x = x0 + uniform(rng, 0, w - 1);
        m.y = y0 + uniform(rng, 0, h - 1);
        m.direction = uniform(rng, 0, 359);
        for (int32_t& r : m.ringOrientation) r = chance(rng, 0.1) ? 255 : uniform(rng, 0, 179);
        m.kind = uniform(rng, 1, 2);
    }
    return s;
}

// A finger: minutiae in a print-sized oval around the origin, at least 11
// pixels apart, directions following a smooth ridge flow with a core.
struct Finger {
    struct Point {
        double x, y;
        double direction;  // degrees
        int32_t kind;
    };
    std::vector<Point> points;
    double coreX, coreY, flow;

    // Ridge orientation in degrees, 0..180, at a point of the finger frame.
    double orientationAt(double x, double y) const {
        double o = flow + 0.5 * std::atan2(y - coreY, x - coreX) * 57.29578 + 0.02 * x;
        o = std::fmod(o, 180.0);
        return o < 0 ? o + 180.0 : o;
    }
};

inline Finger makeFinger(std::mt19937& rng, int32_t count) {
    Finger f;
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    f.coreX = 20 * unit(rng);
    f.coreY = -40 + 20 * unit(rng);
    f.flow = 90 + 30 * unit(rng);
    const double a = 120 + 20 * unit(rng), b = 150 + 20 * unit(rng);
    int tries = 0;
    while (static_cast<int32_t>(f.points.size()) < count && tries++ < 20000) {
        const double x = a * unit(rng), y = b * unit(rng);
        if ((x * x) / (a * a) + (y * y) / (b * b) > 1.0) continue;
        bool close = false;
        for (const auto& p : f.points) close = close || (p.x - x) * (p.x - x) + (p.y - y) * (p.y - y) < 121.0;
        if (close) continue;
        const double d = f.orientationAt(x, y) + (chance(rng, 0.5) ? 180.0 : 0.0);
        f.points.push_back({x, y, d, chance(rng, 0.55) ? 1 : 2});
    }
    return f;
}

struct Impression {
    double rotation = 0;  // degrees
    double shiftX = 320, shiftY = 240;
    double keep = 0.85;      // share of the finger's minutiae seen
    double spurious = 0.12;  // added minutiae, as a share of the finger's
    double jitter = 1.5;     // position noise, pixels
    int32_t directionJitter = 6;
    double kindFlip = 0.08;
    double ringMissing = 0.08;
};

inline int32_t wrapDirection(double d) {
    int32_t v = static_cast<int32_t>(std::lround(d)) % 360;
    return v < 0 ? v + 360 : v;
}

inline int32_t wrapOrientation(double d) {
    int32_t v = static_cast<int32_t>(std::lround(d)) % 180;
    return v < 0 ? v + 180 : v;
}

// One print of the finger: endings first, then bifurcations, as detection
// lists them; at most 60 minutiae inside a 640 x 480 frame.
inline MinutiaSet impress(std::mt19937& rng, const Finger& f, const Impression& im) {
    std::normal_distribution<double> noise(0.0, im.jitter);
    const double t = im.rotation * 0.017453292519943295;
    const double c = std::cos(t), s = std::sin(t);
    std::vector<Minutia> out;
    auto place = [&](double x, double y, double direction, int32_t kind) {
        Minutia m{};
        const double X = c * x - s * y + im.shiftX + noise(rng);
        const double Y = s * x + c * y + im.shiftY + noise(rng);
        if (X < 0 || Y < 0 || X > 639 || Y > 479) return;
        m.x = static_cast<int32_t>(std::lround(X));
        m.y = static_cast<int32_t>(std::lround(Y));
        m.direction = wrapDirection(direction + im.rotation + uniform(rng, -im.directionJitter, im.directionJitter));
        const double offsets[3] = {45, 165, 285};
        for (int k = 0; k < 3; ++k) {
            const double a = (direction + offsets[k]) * 0.017453292519943295;
            const double o = f.orientationAt(x + 16 * std::cos(a), y + 16 * std::sin(a));
            m.ringOrientation[k] = chance(rng, im.ringMissing) ? 255 : wrapOrientation(o + im.rotation + uniform(rng, -4, 4));
        }
        m.kind = chance(rng, im.kindFlip) ? 3 - kind : kind;
        out.push_back(m);
    };
    for (const auto& p : f.points) {
        if (chance(rng, im.keep)) place(p.x, p.y, p.direction, p.kind);
    }
    const int32_t extra = static_cast<int32_t>(im.spurious * static_cast<double>(f.points.size()) + 0.5);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    for (int32_t k = 0; k < extra; ++k) {
        const double x = 130 * unit(rng), y = 160 * unit(rng);
        place(x, y, f.orientationAt(x, y) + (chance(rng, 0.5) ? 180.0 : 0.0), uniform(rng, 1, 2));
    }
    std::shuffle(out.begin(), out.end(), rng);
    std::stable_sort(out.begin(), out.end(), [](const Minutia& a, const Minutia& b) { return a.kind < b.kind; });
    MinutiaSet set = emptySet();
    set.count = static_cast<int32_t>(std::min<size_t>(out.size(), kMaxMinutiae));
    for (int32_t i = 0; i < set.count; ++i) set.minutiae[i] = out[static_cast<size_t>(i)];
    return set;
}

// A typical second impression: turned by up to 30 degrees either way (so
// through 0/360 as often as not), shifted by up to 60 pixels.
inline Impression randomImpression(std::mt19937& rng) {
    Impression im;
    im.rotation = std::uniform_real_distribution<double>(-30.0, 30.0)(rng);
    im.shiftX = 320 + uniform(rng, -60, 60);
    im.shiftY = 240 + uniform(rng, -50, 50);
    return im;
}

}  // namespace orvane::synthetic
