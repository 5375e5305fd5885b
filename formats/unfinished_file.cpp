#include "formats/unfinished_file.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

namespace orvane {

void removeUnfinishedFile(const char* path) {
    std::error_code error;
    if (std::filesystem::symlink_status(path, error).type() == std::filesystem::file_type::regular) std::remove(path);
}

}  // namespace orvane
