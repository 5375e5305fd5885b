#include "common.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>

#include "orvane.h"

namespace orvane::cli {

Options::Options(const std::vector<std::string>& args, const std::vector<std::string>& valueOptions,
                 const std::vector<std::string>& flagOptions) {
    auto listed = [](const std::vector<std::string>& names, const std::string& name) {
        return std::find(names.begin(), names.end(), name) != names.end();
    };
    bool onlyPositional = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (onlyPositional || arg.size() < 2 || arg[0] != '-') {
            positional_.push_back(arg);
            continue;
        }
        if (arg == "--") {
            onlyPositional = true;
            continue;
        }
        std::string name = arg;
        std::string inlineValue;
        bool hasInline = false;
        const size_t eq = arg.find('=');
        if (arg.compare(0, 2, "--") == 0 && eq != std::string::npos) {
            name = arg.substr(0, eq);
            inlineValue = arg.substr(eq + 1);
            hasInline = true;
        }
        if (listed(valueOptions, name)) {
            if (hasInline) {
                values_[name] = inlineValue;
            } else if (i + 1 < args.size()) {
                values_[name] = args[++i];
            } else {
                throw UsageError("option " + name + " needs a value");
            }
        } else if (listed(flagOptions, name) && !hasInline) {
            flags_[name] = true;
        } else {
            throw UsageError("unknown option " + arg);
        }
    }
}

std::string Options::value(const std::string& name, const std::string& fallback) const {
    auto it = values_.find(name);
    return it == values_.end() ? fallback : it->second;
}

long Options::integer(const std::string& name, long fallback, long minimum, long maximum) const {
    auto it = values_.find(name);
    if (it == values_.end()) return fallback;
    const std::string& text = it->second;
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || v < minimum || v > maximum) {
        throw UsageError("option " + name + " takes a whole number from " + std::to_string(minimum) + " to " +
                         std::to_string(maximum) + ", not \"" + text + "\"");
    }
    return v;
}

GlobalSettings& settings() {
    static GlobalSettings s;
    return s;
}

int workerCount() {
    if (settings().threads > 0) return settings().threads;
    const unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 1 : static_cast<int>(std::min(n, 256u));
}

std::string resultCodeText(int32_t code) {
    switch (code) {
        case ORVANE_OK: return "success";
        case ORVANE_E_LOAD_IMAGE: return "bitmap cannot be read (not an 8-bit bitmap, or over 640 x 480)";
        case ORVANE_E_SAVE_IMAGE: return "bitmap file cannot be created";
        case ORVANE_E_IMAGE_SIZE: return "image size over 640 x 480 or empty";
        case ORVANE_E_EXTRACTION: return "extraction failed";
        case ORVANE_E_NO_TEMPLATE: return "no template buffer";
        case ORVANE_E_BAD_TEMPLATE: return "template damaged (check byte or length wrong)";
        case ORVANE_E_SAVE_TEMPLATE: return "template damaged or file cannot be created";
        case ORVANE_E_LOAD_TEMPLATE: return "template file cannot be read or is damaged";
        default: return "unknown result";
    }
}

std::string resultCodeWithText(int32_t code) { return std::to_string(code) + ": " + resultCodeText(code); }

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\t': out += "\\t"; break;
            case '\r': out += "\\r"; break;
            default:
                if (c < 0x20) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    out += buf;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out + "\"";
}

std::string jsonNumber(double value) {
    if (!std::isfinite(value)) return "null";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.6g", value);
    return buf;
}

namespace {
bool g_jsonEmitted = false;
}

void emitJson(const std::string& object) {
    std::printf("%s\n", object.c_str());
    g_jsonEmitted = true;
}

bool jsonEmitted() { return g_jsonEmitted; }

void warn(const std::string& command, const std::string& message) {
    if (settings().quiet) return;
    std::fflush(stdout);
    std::fprintf(stderr, "orvane: %s: warning: %s\n", command.c_str(), message.c_str());
}

bool stderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

Progress::Progress(const std::string& label, size_t total)
    : label_(label), total_(total), enabled_(stderrIsTerminal() && !settings().quiet && total > 1) {}

Progress::~Progress() { finish(); }

void Progress::advance(size_t done) {
    if (!enabled_ || finished_ || total_ == 0) return;
    const int percent = static_cast<int>(done * 100 / total_);
    if (percent == lastDrawn_) return;
    lastDrawn_ = percent;
    constexpr int kWidth = 30;
    const int filled = percent * kWidth / 100;
    std::string bar(static_cast<size_t>(filled), '#');
    bar.append(static_cast<size_t>(kWidth - filled), '.');
    std::fprintf(stderr, "\r%-12s [%s] %3d%% %zu/%zu", label_.c_str(), bar.c_str(), percent, done, total_);
    std::fflush(stderr);
}

void Progress::finish() {
    if (!enabled_ || finished_) return;
    finished_ = true;
    if (lastDrawn_ >= 0) {
        std::fprintf(stderr, "\r\033[K");
        std::fflush(stderr);
    }
}

std::vector<uint8_t> readWholeFile(const std::string& path, size_t limit) {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) throw CliError(path + ": no such file");
    if (std::filesystem::is_directory(path, ec)) throw CliError(path + ": is a folder, not a file");
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) throw CliError(path + ": cannot open (" + std::strerror(errno) + ")");
    std::vector<uint8_t> bytes;
    uint8_t buf[65536];
    size_t got;
    while ((got = std::fread(buf, 1, sizeof buf, f)) > 0) {
        bytes.insert(bytes.end(), buf, buf + got);
        if (bytes.size() > limit) {
            std::fclose(f);
            throw CliError(path + ": file too large");
        }
    }
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed) throw CliError(path + ": read error");
    return bytes;
}

std::string fileStem(const std::string& path) { return std::filesystem::path(path).stem().string(); }

}  // namespace orvane::cli
