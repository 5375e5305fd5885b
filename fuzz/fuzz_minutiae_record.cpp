// Hostile ISO and ANSI finger minutiae records through the reader and the
// import, and what they accept back through the writer and the export.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "interchange/interchange.h"

using namespace orvane::interchange;

namespace {

bool sameRecord(const MinutiaeRecord& a, const MinutiaeRecord& b) {
    if (a.format != b.format || a.productId != b.productId || a.captureEquipment != b.captureEquipment ||
        a.width != b.width || a.height != b.height || a.xResolution != b.xResolution ||
        a.yResolution != b.yResolution || a.views.size() != b.views.size()) {
        return false;
    }
    for (size_t v = 0; v < a.views.size(); ++v) {
        const FingerView& x = a.views[v];
        const FingerView& y = b.views[v];
        if (x.fingerPosition != y.fingerPosition || x.viewNumber != y.viewNumber ||
            x.impressionType != y.impressionType || x.fingerQuality != y.fingerQuality ||
            x.minutiae.size() != y.minutiae.size() || x.blocks.size() != y.blocks.size()) {
            return false;
        }
        for (size_t i = 0; i < x.minutiae.size(); ++i) {
            const RecordMinutia& m = x.minutiae[i];
            const RecordMinutia& n = y.minutiae[i];
            if (m.type != n.type || m.x != n.x || m.y != n.y || m.angle != n.angle || m.quality != n.quality) {
                return false;
            }
        }
        for (size_t i = 0; i < x.blocks.size(); ++i) {
            if (x.blocks[i].type != y.blocks[i].type || x.blocks[i].data != y.blocks[i].data) return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact copy, so a read past the end is caught.
    const std::vector<uint8_t> bytes(data, data + size);
    MinutiaeRecord record;
    try {
        record = parseMinutiaeRecord(bytes.data(), bytes.size());
    } catch (const InterchangeError&) {
        return 0;
    }
    // What was read is written and read again unchanged.
    const std::vector<uint8_t> written = encodeMinutiaeRecord(record);
    if (!sameRecord(parseMinutiaeRecord(written.data(), written.size()), record)) std::abort();

    for (int32_t view = 0; view < 2; ++view) {
        ImportedTemplate in;
        try {
            in = importRecord(bytes.data(), bytes.size(), view);
        } catch (const InterchangeError&) {
            continue;
        }
        // An imported template survives the export and import exactly, when
        // its image is small enough to be written (rescaling may enlarge it).
        ExportSettings s;
        s.format = in.format;
        s.width = in.width;
        s.height = in.height;
        std::vector<uint8_t> again;
        try {
            again = exportRecord(in.featureTemplate.data(), s);
        } catch (const InterchangeError&) {
            if (in.width <= 0xFFFF && in.height <= 0xFFFF) std::abort();
            continue;
        }
        if (importRecord(again.data(), again.size()).featureTemplate != in.featureTemplate) std::abort();
    }
    return 0;
}
