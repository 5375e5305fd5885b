// orvane: fingerprint templates, matching and accuracy from the command line.
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "commands.h"
#include "common.h"
#include "plots.h"

using namespace orvane::cli;

namespace {

const char* const kUsage =
    "usage: orvane [--json] [--threads N] [--quiet] [--view N] COMMAND [ARGS]\n"
    "\n"
    "commands:\n"
    "  extract IMAGE... [-o FILE.tpl | --out-dir DIR] [--debug-dir DIR]\n"
    "                                  template of each print (several images: all cores)\n"
    "  match A B [--quick]             score of two prints or templates\n"
    "  quality IMAGE...                quality score (0-100) of each print\n"
    "  identify PROBE GALLERY [--top K] [--quick]\n"
    "                                  1:N search of a print or template in a folder\n"
    "  eval DIR [--all-impostors] [--plot FILE.png|.svg]\n"
    "                                  accuracy on files named FINGER_IMPRESSION.ext\n"
    "  draw IMAGE -o OUT.png [--skeleton] [--scale N]\n"
    "                                  the print with its minutiae drawn on it\n"
    "  synth DIR [--fingers N] [--impressions M] [--seed S] [--width W] [--height H]\n"
    "                                  synthetic prints as FINGER_IMPRESSION.bmp\n"
    "  demo [--dir DIR]                synthesise a small database and evaluate it\n"
    "  convert IN OUT [--to iso|ansi|text|orvane] [--size WxH] [--dpi N] [--finger N]\n"
    "                 [--impression N] a print or template as an ISO or ANSI record,\n"
    "                                  text minutiae or a template of this library\n"
    "\n"
    "Images: 8-bit BMP, PNG, JPEG, PGM, TIFF (colour becomes grey). Images over\n"
    "640 x 480 are refused; --crop takes their centre instead.\n"
    "Templates: this library's (.tpl), ISO and ANSI finger minutiae records and\n"
    "text minutiae, wherever a template is taken; --view N picks a record's finger\n"
    "view (from 0, default 0).\n"
    "Exit status: 0 success, 1 failure, 2 wrong command line.\n";

struct Command {
    const char* name;
    int (*run)(const Args&);
};

const Command kCommands[] = {
    {"extract", runExtract}, {"match", runMatch}, {"quality", runQuality}, {"identify", runIdentify},
    {"eval", runEval},       {"draw", runDraw},   {"synth", runSynth},     {"demo", runDemo},
    {"convert", runConvert},
};

int run(int argc, char** argv, std::string& commandName) {
    std::vector<std::string> rest;
    GlobalSettings& g = settings();
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--") {
            for (int j = i; j < argc; ++j) rest.push_back(argv[j]);
            break;
        }
        if (arg == "--json") {
            g.json = true;
        } else if (arg == "--quiet" || arg == "-q") {
            g.quiet = true;
        } else if (arg == "--threads" || arg.compare(0, 10, "--threads=") == 0) {
            std::string value;
            if (arg == "--threads") {
                if (i + 1 >= argc) throw UsageError("option --threads needs a value");
                value = argv[++i];
            } else {
                value = arg.substr(10);
            }
            char* end = nullptr;
            const long n = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || n < 1 || n > 256) {
                throw UsageError("option --threads takes a whole number from 1 to 256");
            }
            g.threads = static_cast<int>(n);
        } else if (arg == "--view" || arg.compare(0, 7, "--view=") == 0) {
            const std::string value = arg == "--view" ? (i + 1 < argc ? argv[++i] : "") : arg.substr(7);
            char* end = nullptr;
            const long n = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || n < 0 || n > 254) {
                throw UsageError("option --view takes a finger view number from 0 to 254");
            }
            g.recordView = static_cast<int>(n);
        } else {
            rest.push_back(arg);
        }
    }
    if (rest.empty()) {
        std::fputs(kUsage, stderr);
        return kExitUsage;
    }
    if (rest[0] == "help" || rest[0] == "--help" || rest[0] == "-h") {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }
    if (rest[0] == "--version") {
        std::printf("orvane 0.1.0\n");
        return kExitOk;
    }
    for (const std::string& a : rest) {
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return kExitOk;
        }
    }
    commandName = rest[0];
    for (const Command& c : kCommands) {
        if (commandName == c.name) return c.run(Args(rest.begin() + 1, rest.end()));
    }
    throw UsageError("unknown command \"" + commandName + "\" (orvane --help lists them)");
}

}  // namespace

int main(int argc, char** argv) {
    std::string commandName;
    struct Cleanup {
        ~Cleanup() { releasePictureLibraries(); }
    } cleanup;
    try {
        const int status = run(argc, argv, commandName);
        std::fflush(stdout);
        return status;
    } catch (const CliError& e) {
        std::fflush(stdout);
        const std::string where = commandName.empty() ? "" : commandName + ": ";
        const char* hint = e.exitStatus() == kExitUsage ? " (orvane --help shows the usage)" : "";
        std::fprintf(stderr, "orvane: %s%s%s\n", where.c_str(), e.what(), hint);
        return e.exitStatus();
    } catch (const std::bad_alloc&) {
        std::fflush(stdout);
        std::fprintf(stderr, "orvane: out of memory\n");
        return kExitFailure;
    } catch (const std::exception& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "orvane: %s\n", e.what());
        return kExitFailure;
    } catch (...) {
        std::fflush(stdout);
        std::fprintf(stderr, "orvane: unexpected failure\n");
        return kExitFailure;
    }
}
