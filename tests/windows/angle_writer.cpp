// Writes the Linux build's angle lines (angle_cases.h) for the Windows run.
//   orvane_win_angles <output file>
#include <cstdio>

#include "support/angle_cases.h"
#include "support/equality_run.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output file>\n", argv[0]);
        return 2;
    }
    const std::vector<std::string> lines = orvane_equality::angleLines();
    if (!orvane_equality::writeLines(argv[1], lines)) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    std::printf("%zu angle lines\n", lines.size());
    return 0;
}
