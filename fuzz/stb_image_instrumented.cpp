// The image decoder compiled into the fuzz target itself, so that its
// branches give coverage feedback (the packaged library is not instrumented).
#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>
