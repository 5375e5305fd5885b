// Hostile templates through VerifyMatch in both search modes. Each template
// sits in a buffer of the largest size the library may read (424 bytes).
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>

#include "formats/feature_template.h"
#include "orvane.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    constexpr size_t kMax = ORVANE_MAX_TEMPLATE_BYTES;
    if (size < 1) return 0;
    // First byte: where the input splits into the two templates.
    const size_t split = 1 + (size - 1) * data[0] / 256;
    std::unique_ptr<uint8_t[]> first(new uint8_t[kMax]), second(new uint8_t[kMax]);
    std::memset(first.get(), 0, kMax);
    std::memset(second.get(), 0, kMax);
    const size_t n1 = split - 1 < kMax ? split - 1 : kMax;
    const size_t n2 = size - split < kMax ? size - split : kMax;
    std::memcpy(first.get(), data + 1, n1);
    std::memcpy(second.get(), data + split, n2);
    // Give the templates a matching check byte half of the time, so the
    // matcher sees foreign field values rather than only refusals.
    if (data[0] & 1) {
        for (uint8_t* t : {first.get(), second.get()}) {
            const int32_t length = orvane::templateLength(t);
            if (length >= 1 && length <= int32_t(kMax)) t[length - 1] ^= orvane::templateChecksum(t, length);
        }
    }
    int32_t score = -1;
    VerifyMatch(first.get(), second.get(), &score, 0);
    VerifyMatch(first.get(), second.get(), &score, 1);
    VerifyMatch(first.get(), first.get(), &score, 0);
    return 0;
}
