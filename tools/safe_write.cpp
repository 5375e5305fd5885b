#include "safe_write.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "common.h"

namespace fs = std::filesystem;

namespace orvane::cli {

namespace {

// Unique among the tool's threads; the process id keeps two runs apart.
std::string temporaryNameBeside(const std::string& path) {
    static std::atomic<unsigned> counter{0};
    const fs::path target(path);
    // The extension stays last: writers choose the format by it.
    const std::string name = "." + target.stem().string() + ".tmp-" + std::to_string(getpid()) + "-" +
                             std::to_string(counter.fetch_add(1)) + target.extension().string();
    return (target.parent_path() / name).string();
}

bool syncFile(const std::string& path, int flags) {
    const int fd = open(path.c_str(), flags);
    if (fd < 0) return false;
    const bool synced = fsync(fd) == 0 || errno == EINVAL;  // some file systems cannot sync a folder
    return close(fd) == 0 && synced;
}

// Messages from the writer name the temporary file; the user knows the path.
std::string naming(std::string message, const std::string& temporary, const std::string& path) {
    for (size_t at = message.find(temporary); at != std::string::npos; at = message.find(temporary, at + path.size())) {
        message.replace(at, temporary.size(), path);
    }
    return message;
}

}  // namespace

void writeFileSafely(const std::string& path, const std::function<bool(const std::string& file)>& write) {
    struct stat existing;
    const bool exists = stat(path.c_str(), &existing) == 0;
    if (exists && !S_ISREG(existing.st_mode)) {
        if (!write(path)) throw CliError(path + ": cannot write");
        return;
    }
    const std::string temporary = temporaryNameBeside(path);
    std::string failure;
    int exitStatus = kExitFailure;
    try {
        if (!write(temporary)) failure = path + ": cannot write";
    } catch (const CliError& e) {
        failure = naming(e.what(), temporary, path);
        exitStatus = e.exitStatus();
    }
    struct stat written;
    if (failure.empty() && stat(temporary.c_str(), &written) != 0) return;  // the writer had nothing to write
    if (failure.empty() && exists) chmod(temporary.c_str(), existing.st_mode & 07777);  // keep the old file's mode
    if (failure.empty() && !syncFile(temporary, O_RDONLY)) failure = path + ": cannot write (" + std::strerror(errno) + ")";
    if (failure.empty() && std::rename(temporary.c_str(), path.c_str()) != 0) {
        failure = path + ": cannot replace (" + std::strerror(errno) + ")";
    }
    if (!failure.empty()) {
        std::remove(temporary.c_str());
        throw CliError(failure, exitStatus);
    }
    // The rename itself survives a power cut only once the folder is synced.
    const fs::path folder = fs::path(path).parent_path();
    syncFile(folder.empty() ? "." : folder.string(), O_RDONLY | O_DIRECTORY);
}

}  // namespace orvane::cli
