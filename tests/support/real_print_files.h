// The real 8-bit BMP prints under a folder, sorted, for programs that cannot
// link the test support library (benchmarks). Header-only; empty when the
// folder is absent.
#pragma once

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace orvane::test {

inline std::vector<std::filesystem::path> realPrintFiles(const std::string& folder) {
    namespace fs = std::filesystem;
    std::vector<fs::path> files;
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) return files;
    for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        if (it->is_regular_file() && it->path().extension() == ".bmp") files.push_back(it->path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace orvane::test
