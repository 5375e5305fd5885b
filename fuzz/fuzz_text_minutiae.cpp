// Hostile text minutiae through the import, and what it accepts back
// through the export.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "interchange/interchange.h"

using namespace orvane::interchange;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    looksLikeTextMinutiae(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    std::vector<uint8_t> featureTemplate;
    try {
        featureTemplate = importText(text);
    } catch (const InterchangeError&) {
        return 0;
    }
    if (importText(exportText(featureTemplate.data(), 50)) != featureTemplate) std::abort();
    return 0;
}
