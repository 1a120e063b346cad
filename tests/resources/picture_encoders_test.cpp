// The encoders the picture generator writes its files with, checked against Qt's decoders.

#include <gtest/gtest.h>

#include <QImage>
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "tests/resources/resource_bytes.h"
#include "tools/gif_encoder.h"
#include "tools/median_cut.h"
#include "tools/windows_bitmaps.h"

namespace vindelor {

namespace {

std::array<Rgb, 256> spreadPalette() {
    std::array<Rgb, 256> palette{};
    for (int i = 0; i < 256; ++i) {
        palette[static_cast<std::size_t>(i)] = {static_cast<std::uint8_t>(i),
                                                static_cast<std::uint8_t>(255 - i),
                                                static_cast<std::uint8_t>(i * 7)};
    }
    return palette;
}

// A strict reading of a GIF code stream: it opens with a clear code, the codes widen as soon as
// the decoder's table holds a code of the wider size, it ends with the end code at the width in
// force, and nothing but zero bits of padding follows.
std::optional<std::vector<std::uint8_t>> strictLzwDecode(const std::vector<std::uint8_t>& codes,
                                                         int minimumCodeSize) {
    const int clear = 1 << minimumCodeSize;
    std::size_t bit = 0;
    auto read = [&](int size) {
        int code = 0;
        for (int i = 0; i < size; ++i, ++bit) {
            if (bit >= codes.size() * 8) {
                return -1;
            }
            code |= ((codes[bit / 8] >> (bit % 8)) & 1) << i;
        }
        return code;
    };
    auto fail = [](const char* why) {
        ADD_FAILURE() << why;
        return std::nullopt;
    };
    if (read(minimumCodeSize + 1) != clear) {
        return fail("the stream does not open with a clear code");
    }
    std::vector<std::vector<std::uint8_t>> table;
    std::vector<std::uint8_t> out;
    int size = 0;
    int previous = -1;
    for (int code = clear; code != clear + 1; code = read(size)) {
        if (code < 0) {
            return fail("the stream ends without an end code");
        }
        if (code == clear) {
            table.assign(static_cast<std::size_t>(clear) + 2, {});
            for (int i = 0; i < clear; ++i) {
                table[static_cast<std::size_t>(i)] = {static_cast<std::uint8_t>(i)};
            }
            size = minimumCodeSize + 1;
            previous = -1;
            continue;
        }
        const auto next = static_cast<int>(table.size());
        if (code > next || (previous < 0 && code >= clear)) {
            return fail("a code that is not yet in the table");
        }
        if (previous >= 0) {
            auto added = table[static_cast<std::size_t>(previous)];
            added.push_back(code < next ? table[static_cast<std::size_t>(code)].front()
                                        : added.front());
            if (next < 4096) {
                table.push_back(added);
            }
            size += static_cast<int>(table.size()) == (1 << size) && size < 12 ? 1 : 0;
        }
        const auto& entry = table[static_cast<std::size_t>(code)];
        out.insert(out.end(), entry.begin(), entry.end());
        previous = code;
    }
    if (codes.size() != (bit + 7) / 8) {
        return fail("bytes follow the end code");
    }
    EXPECT_EQ(bit % 8 == 0 ? 0 : codes.back() >> (bit % 8), 0) << "padding after the end code";
    return out;
}

TEST(GifEncoder, WritesTheCodesOfATinyImageLeastSignificantBitFirst) {
    // Code size 3: clear (4), 1, 2, end (5), packed from the low bits up.
    const std::vector<std::uint8_t> indices{1, 2};
    EXPECT_EQ(lzwCompress(indices, 2), (std::vector<std::uint8_t>{0x8C, 0x0A}));
}

// Pseudo-random indices below `limit`.
std::vector<std::uint8_t> randomIndices(int count, std::uint32_t seed, int limit) {
    std::vector<std::uint8_t> indices;
    for (int i = 0; i < count; ++i) {
        seed = seed * 1664525u + 1013904223u;
        indices.push_back(static_cast<std::uint8_t>((seed >> 16) % limit));
    }
    return indices;
}

class GifImage : public testing::TestWithParam<IndexedImage> {};

// Every pixel decodes to its palette colour, or to nothing for the transparent index 255.
TEST_P(GifImage, DecodesAsAStrictReaderAndQtExpect) {
    const IndexedImage& image = GetParam();
    EXPECT_EQ(strictLzwDecode(lzwCompress(image.indices, 8), 8), image.indices);
    const auto palette = spreadPalette();
    const QImage seen = decoded(encodeGif(image, palette, 255), "GIF");
    ASSERT_EQ(seen.size(), QSize(image.width, image.height));
    int wrong = 0;
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            const auto index = image.indices[static_cast<std::size_t>(y) * image.width + x];
            const Rgb& c = palette[index];
            const QRgb pixel = seen.pixel(x, y);
            wrong += (index == 255 ? qAlpha(pixel) == 0 : pixel == qRgb(c.r, c.g, c.b)) ? 0 : 1;
        }
    }
    EXPECT_EQ(wrong, 0);
}

INSTANTIATE_TEST_SUITE_P(Images, GifImage,
                         testing::Values(
                             // Noise fills the 4096-entry table several times over, through
                             // every code width.
                             IndexedImage{211, 157, randomIndices(211 * 157, 12345, 256)},
                             IndexedImage{1, 1, {3}}, IndexedImage{1, 1, {255}}));

TEST(GifEncoder, EndsEveryTableSizeWithTheEndCodeAtTheRightWidth) {
    // Inputs whose last code falls just before, on and after each widening of the codes.
    for (int length = 1; length < 9000; length += length < 600 ? 1 : 37) {
        const auto indices = randomIndices(length, static_cast<std::uint32_t>(length), 16);
        ASSERT_EQ(strictLzwDecode(lzwCompress(indices, 4), 4), indices) << length << " indices";
    }
}

TEST(GifEncoder, RefusesIndicesThatDoNotMatchTheSize) {
    EXPECT_THROW(encodeGif(IndexedImage{2, 2, {0, 1, 2}}, spreadPalette(), 255),
                 std::invalid_argument);
    const std::vector<std::uint8_t> tooLarge{4};
    EXPECT_THROW(lzwCompress(tooLarge, 2), std::invalid_argument);
}

TEST(MedianCut, KeepsFewColoursAndGivesEachClusterItsOwn) {
    std::vector<Rgb> pixels{{10, 20, 30}, {10, 20, 30}, {200, 0, 0}, {0, 0, 250}};
    std::vector<Rgb> palette = medianCutPalette(pixels, 8);
    std::sort(palette.begin(), palette.end());
    EXPECT_EQ(palette, (std::vector<Rgb>{{0, 0, 250}, {10, 20, 30}, {200, 0, 0}}));
    // Two clusters, a dark red and a light blue, each spread a little: two colours, one each.
    pixels.clear();
    for (std::uint8_t d = 0; d < 10; ++d) {
        pixels.push_back({static_cast<std::uint8_t>(100 + d), 10, 10});
        pixels.push_back({200, 200, static_cast<std::uint8_t>(240 + d)});
    }
    palette = medianCutPalette(pixels, 2);
    ASSERT_EQ(palette.size(), 2u);
    const auto red = nearestPaletteIndex(palette, {104, 10, 10});
    const auto blue = nearestPaletteIndex(palette, {200, 200, 245});
    EXPECT_NE(red, blue);
    EXPECT_EQ(palette[red].r, 105);
    EXPECT_EQ(palette[blue].b, 245);
}

TEST(WindowsBitmaps, StoreBitmapRowsBottomUpInBlueGreenRedWithPadding) {
    const std::vector<Rgb> pixels{{1, 2, 3}, {4, 5, 6}};  // one column, two rows
    const std::vector<std::uint8_t> bmp = encodeBmp24(1, 2, pixels);
    ASSERT_EQ(bmp.size(), 54u + 2 * 4);
    EXPECT_EQ(std::vector<std::uint8_t>(bmp.begin() + 54, bmp.end()),
              (std::vector<std::uint8_t>{6, 5, 4, 0, 3, 2, 1, 0}));
    const QImage image = decoded(bmp, "BMP");
    ASSERT_EQ(image.size(), QSize(1, 2));
    EXPECT_EQ(image.pixelColor(0, 0), QColor(1, 2, 3));
    EXPECT_EQ(image.pixelColor(0, 1), QColor(4, 5, 6));
}

TEST(WindowsBitmaps, PackIconPixelsTwoToAByteLeftInTheHighHalf) {
    std::array<Rgb, 16> palette{};
    palette[1] = {255, 0, 0};
    palette[2] = {0, 0, 255};
    std::vector<std::uint8_t> indices(32 * 32, 0);
    indices[0] = 1;  // top-left
    indices[1] = 2;
    const std::vector<std::uint8_t> ico = encodeIcon16(indices, palette);
    ASSERT_EQ(ico.size(), 766u);
    const QImage image = decoded(ico, "ICO");
    ASSERT_EQ(image.size(), QSize(32, 32));
    EXPECT_EQ(image.pixelColor(0, 0), QColor(255, 0, 0));
    EXPECT_EQ(image.pixelColor(1, 0), QColor(0, 0, 255));
}

}  // namespace
}  // namespace vindelor
