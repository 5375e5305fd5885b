// orvane: fingerprint templates, matching and accuracy from the command line.
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "commands.h"
#include "common.h"
#include "gallery_commands.h"
#include "plots.h"

using namespace orvane::cli;

namespace {

const char* const kUsage =
    "usage: orvane [--json] [--threads N] [--quiet] [--view N] COMMAND [ARGS]\n"
    "\n"
    "commands:\n"
    "  extract IMAGE... [-o FILE.tpl | --out-dir DIR] [--debug-dir DIR] [--crop auto]\n"
    "                                  template of each print (several images: all cores)\n"
    "  match PROBE REFERENCE [--quick] score of two prints or templates; the first is\n"
    "                                  the probe (scores may differ when swapped)\n"
    "  quality IMAGE...                share of the frame covered by print (0-100)\n"
    "  identify PROBE GALLERY [--top K] [--threshold T] [--quick] [--crop auto]\n"
    "                                  1:N search of a print or template in a gallery\n"
    "                                  file or a folder of prints or templates\n"
    "  enroll GALLERY IMAGE... [--subject S] [--finger F] [--impression N]\n"
    "         [--allow-duplicates] [--dedup T] [--batch N] [--crop auto]\n"
    "                                  add prints (or templates, or folders of them) to\n"
    "                                  a gallery file; names SUBJECT_IMPRESSION.ext\n"
    "                                  give the subject when --subject is absent\n"
    "  verify PROBE GALLERY --subject S [--threshold T] [--quick]\n"
    "                                  best score against one subject's prints\n"
    "  gallery list|stats GALLERY [--subject S] [--limit N]\n"
    "  gallery remove GALLERY ID... | --subject S\n"
    "  gallery export GALLERY DIR [--subject S] | import GALLERY DIR\n"
    "                                  inspect and maintain a gallery file\n"
    "  eval DIR [--all-impostors] [--plot FILE.png|.svg|.pdf] [--scores FILE.csv] [--crop auto]\n"
    "                                  accuracy on files named FINGER_IMPRESSION.ext\n"
    "  draw IMAGE -o OUT.png|.svg|.pdf [--skeleton] [--scale N]\n"
    "                                  the print with its minutiae drawn on it\n"
    "  synth DIR [--fingers N] [--impressions M] [--seed S] [--width W] [--height H]\n"
    "                                  synthetic prints as FINGER_IMPRESSION.bmp\n"
    "  demo [--dir DIR] [--fingers N] [--impressions M] [--seed S]\n"
    "                                  synthesise a small database and evaluate it\n"
    "  convert IN OUT [--to iso|ansi|text|orvane] [--size WxH] [--dpi N] [--finger N]\n"
    "                 [--impression N] a print or template as an ISO or ANSI record,\n"
    "                                  text minutiae or a template of this library\n"
    "\n"
    "options for every command:\n"
    "  --json       one JSON object on stdout (an error too: {\"error\": ...})\n"
    "  --threads N  worker threads (default: one per core)\n"
    "  --quiet      no progress bar, warnings or skipped-file notes on stderr\n"
    "  --view N     the finger view of an ISO or ANSI record to read (from 0)\n"
    "\n"
    "Images: 8-bit BMP, PNG, JPEG, PGM, TIFF (colour becomes grey); a damaged or\n"
    "cut-short file is an error. Images over 640 x 480 are refused unless cropped:\n"
    "--crop auto extracts from the print's bounding box (found by ridge contrast)\n"
    "and reports the window; --crop centre takes the middle 640 x 480.\n"
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
    {"enroll", runEnroll},   {"verify", runVerify}, {"gallery", runGallery},
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
    throw UsageError("unknown command \"" + commandName + "\"");
}

// The one-line message on stderr and, with --json, the error as the
// command's JSON object unless it already printed its own.
int fail(const std::string& commandName, const std::string& message, int status) {
    if (settings().json && !jsonEmitted()) {
        emitJson("{" + (commandName.empty() ? std::string() : "\"command\":" + jsonString(commandName) + ",") +
                 "\"error\":" + jsonString(message) + ",\"exitStatus\":" + std::to_string(status) + "}");
    }
    std::fflush(stdout);
    const std::string where = commandName.empty() ? "" : commandName + ": ";
    std::fprintf(stderr, "orvane: %s%s\n", where.c_str(), message.c_str());
    return status;
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
        const char* hint = e.exitStatus() == kExitUsage ? " (orvane --help shows the usage)" : "";
        return fail(commandName, e.what() + std::string(hint), e.exitStatus());
    } catch (const std::bad_alloc&) {
        return fail(commandName, "out of memory", kExitFailure);
    } catch (const std::exception& e) {
        return fail(commandName, e.what(), kExitFailure);
    } catch (...) {
        return fail(commandName, "unexpected failure", kExitFailure);
    }
}
