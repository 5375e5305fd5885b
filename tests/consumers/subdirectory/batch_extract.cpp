// Extracts bitmaps on several threads, each with a workspace of its own:
//   batch_extract A.bmp B.bmp ...
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

#include "orvane.h"                 // limits and result codes
#include "interface/extraction.h"   // namespace orvane: the drivers over a Workspace&

int main(int argc, char** argv) {
    std::vector<int32_t> results(argc, 0), lengths(argc, 0);
    std::vector<std::thread> threads;
    for (int i = 1; i < argc; ++i) {
        threads.emplace_back([&, i] {
            auto ws = std::make_unique<orvane::Workspace>();  // about 1.3 MB: one per thread, on the heap
            uint8_t tpl[ORVANE_MAX_TEMPLATE_BYTES];
            results[i] = orvane::extractTemplateFromFile(*ws, argv[i], tpl, &lengths[i], nullptr);  // as ExtractEx
        });
    }
    for (auto& t : threads) t.join();
    int failures = 0;
    for (int i = 1; i < argc; ++i) {
        std::printf("%s: result %d, template %d bytes\n", argv[i], results[i], lengths[i]);
        failures += results[i] != ORVANE_OK;
    }
    return failures == 0 ? 0 : 1;
}
