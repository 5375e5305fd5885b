// orvane-mpi on 1, 2 and 4 ranks gives the single-process identification of
// the merged gallery, with the gallery given as one file per rank or as one
// file split by rows; a missing, foreign or newer shard and a dying rank end
// the job with a message naming the rank and the shard, and no results.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "gallery/gallery.h"
#include "support/synthetic_gallery.h"
#include "support/test_support.h"

namespace orvane {
namespace {

constexpr size_t kGallerySize = 20000;
constexpr size_t kTop = 10;

struct RunResult {
    int status;
    std::string output;  // the results file
    std::string errors;  // stderr
};

std::string readText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Runs orvane-mpi on `ranks` processes with the given arguments.
RunResult runMpi(int ranks, const std::string& arguments, const std::string& environment = "") {
    const std::string dir = test::tempDir();
    const std::string out = dir + "/results.csv";
    const std::string err = dir + "/stderr.txt";
    std::string command = environment + " " ORVANE_MPIEXEC " --oversubscribe";
    if (geteuid() == 0) command += " --allow-run-as-root";
    command += " -np " + std::to_string(ranks) + " " ORVANE_MPI_PROGRAM " " + arguments + " --output " + out +
               " 2>" + err + " >/dev/null";
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readText(out), readText(err)};
}

struct Fixture {
    std::string dir;
    std::string merged;            // the whole gallery
    std::vector<size_t> chunkStart;  // per shard count: where each shard starts
    std::string probeList;
    std::vector<std::vector<uint8_t>> probes;
};

void enrolAll(const std::string& path, const std::vector<synthetic::GalleryEntry>& entries, size_t first,
              size_t end) {
    gallery::Gallery g(path);
    std::vector<gallery::NewPrint> batch;
    for (size_t i = first; i < end; ++i) {
        gallery::NewPrint p;
        p.info.subject = entries[i].subject;
        p.info.finger = static_cast<int32_t>(i % 11);
        p.info.impression = entries[i].impression;
        p.featureTemplate = entries[i].featureTemplate;
        batch.push_back(std::move(p));
    }
    for (const auto& outcome : g.enrol(batch)) ASSERT_TRUE(outcome.ok()) << outcome.message;
}

// The merged gallery, and its split into 1, 2 and 4 shards of consecutive
// entries ("shards-P-R.gallery").
const Fixture& fixture() {
    static Fixture f = [] {
        Fixture f;
        f.dir = test::tempDir();
        const auto entries = synthetic::syntheticGallery(kGallerySize, 12);
        f.merged = f.dir + "/merged.gallery";
        enrolAll(f.merged, entries, 0, entries.size());
        for (int ranks : {2, 4}) {
            for (int r = 0; r < ranks; ++r) {
                enrolAll(f.dir + "/shards-" + std::to_string(ranks) + "-" + std::to_string(r) + ".gallery", entries,
                         entries.size() * r / ranks, entries.size() * (r + 1) / ranks);
            }
        }
        // Mated probes are enrolled prints (their other impressions score
        // high too); non-mated ones are fingers of another seed.
        for (size_t i : {size_t{5}, size_t{9001}, size_t{19998}}) f.probes.push_back(entries[i].featureTemplate);
        for (const auto& e : synthetic::syntheticGallery(3, 99, 1)) f.probes.push_back(e.featureTemplate);
        f.probeList = f.dir + "/probes.txt";
        std::ofstream list(f.probeList);
        for (size_t p = 0; p < f.probes.size(); ++p) {
            const std::string path = f.dir + "/probe" + std::to_string(p) + ".tpl";
            test::writeFile(path, f.probes[p]);
            list << path << "\n";
        }
        return f;
    }();
    return f;
}

// The single-process identification of every probe on the merged gallery.
const std::vector<gallery::IdentifyResult>& singleProcessResults(const Fixture& f, int32_t threshold) {
    static std::map<int32_t, std::vector<gallery::IdentifyResult>> cache;
    auto& results = cache[threshold];
    if (results.empty()) {
        gallery::Gallery g(f.merged, gallery::OpenMode::ReadOnly);
        gallery::IdentifyOptions o;
        o.topK = kTop;
        o.threshold = threshold;
        for (const auto& probe : f.probes) results.push_back(g.identify(probe.data(), probe.size(), o));
    }
    return results;
}

// The single-process result as orvane-mpi's CSV: probe, rank, subject,
// finger, score, and the shard and row that hold the entry.
std::string expectedCsv(const Fixture& f, int ranks, bool split, int32_t threshold) {
    const auto& results = singleProcessResults(f, threshold);
    std::string out = "probe,rank,subject,finger,score,shard,row\n";
    for (size_t p = 0; p < f.probes.size(); ++p) {
        const auto& hits = results[p].hits;
        const std::string probe = f.dir + "/probe" + std::to_string(p) + ".tpl";
        if (hits.empty()) out += probe + ",0,,,,,\n";
        for (size_t k = 0; k < hits.size(); ++k) {
            const auto& h = hits[k];
            // Fresh galleries number their rows 1, 2, ... in enrolment order.
            const size_t position = static_cast<size_t>(h.id - 1);
            std::string shard = f.merged;
            int64_t row = h.id;
            if (!split) {
                int r = 0;
                while (position >= kGallerySize * (r + 1) / ranks) ++r;
                shard = f.dir + "/shards-" + std::to_string(ranks) + "-" + std::to_string(r) + ".gallery";
                row = static_cast<int64_t>(position - kGallerySize * r / ranks + 1);
            }
            out += probe + "," + std::to_string(k + 1) + "," + h.subject + "," + std::to_string(h.finger) + "," +
                   std::to_string(h.score) + "," + shard + "," + std::to_string(row) + "\n";
        }
    }
    return out;
}

TEST(ClusterSearch, EqualsTheSingleProcessSearchOnOneTwoAndFourRanks) {
    const Fixture& f = fixture();
    struct Case {
        int ranks;
        bool split;  // one gallery split by rows, or a gallery file per rank
        int32_t threshold;
    } cases[] = {{1, true, 0}, {2, false, 0}, {2, true, 0}, {4, false, 0}, {4, true, 0}, {2, false, 60}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.ranks << " ranks, " << (c.split ? "split gallery" : "shard files")
                                        << ", threshold " << c.threshold);
        const std::string shards =
            c.split ? "--gallery " + f.merged
                    : "--shards " + f.dir + "/shards-" + std::to_string(c.ranks) + "-{rank}.gallery";
        const RunResult run = runMpi(c.ranks, "--probes " + f.probeList + " " + shards + " --top " +
                                                  std::to_string(kTop) + " --threshold " + std::to_string(c.threshold));
        ASSERT_EQ(run.status, 0) << run.errors;
        EXPECT_EQ(run.output, expectedCsv(f, c.ranks, c.split, c.threshold));
        EXPECT_NE(run.errors.find("comparisons per second"), std::string::npos) << run.errors;
    }
}

void makeNewerSchema(const std::string& path) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    const int32_t newer = gallery::kSchemaVersion + 1;
    ASSERT_EQ(sqlite3_exec(db, ("PRAGMA user_version = " + std::to_string(newer)).c_str(), nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
}

TEST(ClusterSearch, AFaultyShardOrADyingRankFailsTheWholeJob) {
    const Fixture& f = fixture();
    const std::string dir = test::tempDir();
    const std::string good = f.dir + "/shards-2-0.gallery";
    const std::string missing = dir + "/missing.gallery";
    const std::string foreign = dir + "/foreign.gallery";
    test::writeFile(foreign, std::vector<uint8_t>(4096, 'x'));
    const std::string newer = dir + "/newer.gallery";
    test::writeFile(newer, test::readFile(f.dir + "/shards-2-1.gallery"));
    makeNewerSchema(newer);

    struct Case {
        const char* name;
        std::string shards;
        std::string environment;
        std::vector<std::string> messages;  // each must appear on stderr
    } cases[] = {
        {"missing shard", good + "," + missing, "", {"rank 1", missing}},
        {"not a gallery", good + "," + foreign, "", {"rank 1", foreign}},
        {"newer schema", good + "," + newer, "", {"rank 1", newer}},
        {"dying rank", good + "," + f.dir + "/shards-2-1.gallery", "ORVANE_MPI_FAULT_RANK=1",
         {"rank 1", f.dir + "/shards-2-1.gallery", "no results were written"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const RunResult run = runMpi(2, "--probes " + f.probeList + " --shards " + c.shards, c.environment);
        EXPECT_NE(run.status, 0);
        EXPECT_EQ(run.output, "") << "no partial results";
        for (const std::string& m : c.messages) EXPECT_NE(run.errors.find(m), std::string::npos) << m << "\n" << run.errors;
    }
}

}  // namespace
}  // namespace orvane
