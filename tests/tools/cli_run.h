// Runs the built orvane program for the end-to-end tests.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace {

struct CliRun {
    int status = -1;
    std::string out;
    std::string err;
};

std::string quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// Runs orvane with the given arguments; stdout and stderr captured apart.
CliRun orvane(const std::vector<std::string>& args) {
    static int counter = 0;
    const std::string errPath = orvane::test::tempDir() + "/stderr" + std::to_string(++counter);
    std::string cmd = quote(ORVANE_CLI_PATH);
    for (const std::string& a : args) cmd += " " + quote(a);
    cmd += " 2>" + quote(errPath) + " </dev/null";
    CliRun r;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return r;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    const int raw = pclose(p);
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + (WIFSIGNALED(raw) ? WTERMSIG(raw) : 0);
    const std::vector<uint8_t> err = orvane::test::readFile(errPath);
    r.err.assign(err.begin(), err.end());
    return r;
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace
