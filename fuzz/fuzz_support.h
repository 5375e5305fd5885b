// Hands fuzz input to the file-reading functions through a private file that
// lives only in memory: nothing is left on disk, even when a run crashes.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <string>

inline const char* writeFuzzFile(const uint8_t* data, size_t size) {
    static const int fd = memfd_create("orvane-fuzz", 0);
    static const std::string path = "/proc/self/fd/" + std::to_string(fd);
    if (fd < 0 || ftruncate(fd, 0) != 0) return nullptr;
    for (size_t done = 0; done < size;) {
        const ssize_t n = pwrite(fd, data + done, size - done, static_cast<off_t>(done));
        if (n <= 0) return nullptr;
        done += static_cast<size_t>(n);
    }
    return path.c_str();
}
