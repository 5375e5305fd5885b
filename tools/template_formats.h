// Template files in every format the tool reads: this library's templates,
// ISO and ANSI finger minutiae records, and text minutiae.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "batch.h"

namespace orvane::cli {

enum class TemplateFormat { Orvane, Iso, Ansi, Text };

const char* templateFormatName(TemplateFormat format);  // "orvane", "iso", "ansi", "text"

// The format a file name asks for (.tpl, .iso, .ansi, .fmr (ISO), .txt);
// false for other names.
bool templateFormatOfName(const std::string& path, TemplateFormat& format);

struct LoadedTemplate {
    std::vector<uint8_t> featureTemplate;
    TemplateFormat format = TemplateFormat::Orvane;
    // From a record: its image (at 500 dpi) and finger; 0 / -1 when unknown.
    int32_t width = 0;
    int32_t height = 0;
    int32_t fingerQuality = -1;
    int32_t fingerPosition = 0;
    int32_t impressionType = 0;
    int32_t recordMinutiae = -1;  // minutiae in the record's view, before the 60 rule
};

// Reads a template file of any of the formats, recognised from its content;
// records give their finger view settings().recordView. Throws CliError.
LoadedTemplate readTemplateFile(const std::string& path);

// As extractFiles, but files that are not images are read as templates.
std::vector<ExtractionOutcome> templatesOfFiles(const std::vector<std::string>& paths, CropMode crop, bool withQuality,
                                                const std::string& label);

}  // namespace orvane::cli
