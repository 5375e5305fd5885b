/* Extracts two prints and matches them with the reentrant C API.
 *   cc match_prints.c $(pkg-config --cflags --libs orvane-api) -o match_prints
 *   ./match_prints a.bmp b.bmp */
#include <stdio.h>

#include <orvane_api.h>

static int extract(orvane_workspace* ws, const char* path, uint8_t* tpl, size_t* length) {
    int32_t rc = orvane_extract_file(ws, path, tpl, ORVANE_MAX_TEMPLATE_BYTES, length);
    if (rc != ORVANE_OK) fprintf(stderr, "%s: %s (%d)\n", path, orvane_error_message(), (int)rc);
    return rc == ORVANE_OK;
}

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: %s A.bmp B.bmp\n", argv[0]);
        return 2;
    }
    uint8_t a[ORVANE_MAX_TEMPLATE_BYTES], b[ORVANE_MAX_TEMPLATE_BYTES];
    size_t lengthA = 0, lengthB = 0;
    orvane_workspace* ws = NULL;
    if (orvane_workspace_create(&ws) != ORVANE_OK) return 1;
    int ok = extract(ws, argv[1], a, &lengthA) && extract(ws, argv[2], b, &lengthB);
    orvane_workspace_destroy(ws);
    if (!ok) return 1;

    int32_t full = 0, quick = 0;
    if (orvane_match(a, lengthA, b, lengthB, ORVANE_MATCH_FULL, &full) != ORVANE_OK ||
        orvane_match(a, lengthA, b, lengthB, ORVANE_MATCH_QUICK, &quick) != ORVANE_OK) {
        fprintf(stderr, "match: %s\n", orvane_error_message());
        return 1;
    }
    printf("orvane %s: %d and %d minutiae, score %d (full), %d (quick)\n", orvane_version(), a[2], b[2],
           (int)full, (int)quick);
    return 0;
}
