// The 1:N search engine. Entries are decoded once into compact records (12
// bytes a minutia); a probe is decoded once and gets its anchor bounds
// (anchor_bounds.h) when a search first needs them. Each entry is then compared with the library's anchor
// search (match/anchor_search.cpp), which is held to the plain transcription
// in tests/match/reference_matcher.cpp; tests/search/search_test.cpp holds
// this engine to VerifyMatch on every entry and a sort.
//
// Why skipping is exact: the reported score never exceeds the raw score of
// the best alignment (the scaling for few pairs only lowers it, the 8-pair
// rule sets 0), so an entry can only reach a score s if its best alignment
// scores s or more and has enough pairs (scoreRecords). The search is run
// with floor = s - 1, where s is the lowest score that could still enter: the
// threshold, or the K-th hit held by any thread (the final K-th ranks at
// least as high): its score for an entry of lower index, which wins a tie,
// one more for a later one. searchPrepared then returns the exact best
// whenever that is above the floor.
#include "search/search.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <memory>
#include <mutex>
#include <thread>

#include "formats/feature_template.h"
#include "match/match_internal.h"
#include "orvane.h"
#include "search/anchor_bounds.h"

namespace orvane::search {

using namespace match_internal;

namespace {

// The template's own length when it fits in `available` bytes, else 0.
std::size_t fittingLength(const uint8_t* featureTemplate, std::size_t available) {
    if (!featureTemplate || available < 2) return 0;
    const std::size_t length = static_cast<std::size_t>(templateLength(featureTemplate));
    return length <= available ? length : 0;
}

bool ranksBefore(const Hit& a, const Hit& b) { return a.score != b.score ? a.score > b.score : a.index < b.index; }

// Unpacks a template that fits in `available` bytes (a copy, so that nothing
// past the buffer is read). False for anything VerifyMatch refuses.
bool unpackFitting(const uint8_t* featureTemplate, std::size_t available, MinutiaSet& set) {
    const std::size_t length = fittingLength(featureTemplate, available);
    if (length < 4 || length > static_cast<std::size_t>(kMaxTemplateBytes)) return false;
    uint8_t copy[kMaxTemplateBytes] = {};
    std::copy(featureTemplate, featureTemplate + length, copy);
    return unpackTemplate(copy, &set) == 0;
}

}  // namespace

struct Probe::Data {
    PreparedProbe prepared;
    // Built on first use: a comparison that only wants the exact score (one
    // template, no floor) never needs them, and they take a few milliseconds.
    const AnchorBounds& bounds() const {
        std::call_once(boundsBuilt, [this] { anchorBounds.prepare(prepared); });
        return anchorBounds;
    }

private:
    mutable std::once_flag boundsBuilt;
    mutable AnchorBounds anchorBounds;
};

struct TemplateSet::Data {
    std::vector<CompactMinutia> minutiae;  // the entries' minutiae, one entry after another
    std::vector<uint32_t> starts;          // first minutia of entry i; size() + 1 values
};

namespace {

// Per-thread working memory of one comparison.
struct Scratch {
    PreparedReference reference;
    uint8_t pairBound[kMaxMinutiae * kAnchorBoundRow];
    uint8_t strongBound[kMaxMinutiae * kAnchorBoundRow];
};

constexpr int32_t kOut = INT32_MIN;

// The fewest pairs the best alignment of a comparison with this divisor must
// have for VerifyMatch to report more than floor (0 <= floor), or 0 when no
// count of nP or fewer can. Below kReportedPairs the report is 0; a count n
// at or above it reports at most reportedScore of scoreBound(n) (the scaling
// for few pairs grows with the raw score). The quick search's early end
// needs an anchor above kQuickScore, so there a floor above it counts as
// kQuickScore (the anchors that end the search are never ruled out).
int32_t neededPairs(int32_t floor, int32_t divisor, int32_t nP, bool quick) {
    if (quick) floor = std::min(floor, kQuickScore);
    for (int32_t n = kReportedPairs; n <= nP; ++n) {
        const MatchResult most{scoreBound(n, divisor), 0, 0, 0, n};
        if (reportedScore(most, quick) > floor) return n;
    }
    return 0;
}

// The VerifyMatch score of the probe against compact records, or kOut when
// it provably is at most floor (floor < 0: always the score).
//
// With floor >= 0, let N be neededPairs: an entry whose best alignment has
// fewer than N pairs reports at most floor, and that alignment's anchor has a
// pair bound of at least its pairs. So an entry in which no anchor of the
// same kinds has a bound of N is out without any alignment. In the full
// search the anchors bounded below N are then left out too ("strong" search):
// if the best of the others is above the floor and above scoreBound of every
// bound left out, it is the first best of all anchors, exactly; if it is at
// most the floor, so is the entry (the entry's best, were it to report more,
// would be among the others, and first among them). Otherwise the search runs
// again over all anchors.
int32_t scoreRecords(const Probe::Data& probe, const CompactMinutia* records, int32_t count, bool quick,
                     int32_t floor, Scratch& scratch) {
    MatchResult best;
    if (floor < 0) {
        prepareReference(records, count, scratch.reference);
        searchPrepared(probe.prepared, scratch.reference, best, quick, true, -1);
        return reportedScore(best, quick);
    }
    const int32_t nP = probe.prepared.count;
    const int32_t nR = clampCount(count);
    const int32_t divisor = (nP + nR) * (nP + nR);
    const int32_t needed = neededPairs(floor, divisor, nP, quick);
    if (needed == 0 || nR == 0) return kOut;
    const int32_t most = probe.bounds().anchorBounds(records, nR, scratch.pairBound, needed);
    if (most < needed) return kOut;
    prepareReference(records, nR, scratch.reference);
    if (!quick) {
        int32_t leftOut = 0;  // the highest score an anchor left out may have
        for (int32_t r = 0; r < nR; ++r) {
            const uint8_t* row = scratch.pairBound + static_cast<std::size_t>(r) * kAnchorBoundRow;
            uint8_t* strong = scratch.strongBound + static_cast<std::size_t>(r) * kAnchorBoundRow;
            for (int32_t p = 0; p < nP; ++p) {
                if (row[p] >= needed) {
                    strong[p] = row[p];
                } else {
                    strong[p] = 0;
                    if (probe.prepared.kind[p] == scratch.reference.kind[r]) {
                        leftOut = std::max(leftOut, scoreBound(row[p], divisor));
                    }
                }
            }
        }
        searchPrepared(probe.prepared, scratch.reference, best, false, true, floor, scratch.strongBound);
        if (best.score <= floor) return kOut;
        if (best.score > leftOut) return reportedScore(best, false);
    }
    searchPrepared(probe.prepared, scratch.reference, best, quick, true, floor, scratch.pairBound);
    if (best.score <= floor) return kOut;
    return reportedScore(best, quick);
}

int32_t scoreSet(const Probe::Data& probe, const MinutiaSet& set, bool quick, int32_t floor) {
    CompactMinutia records[kMaxMinutiae];
    const int32_t count = clampCount(set.count);
    for (int32_t i = 0; i < count; ++i) records[i] = compactMinutia(set.minutiae[i]);
    auto scratch = std::make_unique<Scratch>();
    return scoreRecords(probe, records, count, quick, floor, *scratch);
}

}  // namespace

Probe::Probe() = default;

int32_t Probe::prepare(const uint8_t* featureTemplate, std::size_t available, Probe& out) {
    MinutiaSet set;
    if (!unpackFitting(featureTemplate, available, set)) return ORVANE_E_BAD_TEMPLATE;
    auto data = std::make_shared<Data>();
    prepareProbe(set, data->prepared);
    out.data_ = std::move(data);
    return ORVANE_OK;
}

bool Probe::valid() const { return data_ != nullptr; }
int32_t Probe::minutiaCount() const { return data_ ? data_->prepared.count : 0; }

TemplateSet::TemplateSet() : data_(std::make_unique<Data>()) { data_->starts.push_back(0); }
TemplateSet::~TemplateSet() = default;
TemplateSet::TemplateSet(TemplateSet&&) noexcept = default;
TemplateSet& TemplateSet::operator=(TemplateSet&&) noexcept = default;

void TemplateSet::reserve(std::size_t entries) {
    data_->starts.reserve(entries + 1);
    data_->minutiae.reserve(entries * 45);  // a typical print's count
}

bool TemplateSet::add(const uint8_t* featureTemplate, std::size_t length, std::string* error) {
    const std::string where = "entry " + std::to_string(size()) + ": ";
    auto refuse = [&](const std::string& why) {
        if (error) *error = where + why;
        return false;
    };
    if (!featureTemplate) return refuse("no template");
    if (length < 4 || length > static_cast<std::size_t>(kMaxTemplateBytes)) {
        return refuse(std::to_string(length) + " bytes is no template length");
    }
    if (static_cast<std::size_t>(templateLength(featureTemplate)) != length) {
        return refuse("length field says " + std::to_string(templateLength(featureTemplate)) + " bytes, entry has " +
                      std::to_string(length));
    }
    MinutiaSet set;
    if (unpackTemplate(featureTemplate, &set) != 0) {
        return refuse("damaged template (count over 60, length not 7 x count + 4, or wrong check byte)");
    }
    if (data_->minutiae.size() + static_cast<std::size_t>(set.count) > UINT32_MAX || size() >= UINT32_MAX - 1) {
        return refuse("gallery full");
    }
    for (int32_t i = 0; i < set.count; ++i) data_->minutiae.push_back(compactMinutia(set.minutiae[i]));
    data_->starts.push_back(static_cast<uint32_t>(data_->minutiae.size()));
    return true;
}

std::size_t TemplateSet::size() const { return data_->starts.size() - 1; }

std::size_t TemplateSet::memoryBytes() const {
    return data_->minutiae.capacity() * sizeof(CompactMinutia) + data_->starts.capacity() * sizeof(uint32_t);
}

int32_t TemplateSet::score(const Probe& probe, std::size_t index, MatchMode mode) const {
    if (!probe.valid() || index >= size()) return 0;
    auto scratch = std::make_unique<Scratch>();
    const uint32_t start = data_->starts[index];
    return scoreRecords(probe.data(), data_->minutiae.data() + start,
                        static_cast<int32_t>(data_->starts[index + 1] - start), mode == MatchMode::Quick, -1,
                        *scratch);
}

std::vector<Hit> search(const TemplateSet& set, const Probe& probe, const SearchOptions& options,
                        SearchStats* stats) {
    const std::size_t n = set.size();
    if (stats) *stats = SearchStats{n, 0};
    if (!probe.valid() || options.topK == 0 || n == 0) return {};
    const bool quick = options.mode == MatchMode::Quick;
    const std::size_t k = options.topK;
    unsigned threads = options.threads ? options.threads : std::max(1u, std::thread::hardware_concurrency());
    threads = static_cast<unsigned>(std::min<std::size_t>(threads, (n + 63) / 64));
    threads = std::max(threads, 1u);

    // The K-th hit of a thread whose heap is full ranks after at least K
    // hits, so an entry ranking after it cannot enter; the one shared is the
    // best ranked such K-th any thread has held, packed so that a larger key
    // ranks before (score, then the lower index).
    auto packHit = [](const Hit& h) {
        return (static_cast<uint64_t>(static_cast<uint32_t>(h.score) ^ 0x80000000u) << 32) |
               (0xFFFFFFFFu - static_cast<uint32_t>(h.index));
    };
    std::atomic<uint64_t> sharedKth{0};  // 0: no heap full yet
    std::atomic<std::size_t> next{0};
    std::atomic<std::size_t> scored{0};
    std::vector<std::vector<Hit>> found(threads);
    const TemplateSet::Data& data = set.data();
    constexpr std::size_t kBlock = 64;

    auto work = [&](unsigned t) {
        std::vector<Hit>& best = found[t];  // heap, worst on top
        auto scratch = std::make_unique<Scratch>();
        std::size_t exact = 0;
        for (std::size_t start; (start = next.fetch_add(kBlock)) < n;) {
            const std::size_t end = std::min(n, start + kBlock);
            for (std::size_t i = start; i < end; ++i) {
                // The lowest score that could still enter: the threshold, and
                // the shared K-th score (or one above it for a later index).
                int64_t lowest = options.threshold;
                if (const uint64_t kth = sharedKth.load(std::memory_order_relaxed)) {
                    const int64_t kthScore = static_cast<int32_t>(static_cast<uint32_t>(kth >> 32) ^ 0x80000000u);
                    const std::size_t kthIndex = 0xFFFFFFFFu - static_cast<uint32_t>(kth);
                    lowest = std::max(lowest, i > kthIndex ? kthScore + 1 : kthScore);
                }
                // Scores are at most 1200: a lowest score far above needs no search.
                const int32_t floor = static_cast<int32_t>(std::max<int64_t>(-1, std::min<int64_t>(lowest - 1, INT32_MAX - 1)));
                const uint32_t first = data.starts[i];
                const int32_t score = scoreRecords(probe.data(), data.minutiae.data() + first,
                                                   static_cast<int32_t>(data.starts[i + 1] - first), quick,
                                                   floor, *scratch);
                if (score == kOut) continue;
                ++exact;
                if (score < options.threshold) continue;
                const Hit hit{i, score};
                if (best.size() == k) {
                    if (!ranksBefore(hit, best.front())) continue;
                    std::pop_heap(best.begin(), best.end(), ranksBefore);
                    best.back() = hit;
                } else {
                    best.push_back(hit);
                }
                std::push_heap(best.begin(), best.end(), ranksBefore);
                if (best.size() == k) {
                    const uint64_t kth = packHit(best.front());
                    uint64_t seen = sharedKth.load(std::memory_order_relaxed);
                    while (kth > seen && !sharedKth.compare_exchange_weak(seen, kth, std::memory_order_relaxed)) {
                    }
                }
            }
        }
        scored += exact;
    };
    std::vector<std::thread> pool;
    for (unsigned t = 1; t < threads; ++t) pool.emplace_back(work, t);
    work(0);
    for (std::thread& t : pool) t.join();

    std::vector<Hit> hits;
    for (const auto& f : found) hits.insert(hits.end(), f.begin(), f.end());
    const std::size_t keep = std::min(k, hits.size());
    std::partial_sort(hits.begin(), hits.begin() + static_cast<std::ptrdiff_t>(keep), hits.end(), ranksBefore);
    hits.resize(keep);
    if (stats) stats->scored = scored;
    return hits;
}

int32_t matchTemplate(const Probe& probe, const uint8_t* reference, std::size_t available, MatchMode mode,
                      int32_t* score) {
    if (!probe.valid() || !score) return ORVANE_E_BAD_TEMPLATE;
    MinutiaSet set;
    if (!unpackFitting(reference, available, set)) return ORVANE_E_BAD_TEMPLATE;
    *score = scoreSet(probe.data(), set, mode == MatchMode::Quick, -1);
    return ORVANE_OK;
}

int32_t matchTemplateAtLeast(const Probe& probe, const uint8_t* reference, std::size_t available, MatchMode mode,
                             int32_t threshold, int32_t* score) {
    if (!probe.valid() || !score) return ORVANE_E_BAD_TEMPLATE;
    MinutiaSet set;
    if (!unpackFitting(reference, available, set)) return ORVANE_E_BAD_TEMPLATE;
    const int32_t floor = threshold > 0 ? threshold - 1 : -1;
    const int32_t s = scoreSet(probe.data(), set, mode == MatchMode::Quick, floor);
    *score = s == kOut || s < threshold ? kBelowThreshold : s;
    return ORVANE_OK;
}

}  // namespace orvane::search
