#include "tools/median_cut.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <stdexcept>

namespace vindelor {
namespace {

struct Weighted {
    Rgb colour;
    std::size_t pixels;
};

int channel(const Rgb& colour, int which) {
    return which == 0 ? colour.r : which == 1 ? colour.g : colour.b;
}

struct Box {
    std::vector<Weighted> colours;
    std::size_t pixels = 0;
    int widestChannel = 0;
    int range = 0;

    void measure() {
        pixels = 0;
        std::array<int, 3> low{255, 255, 255};
        std::array<int, 3> high{0, 0, 0};
        for (const Weighted& w : colours) {
            pixels += w.pixels;
            for (int c = 0; c < 3; ++c) {
                low[c] = std::min(low[c], channel(w.colour, c));
                high[c] = std::max(high[c], channel(w.colour, c));
            }
        }
        range = -1;
        for (int c = 0; c < 3; ++c) {
            if (high[c] - low[c] > range) {
                range = high[c] - low[c];
                widestChannel = c;
            }
        }
    }
    // Wide boxes of many pixels are split first; the square root keeps small areas of a
    // distinct colour from being swallowed by large gradients.
    double priority() const {
        return colours.size() < 2 ? -1.0 : range * std::sqrt(static_cast<double>(pixels));
    }
    Rgb mean() const {
        std::array<double, 3> sum{};
        for (const Weighted& w : colours) {
            for (int c = 0; c < 3; ++c) {
                sum[c] += static_cast<double>(channel(w.colour, c)) * w.pixels;
            }
        }
        auto average = [&](int c) {
            return static_cast<std::uint8_t>(std::lround(sum[c] / static_cast<double>(pixels)));
        };
        return {average(0), average(1), average(2)};
    }
};

}  // namespace

std::vector<Rgb> medianCutPalette(std::span<const Rgb> pixels, std::size_t count) {
    if (count == 0) {
        throw std::invalid_argument("a palette needs at least one colour");
    }
    std::map<Rgb, std::size_t> histogram;
    for (const Rgb& pixel : pixels) {
        ++histogram[pixel];
    }
    if (histogram.empty()) {
        return {};
    }
    std::vector<Box> boxes(1);
    for (const auto& [colour, n] : histogram) {
        boxes[0].colours.push_back({colour, n});
    }
    boxes[0].measure();

    while (boxes.size() < count) {
        const auto widest = std::max_element(
            boxes.begin(), boxes.end(),
            [](const Box& a, const Box& b) { return a.priority() < b.priority(); });
        if (widest->priority() < 0.0) {
            break;  // every box holds a single colour
        }
        Box& box = *widest;
        const int c = box.widestChannel;
        std::stable_sort(box.colours.begin(), box.colours.end(),
                         [c](const Weighted& a, const Weighted& b) {
                             return channel(a.colour, c) < channel(b.colour, c);
                         });
        // Split where half of the box's pixels lie on either side, keeping both halves
        // non-empty.
        std::size_t seen = 0;
        std::size_t split = 1;
        for (std::size_t i = 0; i + 1 < box.colours.size(); ++i) {
            seen += box.colours[i].pixels;
            split = i + 1;
            if (seen * 2 >= box.pixels) {
                break;
            }
        }
        Box upper;
        upper.colours.assign(box.colours.begin() + static_cast<std::ptrdiff_t>(split),
                             box.colours.end());
        box.colours.resize(split);
        box.measure();
        upper.measure();
        boxes.push_back(std::move(upper));
    }

    std::vector<Rgb> palette;
    for (const Box& box : boxes) {
        palette.push_back(box.mean());
    }
    return palette;
}

std::uint8_t nearestPaletteIndex(std::span<const Rgb> palette, Rgb colour) {
    if (palette.empty() || palette.size() > 256) {
        throw std::invalid_argument("a palette holds 1 to 256 colours");
    }
    std::size_t best = 0;
    int bestDistance = -1;
    for (std::size_t i = 0; i < palette.size(); ++i) {
        const int dr = palette[i].r - colour.r;
        const int dg = palette[i].g - colour.g;
        const int db = palette[i].b - colour.b;
        const int distance = dr * dr + dg * dg + db * db;
        if (bestDistance < 0 || distance < bestDistance) {
            best = i;
            bestDistance = distance;
        }
    }
    return static_cast<std::uint8_t>(best);
}

}  // namespace vindelor
