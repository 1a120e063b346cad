// The three pictures as the program carries them, and the application icon beside them: their
// headers byte for byte, and what they show, measured from their pixels.

#include <gtest/gtest.h>

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "resources/embedded_resources.h"
#include "tests/resources/resource_bytes.h"

namespace vindelor {
namespace {

std::span<const std::uint8_t> pictureBytes(int id) {
    const auto bytes = findEmbeddedResource(kPictureResourceType, id);
    if (!bytes) {
        ADD_FAILURE() << "picture " << id << " is not among the embedded resources";
        return {};
    }
    return *bytes;
}

QImage decoded(std::span<const std::uint8_t> bytes, const char* format) {
    return QImage::fromData(QByteArray(reinterpret_cast<const char*>(bytes.data()),
                                       static_cast<qsizetype>(bytes.size())),
                            format);
}

double luminance(const QColor& c) {
    return 0.299 * c.red() + 0.587 * c.green() + 0.114 * c.blue();
}

// ---------------------------------------------------------------------------------------------
// The background

constexpr int kBackgroundWidth = 77;
constexpr int kBackgroundHeight = 127;
constexpr int kTileWidth = 76;
constexpr int kTileHeight = 117;

TEST(BackgroundPicture, IsA24BitBitmapOf77By127WithEveryHeaderFieldExact) {
    const auto bmp = pictureBytes(kBackgroundPictureId);
    ASSERT_EQ(bmp.size(), 29518u);
    EXPECT_EQ(readText(bmp, 0, 2), "BM");
    EXPECT_EQ(readU32(bmp, 2), 29518u);
    EXPECT_EQ(readU32(bmp, 6), 0u);  // reserved
    EXPECT_EQ(readU32(bmp, 10), 54u);
    EXPECT_EQ(readU32(bmp, 14), 40u);
    EXPECT_EQ(readU32(bmp, 18), 77u);
    EXPECT_EQ(readU32(bmp, 22), 127u) << "positive: rows run bottom-up";
    EXPECT_EQ(readU16(bmp, 26), 1u);
    EXPECT_EQ(readU16(bmp, 28), 24u);
    EXPECT_EQ(readU32(bmp, 30), 0u);
    EXPECT_EQ(readU32(bmp, 34), 29464u);
    EXPECT_EQ(readU32(bmp, 38), 3779u);
    EXPECT_EQ(readU32(bmp, 42), 3779u);
    EXPECT_EQ(readU32(bmp, 46), 0u) << "no palette";
    EXPECT_EQ(readU32(bmp, 50), 0u);
    for (int row = 0; row < kBackgroundHeight; ++row) {
        EXPECT_EQ(readU8(bmp, 54 + row * 232 + 231), 0u) << "padding of row " << row;
    }
}

// The background's pixels from its bytes, rows from the top.
std::vector<QColor> backgroundPixels() {
    const auto bmp = pictureBytes(kBackgroundPictureId);
    std::vector<QColor> pixels;
    if (bmp.size() != 29518u) {
        ADD_FAILURE() << "the background has " << bmp.size() << " bytes";
        return pixels;
    }
    for (int y = 0; y < kBackgroundHeight; ++y) {
        const std::size_t row = 54 + static_cast<std::size_t>(kBackgroundHeight - 1 - y) * 232;
        for (int x = 0; x < kBackgroundWidth; ++x) {
            const std::size_t at = row + static_cast<std::size_t>(x) * 3;
            pixels.emplace_back(bmp[at + 2], bmp[at + 1], bmp[at]);
        }
    }
    return pixels;
}

const QColor& pixelAt(const std::vector<QColor>& pixels, int x, int y) {
    return pixels[static_cast<std::size_t>(y) * kBackgroundWidth + x];
}

double difference(const QColor& a, const QColor& b) {
    return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) +
           std::abs(a.blue() - b.blue());
}

TEST(BackgroundPicture, IsFaintTanParchmentThatNavyTextStandsOn) {
    const auto pixels = backgroundPixels();
    ASSERT_FALSE(pixels.empty());
    const QColor navy(0, 0, 128);
    double sumRed = 0, sumGreen = 0, sumBlue = 0;
    for (int y = 0; y < kTileHeight; ++y) {
        for (int x = 0; x < kTileWidth; ++x) {
            const QColor& c = pixelAt(pixels, x, y);
            EXPECT_GT(luminance(c) - luminance(navy), 120) << "too dark at " << x << "," << y;
            sumRed += c.red();
            sumGreen += c.green();
            sumBlue += c.blue();
        }
    }
    // Warm and light: red above green above blue, as on old paper.
    EXPECT_GT(sumRed, sumGreen);
    EXPECT_GT(sumGreen, sumBlue * 1.05);
    EXPECT_GT(sumBlue / (kTileWidth * kTileHeight), 160);
}

TEST(BackgroundPicture, TilesWithoutSeamsAcrossTheWindow) {
    // Across the tile's edges (its last column to its first, its last row to its first) the
    // pixels change no more than between neighbours inside the tile.
    const auto pixels = backgroundPixels();
    ASSERT_FALSE(pixels.empty());
    double inside = 0, acrossColumns = 0, acrossRows = 0;
    int insideCount = 0;
    for (int y = 0; y < kTileHeight; ++y) {
        for (int x = 0; x + 1 < kTileWidth; ++x) {
            inside += difference(pixelAt(pixels, x, y), pixelAt(pixels, x + 1, y));
            ++insideCount;
        }
        acrossColumns += difference(pixelAt(pixels, kTileWidth - 1, y), pixelAt(pixels, 0, y));
    }
    for (int x = 0; x < kTileWidth; ++x) {
        acrossRows += difference(pixelAt(pixels, x, kTileHeight - 1), pixelAt(pixels, x, 0));
    }
    double insideRows = 0;
    int insideRowsCount = 0;
    for (int y = 0; y + 1 < kTileHeight; ++y) {
        for (int x = 0; x < kTileWidth; ++x) {
            insideRows += difference(pixelAt(pixels, x, y), pixelAt(pixels, x, y + 1));
            ++insideRowsCount;
        }
    }
    EXPECT_LT(acrossColumns / kTileHeight, 1.5 * inside / insideCount + 2.0);
    EXPECT_LT(acrossRows / kTileWidth, 1.5 * insideRows / insideRowsCount + 2.0);
}

TEST(BackgroundPicture, CarriesStavesRunningAcrossTheWholeTile) {
    // A staff line is a row darker than the paper above and below it along nearly its whole
    // width: two staves of five lines make ten such rows.
    const auto pixels = backgroundPixels();
    ASSERT_FALSE(pixels.empty());
    int lines = 0;
    for (int y = 1; y + 1 < kTileHeight; ++y) {
        int darker = 0;
        for (int x = 0; x < kTileWidth; ++x) {
            const double here = luminance(pixelAt(pixels, x, y));
            if (here + 8 < luminance(pixelAt(pixels, x, y - 1)) &&
                here + 8 < luminance(pixelAt(pixels, x, y + 1))) {
                ++darker;
            }
        }
        lines += darker >= kTileWidth * 8 / 10 ? 1 : 0;
    }
    EXPECT_EQ(lines, 10);
}

TEST(BackgroundPicture, ContinuesTheTileInItsLastColumnAndRows) {
    const auto pixels = backgroundPixels();
    ASSERT_FALSE(pixels.empty());
    for (int y = 0; y < kBackgroundHeight; ++y) {
        for (int x = 0; x < kBackgroundWidth; ++x) {
            ASSERT_EQ(pixelAt(pixels, x, y), pixelAt(pixels, x % kTileWidth, y % kTileHeight))
                << x << "," << y;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// The metronome

TEST(MetronomePicture, IsAStillGif89aWithTheExpectedBlocks) {
    const auto gif = pictureBytes(kMetronomePictureId);
    ASSERT_GT(gif.size(), 800u);
    EXPECT_EQ(readText(gif, 0, 6), "GIF89a");
    EXPECT_EQ(readU16(gif, 6), 144u);
    EXPECT_EQ(readU16(gif, 8), 239u);
    EXPECT_EQ(readU8(gif, 10), 0xF7u);
    EXPECT_EQ(readU8(gif, 11), 0u) << "background index";
    EXPECT_EQ(readU8(gif, 12), 0u) << "aspect ratio";

    std::size_t at = 13 + 256 * 3;  // past the global colour table
    EXPECT_EQ(readU8(gif, at), 0x21u);
    EXPECT_EQ(readU8(gif, at + 1), 0xF9u);
    EXPECT_EQ(readU8(gif, at + 2), 4u);
    EXPECT_EQ(readU8(gif, at + 3), 0x01u) << "transparency on, no disposal method";
    EXPECT_EQ(readU16(gif, at + 4), 0u) << "delay";
    EXPECT_EQ(readU8(gif, at + 6), 255u) << "transparent index";
    EXPECT_EQ(readU8(gif, at + 7), 0u);
    at += 8;

    EXPECT_EQ(readU8(gif, at), 0x2Cu);
    EXPECT_EQ(readU16(gif, at + 1), 0u);
    EXPECT_EQ(readU16(gif, at + 3), 0u);
    EXPECT_EQ(readU16(gif, at + 5), 144u);
    EXPECT_EQ(readU16(gif, at + 7), 239u);
    EXPECT_EQ(readU8(gif, at + 9), 0u) << "no local table, not interlaced";
    at += 10;
    EXPECT_EQ(readU8(gif, at), 8u) << "LZW minimum code size";
    ++at;

    // The sub-blocks of image data, then the block terminator, then the trailer and no more.
    while (at < gif.size() && gif[at] != 0) {
        at += 1 + gif[at];
    }
    ASSERT_LT(at + 1, gif.size()) << "the image data runs past the end";
    EXPECT_EQ(gif[at + 1], 0x3B);
    EXPECT_EQ(at + 2, gif.size()) << "one image, nothing after the trailer";
}

TEST(MetronomePicture, DecodesToAFigureWithAboutTwoFifthsTransparent) {
    const QImage image = decoded(pictureBytes(kMetronomePictureId), "GIF");
    ASSERT_FALSE(image.isNull());
    ASSERT_EQ(image.size(), QSize(144, 239));
    int transparent = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            transparent += qAlpha(image.pixel(x, y)) == 0 ? 1 : 0;
        }
    }
    EXPECT_NEAR(transparent / static_cast<double>(144 * 239), 0.4, 0.04);
    // The tapering case: clear beside its top, solid across its foot and in its middle.
    EXPECT_EQ(qAlpha(image.pixel(2, 60)), 0);
    EXPECT_EQ(qAlpha(image.pixel(141, 60)), 0);
    EXPECT_EQ(qAlpha(image.pixel(72, 120)), 255);
    EXPECT_EQ(qAlpha(image.pixel(20, 200)), 255);
    EXPECT_EQ(qAlpha(image.pixel(123, 200)), 255);
}

TEST(MetronomePicture, HasNoDarkFringeAgainstTheBackground) {
    // Edge pixels were blended into the parchment, so the outline is lighter than the wood
    // inside it, never a dark rim.
    const QImage image = decoded(pictureBytes(kMetronomePictureId), "GIF");
    ASSERT_EQ(image.size(), QSize(144, 239));
    auto clear = [&](int x, int y) {
        return x < 0 || y < 0 || x >= image.width() || y >= image.height() ||
               qAlpha(image.pixel(x, y)) == 0;
    };
    double edge = 0, inside = 0;
    int edgeCount = 0, insideCount = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (clear(x, y)) {
                continue;
            }
            const double l = luminance(QColor(image.pixel(x, y)));
            if (clear(x - 1, y) || clear(x + 1, y) || clear(x, y - 1) || clear(x, y + 1)) {
                edge += l;
                ++edgeCount;
            } else {
                inside += l;
                ++insideCount;
            }
        }
    }
    ASSERT_GT(edgeCount, 0);
    ASSERT_GT(insideCount, 0);
    EXPECT_GE(edge / edgeCount, inside / insideCount);
}

TEST(MetronomePicture, IsWarmWoodWithManyShades) {
    const QImage image = decoded(pictureBytes(kMetronomePictureId), "GIF");
    ASSERT_EQ(image.size(), QSize(144, 239));
    std::vector<QRgb> colours;
    double red = 0, blue = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            if (qAlpha(pixel) != 0) {
                colours.push_back(pixel);
                red += qRed(pixel);
                blue += qBlue(pixel);
            }
        }
    }
    std::sort(colours.begin(), colours.end());
    colours.erase(std::unique(colours.begin(), colours.end()), colours.end());
    EXPECT_GT(colours.size(), 200u) << "a smooth, shaded drawing uses most of its 255 colours";
    EXPECT_LE(colours.size(), 255u);
    EXPECT_GT(red, 1.8 * blue) << "brown wood, not grey";
}

// ---------------------------------------------------------------------------------------------
// The icon

constexpr std::array<std::array<std::uint8_t, 3>, 16> kStandardPalette{{{0, 0, 0},
                                                                        {128, 0, 0},
                                                                        {0, 128, 0},
                                                                        {128, 128, 0},
                                                                        {0, 0, 128},
                                                                        {128, 0, 128},
                                                                        {0, 128, 128},
                                                                        {192, 192, 192},
                                                                        {128, 128, 128},
                                                                        {255, 0, 0},
                                                                        {0, 255, 0},
                                                                        {255, 255, 0},
                                                                        {0, 0, 255},
                                                                        {255, 0, 255},
                                                                        {239, 214, 173},
                                                                        {255, 255, 255}}};

TEST(IconPicture, IsOne32By32SixteenColourImageWithEveryFieldExact) {
    const auto ico = pictureBytes(kIconPictureId);
    ASSERT_EQ(ico.size(), 766u);
    EXPECT_EQ(readU16(ico, 0), 0u);
    EXPECT_EQ(readU16(ico, 2), 1u) << "an icon";
    EXPECT_EQ(readU16(ico, 4), 1u) << "one image";
    EXPECT_EQ(readU8(ico, 6), 32u);
    EXPECT_EQ(readU8(ico, 7), 32u);
    EXPECT_EQ(readU8(ico, 8), 16u);
    EXPECT_EQ(readU8(ico, 9), 0u);
    EXPECT_EQ(readU16(ico, 10), 1u);
    EXPECT_EQ(readU16(ico, 12), 4u);
    EXPECT_EQ(readU32(ico, 14), 744u);
    EXPECT_EQ(readU32(ico, 18), 22u);

    EXPECT_EQ(readU32(ico, 22), 40u);
    EXPECT_EQ(readU32(ico, 26), 32u);
    EXPECT_EQ(readU32(ico, 30), 64u) << "colour and mask rows together";
    EXPECT_EQ(readU16(ico, 34), 1u);
    EXPECT_EQ(readU16(ico, 36), 4u);
    EXPECT_EQ(readU32(ico, 38), 0u);

    for (std::size_t i = 0; i < 16; ++i) {
        const std::size_t at = 62 + i * 4;
        EXPECT_EQ(readU8(ico, at + 2), kStandardPalette[i][0]) << "red of entry " << i;
        EXPECT_EQ(readU8(ico, at + 1), kStandardPalette[i][1]) << "green of entry " << i;
        EXPECT_EQ(readU8(ico, at), kStandardPalette[i][2]) << "blue of entry " << i;
        EXPECT_EQ(readU8(ico, at + 3), 0u);
    }
    for (std::size_t at = 62 + 64 + 512; at < 766; ++at) {
        ASSERT_EQ(ico[at], 0) << "the mask leaves every pixel opaque";
    }
}

TEST(IconPicture, ShowsBlackNotesOnStaffLinesOverTan) {
    const auto ico = pictureBytes(kIconPictureId);
    ASSERT_EQ(ico.size(), 766u);
    std::array<int, 16> uses{};
    std::array<int, 32> greyInRow{};
    for (int row = 0; row < 32; ++row) {
        const int y = 31 - row;  // stored bottom-up
        for (int x = 0; x < 32; ++x) {
            const std::uint8_t pair = ico[62 + 64 + static_cast<std::size_t>(row) * 16 + x / 2];
            const int index = x % 2 == 0 ? pair >> 4 : pair & 0x0F;
            ++uses[static_cast<std::size_t>(index)];
            greyInRow[static_cast<std::size_t>(y)] += index == 8 ? 1 : 0;
        }
    }
    EXPECT_GT(uses[14], 1024 / 2) << "mostly tan";
    EXPECT_GT(uses[0], 60) << "black notes";
    EXPECT_LT(uses[0], 1024 / 4);
    const int staffLines = static_cast<int>(std::count_if(
        greyInRow.begin() + 1, greyInRow.end() - 1, [](int grey) { return grey >= 16; }));
    EXPECT_EQ(staffLines, 5);

    const QImage image = decoded(ico, "ICO");
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), QSize(32, 32));
}

// ---------------------------------------------------------------------------------------------
// The generator

TEST(PictureGenerator, ReproducesTheCommittedPicturesExactly) {
    const TemporaryFolder folder;
    const std::string command =
        std::string("\"") + VINDELOR_MAKE_PICTURES + "\" \"" + folder.path().string() + "\"";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    const struct {
        const char* file;
        int id;
    } pictures[] = {{"background.bmp", kBackgroundPictureId},
                    {"metronome.gif", kMetronomePictureId},
                    {"vindelor.ico", kIconPictureId}};
    for (const auto& picture : pictures) {
        const std::vector<std::uint8_t> written = readFile(folder.path() / picture.file);
        const auto committed = pictureBytes(picture.id);
        EXPECT_TRUE(std::equal(written.begin(), written.end(), committed.begin(), committed.end()))
            << picture.file << " differs from what make_pictures draws; run update_pictures";
    }
    // The PNG is compared by its pixels: its compressed bytes depend on the zlib at hand.
    const QImage written((folder.path() / "vindelor.png").c_str());
    const QImage committed(VINDELOR_RESOURCE_DIR "/vindelor.png");
    ASSERT_EQ(committed.size(), QSize(256, 256));
    EXPECT_EQ(written.convertToFormat(QImage::Format_ARGB32),
              committed.convertToFormat(QImage::Format_ARGB32));
}

TEST(ApplicationIcon, IsTheIconDesignAt256PixelsWithTransparentCorners) {
    const QImage icon(VINDELOR_RESOURCE_DIR "/vindelor.png");
    ASSERT_EQ(icon.size(), QSize(256, 256));
    EXPECT_EQ(qAlpha(icon.pixel(0, 0)), 0) << "rounded corner";
    const QColor middle = icon.pixelColor(128, 128);
    EXPECT_EQ(middle.alpha(), 255);
    // Its ground is the icon's tan, and its notes are black where the small icon's are.
    EXPECT_EQ(icon.pixelColor(40, 48), QColor(239, 214, 173));
    EXPECT_EQ(icon.pixelColor(80, 196), QColor(0, 0, 0));
}

}  // namespace
}  // namespace vindelor
