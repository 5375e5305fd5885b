// Plain 1:N search: every entry scored through the VerifyMatch path, then
// sorted. The fast engine replaces the insides without changing the results.
#include "search/search.h"

#include <algorithm>
#include <atomic>
#include <thread>

#include "formats/feature_template.h"
#include "orvane.h"
#include "match/matcher.h"

namespace orvane::search {

namespace {

int32_t flagOf(MatchMode mode) { return mode == MatchMode::Quick ? 1 : 0; }

// The template's own length when it fits in `available` bytes, else 0.
std::size_t fittingLength(const uint8_t* featureTemplate, std::size_t available) {
    if (!featureTemplate || available < 2) return 0;
    const std::size_t length = static_cast<std::size_t>(templateLength(featureTemplate));
    return length <= available ? length : 0;
}

bool ranksBefore(const Hit& a, const Hit& b) { return a.score != b.score ? a.score > b.score : a.index < b.index; }

}  // namespace

struct Probe::Data {
    uint8_t bytes[kMaxTemplateBytes];
    int32_t count;
};

struct TemplateSet::Data {
    std::vector<uint8_t> bytes;          // the templates, one after another
    std::vector<std::size_t> offsets;    // start of entry i; size() + 1 values
};

Probe::Probe() = default;

int32_t Probe::prepare(const uint8_t* featureTemplate, std::size_t available, Probe& out) {
    const std::size_t length = fittingLength(featureTemplate, available);
    if (length < 4 || length > static_cast<std::size_t>(kMaxTemplateBytes)) return ORVANE_E_BAD_TEMPLATE;
    auto data = std::make_shared<Data>();
    std::copy(featureTemplate, featureTemplate + length, data->bytes);
    MinutiaSet set;
    if (unpackTemplate(data->bytes, &set) != 0) return ORVANE_E_BAD_TEMPLATE;
    data->count = set.count;
    out.data_ = std::move(data);
    return ORVANE_OK;
}

bool Probe::valid() const { return data_ != nullptr; }
int32_t Probe::minutiaCount() const { return data_ ? data_->count : 0; }

TemplateSet::TemplateSet() : data_(std::make_unique<Data>()) { data_->offsets.push_back(0); }
TemplateSet::~TemplateSet() = default;
TemplateSet::TemplateSet(TemplateSet&&) noexcept = default;
TemplateSet& TemplateSet::operator=(TemplateSet&&) noexcept = default;

void TemplateSet::reserve(std::size_t entries) {
    data_->offsets.reserve(entries + 1);
    data_->bytes.reserve(entries * 200);
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
    data_->bytes.insert(data_->bytes.end(), featureTemplate, featureTemplate + length);
    data_->offsets.push_back(data_->bytes.size());
    return true;
}

std::size_t TemplateSet::size() const { return data_->offsets.size() - 1; }

std::size_t TemplateSet::memoryBytes() const {
    return data_->bytes.capacity() + data_->offsets.capacity() * sizeof(std::size_t);
}

int32_t TemplateSet::score(const Probe& probe, std::size_t index, MatchMode mode) const {
    int32_t result = 0;
    if (!probe.valid() || index >= size()) return 0;
    verifyTemplates(probe.data().bytes, data_->bytes.data() + data_->offsets[index], &result, flagOf(mode));
    return result;
}

std::vector<Hit> search(const TemplateSet& set, const Probe& probe, const SearchOptions& options,
                        SearchStats* stats) {
    const std::size_t n = set.size();
    if (stats) *stats = SearchStats{n, 0};
    if (!probe.valid() || options.topK == 0 || n == 0) return {};
    std::vector<int32_t> scores(n);
    unsigned threads = options.threads ? options.threads : std::max(1u, std::thread::hardware_concurrency());
    threads = static_cast<unsigned>(std::min<std::size_t>(threads, n));
    std::atomic<std::size_t> next{0};
    constexpr std::size_t kBlock = 256;
    auto work = [&] {
        for (std::size_t start; (start = next.fetch_add(kBlock)) < n;) {
            const std::size_t end = std::min(n, start + kBlock);
            for (std::size_t i = start; i < end; ++i) scores[i] = set.score(probe, i, options.mode);
        }
    };
    std::vector<std::thread> pool;
    for (unsigned t = 1; t < threads; ++t) pool.emplace_back(work);
    work();
    for (std::thread& t : pool) t.join();

    std::vector<Hit> hits;
    for (std::size_t i = 0; i < n; ++i) {
        if (scores[i] >= options.threshold) hits.push_back(Hit{i, scores[i]});
    }
    const std::size_t keep = std::min(options.topK, hits.size());
    std::partial_sort(hits.begin(), hits.begin() + keep, hits.end(), ranksBefore);
    hits.resize(keep);
    if (stats) stats->scored = n;
    return hits;
}

int32_t matchTemplate(const Probe& probe, const uint8_t* reference, std::size_t available, MatchMode mode,
                      int32_t* score) {
    if (!probe.valid() || !score) return ORVANE_E_BAD_TEMPLATE;
    const std::size_t length = fittingLength(reference, available);
    if (length < 4) return ORVANE_E_BAD_TEMPLATE;
    uint8_t copy[kMaxTemplateBytes] = {};
    std::copy(reference, reference + std::min<std::size_t>(length, kMaxTemplateBytes), copy);
    return verifyTemplates(probe.data().bytes, copy, score, flagOf(mode));
}

}  // namespace orvane::search
