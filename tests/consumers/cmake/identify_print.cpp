// Enrols prints into a template set, then searches it for the first print:
//   identify_print PROBE.bmp GALLERY.bmp...
#include <orvane.h>      // the eight exports
#include <orvane_api.h>  // the reentrant C API

#include <cstdio>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s PROBE.bmp GALLERY.bmp...\n", argv[0]);
        return 2;
    }
    uint8_t probe[ORVANE_MAX_TEMPLATE_BYTES];
    int32_t probeLength = 0;
    if (ExtractEx(argv[1], 0, probe, &probeLength) != ORVANE_OK) return 1;

    orvane_workspace* ws = nullptr;
    orvane_template_set* gallery = nullptr;
    if (orvane_workspace_create(&ws) != ORVANE_OK || orvane_template_set_create(&gallery) != ORVANE_OK) return 1;
    for (int i = 2; i < argc; ++i) {
        uint8_t tpl[ORVANE_MAX_TEMPLATE_BYTES];
        size_t length = 0;
        if (orvane_extract_file(ws, argv[i], tpl, sizeof tpl, &length) != ORVANE_OK ||
            orvane_template_set_add(gallery, tpl, length) != ORVANE_OK) {
            std::fprintf(stderr, "%s: %s\n", argv[i], orvane_error_message());
            return 1;
        }
    }
    orvane_search_options options = orvane_search_defaults();
    options.top_k = 3;
    std::vector<orvane_hit> hits(options.top_k);
    size_t count = 0;
    int32_t rc =
        orvane_search(gallery, probe, static_cast<size_t>(probeLength), &options, hits.data(), hits.size(), &count);
    orvane_template_set_destroy(gallery);
    orvane_workspace_destroy(ws);
    if (rc != ORVANE_OK) return 1;
    for (size_t i = 0; i < count; ++i) std::printf("%zu. %s score %d\n", i + 1, argv[2 + hits[i].index], hits[i].score);
    return 0;
}
