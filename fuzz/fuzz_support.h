// Hands fuzz input to the file-reading functions through a private file.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

inline const std::string& fuzzFilePath() {
    // In memory where the system offers it: one file is written per input.
    static const std::string folder = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    static const std::string path = folder + "/orvane-fuzz-" + std::to_string(getpid()) + ".bin";
    return path;
}

inline const char* writeFuzzFile(const uint8_t* data, size_t size) {
    const std::string& path = fuzzFilePath();
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return nullptr;
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
    return path.c_str();
}
