// orvane convert: templates between this library's format, ISO and ANSI finger
// minutiae records and text minutiae; an image is extracted first.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "batch.h"
#include "commands.h"
#include "common.h"
#include "image_input.h"
#include "interchange/interchange.h"
#include "template_formats.h"

namespace orvane::cli {

namespace {

TemplateFormat outputFormat(const Options& opt, const std::string& output) {
    TemplateFormat format = TemplateFormat::Orvane;
    if (opt.has("--to")) {
        const std::string to = opt.value("--to");
        for (TemplateFormat f : {TemplateFormat::Iso, TemplateFormat::Ansi, TemplateFormat::Text, TemplateFormat::Orvane}) {
            if (to == templateFormatName(f)) return f;
        }
        throw UsageError("--to takes iso, ansi, text or orvane, not \"" + to + "\"");
    }
    if (!templateFormatOfName(output, format)) {
        throw UsageError("cannot tell the format from the name " + output +
                         " (.tpl, .iso, .ansi, .txt): give --to iso|ansi|text|orvane");
    }
    return format;
}

// "388x374" -> width and height.
void parseSize(const std::string& text, int32_t& width, int32_t& height) {
    unsigned w = 0, h = 0;
    char tail = 0;
    if (std::sscanf(text.c_str(), "%ux%u%c", &w, &h, &tail) != 2 || w < 1 || h < 1 || w > 65535 || h > 65535) {
        throw UsageError("--size takes WIDTHxHEIGHT in pixels (1 to 65535), not \"" + text + "\"");
    }
    width = static_cast<int32_t>(w);
    height = static_cast<int32_t>(h);
}

void writeBytes(const std::string& path, const void* data, size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) throw CliError(path + ": cannot create (" + std::strerror(errno) + ")");
    const bool written = std::fwrite(data, 1, size, f) == size;
    const bool closed = std::fclose(f) == 0;
    if (!written || !closed) throw CliError(path + ": cannot write");
}

}  // namespace

int runConvert(const Args& args) {
    Options opt(args, {"--to", "--size", "--dpi", "--finger", "--impression"}, {"--crop"});
    if (opt.positional().size() != 2) throw UsageError("convert needs an input and an output file");
    const std::string input = opt.positional()[0];
    const std::string output = opt.positional()[1];
    const TemplateFormat format = outputFormat(opt, output);

    LoadedTemplate in;
    std::string inputFormat;
    const FileKind kind = sniffFile(input);
    if (kind == FileKind::Bitmap || kind == FileKind::OtherImage) {
        std::unique_ptr<Workspace> ws = newWorkspace();
        const ExtractionOutcome o = extractFile(*ws, input, opt.flag("--crop"), nullptr, true);
        if (!o.ok()) throw CliError(o.message);
        in.featureTemplate = o.featureTemplate;
        in.width = o.width;
        in.height = o.height;
        in.fingerQuality = o.quality;
        inputFormat = "image";
    } else {
        in = readTemplateFile(input);
        inputFormat = templateFormatName(in.format);
    }
    if (opt.has("--size")) parseSize(opt.value("--size"), in.width, in.height);
    const int32_t dpi = static_cast<int32_t>(opt.integer("--dpi", interchange::kDefaultDpi, 100, 10000));
    const int32_t finger = static_cast<int32_t>(opt.integer("--finger", in.fingerPosition, 0, 10));
    const int32_t impression = static_cast<int32_t>(opt.integer("--impression", in.impressionType, 0, 15));

    try {
        switch (format) {
            case TemplateFormat::Orvane: saveTemplate(output, in.featureTemplate); break;
            case TemplateFormat::Text: {
                const std::string text = interchange::exportText(in.featureTemplate.data(), std::max(in.fingerQuality, 0));
                writeBytes(output, text.data(), text.size());
                break;
            }
            case TemplateFormat::Iso:
            case TemplateFormat::Ansi: {
                if (in.width < 1 || in.height < 1) {
                    throw UsageError("the image size of " + input + " is not known (a " + inputFormat +
                                     " template does not hold it): give --size WIDTHxHEIGHT");
                }
                interchange::ExportSettings s;
                s.format = format == TemplateFormat::Iso ? interchange::RecordFormat::Iso : interchange::RecordFormat::Ansi;
                s.width = in.width;
                s.height = in.height;
                s.dpi = dpi;
                s.fingerPosition = finger;
                s.impressionType = impression;
                s.fingerQuality = in.fingerQuality;
                const std::vector<uint8_t> record = interchange::exportRecord(in.featureTemplate.data(), s);
                writeBytes(output, record.data(), record.size());
                break;
            }
        }
    } catch (const interchange::InterchangeError& e) {
        throw CliError(input + ": " + e.what());
    }

    const size_t minutiae = (in.featureTemplate.size() - 4) / 7;
    if (settings().json) {
        std::printf("{\"input\":%s,\"inputFormat\":%s,\"output\":%s,\"outputFormat\":%s,\"minutiae\":%zu",
                    jsonString(input).c_str(), jsonString(inputFormat).c_str(), jsonString(output).c_str(),
                    jsonString(templateFormatName(format)).c_str(), minutiae);
        if (in.recordMinutiae >= 0) std::printf(",\"recordMinutiae\":%d", in.recordMinutiae);
        std::printf("}\n");
    } else {
        std::printf("%s (%s) -> %s (%s): %zu minutiae", input.c_str(), inputFormat.c_str(), output.c_str(),
                    templateFormatName(format), minutiae);
        if (in.recordMinutiae > static_cast<int32_t>(minutiae)) {
            std::printf(" (%d in the record; the 60 of highest quality, nearest the centre, kept)", in.recordMinutiae);
        }
        std::printf("\n");
    }
    return kExitOk;
}

}  // namespace orvane::cli
