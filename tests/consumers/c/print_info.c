/* Size, quality and minutiae of a print with the eight exports.
 *   cc print_info.c $(pkg-config --cflags --libs orvanecom) -o print_info
 *   ./print_info print.bmp */
#include <stdio.h>
#include <stdlib.h>

#include <orvane.h>

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s PRINT.bmp\n", argv[0]);
        return 2;
    }
    int32_t width = 0, height = 0, quality = 0, length = 0;
    if (LoadFinger(argv[1], NULL, &width, &height) != ORVANE_OK) return 1;
    uint8_t* image = malloc((size_t)width * (size_t)height);
    uint8_t tpl[ORVANE_MAX_TEMPLATE_BYTES];
    int32_t rc = image ? LoadFinger(argv[1], image, &width, &height) : ORVANE_E_LOAD_IMAGE;
    if (rc == ORVANE_OK) rc = GetQuality(image, width, height, &quality);
    if (rc == ORVANE_OK) rc = Extract(width, height, image, 0, tpl, &length);
    free(image);
    if (rc != ORVANE_OK) {
        fprintf(stderr, "%s: result %d\n", argv[1], (int)rc);
        return 1;
    }
    printf("%s: %d x %d, quality %d, %d minutiae\n", argv[1], (int)width, (int)height, (int)quality, tpl[2]);
    return 0;
}
