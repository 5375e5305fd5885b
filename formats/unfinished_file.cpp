#include "formats/unfinished_file.h"

#include <cstdio>
#if !defined(_WIN32)
#include <filesystem>
#include <system_error>
#endif

namespace orvane {

void removeUnfinishedFile(const char* path) {
#if defined(_WIN32)
    // Device names (NUL, CON, ...) cannot be removed on Windows, and the file
    // system layer would make the DLL several times larger for no gain.
    std::remove(path);
#else
    std::error_code error;
    if (std::filesystem::symlink_status(path, error).type() == std::filesystem::file_type::regular) std::remove(path);
#endif
}

}  // namespace orvane
