// The few POSIX calls the tests use, for test programs built for Windows
// (mingw-w64), where the C runtime lacks them.
#pragma once

#if defined(_WIN32)
#include <direct.h>
#include <io.h>

#include <cstdlib>
#include <string>

inline int setenv(const char* name, const char* value, int overwrite) {
    if (!overwrite && std::getenv(name)) return 0;
    return _putenv((std::string(name) + "=" + value).c_str());
}

// "NAME=" removes the variable from the C runtime's environment.
inline int unsetenv(const char* name) { return _putenv((std::string(name) + "=").c_str()); }

// Replaces the trailing XXXXXX of the template and creates that directory.
inline char* mkdtemp(char* pattern) {
    if (!_mktemp(pattern) || _mkdir(pattern) != 0) return nullptr;
    return pattern;
}
#endif
