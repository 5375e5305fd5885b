#include "template_formats.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "common.h"
#include "formats/feature_template.h"
#include "image_input.h"
#include "interchange/interchange.h"

namespace orvane::cli {

namespace {

// Larger than any record of 255 views of 255 minutiae with extended data.
constexpr size_t kMaxTemplateFileBytes = size_t(16) << 20;

bool isOwnTemplate(const std::vector<uint8_t>& bytes) {
    return bytes.size() >= 4 && bytes.size() <= static_cast<size_t>(kMaxTemplateBytes) &&
           static_cast<size_t>(templateLength(bytes.data())) == bytes.size() && isWellFormedTemplate(bytes.data());
}

}  // namespace

const char* templateFormatName(TemplateFormat format) {
    switch (format) {
        case TemplateFormat::Orvane: return "orvane";
        case TemplateFormat::Iso: return "iso";
        case TemplateFormat::Ansi: return "ansi";
        case TemplateFormat::Text: return "text";
    }
    return "?";
}

bool templateFormatOfName(const std::string& path, TemplateFormat& format) {
    std::string ext = std::filesystem::path(path).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    if (ext == ".tpl") {
        format = TemplateFormat::Orvane;
    } else if (ext == ".iso" || ext == ".fmr") {
        format = TemplateFormat::Iso;
    } else if (ext == ".ansi") {
        format = TemplateFormat::Ansi;
    } else if (ext == ".txt") {
        format = TemplateFormat::Text;
    } else {
        return false;
    }
    return true;
}

LoadedTemplate readTemplateFile(const std::string& path) {
    const FileKind kind = sniffFile(path);
    if (kind != FileKind::Template) return {loadTemplate(path)};  // its message for folders and missing files
    const std::vector<uint8_t> bytes = readWholeFile(path, kMaxTemplateFileBytes);
    LoadedTemplate out;
    try {
        if (interchange::looksLikeMinutiaeRecord(bytes.data(), bytes.size())) {
            const interchange::ImportedTemplate in =
                interchange::importRecord(bytes.data(), bytes.size(), settings().recordView);
            out.featureTemplate = in.featureTemplate;
            out.format = in.format == interchange::RecordFormat::Iso ? TemplateFormat::Iso : TemplateFormat::Ansi;
            out.width = in.width;
            out.height = in.height;
            out.fingerQuality = in.fingerQuality;
            out.fingerPosition = in.fingerPosition;
            out.impressionType = in.impressionType;
            out.recordMinutiae = in.recordMinutiae;
            return out;
        }
        if (!isOwnTemplate(bytes) && interchange::looksLikeTextMinutiae(bytes.data(), bytes.size())) {
            out.featureTemplate = interchange::importText(std::string(bytes.begin(), bytes.end()));
            out.format = TemplateFormat::Text;
            return out;
        }
    } catch (const interchange::InterchangeError& e) {
        throw CliError(path + ": " + e.what());
    }
    out.featureTemplate = loadTemplate(path);
    return out;
}

std::vector<ExtractionOutcome> templatesOfFiles(const std::vector<std::string>& paths, CropMode crop, bool withQuality,
                                                const std::string& label) {
    std::vector<ExtractionOutcome> outcomes(paths.size());
    parallelFor(paths.size(), label, [&](size_t i, Workspace& ws) {
        const FileKind kind = sniffFile(paths[i]);
        if (kind == FileKind::Bitmap || kind == FileKind::OtherImage) {
            outcomes[i] = extractFile(ws, paths[i], crop, nullptr, withQuality);
            return;
        }
        ExtractionOutcome& o = outcomes[i];
        try {
            const LoadedTemplate t = readTemplateFile(paths[i]);
            o.featureTemplate = t.featureTemplate;
            o.width = t.width;
            o.height = t.height;
            o.code = 0;
        } catch (const CliError& e) {
            o.code = -1;
            o.message = e.what();
        }
    });
    return outcomes;
}

}  // namespace orvane::cli
