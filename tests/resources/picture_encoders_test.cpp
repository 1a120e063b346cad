// The encoders the picture generator writes its files with, checked against Qt's decoders.

#include <gtest/gtest.h>

#include <QByteArray>
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

QImage decoded(const std::vector<std::uint8_t>& bytes, const char* format) {
    return QImage::fromData(QByteArray(reinterpret_cast<const char*>(bytes.data()),
                                       static_cast<qsizetype>(bytes.size())),
                            format);
}

std::array<Rgb, 256> spreadPalette() {
    std::array<Rgb, 256> palette{};
    for (int i = 0; i < 256; ++i) {
        palette[static_cast<std::size_t>(i)] = {static_cast<std::uint8_t>(i),
                                                static_cast<std::uint8_t>(255 - i),
                                                static_cast<std::uint8_t>(i * 7)};
    }
    return palette;
}

// A strict reading of a GIF code stream: the codes widen when the decoder's table first holds
// a code of the wider size, the stream opens with a clear code, ends with the end code at the
// width in force, and nothing but zero bits of padding follows.
std::optional<std::vector<std::uint8_t>> strictLzwDecode(const std::vector<std::uint8_t>& codes,
                                                         int minimumCodeSize) {
    const int clearCode = 1 << minimumCodeSize;
    const int endCode = clearCode + 1;
    std::size_t bit = 0;
    auto read = [&](int size) -> std::optional<int> {
        if (bit + static_cast<std::size_t>(size) > codes.size() * 8) {
            return std::nullopt;
        }
        int code = 0;
        for (int i = 0; i < size; ++i, ++bit) {
            code |= ((codes[bit / 8] >> (bit % 8)) & 1) << i;
        }
        return code;
    };
    std::vector<std::vector<std::uint8_t>> table;
    auto reset = [&] {
        table.assign(static_cast<std::size_t>(endCode + 1), {});
        for (int i = 0; i < clearCode; ++i) {
            table[static_cast<std::size_t>(i)] = {static_cast<std::uint8_t>(i)};
        }
    };
    reset();
    int size = minimumCodeSize + 1;
    int previous = -1;
    std::vector<std::uint8_t> out;
    const auto first = read(size);
    if (first != clearCode) {
        ADD_FAILURE() << "the stream does not open with a clear code";
        return std::nullopt;
    }
    for (;;) {
        const auto code = read(size);
        if (!code) {
            ADD_FAILURE() << "the stream ends without an end code";
            return std::nullopt;
        }
        if (*code == clearCode) {
            reset();
            size = minimumCodeSize + 1;
            previous = -1;
            continue;
        }
        if (*code == endCode) {
            break;
        }
        const auto next = static_cast<int>(table.size());
        std::vector<std::uint8_t> entry;
        if (previous < 0) {
            if (*code >= clearCode) {
                ADD_FAILURE() << "code " << *code << " follows a clear code";
                return std::nullopt;
            }
            entry = table[static_cast<std::size_t>(*code)];
        } else {
            if (*code > next) {
                ADD_FAILURE() << "code " << *code << " is not yet in the table (" << next << ")";
                return std::nullopt;
            }
            const auto& before = table[static_cast<std::size_t>(previous)];
            entry = *code < next ? table[static_cast<std::size_t>(*code)] : before;
            std::vector<std::uint8_t> added = before;
            added.push_back(*code < next ? entry.front() : before.front());
            if (*code == next) {
                entry = added;
            }
            if (next < 4096) {
                table.push_back(added);
            }
            if (static_cast<int>(table.size()) == (1 << size) && size < 12) {
                ++size;
            }
        }
        out.insert(out.end(), entry.begin(), entry.end());
        previous = *code;
    }
    if (codes.size() != (bit + 7) / 8) {
        ADD_FAILURE() << "bytes follow the end code";
        return std::nullopt;
    }
    if (bit % 8 != 0 && (codes.back() >> (bit % 8)) != 0) {
        ADD_FAILURE() << "the padding after the end code is not zero";
    }
    return out;
}

// Every pixel decodes to its palette colour, or to nothing for the transparent index.
void expectDecodesTo(const IndexedImage& image, const std::array<Rgb, 256>& palette,
                     std::uint8_t transparent) {
    EXPECT_EQ(strictLzwDecode(lzwCompress(image.indices, 8), 8), image.indices);
    const QImage decodedImage = decoded(encodeGif(image, palette, transparent), "GIF");
    ASSERT_EQ(decodedImage.width(), image.width);
    ASSERT_EQ(decodedImage.height(), image.height);
    int wrong = 0;
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            const std::uint8_t index = image.indices[static_cast<std::size_t>(y) * image.width + x];
            const QRgb pixel = decodedImage.pixel(x, y);
            const Rgb& colour = palette[index];
            const bool right = index == transparent
                                   ? qAlpha(pixel) == 0
                                   : qAlpha(pixel) == 255 && qRed(pixel) == colour.r &&
                                         qGreen(pixel) == colour.g && qBlue(pixel) == colour.b;
            wrong += right ? 0 : 1;
        }
    }
    EXPECT_EQ(wrong, 0);
}

TEST(GifEncoder, WritesTheCodesOfATinyImageLeastSignificantBitFirst) {
    // Code size 3: clear (4), 1, 2, end (5), packed from the low bits up.
    const std::vector<std::uint8_t> indices{1, 2};
    EXPECT_EQ(lzwCompress(indices, 2), (std::vector<std::uint8_t>{0x8C, 0x0A}));
}

TEST(GifEncoder, WidensItsCodesAndStartsNewTablesAsADecoderExpects) {
    // Noise fills the 4096-entry table several times over, through every code width.
    IndexedImage noise{211, 157, {}};
    std::uint32_t state = 12345;
    for (int i = 0; i < noise.width * noise.height; ++i) {
        state = state * 1664525u + 1013904223u;
        noise.indices.push_back(static_cast<std::uint8_t>(state >> 24));
    }
    expectDecodesTo(noise, spreadPalette(), 255);
}

TEST(GifEncoder, EncodesLongRunsAndRepeatingPatterns) {
    IndexedImage runs{144, 239, {}};
    for (int y = 0; y < runs.height; ++y) {
        for (int x = 0; x < runs.width; ++x) {
            runs.indices.push_back(static_cast<std::uint8_t>(y < 100 ? 255 : (x / 9 + y / 5) % 7));
        }
    }
    expectDecodesTo(runs, spreadPalette(), 255);
}

TEST(GifEncoder, EndsEveryTableSizeWithTheEndCodeAtTheRightWidth) {
    // Inputs whose last code falls just before, on and after each widening of the codes.
    for (int length = 1; length < 9000; length += length < 600 ? 1 : 37) {
        std::vector<std::uint8_t> indices;
        std::uint32_t state = static_cast<std::uint32_t>(length);
        for (int i = 0; i < length; ++i) {
            state = state * 1103515245u + 12345u;
            indices.push_back(static_cast<std::uint8_t>((state >> 16) % 16));
        }
        ASSERT_EQ(strictLzwDecode(lzwCompress(indices, 4), 4), indices) << length << " indices";
    }
}

TEST(GifEncoder, EncodesASinglePixel) {
    expectDecodesTo(IndexedImage{1, 1, {3}}, spreadPalette(), 255);
    expectDecodesTo(IndexedImage{1, 1, {255}}, spreadPalette(), 255);
}

TEST(GifEncoder, RefusesIndicesThatDoNotMatchTheSize) {
    EXPECT_THROW(encodeGif(IndexedImage{2, 2, {0, 1, 2}}, spreadPalette(), 255),
                 std::invalid_argument);
    const std::vector<std::uint8_t> tooLarge{4};
    EXPECT_THROW(lzwCompress(tooLarge, 2), std::invalid_argument);
}

TEST(MedianCut, KeepsEveryColourWhenThereAreFewEnough) {
    const std::vector<Rgb> pixels{{10, 20, 30}, {10, 20, 30}, {200, 0, 0}, {0, 0, 250}};
    std::vector<Rgb> palette = medianCutPalette(pixels, 8);
    std::sort(palette.begin(), palette.end());
    EXPECT_EQ(palette, (std::vector<Rgb>{{0, 0, 250}, {10, 20, 30}, {200, 0, 0}}));
}

TEST(MedianCut, GivesEachClusterItsOwnColour) {
    // Two clusters, a dark red and a light blue, each spread a little: two colours, one each.
    std::vector<Rgb> pixels;
    for (std::uint8_t d = 0; d < 10; ++d) {
        pixels.push_back({static_cast<std::uint8_t>(100 + d), 10, 10});
        pixels.push_back({200, 200, static_cast<std::uint8_t>(240 + d)});
    }
    const std::vector<Rgb> palette = medianCutPalette(pixels, 2);
    ASSERT_EQ(palette.size(), 2u);
    EXPECT_EQ(palette[nearestPaletteIndex(palette, {104, 10, 10})].r, 105);
    EXPECT_EQ(palette[nearestPaletteIndex(palette, {200, 200, 245})].b, 245);
    EXPECT_NE(nearestPaletteIndex(palette, {104, 10, 10}),
              nearestPaletteIndex(palette, {200, 200, 245}));
}

TEST(WindowsBitmaps, StoreBitmapRowsBottomUpInBlueGreenRedWithPadding) {
    const std::vector<Rgb> pixels{{1, 2, 3}, {4, 5, 6}};  // one column, two rows
    const std::vector<std::uint8_t> bmp = encodeBmp24(1, 2, pixels);
    ASSERT_EQ(bmp.size(), 54u + 2 * 4);
    EXPECT_EQ(readU32(bmp, 34), 8u);
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
    // The top row is the last of the 32 stored colour rows.
    EXPECT_EQ(ico[62 + 64 + 31 * 16], 0x12);
    const QImage image = decoded(ico, "ICO");
    ASSERT_EQ(image.size(), QSize(32, 32));
    EXPECT_EQ(image.pixelColor(0, 0), QColor(255, 0, 0));
    EXPECT_EQ(image.pixelColor(1, 0), QColor(0, 0, 255));
    EXPECT_EQ(image.pixelColor(1, 1), QColor(0, 0, 0));
}

}  // namespace
}  // namespace vindelor
