// Writes a gallery file of synthetic prints, and template files of probes,
// for measuring the cluster search by hand (scripts/bench-mpi).
//
//   make_synthetic_gallery GALLERY COUNT PROBE_DIR
//
// PROBE_DIR receives mated-N.tpl (enrolled prints) and nonmated-N.tpl
// (fingers that are not enrolled), four of each.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "gallery/gallery.h"
#include "support/synthetic_gallery.h"

namespace {

void writeTemplate(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error(path + ": cannot write");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: make_synthetic_gallery GALLERY COUNT PROBE_DIR\n");
        return 2;
    }
    try {
        const size_t count = std::strtoul(argv[2], nullptr, 10);
        const auto entries = orvane::synthetic::syntheticGallery(count, 2026);
        orvane::gallery::Gallery g(argv[1]);
        constexpr size_t kBatch = 10000;
        for (size_t start = 0; start < entries.size(); start += kBatch) {
            std::vector<orvane::gallery::NewPrint> batch;
            for (size_t i = start; i < std::min(entries.size(), start + kBatch); ++i) {
                orvane::gallery::NewPrint p;
                p.info.subject = entries[i].subject;
                p.info.impression = entries[i].impression;
                p.featureTemplate = entries[i].featureTemplate;
                batch.push_back(std::move(p));
            }
            for (const auto& outcome : g.enrol(batch)) {
                if (!outcome.ok()) throw std::runtime_error(outcome.message);
            }
        }
        const std::string dir = argv[3];
        for (size_t k = 0; k < 4 && k < entries.size(); ++k) {
            writeTemplate(dir + "/mated-" + std::to_string(k) + ".tpl", entries[k * entries.size() / 4].featureTemplate);
        }
        const auto strangers = orvane::synthetic::syntheticGallery(4, 77, 1);
        for (size_t k = 0; k < strangers.size(); ++k) {
            writeTemplate(dir + "/nonmated-" + std::to_string(k) + ".tpl", strangers[k].featureTemplate);
        }
        std::printf("%zu entries in %s\n", g.count(), argv[1]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make_synthetic_gallery: %s\n", e.what());
        return 1;
    }
    return 0;
}
