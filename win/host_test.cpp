// A Windows host of OrvaneCom.dll: loads it with LoadLibrary, resolves the
// eight exports by their plain names with GetProcAddress, calls them through
// cdecl function pointers and checks that the results are byte for byte those
// the Linux build wrote into the case folder.
//
//   orvane_win_host <dll> <case folder>
//
// The case folder holds inputs.txt, expected.txt and diag/ (the Linux stage
// images of the final extraction). The run writes actual.txt and win_out/
// there, and compares the diagnostic files that the DLL writes to c:\ with
// diag/.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "support/equality_run.h"

using namespace orvane_equality;

namespace {

template <typename Fn>
bool resolve(HMODULE dll, const char* name, Fn* fn) {
    *fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(dll, name)));
    if (!*fn) std::fprintf(stderr, "FAIL: export %s not found\n", name);
    return *fn != nullptr;
}

std::string diagnosticPath(const std::string& name) { return "c:\\" + name + ".bmp"; }

}  // namespace

// Calls fn(arg) with the stack pointer `offset` bytes short of a 16-byte
// boundary at the call, as a host built by another compiler may leave it
// (the 32-bit Windows convention promises 4-byte alignment only).
extern "C" void callWithStackOffset(void (*fn)(void*), void* arg, int offset);
asm(R"(
    .text
    .globl _callWithStackOffset
_callWithStackOffset:
    pushl %ebp
    movl %esp, %ebp
    movl 8(%ebp), %eax
    movl 12(%ebp), %ecx
    movl 16(%ebp), %edx
    andl $-16, %esp
    subl %edx, %esp
    subl $12, %esp
    pushl %ecx
    call *%eax
    movl %ebp, %esp
    popl %ebp
    ret
)");

namespace {

// One print through the image and match exports on a misaligned stack. The
// function itself keeps the stack as it finds it (nothing in it needs
// alignment), so the exports see the same misalignment.
struct MisalignedCall {
    const Api* api;
    const uint8_t* image;
    int32_t width, height;
    int32_t quality, extractCode, length, matchCode, score;
    uint8_t featureTemplate[ORVANE_MAX_TEMPLATE_BYTES + 16];
    uintptr_t stackPointer;
};

void runMisaligned(void* context) {
    MisalignedCall& c = *static_cast<MisalignedCall*>(context);
    uintptr_t sp;
    asm volatile("movl %%esp, %0" : "=r"(sp));
    c.stackPointer = sp;
    c.api->getQuality(c.image, c.width, c.height, &c.quality);
    c.extractCode = c.api->extract(c.width, c.height, c.image, 0, c.featureTemplate, &c.length);
    c.matchCode = c.api->verifyMatch(c.featureTemplate, c.featureTemplate, &c.score, 0);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <dll> <case folder>\n", argv[0]);
        return 2;
    }
    HMODULE dll = LoadLibraryA(argv[1]);
    if (!dll) {
        std::fprintf(stderr, "FAIL: LoadLibrary(%s) failed, error %lu\n", argv[1], GetLastError());
        return 1;
    }
    Api api{};
    bool ok = resolve(dll, "Extract", &api.extract) & resolve(dll, "ExtractEx", &api.extractEx) &
              resolve(dll, "GetQuality", &api.getQuality) & resolve(dll, "VerifyMatch", &api.verifyMatch) &
              resolve(dll, "SaveFeature", &api.saveFeature) & resolve(dll, "LoadFeature", &api.loadFeature) &
              resolve(dll, "LoadFinger", &api.loadFinger) & resolve(dll, "SaveFinger", &api.saveFinger);
    // The decorated spellings of other conventions must not exist.
    for (const char* decorated : {"_Extract", "Extract@24", "_Extract@24", "DllMain", "DllMain@12"}) {
        if (GetProcAddress(dll, decorated)) {
            std::fprintf(stderr, "FAIL: unexpected export %s\n", decorated);
            ok = false;
        }
    }
    if (!ok) return 1;

    if (!SetCurrentDirectoryA(argv[2])) {
        std::fprintf(stderr, "FAIL: cannot enter %s\n", argv[2]);
        return 1;
    }
    bool listed = false;
    const std::vector<std::string> expected = readLines("expected.txt", &listed);
    const std::vector<Input> inputs = readInputList("inputs.txt");
    if (!listed || inputs.empty()) {
        std::fprintf(stderr, "FAIL: no expected.txt or inputs.txt in %s (run the Linux writer first)\n", argv[2]);
        return 1;
    }
    CreateDirectoryA("win_out", nullptr);

    int failures = 0;
    RunResult run = runSequence(api, inputs, "win_out", [] {
        for (const std::string& n : diagnosticNames()) DeleteFileA(diagnosticPath(n).c_str());
    });
    writeLines("actual.txt", run.lines);
    for (const std::string& p : run.problems) {
        std::fprintf(stderr, "FAIL: %s\n", p.c_str());
        ++failures;
    }

    const std::vector<std::string> differences = compareLines(expected, run.lines);
    for (const std::string& d : differences) std::fprintf(stderr, "FAIL: differs from Linux at %s\n", d.c_str());
    failures += static_cast<int>(differences.size());

    // The stage images of the final extraction: present on drive C and equal
    // to those of the Linux build.
    int diagnosticsCompared = 0;
    if (!run.diagnosticsPrint.empty()) {
        for (const std::string& n : diagnosticNames()) {
            bool present = false, reference = false;
            const std::vector<uint8_t> windowsFile = readWholeFile(diagnosticPath(n), &present);
            const std::vector<uint8_t> linuxFile = readWholeFile("diag/" + n + ".bmp", &reference);
            if (!present) {
                std::fprintf(stderr, "FAIL: %s was not written\n", diagnosticPath(n).c_str());
                ++failures;
            } else if (!reference) {
                std::fprintf(stderr, "FAIL: the Linux build wrote no diag/%s.bmp\n", n.c_str());
                ++failures;
            } else if (windowsFile != linuxFile) {
                std::fprintf(stderr, "FAIL: %s differs from the Linux stage image\n", diagnosticPath(n).c_str());
                ++failures;
            } else {
                ++diagnosticsCompared;
            }
        }
    }

    // Calls arriving with the stack 4, 8 or 12 bytes off a 16-byte boundary
    // give the results of aligned ones (the first print that has a template).
    for (size_t i = 0; i < inputs.size(); ++i) {
        const std::string prefix = "print " + inputs[i].name + " ";
        const auto line = std::find_if(run.lines.begin(), run.lines.end(), [&](const std::string& l) {
            return l.compare(0, prefix.size(), prefix) == 0 && l.compare(l.size() - 2, 2, " -") != 0;
        });
        if (line == run.lines.end()) continue;
        int32_t w = 0, h = 0;
        if (api.loadFinger(inputs[i].file.c_str(), nullptr, &w, &h) != 0) break;
        std::vector<uint8_t> image(static_cast<size_t>(w) * h);
        api.loadFinger(inputs[i].file.c_str(), image.data(), &w, &h);
        int32_t selfScore = -1, length = 0, quality = -1;
        uint8_t tpl[ORVANE_MAX_TEMPLATE_BYTES + 16];
        api.extract(w, h, image.data(), 0, tpl, &length);
        api.getQuality(image.data(), w, h, &quality);
        api.verifyMatch(tpl, tpl, &selfScore, 0);
        for (int offset : {4, 8, 12}) {
            MisalignedCall c{};
            c.api = &api;
            c.image = image.data();
            c.width = w;
            c.height = h;
            callWithStackOffset(runMisaligned, &c, offset);
            const bool same = c.extractCode == 0 && c.length == length && c.quality == quality &&
                              std::equal(tpl, tpl + length, c.featureTemplate) && c.matchCode == 0 &&
                              c.score == selfScore;
            if ((c.stackPointer & 15) == 0 || !same) {
                std::fprintf(stderr, "FAIL: calls with the stack misaligned (sp %% 16 = %u) %s\n",
                             static_cast<unsigned>(c.stackPointer & 15),
                             same ? "found it aligned after all" : "gave other results");
                ++failures;
            }
        }
        std::printf("misaligned-stack calls checked on %s\n", inputs[i].name.c_str());
        break;
    }

    size_t prints = 0, scores = 0, templates = 0;
    for (const std::string& line : run.lines) {
        if (line.rfind("print ", 0) == 0) {
            ++prints;
            if (line.compare(line.size() - 2, 2, " -") != 0) ++templates;
        }
        if (line.rfind("score ", 0) == 0) ++scores;
    }
    std::printf("%zu prints, %zu templates, %zu scores, %d diagnostic files compared, %zu lines: %s\n", prints,
                templates, scores, diagnosticsCompared, run.lines.size(), failures ? "FAILED" : "equal");
    FreeLibrary(dll);
    return failures ? 1 : 0;
}
