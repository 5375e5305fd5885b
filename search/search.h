// One probe against many enrolled templates (1:N identification).
//
// The templates of a gallery are checked and decoded once, when they are
// added; a probe is decoded and prepared once, then compared with every entry.
// Every score equals VerifyMatch(probe, entry) in the same mode: entries are
// only ever left out when they provably cannot enter the result.
//
// This is the matcher's C++ interface for every tool that searches (the CLI,
// the gallery store, the database extension, the cluster search). It is not
// part of the OrvaneCom shared library, whose exports stay the eight C names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace orvane::search {

// The two searches of VerifyMatch (its flag's low byte 0, or not 0).
enum class MatchMode : int32_t { Full = 0, Quick = 1 };

// A probe decoded and prepared for many comparisons. Cheap to copy (shared,
// immutable); safe to use from several threads at once.
class Probe {
public:
    Probe();
    // Prepares the template held in the first `available` bytes of
    // featureTemplate (bytes after its length field's end are ignored).
    // Returns 0, or ORVANE_E_BAD_TEMPLATE when the template is null,
    // does not fit in `available` bytes or fails to unpack: the code
    // VerifyMatch gives for such a probe. `out` is left unchanged on error.
    static int32_t prepare(const uint8_t* featureTemplate, std::size_t available, Probe& out);

    bool valid() const;
    int32_t minutiaCount() const;

    struct Data;
    const Data& data() const { return *data_; }

private:
    std::shared_ptr<const Data> data_;
};

// Templates held in memory in a compact decoded layout, in the order added
// (an entry's index is its position, counted from 0). Adding is not
// thread-safe; searching a set that is not being changed is.
class TemplateSet {
public:
    TemplateSet();
    ~TemplateSet();
    TemplateSet(TemplateSet&&) noexcept;
    TemplateSet& operator=(TemplateSet&&) noexcept;

    void reserve(std::size_t entries);

    // Appends the template of exactly `length` bytes. Refuses (returns false,
    // the set unchanged, *error set when given, naming the entry's index) a
    // null pointer, a length that disagrees with the template's length field
    // or with its count, a count over 60 and a wrong check byte.
    bool add(const uint8_t* featureTemplate, std::size_t length, std::string* error = nullptr);

    std::size_t size() const;
    // Bytes held for the entries (what a gallery of this size costs in memory).
    std::size_t memoryBytes() const;

    // The exact VerifyMatch score of probe against entry `index`.
    int32_t score(const Probe& probe, std::size_t index, MatchMode mode) const;

    struct Data;
    const Data& data() const { return *data_; }

private:
    std::unique_ptr<Data> data_;
};

struct SearchOptions {
    std::size_t topK = 10;        // at most this many hits; 0 gives none
    int32_t threshold = 0;        // only entries scoring at least this
    MatchMode mode = MatchMode::Full;
    unsigned threads = 0;         // 0: one per core
};

struct Hit {
    std::size_t index;  // position in the TemplateSet
    int32_t score;      // exact VerifyMatch(probe, entry) score
};

struct SearchStats {
    std::size_t entries = 0;  // entries in the set when searched
    std::size_t scored = 0;   // entries given an exact score (the rest were provably out)
};

// The top K entries scoring at least the threshold: score descending, then
// lower index first. Identical to scoring every entry and sorting, for any
// thread count.
std::vector<Hit> search(const TemplateSet& set, const Probe& probe, const SearchOptions& options,
                        SearchStats* stats = nullptr);

// The exact score of a prepared probe against one template that is not in a
// set (the database extension's row-at-a-time case). Returns 0 with *score
// written, or ORVANE_E_BAD_TEMPLATE when the reference is null, does not
// fit in `available` bytes or fails to unpack.
int32_t matchTemplate(const Probe& probe, const uint8_t* reference, std::size_t available, MatchMode mode,
                      int32_t* score);

// matchTemplate for a caller that only wants scores of at least threshold:
// *score is the exact score when it is at least threshold, else
// kBelowThreshold, which may be known without the whole search (a reference
// that provably cannot reach the threshold ends early). Same return codes.
constexpr int32_t kBelowThreshold = -1;
int32_t matchTemplateAtLeast(const Probe& probe, const uint8_t* reference, std::size_t available, MatchMode mode,
                             int32_t threshold, int32_t* score);

}  // namespace orvane::search
