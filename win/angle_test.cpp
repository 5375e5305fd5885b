// The library's angle computations in the 32-bit Windows build (the static
// archive, linked with the same runtime as the DLL) against the Linux lines.
//   orvane_win_angles <expected file>
#include <cstdio>

#include "support/angle_cases.h"
#include "support/equality_run.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <expected file>\n", argv[0]);
        return 2;
    }
    bool found = false;
    const std::vector<std::string> expected = orvane_equality::readLines(argv[1], &found);
    if (!found) {
        std::fprintf(stderr, "FAIL: cannot read %s (run the Linux writer first)\n", argv[1]);
        return 1;
    }
    const std::vector<std::string> actual = orvane_equality::angleLines();
    const std::vector<std::string> differences = orvane_equality::compareLines(expected, actual);
    for (const std::string& d : differences) std::fprintf(stderr, "FAIL: differs from Linux at %s\n", d.c_str());
    std::printf("%zu angle lines: %s\n", actual.size(), differences.empty() ? "equal" : "FAILED");
    return differences.empty() ? 0 : 1;
}
