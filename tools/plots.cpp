#include "plots.h"

#include <cairo-pdf.h>
#include <cairo-svg.h>
#include <cairo.h>
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "common.h"
#include "evaluation.h"

namespace orvane::cli {

namespace {

bool g_textDrawn = false;

using SurfacePtr = std::unique_ptr<cairo_surface_t, void (*)(cairo_surface_t*)>;
using ContextPtr = std::unique_ptr<cairo_t, void (*)(cairo_t*)>;


struct Rgb {
    double r, g, b;
};
const Rgb kSeriesColours[] = {{0.12, 0.47, 0.71}, {0.85, 0.37, 0.01}, {0.2, 0.63, 0.17}};
const Rgb kGenuine = {0.15, 0.55, 0.25};
const Rgb kImpostor = {0.80, 0.15, 0.15};

void setColour(cairo_t* cr, const Rgb& c, double alpha = 1.0) { cairo_set_source_rgba(cr, c.r, c.g, c.b, alpha); }

void text(cairo_t* cr, double x, double y, const std::string& s, double size, double alignX = 0) {
    g_textDrawn = true;
    cairo_set_font_size(cr, size);
    cairo_text_extents_t ext;
    cairo_text_extents(cr, s.c_str(), &ext);
    cairo_move_to(cr, x - alignX * ext.x_advance, y);
    cairo_show_text(cr, s.c_str());
}

// Legends sit under the panels' axis labels, off the data.
constexpr double kLegendTop = 62;

void verticalText(cairo_t* cr, double x, double y, const std::string& s, double size) {
    g_textDrawn = true;
    cairo_save(cr);
    cairo_move_to(cr, x, y);
    cairo_rotate(cr, -M_PI / 2);
    cairo_set_font_size(cr, size);
    cairo_text_extents_t ext;
    cairo_text_extents(cr, s.c_str(), &ext);
    cairo_rel_move_to(cr, -ext.x_advance / 2, 0);
    cairo_show_text(cr, s.c_str());
    cairo_restore(cr);
}

std::string powerOfTenPercent(int exponent) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g%%", 100 * std::pow(10.0, exponent));
    return buf;
}

struct Box {
    double x, y, w, h;
};

void frame(cairo_t* cr, const Box& b) {
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_set_line_width(cr, 1);
    cairo_rectangle(cr, b.x, b.y, b.w, b.h);
    cairo_stroke(cr);
}

void histogramPanel(cairo_t* cr, const Box& b, const PlotSeries& s) {
    int32_t maxScore = 1;
    for (int32_t v : s.genuine) maxScore = std::max(maxScore, v);
    for (int32_t v : s.impostor) maxScore = std::max(maxScore, v);
    constexpr int kBins = 50;
    const double binWidth = std::max(1.0, std::ceil((maxScore + 1) / double(kBins)));
    std::vector<double> g(kBins, 0), im(kBins, 0);
    for (int32_t v : s.genuine) g[std::min(kBins - 1, int(v / binWidth))] += 1.0 / s.genuine.size();
    for (int32_t v : s.impostor) im[std::min(kBins - 1, int(v / binWidth))] += 1.0 / s.impostor.size();
    double top = 0.05;
    for (int i = 0; i < kBins; ++i) top = std::max({top, g[i], im[i]});
    top = std::ceil(top * 10) / 10;

    cairo_set_source_rgb(cr, 0.92, 0.92, 0.92);
    cairo_set_line_width(cr, 0.5);
    for (int k = 1; k < 5; ++k) {
        const double y = b.y + b.h - b.h * k / 5.0;
        cairo_move_to(cr, b.x, y);
        cairo_line_to(cr, b.x + b.w, y);
    }
    cairo_stroke(cr);

    const double bw = b.w / kBins;
    auto bars = [&](const std::vector<double>& h, const Rgb& c) {
        for (int i = 0; i < kBins; ++i) {
            if (h[i] <= 0) continue;
            const double hh = b.h * h[i] / top;
            cairo_rectangle(cr, b.x + i * bw, b.y + b.h - hh, bw, hh);
        }
        setColour(cr, c, 0.45);
        cairo_fill_preserve(cr);
        setColour(cr, c, 0.9);
        cairo_set_line_width(cr, 0.8);
        cairo_stroke(cr);
    };
    bars(im, kImpostor);
    bars(g, kGenuine);
    frame(cr, b);

    cairo_set_source_rgb(cr, 0, 0, 0);
    char buf[64];
    for (int k = 0; k <= 5; ++k) {
        const double x = b.x + b.w * k / 5.0;
        std::snprintf(buf, sizeof buf, "%.0f", binWidth * kBins * k / 5.0);
        text(cr, x, b.y + b.h + 16, buf, 11, 0.5);
        const double y = b.y + b.h - b.h * k / 5.0;
        std::snprintf(buf, sizeof buf, "%.2f", top * k / 5.0);
        text(cr, b.x - 6, y + 4, buf, 11, 1.0);
    }
    text(cr, b.x + b.w / 2, b.y + b.h + 36, "match score (" + s.name + " search)", 13, 0.5);
    text(cr, b.x + b.w / 2, b.y - 10, "score distributions", 14, 0.5);
    verticalText(cr, b.x - 50, b.y + b.h / 2, "share of comparisons per bin", 13);
    // Legend below the panel, clear of the bars.
    const std::string gl = "genuine (" + std::to_string(s.genuine.size()) + ")";
    const std::string il = "impostor (" + std::to_string(s.impostor.size()) + ")";
    const double ly = b.y + b.h + kLegendTop;
    setColour(cr, kGenuine, 0.6);
    cairo_rectangle(cr, b.x, ly - 10, 14, 10);
    cairo_fill(cr);
    setColour(cr, kImpostor, 0.6);
    cairo_rectangle(cr, b.x + b.w / 2, ly - 10, 14, 10);
    cairo_fill(cr);
    cairo_set_source_rgb(cr, 0, 0, 0);
    text(cr, b.x + 20, ly, gl, 12);
    text(cr, b.x + b.w / 2 + 20, ly, il, 12);
}

// Lowest decade shown for a rate measured on count comparisons: the
// smallest non-zero rate they can give is 1 / count.
int lowestDecade(size_t count) {
    const double smallest = count ? 1.0 / static_cast<double>(count) : 0.1;
    return std::min(-1, static_cast<int>(std::floor(std::log10(smallest))));
}

void detPanel(cairo_t* cr, const Box& b, const std::vector<PlotSeries>& series) {
    size_t impostors = 0, genuines = 0;
    for (const PlotSeries& s : series) {
        impostors = std::max(impostors, s.impostor.size());
        genuines = std::max(genuines, s.genuine.size());
    }
    // Log scales for both rates, down to what the comparisons can measure.
    const int minX = lowestDecade(impostors), minY = lowestDecade(genuines);
    auto px = [&](double fmr) { return b.x + b.w * (std::log10(fmr) - minX) / -minX; };
    auto py = [&](double fnmr) { return b.y + b.h - b.h * (std::log10(fnmr) - minY) / -minY; };
    cairo_set_source_rgb(cr, 0.92, 0.92, 0.92);
    cairo_set_line_width(cr, 0.5);
    for (int d = minX + 1; d < 0; ++d) {
        cairo_move_to(cr, px(std::pow(10, d)), b.y);
        cairo_line_to(cr, px(std::pow(10, d)), b.y + b.h);
    }
    for (int d = minY + 1; d < 0; ++d) {
        cairo_move_to(cr, b.x, py(std::pow(10, d)));
        cairo_line_to(cr, b.x + b.w, py(std::pow(10, d)));
    }
    cairo_stroke(cr);
    // FMR = FNMR
    cairo_save(cr);
    cairo_rectangle(cr, b.x, b.y, b.w, b.h);
    cairo_clip(cr);
    cairo_set_source_rgb(cr, 0.6, 0.6, 0.6);
    const double dashes[] = {4, 3};
    cairo_set_dash(cr, dashes, 2, 0);
    const double low = std::pow(10, std::min(minX, minY));
    cairo_move_to(cr, px(low), py(low));
    cairo_line_to(cr, px(1), py(1));
    cairo_stroke(cr);
    cairo_set_dash(cr, nullptr, 0, 0);

    // Only measured points: a rate of 0 has no place on a log scale, so the
    // curve ends where the comparisons run out instead of running to the edge.
    for (size_t i = 0; i < series.size(); ++i) {
        const std::vector<DetPoint> curve = detCurve(series[i].genuine, series[i].impostor);
        setColour(cr, kSeriesColours[i % 3]);
        cairo_set_line_width(cr, 2);
        bool drawing = false;
        for (const DetPoint& p : curve) {
            if (p.fmr <= 0 || p.fnmr <= 0) {
                drawing = false;
                continue;
            }
            if (drawing) {
                cairo_line_to(cr, px(p.fmr), py(p.fnmr));
            } else {
                cairo_move_to(cr, px(p.fmr), py(p.fnmr));
                drawing = true;
            }
        }
        cairo_stroke(cr);
        for (const DetPoint& p : curve) {  // a dot per point shows where measurements are
            if (p.fmr <= 0 || p.fnmr <= 0) continue;
            cairo_new_sub_path(cr);
            cairo_arc(cr, px(p.fmr), py(p.fnmr), 1.8, 0, 2 * M_PI);
        }
        cairo_fill(cr);
    }
    cairo_restore(cr);
    frame(cr, b);

    cairo_set_source_rgb(cr, 0, 0, 0);
    for (int d = minX; d <= 0; ++d) text(cr, px(std::pow(10, d)), b.y + b.h + 16, powerOfTenPercent(d), 11, 0.5);
    for (int d = minY; d <= 0; ++d) text(cr, b.x - 6, py(std::pow(10, d)) + 4, powerOfTenPercent(d), 11, 1.0);
    text(cr, b.x + b.w / 2, b.y + b.h + 36, "false match rate (FMR, log scale)", 13, 0.5);
    text(cr, b.x + b.w / 2, b.y - 10, "DET curve", 14, 0.5);
    verticalText(cr, b.x - 52, b.y + b.h / 2, "false non-match rate (FNMR, log scale)", 13);
    for (size_t i = 0; i < series.size(); ++i) {
        const ErrorRates r = computeErrorRates(series[i].genuine, series[i].impostor);
        char buf[96];
        std::snprintf(buf, sizeof buf, "%s search, EER %.2f%%", series[i].name.c_str(), r.eer * 100);
        const double lx = b.x + b.w / 2 * static_cast<double>(i % 2), ly = b.y + b.h + kLegendTop + 18 * (i / 2);
        setColour(cr, kSeriesColours[i % 3]);
        cairo_rectangle(cr, lx, ly - 6, 14, 4);
        cairo_fill(cr);
        cairo_set_source_rgb(cr, 0, 0, 0);
        text(cr, lx + 20, ly, buf, 12);
    }
}

void finishSurface(cairo_surface_t* surface, const std::string& path, PictureFormat format) {
    cairo_surface_flush(surface);
    cairo_status_t status = format == PictureFormat::Png ? cairo_surface_write_to_png(surface, path.c_str())
                                                         : cairo_surface_status(surface);
    if (format != PictureFormat::Png && status == CAIRO_STATUS_SUCCESS) {
        cairo_surface_finish(surface);
        status = cairo_surface_status(surface);
    }
    if (status != CAIRO_STATUS_SUCCESS) {
        throw CliError(path + ": cannot write picture (" + cairo_status_to_string(status) + ")");
    }
}

SurfacePtr makeSurface(const std::string& path, int width, int height, PictureFormat format) {
    cairo_surface_t* s = nullptr;
    switch (format) {
        case PictureFormat::Png: s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height); break;
        case PictureFormat::Svg: s = cairo_svg_surface_create(path.c_str(), width, height); break;
        case PictureFormat::Pdf: s = cairo_pdf_surface_create(path.c_str(), width, height); break;
    }
    SurfacePtr surface(s, cairo_surface_destroy);
    if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
        throw CliError(path + ": cannot write picture (" + cairo_status_to_string(cairo_surface_status(s)) + ")");
    }
    return surface;
}

}  // namespace

PictureFormat checkPictureFormat(const std::string& path) {
    std::string ext = std::filesystem::path(path).extension().string();
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ext == ".png") return PictureFormat::Png;
    if (ext == ".svg") return PictureFormat::Svg;
    if (ext == ".pdf") return PictureFormat::Pdf;
    throw UsageError(path + ": pictures are written as PNG, SVG or PDF; name the file .png, .svg or .pdf");
}
void releasePictureLibraries() {
    if (!g_textDrawn) return;
    // Font caches live until the process ends; leak checkers want them freed.
    cairo_debug_reset_static_data();
    FcFini();
    g_textDrawn = false;
}

void drawEvaluationPlot(const std::string& path, const std::string& title, const std::vector<PlotSeries>& series) {
    if (series.empty()) return;
    const PictureFormat format = checkPictureFormat(path);
    constexpr int kWidth = 1100, kHeight = 560;
    SurfacePtr surface = makeSurface(path, kWidth, kHeight, format);
    ContextPtr cr(cairo_create(surface.get()), cairo_destroy);
    cairo_select_font_face(cr.get(), "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_source_rgb(cr.get(), 1, 1, 1);
    cairo_paint(cr.get());
    cairo_set_source_rgb(cr.get(), 0, 0, 0);
    text(cr.get(), kWidth / 2.0, 26, title, 16, 0.5);
    histogramPanel(cr.get(), {70, 70, 440, 360}, series[0]);
    detPanel(cr.get(), {630, 70, 440, 360}, series);
    cr.reset();
    finishSurface(surface.get(), path, format);
}

void drawMinutiaePicture(const std::string& path, const GreyImage& print, const GreyImage* skeleton,
                         const MinutiaSet& set, int scale) {
    const PictureFormat format = checkPictureFormat(path);
    const int panels = skeleton ? 2 : 1;
    const int gap = skeleton ? 8 : 0;
    const int w = print.width * scale * panels + gap;
    const int h = print.height * scale;
    SurfacePtr surface = makeSurface(path, w, h, format);
    ContextPtr cr(cairo_create(surface.get()), cairo_destroy);
    cairo_set_source_rgb(cr.get(), 1, 1, 1);
    cairo_paint(cr.get());

    // Grey planes are stored bottom row first: picture row r is plane row height-1-r.
    auto paintPlane = [&](const GreyImage& img, int offsetX) {
        SurfacePtr grey(cairo_image_surface_create(CAIRO_FORMAT_RGB24, img.width, img.height), cairo_surface_destroy);
        cairo_surface_flush(grey.get());
        unsigned char* data = cairo_image_surface_get_data(grey.get());
        const int stride = cairo_image_surface_get_stride(grey.get());
        if (!data) throw CliError(path + ": cannot draw picture");
        for (int r = 0; r < img.height; ++r) {
            auto* row = reinterpret_cast<uint32_t*>(data + static_cast<ptrdiff_t>(r) * stride);
            const uint8_t* src = img.pixels.data() + static_cast<size_t>(img.height - 1 - r) * img.width;
            for (int c = 0; c < img.width; ++c) row[c] = 0x010101u * src[c];
        }
        cairo_surface_mark_dirty(grey.get());
        cairo_save(cr.get());
        cairo_translate(cr.get(), offsetX, 0);
        cairo_scale(cr.get(), scale, scale);
        cairo_set_source_surface(cr.get(), grey.get(), 0, 0);
        cairo_pattern_set_filter(cairo_get_source(cr.get()), CAIRO_FILTER_NEAREST);
        cairo_paint(cr.get());
        cairo_restore(cr.get());
    };
    auto marks = [&](int offsetX, int height) {
        const double size = 4.0 * scale;
        cairo_set_line_width(cr.get(), 1.5);
        for (int32_t i = 0; i < set.count && i < kMaxMinutiae; ++i) {
            const Minutia& m = set.minutiae[i];
            const double x = offsetX + (m.x + 0.5) * scale;
            const double y = (height - 1 - m.y + 0.5) * scale;
            const double a = m.direction * M_PI / 180.0;
            const bool ending = m.kind == kEnding;
            if (ending) {
                cairo_set_source_rgb(cr.get(), 0.9, 0.1, 0.1);
                cairo_new_sub_path(cr.get());
                cairo_arc(cr.get(), x, y, size, 0, 2 * M_PI);
            } else {
                cairo_set_source_rgb(cr.get(), 0.1, 0.35, 0.95);
                cairo_rectangle(cr.get(), x - size, y - size, 2 * size, 2 * size);
            }
            // Direction: y grows upwards in the picture, so the stroke's y is mirrored.
            cairo_move_to(cr.get(), x + size * std::cos(a), y - size * std::sin(a));
            cairo_line_to(cr.get(), x + 3.5 * size * std::cos(a), y - 3.5 * size * std::sin(a));
            cairo_stroke(cr.get());
        }
    };
    paintPlane(print, 0);
    marks(0, print.height);
    if (skeleton) {
        const int offset = print.width * scale + gap;
        paintPlane(*skeleton, offset);
        marks(offset, skeleton->height);
    }
    cr.reset();
    finishSurface(surface.get(), path, format);
}

}  // namespace orvane::cli
