// Shared pieces of the orvane tool: errors, options, output helpers.
#pragma once

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace orvane::cli {

// Exit statuses of the tool.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;  // the work failed (file, image, template, extraction)
constexpr int kExitUsage = 2;    // the command line was wrong

// A failure reported to the user as one line on stderr.
class CliError : public std::runtime_error {
public:
    explicit CliError(const std::string& message, int exitStatus = kExitFailure)
        : std::runtime_error(message), exitStatus_(exitStatus) {}
    int exitStatus() const { return exitStatus_; }

private:
    int exitStatus_;
};

struct UsageError : CliError {
    explicit UsageError(const std::string& message) : CliError(message, kExitUsage) {}
};

// A parsed command line: positional arguments and --options. Options that
// take a value are named when parsing; any other option is a flag.
class Options {
public:
    // valueOptions and flagOptions list the names (with dashes) a command accepts.
    Options(const std::vector<std::string>& args, const std::vector<std::string>& valueOptions,
            const std::vector<std::string>& flagOptions);

    const std::vector<std::string>& positional() const { return positional_; }
    bool flag(const std::string& name) const { return flags_.count(name) != 0; }
    bool has(const std::string& name) const { return values_.count(name) != 0; }
    std::string value(const std::string& name, const std::string& fallback = "") const;
    // An integer option within [minimum, maximum], or fallback when absent.
    long integer(const std::string& name, long fallback, long minimum, long maximum) const;

private:
    std::vector<std::string> positional_;
    std::map<std::string, std::string> values_;
    std::map<std::string, bool> flags_;
};

// Global settings given before or after the subcommand.
struct GlobalSettings {
    bool json = false;
    int threads = 0;  // 0: one per core
    bool quiet = false;
    int recordView = 0;  // finger view read from ISO and ANSI records, from 0
};
GlobalSettings& settings();
int workerCount();

// The library's result codes in words, and as "code: words".
std::string resultCodeText(int32_t code);
std::string resultCodeWithText(int32_t code);

// Text for a JSON string literal (with quotes).
std::string jsonString(const std::string& text);
std::string jsonNumber(double value);

// Prints a command's one JSON object (and a newline) on stdout. With --json
// every command prints exactly one object: its result, or on failure
// {"error": ...} (see main.cpp), never both.
void emitJson(const std::string& object);
bool jsonEmitted();

// A note on stderr ("orvane: COMMAND: warning: ..."), left out with --quiet.
void warn(const std::string& command, const std::string& message);

// Progress on stderr, drawn only when stderr is a terminal.
class Progress {
public:
    Progress(const std::string& label, size_t total);
    ~Progress();
    void advance(size_t done);  // thread-safe enough: called from one thread at a time
    void finish();

private:
    std::string label_;
    size_t total_;
    bool enabled_;
    bool finished_ = false;
    int lastDrawn_ = -1;
};

bool stderrIsTerminal();

// Reads a whole file; throws CliError when it cannot.
std::vector<uint8_t> readWholeFile(const std::string& path, size_t limit);

// File name without folder and extension.
std::string fileStem(const std::string& path);

}  // namespace orvane::cli
