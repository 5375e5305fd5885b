// Expected results for the database extension's test, computed on the same
// templates the database holds: scores by the VerifyMatch export itself, top
// lists by the library's 1:N search.
//
//   orvane_pg_reference hex FILE...                  "stem,hex" per template file
//   orvane_pg_reference pairs < ROWS                 "a,b,full,quick" for every pair of rows
//                                                    in the same group (rows in input order)
//   orvane_pg_reference scores PROBE_HEX full|quick < ROWS    "id,score" per row
//   orvane_pg_reference top K PROBE_HEX full|quick < ROWS     "id,score" of the top K
//   orvane_pg_reference write-tpl DIR < ROWS         each row as DIR/<id>.tpl
//
// ROWS are CSV lines "id,group,...,hex": the first field is the row's id, the
// second its group, the last its template in hexadecimal.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "orvane.h"
#include "search/search.h"

namespace {

using orvane::search::MatchMode;

struct Row {
    std::string id;
    std::string group;
    std::vector<uint8_t> featureTemplate;
};

std::vector<uint8_t> fromHex(const std::string& hex) {
    if (hex.size() % 2) throw std::runtime_error("odd number of hex digits");
    std::vector<uint8_t> out(hex.size() / 2);
    for (std::size_t i = 0; i < out.size(); ++i) {
        out[i] = static_cast<uint8_t>(std::stoul(hex.substr(2 * i, 2), nullptr, 16));
    }
    return out;
}

std::string toHex(const std::vector<uint8_t>& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (uint8_t b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

std::vector<Row> readRows() {
    std::vector<Row> rows;
    for (std::string line; std::getline(std::cin, line);) {
        if (line.empty()) continue;
        const std::size_t first = line.find(',');
        const std::size_t last = line.rfind(',');
        if (first == std::string::npos) throw std::runtime_error("no comma in: " + line);
        const std::size_t second = line.find(',', first + 1);
        rows.push_back({line.substr(0, first), line.substr(first + 1, std::min(second, last) - first - 1),
                        fromHex(line.substr(last + 1))});
    }
    return rows;
}

MatchMode modeOf(const std::string& name) {
    if (name == "full") return MatchMode::Full;
    if (name == "quick") return MatchMode::Quick;
    throw std::runtime_error("mode is full or quick, not " + name);
}

orvane::search::Probe probeOf(const std::string& hex) {
    const std::vector<uint8_t> bytes = fromHex(hex);
    orvane::search::Probe probe;
    if (orvane::search::Probe::prepare(bytes.data(), bytes.size(), probe) != 0) {
        throw std::runtime_error("the probe is no valid template");
    }
    return probe;
}

orvane::search::TemplateSet setOf(const std::vector<Row>& rows) {
    orvane::search::TemplateSet set;
    set.reserve(rows.size());
    std::string error;
    for (const Row& row : rows) {
        if (!set.add(row.featureTemplate.data(), row.featureTemplate.size(), &error)) {
            throw std::runtime_error("row " + row.id + ": " + error);
        }
    }
    return set;
}

// VerifyMatch reads up to 424 bytes of each template: give it that much room.
int32_t verify(std::vector<uint8_t> probe, std::vector<uint8_t> reference, int32_t flag) {
    probe.resize(ORVANE_MAX_TEMPLATE_BYTES);
    reference.resize(ORVANE_MAX_TEMPLATE_BYTES);
    int32_t score = 0;
    if (VerifyMatch(probe.data(), reference.data(), &score, flag) != ORVANE_OK) {
        throw std::runtime_error("VerifyMatch refused a template");
    }
    return score;
}

int run(const std::vector<std::string>& args) {
    const std::string command = args.empty() ? "" : args[0];
    if (command == "hex" && args.size() >= 2) {
        for (std::size_t i = 1; i < args.size(); ++i) {
            std::ifstream in(args[i], std::ios::binary);
            if (!in) throw std::runtime_error("cannot read " + args[i]);
            const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
            std::string stem = args[i].substr(args[i].find_last_of('/') + 1);
            stem = stem.substr(0, stem.find_last_of('.'));
            std::printf("%s,%s\n", stem.c_str(), toHex(bytes).c_str());
        }
        return 0;
    }
    if (command == "pairs" && args.size() == 1) {
        const std::vector<Row> rows = readRows();
        for (const Row& a : rows) {
            for (const Row& b : rows) {
                if (a.group != b.group) continue;
                std::printf("%s,%s,%d,%d\n", a.id.c_str(), b.id.c_str(), verify(a.featureTemplate, b.featureTemplate, 0),
                            verify(a.featureTemplate, b.featureTemplate, 1));
            }
        }
        return 0;
    }
    if (command == "scores" && args.size() == 3) {
        const std::vector<uint8_t> probe = fromHex(args[1]);
        const int32_t flag = modeOf(args[2]) == MatchMode::Quick ? 1 : 0;
        for (const Row& row : readRows()) {
            std::printf("%s,%d\n", row.id.c_str(), verify(probe, row.featureTemplate, flag));
        }
        return 0;
    }
    if (command == "top" && args.size() == 4) {
        orvane::search::SearchOptions options;
        options.topK = std::stoul(args[1]);
        const orvane::search::Probe probe = probeOf(args[2]);
        options.mode = modeOf(args[3]);
        const std::vector<Row> rows = readRows();
        for (const orvane::search::Hit& hit : orvane::search::search(setOf(rows), probe, options)) {
            std::printf("%s,%d\n", rows[hit.index].id.c_str(), hit.score);
        }
        return 0;
    }
    if (command == "write-tpl" && args.size() == 2) {
        for (const Row& row : readRows()) {
            const std::string path = args[1] + "/" + row.id + ".tpl";
            std::ofstream out(path, std::ios::binary);
            out.write(reinterpret_cast<const char*>(row.featureTemplate.data()),
                      static_cast<std::streamsize>(row.featureTemplate.size()));
            if (!out) throw std::runtime_error("cannot write " + path);
        }
        return 0;
    }
    std::fprintf(stderr, "usage: see the top of reference_scores.cpp\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return run(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "orvane_pg_reference: %s\n", e.what());
        return 1;
    }
}
