// The extension's bridge to the matcher: C linkage, no exception ever leaves
// it, and it never calls the server (whose errors unwind with longjmp, which
// must not cross C++ frames).
#include "orvane_shim.h"

#include <algorithm>
#include <cstdio>
#include <new>

#include "formats/feature_template.h"
#include "search/search.h"

struct OrvaneProbe {
    orvane::search::Probe prepared;
};

namespace {

static_assert(ORVANE_SHIM_MAX_MINUTIAE == orvane::kMaxMinutiae, "the C side sizes its minutia arrays by this");

const std::size_t kMaxTemplateBytes = static_cast<std::size_t>(orvane::kMaxTemplateBytes);

// True (with the reason written to why) when the value is not a template.
bool describeDefect(const uint8_t* bytes, std::size_t length, char* why) {
    const std::size_t room = ORVANE_SHIM_REASON_BYTES;
    if (length < 4) {
        std::snprintf(why, room, "A template has at least 4 bytes; the value has %zu", length);
        return true;
    }
    if (length > kMaxTemplateBytes) {
        std::snprintf(why, room, "A template has at most %zu bytes; the value has %zu", kMaxTemplateBytes, length);
        return true;
    }
    const std::size_t lengthField = static_cast<std::size_t>(orvane::templateLength(bytes));
    if (lengthField != length) {
        std::snprintf(why, room, "Its length field says %zu bytes; the value has %zu", lengthField, length);
        return true;
    }
    const int count = bytes[2];
    if (count > orvane::kMaxMinutiae) {
        std::snprintf(why, room, "It claims %d minutiae; a template holds at most %d", count, orvane::kMaxMinutiae);
        return true;
    }
    if (length != static_cast<std::size_t>(7 * count + 4)) {
        std::snprintf(why, room, "Its %d minutiae need %d bytes, not %zu", count, 7 * count + 4, length);
        return true;
    }
    if (orvane::templateChecksum(bytes, static_cast<int32_t>(length)) != 0) {
        std::snprintf(why, room, "Its check byte is wrong");
        return true;
    }
    return false;
}

// Cheap test for the per-row path: the value is exactly as long as it says.
bool fitsItsLengthField(const uint8_t* bytes, std::size_t length) {
    return length >= 4 && length <= kMaxTemplateBytes &&
           static_cast<std::size_t>(orvane::templateLength(bytes)) == length;
}

OrvaneShimResult refuse(const uint8_t* bytes, std::size_t length, char* why) {
    if (!describeDefect(bytes, length, why)) std::snprintf(why, ORVANE_SHIM_REASON_BYTES, "The matcher refused it");
    return ORVANE_SHIM_BAD_TEMPLATE;
}

bool ranksBefore(const OrvaneHit& a, const OrvaneHit& b) {
    return a.score != b.score ? a.score > b.score : a.id < b.id;
}

orvane::search::MatchMode modeOf(bool quick) {
    return quick ? orvane::search::MatchMode::Quick : orvane::search::MatchMode::Full;
}

template <typename Body>
OrvaneShimResult guarded(Body body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return ORVANE_SHIM_OUT_OF_MEMORY;
    } catch (...) {
        return ORVANE_SHIM_INTERNAL_ERROR;
    }
}

// Runs one of the engine's per-reference matches (match(&score) returns its
// code) on a stored value, turning a refusal into the reason.
template <typename Match>
OrvaneShimResult matchStored(const OrvaneProbe* probe, const uint8_t* reference, std::size_t length, int32_t* score,
                             char* why, Match match) {
    return guarded([&] {
        if (!probe || !reference || !score || !why) return ORVANE_SHIM_INTERNAL_ERROR;
        // Trailing bytes would be ignored by the matcher; a stored value
        // longer than its template is refused as damaged instead.
        if (!fitsItsLengthField(reference, length)) return refuse(reference, length, why);
        int32_t result = 0;
        if (match(&result) != 0) return refuse(reference, length, why);
        *score = result;
        return ORVANE_SHIM_OK;
    });
}

}  // namespace

extern "C" {

OrvaneShimResult orvane_check_template(const uint8_t* bytes, std::size_t length, char* why) {
    if (!bytes || !why) return ORVANE_SHIM_INTERNAL_ERROR;
    return describeDefect(bytes, length, why) ? ORVANE_SHIM_BAD_TEMPLATE : ORVANE_SHIM_OK;
}

OrvaneShimResult orvane_probe_prepare(const uint8_t* bytes, std::size_t length, OrvaneProbe** out, char* why) {
    return guarded([&] {
        if (!bytes || !out || !why) return ORVANE_SHIM_INTERNAL_ERROR;
        if (describeDefect(bytes, length, why)) return ORVANE_SHIM_BAD_TEMPLATE;
        OrvaneProbe* probe = new OrvaneProbe;
        if (orvane::search::Probe::prepare(bytes, length, probe->prepared) != 0) {
            delete probe;
            return refuse(bytes, length, why);
        }
        *out = probe;
        return ORVANE_SHIM_OK;
    });
}

void orvane_probe_free(OrvaneProbe* probe) { delete probe; }

OrvaneShimResult orvane_probe_match(const OrvaneProbe* probe, const uint8_t* reference, std::size_t length,
                                    bool quick, int32_t* score, char* why) {
    return matchStored(probe, reference, length, score, why, [&](int32_t* result) {
        return orvane::search::matchTemplate(probe->prepared, reference, length, modeOf(quick), result);
    });
}

static_assert(ORVANE_SHIM_BELOW_THRESHOLD == orvane::search::kBelowThreshold, "the SQL side documents this value");

OrvaneShimResult orvane_probe_match_at_least(const OrvaneProbe* probe, const uint8_t* reference, std::size_t length,
                                             bool quick, int32_t threshold, int32_t* score, char* why) {
    return matchStored(probe, reference, length, score, why, [&](int32_t* result) {
        return orvane::search::matchTemplateAtLeast(probe->prepared, reference, length, modeOf(quick), threshold,
                                                    result);
    });
}

int32_t orvane_top_entry_score(const OrvaneHit* heap, int32_t count, int32_t k) {
    return count < k ? 0 : heap[0].score;
}

void orvane_top_offer(OrvaneHit* heap, int32_t* count, int32_t k, OrvaneHit hit) {
    if (*count < k) {
        heap[(*count)++] = hit;
        std::push_heap(heap, heap + *count, ranksBefore);
    } else if (k > 0 && ranksBefore(hit, heap[0])) {
        std::pop_heap(heap, heap + k, ranksBefore);
        heap[k - 1] = hit;
        std::push_heap(heap, heap + k, ranksBefore);
    }
}

void orvane_top_rank(OrvaneHit* heap, int32_t count) { std::sort(heap, heap + count, ranksBefore); }

OrvaneShimResult orvane_template_minutiae(const uint8_t* bytes, std::size_t length, OrvaneMinutia* out, int* count,
                                          char* why) {
    return guarded([&] {
        if (!bytes || !out || !count || !why) return ORVANE_SHIM_INTERNAL_ERROR;
        if (describeDefect(bytes, length, why)) return ORVANE_SHIM_BAD_TEMPLATE;
        orvane::MinutiaSet set;
        if (orvane::unpackTemplate(bytes, &set) != 0) return refuse(bytes, length, why);
        for (int32_t i = 0; i < set.count; ++i) {
            const orvane::Minutia& m = set.minutiae[i];
            out[i] = OrvaneMinutia{m.x, m.y, m.direction, m.kind};
        }
        *count = set.count;
        return ORVANE_SHIM_OK;
    });
}

}  // extern "C"
