// Helpers shared by the test programs.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "support/posix_compat.h"
#include "workspace/workspace.h"

namespace orvane::test {

// A zero-initialised workspace of its own (like a freshly loaded library's).
std::unique_ptr<Workspace> makeWorkspace();

// Folder of real prints, or "" when absent (env ORVANE_DATA_DIR overrides).
std::string dataDir();

// Every .bmp under dataDir(), sorted; empty when there is no data.
std::vector<std::string> realPrints();

// A fresh empty temporary directory, removed at exit of the test program.
std::string tempDir();

std::vector<uint8_t> readFile(const std::string& path);
void writeFile(const std::string& path, const std::vector<uint8_t>& bytes);

// A width x height image whose bytes differ with seed.
std::vector<uint8_t> patternImage(int32_t width, int32_t height, uint8_t seed);

// Expects ws to hold exactly patternImage(width, height, seed) at that size.
void expectHoldsPattern(const Workspace& ws, int32_t width, int32_t height, uint8_t seed);

}  // namespace orvane::test
