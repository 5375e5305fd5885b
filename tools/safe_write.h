// Every file the tool writes (templates, pictures, reports) goes through
// writeFileSafely, so that a crash or a full disk leaves either the old file
// or the new one, never part of one.
#pragma once

#include <functional>
#include <string>

namespace orvane::cli {

// Calls write with a temporary name in path's folder, makes the finished file
// durable and renames it over path. write returns false (or throws CliError)
// on failure; the temporary file is then removed, path is left as it was and
// CliError is thrown. A path that names something other than a plain file
// (a device, a pipe) is written directly, as it cannot be replaced.
void writeFileSafely(const std::string& path, const std::function<bool(const std::string& file)>& write);

}  // namespace orvane::cli
