/* match_prints A.bmp B.bmp: extract two prints and match them. */
#include <stdio.h>
#include <orvane_api.h>

int main(int argc, char** argv) {
    uint8_t a[ORVANE_MAX_TEMPLATE_BYTES], b[ORVANE_MAX_TEMPLATE_BYTES];
    size_t lengthA = 0, lengthB = 0;
    int32_t score = 0, rc = ORVANE_E_INVALID_ARGUMENT;
    orvane_workspace* ws = NULL;  /* one per thread */
    if (argc == 3 && (rc = orvane_workspace_create(&ws)) == ORVANE_OK &&
        (rc = orvane_extract_file(ws, argv[1], a, sizeof a, &lengthA)) == ORVANE_OK &&
        (rc = orvane_extract_file(ws, argv[2], b, sizeof b, &lengthB)) == ORVANE_OK &&
        (rc = orvane_match(a, lengthA, b, lengthB, ORVANE_MATCH_FULL, &score)) == ORVANE_OK)
        printf("%d and %d minutiae, score %d\n", a[2], b[2], (int)score);
    else
        fprintf(stderr, "error %d: %s\n", (int)rc, orvane_error_message());
    orvane_workspace_destroy(ws);
    return rc == ORVANE_OK ? 0 : 1;
}
