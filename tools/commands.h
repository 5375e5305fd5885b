// The subcommands of the orvane tool. Each returns the exit status and
// throws CliError for a one-line failure.
#pragma once

#include <string>
#include <vector>

namespace orvane::cli {

using Args = std::vector<std::string>;

int runExtract(const Args& args);
int runMatch(const Args& args);
int runQuality(const Args& args);
int runIdentify(const Args& args);
int runEval(const Args& args);
int runDraw(const Args& args);
int runSynth(const Args& args);
int runDemo(const Args& args);
int runConvert(const Args& args);  // convert_command.cpp

}  // namespace orvane::cli
