// orvane-mpi: 1:N identification spread over the ranks of an MPI job.
//
// Each rank loads its shard of the gallery into the in-memory search and
// searches it with its share of the node's cores; rank 0 reads the probes
// once, broadcasts them, and merges the ranks' top K into the global top K
// (score descending, then global gallery order: the shards in rank order,
// each in ascending row id), which is the result one process gets on the
// whole gallery. Results are printed only when every rank has finished: a
// job with a failed rank prints none and exits with status 1.
#include <mpi.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "formats/feature_template.h"
#include "gallery/gallery.h"
#include "orvane.h"
#include "search/search.h"
#include "tools/common.h"

namespace orvane::cluster {
namespace {

constexpr const char* kUsage =
    "usage: orvane-mpi PROBE... [--probes LIST] (--shards G0,G1,... | --shards PATTERN | --gallery G)\n"
    "                  [--top K] [--threshold T] [--quick] [--format csv|json] [--output FILE]\n"
    "                  [--threads N]\n"
    "  PROBE         a template file, or an 8-bit bitmap (extracted on rank 0)\n"
    "  --probes LIST a file naming one probe per line (batch mode)\n"
    "  --shards      one gallery file per rank, as a list or a pattern with {rank}\n"
    "  --gallery G   one gallery split into equal ranges of rows, one per rank\n"
    "  --threads N   search threads per rank (default: the node's cores / its ranks)\n"
    "Prints probe,rank,subject,finger,score,shard,row for each hit (rank 0 and no\n"
    "subject when no entry reaches the threshold), then the throughput on stderr.\n";

// Errors longer than this are cut when they travel to rank 0.
constexpr int kMessageBytes = 512;

struct Settings {
    std::vector<std::string> probes;
    std::vector<std::string> shards;  // per rank; empty with --gallery
    std::string gallery;
    std::size_t top = 10;
    int32_t threshold = 0;
    bool quick = false;
    bool json = false;
    std::string output;
    unsigned threads = 0;
};

// One hit as it travels from a rank to rank 0.
struct Record {
    int32_t score;
    int32_t finger;
    int64_t position;  // in the global gallery order
    int64_t row;
    int32_t shardRank;
    std::string subject;
};

int worldRank = 0;
int worldSize = 1;

[[noreturn]] void stop(int status) {
    MPI_Finalize();
    std::exit(status);
}

// Rank 0 prints the message; every rank leaves with the status.
[[noreturn]] void failEverywhere(const std::string& message, int status) {
    if (worldRank == 0) std::fprintf(stderr, "orvane-mpi: %s\n", message.c_str());
    stop(status);
}

std::vector<std::string> splitList(const std::string& text, char separator) {
    std::vector<std::string> out;
    std::stringstream in(text);
    for (std::string item; std::getline(in, item, separator);) {
        if (!item.empty()) out.push_back(item);
    }
    return out;
}

std::string replaceRank(std::string pattern, int rank) {
    const std::string key = "{rank}";
    for (std::size_t at; (at = pattern.find(key)) != std::string::npos;) {
        pattern.replace(at, key.size(), std::to_string(rank));
    }
    return pattern;
}

// Every rank parses the same command line, so they agree without talking.
Settings parseCommandLine(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty() || args[0] == "--help" || args[0] == "-h") {
        if (worldRank == 0) std::fputs(kUsage, args.empty() ? stderr : stdout);
        stop(args.empty() ? cli::kExitUsage : cli::kExitOk);
    }
    try {
        cli::Options opt(args, {"--probes", "--shards", "--gallery", "--top", "--threshold", "--format", "--output",
                                "--threads"},
                         {"--quick"});
        Settings s;
        s.probes = opt.positional();
        if (opt.has("--probes")) {
            std::ifstream list(opt.value("--probes"));
            if (!list) throw cli::CliError(opt.value("--probes") + ": cannot read the probe list");
            for (std::string line; std::getline(list, line);) {
                if (!line.empty() && line.back() == '\r') line.pop_back();
                if (!line.empty()) s.probes.push_back(line);
            }
        }
        if (s.probes.empty()) throw cli::UsageError("no probes given");
        if (opt.has("--shards") == opt.has("--gallery")) {
            throw cli::UsageError("give either --shards (a gallery file per rank) or --gallery (one gallery split by rows)");
        }
        s.gallery = opt.value("--gallery");
        if (opt.has("--shards")) {
            const std::string shardArgument = opt.value("--shards");
            if (shardArgument.find("{rank}") != std::string::npos) {
                for (int r = 0; r < worldSize; ++r) s.shards.push_back(replaceRank(shardArgument, r));
            } else {
                s.shards = splitList(shardArgument, ',');
            }
            if (static_cast<int>(s.shards.size()) != worldSize) {
                throw cli::UsageError(std::to_string(s.shards.size()) + " shards for " + std::to_string(worldSize) +
                                      " ranks: give one gallery file per rank");
            }
        }
        s.top = static_cast<std::size_t>(opt.integer("--top", 10, 1, 1000000));
        s.threshold = static_cast<int32_t>(opt.integer("--threshold", 0, 0, 1000000));
        s.quick = opt.flag("--quick");
        const std::string format = opt.value("--format", "csv");
        if (format != "csv" && format != "json") throw cli::UsageError("--format is csv or json");
        s.json = format == "json";
        s.output = opt.value("--output");
        s.threads = static_cast<unsigned>(opt.integer("--threads", 0, 0, 4096));
        return s;
    } catch (const cli::CliError& e) {
        failEverywhere(std::string(e.what()) + (e.exitStatus() == cli::kExitUsage ? "\n" + std::string(kUsage) : ""),
                       e.exitStatus());
    }
}

// Threads for this rank's search: the node's cores shared by its ranks.
unsigned threadsPerRank(unsigned asked) {
    if (asked) return asked;
    MPI_Comm node;
    MPI_Comm_split_type(MPI_COMM_WORLD, MPI_COMM_TYPE_SHARED, worldRank, MPI_INFO_NULL, &node);
    int ranksOnNode = 1;
    MPI_Comm_size(node, &ranksOnNode);
    MPI_Comm_free(&node);
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    return std::max(1u, cores / static_cast<unsigned>(ranksOnNode));
}

// This rank's part of the gallery, in its global order.
struct Shard {
    std::string name;
    search::TemplateSet templates;
    std::vector<int64_t> rows;
    std::vector<std::string> subjects;
    std::vector<int32_t> fingers;
    std::size_t skipped = 0;
};

void loadShard(const Settings& s, Shard& shard) {
    const bool split = s.shards.empty();
    shard.name = split ? s.gallery : s.shards[static_cast<std::size_t>(worldRank)];
    gallery::Gallery store(shard.name, gallery::OpenMode::ReadOnly);
    // With --gallery, rank r takes the valid rows at positions
    // [r * n / size, (r + 1) * n / size) of the row id order; n counts every
    // row, so damaged rows (skipped by the scan) never leave a row uncovered.
    const int64_t n = static_cast<int64_t>(store.count());
    const int64_t first = split ? n * worldRank / worldSize : 0;
    const int64_t end = split ? n * (worldRank + 1) / worldSize : INT64_MAX;
    int64_t position = 0;
    store.scan([&](const gallery::Entry& e) {
        const int64_t at = position++;
        if (at < first || at >= end) return;
        std::string refused;
        if (!shard.templates.add(e.featureTemplate.data(), e.featureTemplate.size(), &refused)) {
            ++shard.skipped;
            return;
        }
        shard.rows.push_back(e.id);
        shard.subjects.push_back(e.info.subject);
        shard.fingers.push_back(e.info.finger);
    });
    shard.skipped += store.lastSkipped().size();
}

// Gathers one fixed-size message from every rank to rank 0; returns the
// ranks' messages there (empty where a rank had none).
std::vector<std::string> gatherMessages(const std::string& mine) {
    char buffer[kMessageBytes] = {};
    std::strncpy(buffer, mine.c_str(), kMessageBytes - 1);
    std::vector<char> all(worldRank == 0 ? static_cast<std::size_t>(kMessageBytes) * worldSize : 0);
    MPI_Gather(buffer, kMessageBytes, MPI_CHAR, all.data(), kMessageBytes, MPI_CHAR, 0, MPI_COMM_WORLD);
    std::vector<std::string> out;
    for (int r = 0; worldRank == 0 && r < worldSize; ++r) out.emplace_back(all.data() + r * kMessageBytes);
    return out;
}

// Ends the job on every rank when any rank failed, naming each failed rank
// and its shard.
void failIfAnyRankFailed(const std::string& myError, const std::string& shardName) {
    int ok = myError.empty() ? 1 : 0;
    int allOk = 0;
    MPI_Allreduce(&ok, &allOk, 1, MPI_INT, MPI_MIN, MPI_COMM_WORLD);
    if (allOk) return;
    const auto messages =
        gatherMessages(myError.empty() ? "" : "rank " + std::to_string(worldRank) + ", shard " + shardName + ": " + myError);
    for (const std::string& m : messages) {
        if (!m.empty()) std::fprintf(stderr, "orvane-mpi: %s\n", m.c_str());
    }
    if (worldRank == 0) std::fprintf(stderr, "orvane-mpi: the search did not run; no results were written\n");
    stop(cli::kExitFailure);
}

// Rank 0 reads the probes (a failure ends the job before any search).
std::vector<uint8_t> readProbe(const std::string& path) {
    std::vector<uint8_t> t(kMaxTemplateBytes);
    const std::string ext = path.size() > 4 ? path.substr(path.size() - 4) : "";
    if (ext == ".bmp" || ext == ".BMP") {
        int32_t length = 0;
        const int32_t code = ExtractEx(path.c_str(), 0, t.data(), &length);
        if (code != ORVANE_OK) throw cli::CliError(path + ": " + cli::resultCodeText(code));
        t.resize(static_cast<std::size_t>(length));
        return t;
    }
    if (loadTemplateFile(path.c_str(), t.data()) != 0) throw cli::CliError(path + ": not a readable template file");
    t.resize(static_cast<std::size_t>(templateLength(t.data())));
    return t;
}

// The probes' templates, read on rank 0 and broadcast to every rank.
std::vector<search::Probe> broadcastProbes(const Settings& s) {
    std::vector<uint8_t> bytes;
    std::vector<int> lengths;
    std::string error;
    if (worldRank == 0) {
        try {
            for (const std::string& path : s.probes) {
                const std::vector<uint8_t> t = readProbe(path);
                bytes.insert(bytes.end(), t.begin(), t.end());
                lengths.push_back(static_cast<int>(t.size()));
            }
        } catch (const cli::CliError& e) {
            error = e.what();
        }
    }
    int failed = error.empty() ? 0 : 1;
    MPI_Bcast(&failed, 1, MPI_INT, 0, MPI_COMM_WORLD);
    if (failed) failEverywhere("probe " + error + "; the search did not run", cli::kExitFailure);
    lengths.resize(s.probes.size());
    MPI_Bcast(lengths.data(), static_cast<int>(lengths.size()), MPI_INT, 0, MPI_COMM_WORLD);
    long total = 0;
    for (int l : lengths) total += l;
    bytes.resize(static_cast<std::size_t>(total));
    MPI_Bcast(bytes.data(), static_cast<int>(total), MPI_BYTE, 0, MPI_COMM_WORLD);
    std::vector<search::Probe> probes(s.probes.size());
    std::size_t at = 0;
    for (std::size_t i = 0; i < probes.size(); ++i) {
        if (search::Probe::prepare(bytes.data() + at, static_cast<std::size_t>(lengths[i]), probes[i]) != ORVANE_OK) {
            failEverywhere("probe " + s.probes[i] + ": damaged template; the search did not run", cli::kExitFailure);
        }
        at += static_cast<std::size_t>(lengths[i]);
    }
    return probes;
}

void putBytes(std::vector<char>& out, const void* data, std::size_t size) {
    const char* p = static_cast<const char*>(data);
    out.insert(out.end(), p, p + size);
}

template <typename T>
T takeBytes(const char*& in) {
    T value;
    std::memcpy(&value, in, sizeof value);
    in += sizeof value;
    return value;
}

// Serialises this rank's hits of every probe: per probe a count, then records.
std::vector<char> encodeHits(const std::vector<std::vector<search::Hit>>& hits, const Shard& shard, int64_t offset) {
    std::vector<char> out;
    for (const auto& probeHits : hits) {
        const int32_t count = static_cast<int32_t>(probeHits.size());
        putBytes(out, &count, sizeof count);
        for (const search::Hit& h : probeHits) {
            const int64_t position = offset + static_cast<int64_t>(h.index);
            const std::string& subject = shard.subjects[h.index];
            const int32_t subjectBytes = static_cast<int32_t>(subject.size());
            putBytes(out, &h.score, sizeof h.score);
            putBytes(out, &shard.fingers[h.index], sizeof(int32_t));
            putBytes(out, &position, sizeof position);
            putBytes(out, &shard.rows[h.index], sizeof(int64_t));
            putBytes(out, &subjectBytes, sizeof subjectBytes);
            putBytes(out, subject.data(), subject.size());
        }
    }
    return out;
}

// Rank 0: the global top K of each probe from every rank's top K.
std::vector<std::vector<Record>> mergeHits(const std::vector<char>& gathered, const std::vector<int>& sizes,
                                           std::size_t probeCount, std::size_t top) {
    std::vector<std::vector<Record>> merged(probeCount);
    std::size_t start = 0;
    for (int r = 0; r < static_cast<int>(sizes.size()); ++r) {
        const char* in = gathered.data() + start;
        for (std::size_t p = 0; p < probeCount; ++p) {
            const int32_t count = takeBytes<int32_t>(in);
            for (int32_t i = 0; i < count; ++i) {
                Record rec;
                rec.score = takeBytes<int32_t>(in);
                rec.finger = takeBytes<int32_t>(in);
                rec.position = takeBytes<int64_t>(in);
                rec.row = takeBytes<int64_t>(in);
                const int32_t subjectBytes = takeBytes<int32_t>(in);
                rec.subject.assign(in, static_cast<std::size_t>(subjectBytes));
                in += subjectBytes;
                rec.shardRank = r;
                merged[p].push_back(std::move(rec));
            }
        }
        start += static_cast<std::size_t>(sizes[static_cast<std::size_t>(r)]);
    }
    for (auto& records : merged) {
        std::sort(records.begin(), records.end(), [](const Record& a, const Record& b) {
            return a.score != b.score ? a.score > b.score : a.position < b.position;
        });
        if (records.size() > top) records.resize(top);
    }
    return merged;
}

std::string csvField(const std::string& text) {
    if (text.find_first_of(",\"\n\r") == std::string::npos) return text;
    std::string out = "\"";
    for (char c : text) out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

std::string formatResults(const Settings& s, const std::vector<std::vector<Record>>& merged) {
    std::string out;
    if (!s.json) out += "probe,rank,subject,finger,score,shard,row\n";
    auto line = [&](const std::string& probe, std::size_t rank, const Record* r, const std::string& shard) {
        if (s.json) {
            out += "{\"probe\":" + cli::jsonString(probe) + ",\"rank\":" + std::to_string(rank);
            if (r) {
                out += ",\"subject\":" + cli::jsonString(r->subject) + ",\"finger\":" + std::to_string(r->finger) +
                       ",\"score\":" + std::to_string(r->score) + ",\"shard\":" + cli::jsonString(shard) +
                       ",\"row\":" + std::to_string(r->row);
            }
            out += "}\n";
        } else {
            out += csvField(probe) + "," + std::to_string(rank);
            out += r ? "," + csvField(r->subject) + "," + std::to_string(r->finger) + "," + std::to_string(r->score) +
                           "," + csvField(shard) + "," + std::to_string(r->row)
                     : std::string(",,,,,");
            out += "\n";
        }
    };
    for (std::size_t p = 0; p < merged.size(); ++p) {
        if (merged[p].empty()) line(s.probes[p], 0, nullptr, "");
        for (std::size_t k = 0; k < merged[p].size(); ++k) {
            const Record& r = merged[p][k];
            line(s.probes[p], k + 1, &r, s.shards.empty() ? s.gallery : s.shards[static_cast<std::size_t>(r.shardRank)]);
        }
    }
    return out;
}

// Writes through a temporary file and a rename, so that a failed job never
// leaves half a result file.
void writeResults(const std::string& path, const std::string& text) {
    if (path.empty() || path == "-") {
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fflush(stdout);
        return;
    }
    const std::string temporary = path + ".part" + std::to_string(getpid());
    std::FILE* f = std::fopen(temporary.c_str(), "wb");
    bool ok = f && std::fwrite(text.data(), 1, text.size(), f) == text.size();
    ok = (f && std::fclose(f) == 0) && ok;
    if (!ok || std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        throw cli::CliError(path + ": cannot write the results");
    }
}

// mpirun ends the surviving ranks with SIGTERM when one dies: rank 0 says
// which shards the job held, so that the dead rank's number (in mpirun's
// message) points at a shard, and that no results were written.
char stoppedMessage[4096];
void onTerminate(int) {
    const ssize_t ignored = write(STDERR_FILENO, stoppedMessage, std::strlen(stoppedMessage));
    (void)ignored;
    _exit(cli::kExitFailure);
}

void announceShardsOnStop(const Settings& s) {
    if (worldRank != 0) return;
    std::string text = "orvane-mpi: the job was stopped before it finished (a rank failed); no results were written. Shards:";
    for (int r = 0; r < worldSize; ++r) {
        text += " rank " + std::to_string(r) + " = " + (s.shards.empty() ? s.gallery + " (rows part " + std::to_string(r + 1) + " of " + std::to_string(worldSize) + ")" : s.shards[static_cast<std::size_t>(r)]) + ";";
    }
    text += "\n";
    std::strncpy(stoppedMessage, text.c_str(), sizeof stoppedMessage - 1);
    std::signal(SIGTERM, onTerminate);
}

// A test of the fault handling sets ORVANE_MPI_FAULT_RANK to a rank that
// then dies after loading its shard, as a crashed or killed node would.
void dieHereWhenAsked() {
    const char* rank = std::getenv("ORVANE_MPI_FAULT_RANK");
    if (rank && *rank && std::atoi(rank) == worldRank) std::raise(SIGKILL);
}

int run(int argc, char** argv) {
    const Settings s = parseCommandLine(argc, argv);
    announceShardsOnStop(s);
    const unsigned threads = threadsPerRank(s.threads);

    const auto loadStart = std::chrono::steady_clock::now();
    Shard shard;
    std::string loadError;
    try {
        loadShard(s, shard);
    } catch (const std::exception& e) {
        loadError = e.what();
    }
    failIfAnyRankFailed(loadError, shard.name);
    dieHereWhenAsked();
    const double loadSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - loadStart).count();

    const std::vector<search::Probe> probes = broadcastProbes(s);
    const int64_t localSize = static_cast<int64_t>(shard.templates.size());
    int64_t offset = 0;
    MPI_Exscan(&localSize, &offset, 1, MPI_INT64_T, MPI_SUM, MPI_COMM_WORLD);
    if (worldRank == 0) offset = 0;  // MPI leaves rank 0's result undefined
    int64_t totalSize = 0;
    MPI_Allreduce(&localSize, &totalSize, 1, MPI_INT64_T, MPI_SUM, MPI_COMM_WORLD);

    MPI_Barrier(MPI_COMM_WORLD);
    const auto searchStart = std::chrono::steady_clock::now();
    search::SearchOptions options;
    options.topK = s.top;
    options.threshold = s.threshold;
    options.mode = s.quick ? search::MatchMode::Quick : search::MatchMode::Full;
    options.threads = threads;
    std::vector<std::vector<search::Hit>> hits;
    hits.reserve(probes.size());
    for (const search::Probe& probe : probes) hits.push_back(search::search(shard.templates, probe, options));

    const std::vector<char> mine = encodeHits(hits, shard, offset);
    const int mySize = static_cast<int>(mine.size());
    std::vector<int> sizes(static_cast<std::size_t>(worldSize));
    MPI_Gather(&mySize, 1, MPI_INT, sizes.data(), 1, MPI_INT, 0, MPI_COMM_WORLD);
    std::vector<int> displacements(static_cast<std::size_t>(worldSize), 0);
    for (int r = 1; r < worldSize; ++r) displacements[r] = displacements[r - 1] + sizes[r - 1];
    std::vector<char> gathered(worldRank == 0 ? static_cast<std::size_t>(displacements.back() + sizes.back()) : 0);
    MPI_Gatherv(mine.data(), mySize, MPI_CHAR, gathered.data(), sizes.data(), displacements.data(), MPI_CHAR, 0,
                MPI_COMM_WORLD);
    const double searchSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - searchStart).count();

    std::size_t skipped = shard.skipped;
    std::size_t skippedAll = 0;
    MPI_Reduce(&skipped, &skippedAll, 1, MPI_UNSIGNED_LONG, MPI_SUM, 0, MPI_COMM_WORLD);
    double slowestLoad = 0;
    MPI_Reduce(&loadSeconds, &slowestLoad, 1, MPI_DOUBLE, MPI_MAX, 0, MPI_COMM_WORLD);

    int status = cli::kExitOk;
    if (worldRank == 0) {
        const auto merged = mergeHits(gathered, sizes, probes.size(), s.top);
        try {
            writeResults(s.output, formatResults(s, merged));
            const double comparisons = static_cast<double>(totalSize) * static_cast<double>(probes.size());
            std::fprintf(stderr,
                         "orvane-mpi: %zu probes against %lld entries on %d ranks x %u threads: loaded in %.2f s, "
                         "searched in %.3f s, %.0f comparisons per second%s\n",
                         probes.size(), static_cast<long long>(totalSize), worldSize, threads, slowestLoad,
                         searchSeconds, searchSeconds > 0 ? comparisons / searchSeconds : 0.0,
                         skippedAll ? (", " + std::to_string(skippedAll) + " damaged rows skipped").c_str() : "");
        } catch (const cli::CliError& e) {
            std::fprintf(stderr, "orvane-mpi: %s\n", e.what());
            status = cli::kExitFailure;
        }
    }
    MPI_Bcast(&status, 1, MPI_INT, 0, MPI_COMM_WORLD);
    return status;
}

}  // namespace
}  // namespace orvane::cluster

int main(int argc, char** argv) {
    MPI_Init(&argc, &argv);
    MPI_Comm_rank(MPI_COMM_WORLD, &orvane::cluster::worldRank);
    MPI_Comm_size(MPI_COMM_WORLD, &orvane::cluster::worldSize);
    const int status = orvane::cluster::run(argc, argv);
    MPI_Finalize();
    return status;
}
