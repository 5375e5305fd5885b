// Hostile template files through LoadFeature and back through SaveFeature.
#include <cstdint>
#include <memory>

#include "fuzz_support.h"
#include "orvane.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* path = writeFuzzFile(data, size);
    if (!path) return 0;
    // Exactly the 424 bytes the library may fill, so any overrun is caught.
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[ORVANE_MAX_TEMPLATE_BYTES]);
    if (LoadFeature(path, buffer.get()) == 0) {
        SaveFeature(path, buffer.get());
        int32_t score = 0;
        VerifyMatch(buffer.get(), buffer.get(), &score, 1);
    }
    return 0;
}
