#include "batch.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

#include "common.h"
#include "orvane.h"
#include "extraction_notes.h"
#include "core/minutia.h"
#include "interface/extraction.h"
#include "template_formats.h"

namespace orvane::cli {

std::unique_ptr<Workspace> newWorkspace() { return std::make_unique<Workspace>(); }

void parallelFor(size_t count, const std::string& label, const std::function<void(size_t, Workspace&)>& work) {
    if (count == 0) return;
    const size_t threads = std::min<size_t>(static_cast<size_t>(workerCount()), count);
    std::atomic<size_t> next{0};
    std::atomic<size_t> done{0};
    std::atomic<bool> stop{false};
    std::exception_ptr failure;
    std::mutex failureLock;
    std::mutex wakeLock;
    std::condition_variable wake;
    size_t finishedWorkers = 0;
    auto finished = [&]() {
        std::lock_guard<std::mutex> guard(wakeLock);
        ++finishedWorkers;
        wake.notify_one();
    };

    auto worker = [&]() {
        try {
            std::unique_ptr<Workspace> ws = newWorkspace();
            for (;;) {
                if (stop.load(std::memory_order_relaxed)) break;
                const size_t i = next.fetch_add(1);
                if (i >= count) break;
                work(i, *ws);
                done.fetch_add(1);
            }
        } catch (...) {
            std::lock_guard<std::mutex> guard(failureLock);
            if (!failure) failure = std::current_exception();
            stop = true;
        }
        finished();
    };

    Progress progress(label, count);
    std::vector<std::thread> pool;
    pool.reserve(threads);
    for (size_t t = 0; t < threads; ++t) pool.emplace_back(worker);
    {
        std::unique_lock<std::mutex> lock(wakeLock);
        while (finishedWorkers < threads) {
            progress.advance(done.load());
            wake.wait_for(lock, std::chrono::milliseconds(100));
        }
    }
    for (std::thread& t : pool) t.join();
    progress.finish();
    if (failure) std::rethrow_exception(failure);
}

ExtractionOutcome extractImage(Workspace& ws, const GreyImage& image, StageObserver* observer, bool withQuality) {
    ExtractionOutcome out;
    out.width = image.width;
    out.height = image.height;
    if (withQuality) {
        int32_t quality = -1;
        if (measureQuality(ws, image.pixels.data(), image.width, image.height, &quality) == 0) out.quality = quality;
    }
    uint8_t buffer[kMaxTemplateBytes] = {0};
    int32_t length = 0;
    const auto start = std::chrono::steady_clock::now();
    ExtractionNotes notes(observer);
    out.code = extractTemplate(ws, image.pixels.data(), image.width, image.height, buffer, &length, &notes);
    out.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (out.code == 0 && length >= 4 && length <= kMaxTemplateBytes) {
        out.featureTemplate.assign(buffer, buffer + length);
    } else if (out.code == 0) {
        out.code = ORVANE_E_NO_TEMPLATE;
    }
    out.printCoverage = notes.coverage();
    if (out.code == ORVANE_E_EXTRACTION) {
        out.message = resultCodeWithText(out.code) + ": " + extractionFailureText(notes);
    } else if (out.code != 0) {
        out.message = resultCodeWithText(out.code);
    } else {
        out.warning = minutiaDensityWarning(notes);
    }
    return out;
}

ExtractionOutcome extractFile(Workspace& ws, const std::string& path, CropMode crop, StageObserver* observer,
                              bool withQuality) {
    GreyImage image;
    try {
        image = loadGreyImage(path, crop);
    } catch (const CliError& e) {
        ExtractionOutcome out;
        out.code = -1;
        out.message = e.what();
        return out;
    }
    ExtractionOutcome out = extractImage(ws, image, observer, withQuality);
    out.cropped = image.cropped;
    out.window = image.window;
    if (!out.ok()) out.message = path + ": " + out.message;
    return out;
}

std::vector<ExtractionOutcome> extractFiles(const std::vector<std::string>& paths, CropMode crop, bool withQuality,
                                            const std::string& label) {
    std::vector<ExtractionOutcome> outcomes(paths.size());
    parallelFor(paths.size(), label, [&](size_t i, Workspace& ws) {
        outcomes[i] = extractFile(ws, paths[i], crop, nullptr, withQuality);
    });
    return outcomes;
}

std::vector<uint8_t> templateOfFile(Workspace& ws, const std::string& path, CropMode crop) {
    const FileKind kind = sniffFile(path);
    if (kind == FileKind::Bitmap || kind == FileKind::OtherImage) {
        ExtractionOutcome out = extractFile(ws, path, crop, nullptr, false);
        if (!out.ok()) throw CliError(out.message);
        return out.featureTemplate;
    }
    return readTemplateFile(path).featureTemplate;
}

}  // namespace orvane::cli
