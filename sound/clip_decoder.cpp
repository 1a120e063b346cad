#include "clip_decoder.h"

#include <sndfile.h>
#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace vindelor {
namespace {

// libsndfile's virtual I/O over a read-only image in memory.
struct MemoryImage {
    std::span<const std::uint8_t> bytes;
    sf_count_t position = 0;
};

sf_count_t imageLength(void* user) {
    return static_cast<sf_count_t>(static_cast<MemoryImage*>(user)->bytes.size());
}

sf_count_t imageSeek(sf_count_t offset, int whence, void* user) {
    auto* image = static_cast<MemoryImage*>(user);
    const auto size = static_cast<sf_count_t>(image->bytes.size());
    sf_count_t target = offset;
    if (whence == SEEK_CUR) {
        target += image->position;
    } else if (whence == SEEK_END) {
        target += size;
    }
    if (target < 0 || target > size) {
        return -1;
    }
    image->position = target;
    return target;
}

sf_count_t imageRead(void* destination, sf_count_t count, void* user) {
    auto* image = static_cast<MemoryImage*>(user);
    const auto size = static_cast<sf_count_t>(image->bytes.size());
    const sf_count_t available = std::max<sf_count_t>(0, size - image->position);
    const sf_count_t n = std::clamp<sf_count_t>(count, 0, available);
    std::copy_n(image->bytes.data() + image->position, n, static_cast<std::uint8_t*>(destination));
    image->position += n;
    return n;
}

sf_count_t imageWrite(const void*, sf_count_t, void*) {
    return 0;
}

sf_count_t imageTell(void* user) {
    return static_cast<MemoryImage*>(user)->position;
}

// libsndfile takes a RIFF chunk's size as declared: a LIST chunk that claims more than the
// image holds keeps it reading for ever. Only the data chunk may be cut short (what it has
// plays).
bool chunksFit(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0) {
        return true;  // not RIFF: libsndfile's own
    }
    for (std::size_t at = 12; at + 8 <= bytes.size();) {
        const std::uint32_t size = bytes[at + 4] | bytes[at + 5] << 8 | bytes[at + 6] << 16 |
                                   static_cast<std::uint32_t>(bytes[at + 7]) << 24;
        if (size > bytes.size() - at - 8) {
            return std::memcmp(bytes.data() + at, "data", 4) == 0;
        }
        at += 8 + std::size_t{size} + (size & 1);  // chunks are padded to an even length
    }
    return true;
}

std::vector<float> readMono(std::span<const std::uint8_t> bytes, int& sourceRate) {
    if (!chunksFit(bytes)) {
        return {};
    }
    MemoryImage image{bytes};
    SF_VIRTUAL_IO io{imageLength, imageSeek, imageRead, imageWrite, imageTell};
    SF_INFO info{};
    SNDFILE* file = sf_open_virtual(&io, SFM_READ, &info, &image);
    if (file == nullptr) {
        return {};
    }
    std::vector<float> mono;
    const bool plausible = info.channels > 0 && info.channels <= 8 && info.samplerate >= 1000 &&
                           info.samplerate <= 384000 && info.frames > 0 &&
                           static_cast<double>(info.frames) <= kMaxClipSeconds * info.samplerate;
    if (plausible) {
        std::vector<float> frames(static_cast<std::size_t>(info.frames * info.channels));
        const sf_count_t read = sf_readf_float(file, frames.data(), info.frames);
        mono.resize(static_cast<std::size_t>(std::max<sf_count_t>(read, 0)));
        for (std::size_t i = 0; i < mono.size(); ++i) {
            float sum = 0.0f;
            for (int c = 0; c < info.channels; ++c) {
                sum += frames[i * static_cast<std::size_t>(info.channels) +
                              static_cast<std::size_t>(c)];
            }
            mono[i] = sum / static_cast<float>(info.channels);
        }
        sourceRate = info.samplerate;
    }
    sf_close(file);
    return mono;
}

}  // namespace

ClipSamples decodeClip(std::span<const std::uint8_t> image, std::uint32_t rate) {
    int sourceRate = 0;
    const std::vector<float> mono = readMono(image, sourceRate);
    if (mono.empty() || rate == 0) {
        return {};
    }

    std::vector<float> converted;
    if (static_cast<std::uint32_t>(sourceRate) == rate) {
        converted = mono;
    } else {
        const double ratio = static_cast<double>(rate) / sourceRate;
        converted.resize(
            static_cast<std::size_t>(std::llround(static_cast<double>(mono.size()) * ratio)));
        if (converted.empty()) {
            // Shorter than one sample at the stream's rate: nothing to sound, and soxr must not
            // be handed an output of no length (it crashes on one).
            return {};
        }
        const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
        const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
        // One thread: a click is converted in microseconds, and a pool of threads would only
        // stay behind in the process.
        const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
        std::size_t produced = 0;
        const soxr_error_t error =
            soxr_oneshot(sourceRate, rate, 1, mono.data(), mono.size(), nullptr, converted.data(),
                         converted.size(), &produced, &io, &quality, &runtime);
        if (error != nullptr) {
            return {};
        }
        converted.resize(produced);
    }

    ClipSamples samples(converted.size());
    std::transform(converted.begin(), converted.end(), samples.begin(), [](float x) {
        if (!std::isfinite(x)) {
            return std::int16_t{0};  // a float image may carry anything
        }
        const float scaled = std::nearbyint(x * 32768.0f);
        return static_cast<std::int16_t>(std::clamp(scaled, -32768.0f, 32767.0f));
    });
    return samples;
}

}  // namespace vindelor
