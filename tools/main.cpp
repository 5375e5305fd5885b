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
    "usage: orvane [--json] [--threads N] [--quiet] COMMAND [ARGS]\n"
    "\n"
    "commands:\n"
    "  extract IMAGE... [-o FILE.tpl | --out-dir DIR] [--debug-dir DIR]\n"
    "                                  template of each print (several images: all cores)\n"
    "  match A B [--quick]             score of two prints or templates\n"
    "  quality IMAGE...                quality score (0-100) of each print\n"
    "  identify PROBE GALLERY [--top K] [--threshold T] [--quick]\n"
    "                                  1:N search of a print or template in a gallery\n"
    "                                  file or a folder of prints or templates\n"
    "  enroll GALLERY IMAGE... [--subject S] [--finger F] [--impression N]\n"
    "         [--allow-duplicates] [--dedup T] [--batch N]\n"
    "                                  add prints (or templates, or folders of them) to\n"
    "                                  a gallery file; names SUBJECT_IMPRESSION.ext\n"
    "                                  give the subject when --subject is absent\n"
    "  verify PROBE GALLERY --subject S [--threshold T] [--quick]\n"
    "                                  best score against one subject's prints\n"
    "  gallery list|stats GALLERY [--subject S] [--limit N]\n"
    "  gallery remove GALLERY ID... | --subject S\n"
    "  gallery export GALLERY DIR [--subject S] | import GALLERY DIR\n"
    "                                  inspect and maintain a gallery file\n"
    "  eval DIR [--all-impostors] [--plot FILE.png|.svg]\n"
    "                                  accuracy on prints named FINGER_IMPRESSION.ext\n"
    "  draw IMAGE -o OUT.png [--skeleton] [--scale N]\n"
    "                                  the print with its minutiae drawn on it\n"
    "  synth DIR [--fingers N] [--impressions M] [--seed S] [--width W] [--height H]\n"
    "                                  synthetic prints as FINGER_IMPRESSION.bmp\n"
    "  demo [--dir DIR]                synthesise a small database and evaluate it\n"
    "\n"
    "Images: 8-bit BMP, PNG, JPEG, PGM, TIFF (colour becomes grey). Images over\n"
    "640 x 480 are refused; --crop takes their centre instead.\n"
    "Exit status: 0 success, 1 failure, 2 wrong command line.\n";

struct Command {
    const char* name;
    int (*run)(const Args&);
};

const Command kCommands[] = {
    {"extract", runExtract}, {"match", runMatch}, {"quality", runQuality}, {"identify", runIdentify},
    {"eval", runEval},       {"draw", runDraw},   {"synth", runSynth},     {"demo", runDemo},
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
