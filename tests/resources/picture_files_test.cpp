// The three pictures as the program carries them, and the desktop's icons beside them: their
// headers byte for byte, and what a decoder makes of them.

#include <gtest/gtest.h>

#include <QImage>
#include <algorithm>
#include <array>
#include <cstdint>
#include <string>

#include "tests/resources/resource_bytes.h"

namespace vindelor {
namespace {

ByteView pictureBytes(int id) {
    return embedded(kPictureResourceType, id);
}

TEST(BackgroundPicture, IsA24BitBitmapOf77By127WithEveryHeaderFieldExact) {
    const auto bmp = pictureBytes(kBackgroundPictureId);
    ASSERT_EQ(bmp.size(), 29518u);
    // Reserved, data offset; header size, width, height positive as rows run bottom-up, planes,
    // bits, no compression, image size, resolution, no palette.
    EXPECT_TRUE(holdsAt(bmp, 0,
                        {"BM", u32(29518), u32(0), u32(54), u32(40), u32(77), u32(127), u16(1),
                         u16(24), u32(0), u32(29464), u32(3779), u32(3779), u32(0), u32(0)}));
    for (std::size_t row = 0; row < 127; ++row) {
        EXPECT_EQ(bmp[54 + row * 232 + 231], 0) << "padding of row " << row;
    }
    EXPECT_EQ(decoded(bmp, "BMP").size(), QSize(77, 127));
}

TEST(MetronomePicture, IsAStillGif89aWithAboutTwoFifthsTransparent) {
    const auto gif = pictureBytes(kMetronomePictureId);
    ASSERT_GT(gif.size(), 800u);
    EXPECT_TRUE(holdsAt(gif, 0, {"GIF89a", u16(144), u16(239), u8(0xF7), u8(0), u8(0)}));
    // Past the global colour table: the graphic control extension (transparency on, no
    // disposal, no delay, index 255 transparent), then the image descriptor (no local table,
    // not interlaced) and the LZW minimum code size.
    std::size_t at = 13 + 256 * 3;
    EXPECT_TRUE(holdsAt(gif, at,
                        {u8(0x21), u8(0xF9), u8(4), u8(0x01), u16(0), u8(255), u8(0), u8(0x2C),
                         u16(0), u16(0), u16(144), u16(239), u8(0), u8(8)}));
    // The sub-blocks of image data, then the block terminator, then the trailer and no more.
    for (at += 19; at < gif.size() && gif[at] != 0; at += 1 + gif[at]) {
    }
    ASSERT_LT(at + 1, gif.size()) << "the image data runs past the end";
    EXPECT_EQ(gif[at + 1], 0x3B);
    EXPECT_EQ(at + 2, gif.size()) << "one image, nothing after the trailer";

    const QImage image = decoded(gif, "GIF");
    ASSERT_EQ(image.size(), QSize(144, 239));
    int transparent = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            transparent += qAlpha(image.pixel(x, y)) == 0 ? 1 : 0;
        }
    }
    EXPECT_NEAR(transparent / (144.0 * 239), 0.4, 0.04);
}

TEST(IconPicture, IsOne32By32SixteenColourImageWithEveryFieldExact) {
    const auto ico = pictureBytes(kIconPictureId);
    ASSERT_EQ(ico.size(), 766u);
    // An icon of one image, 32 x 32 in 16 colours, 744 bytes at 22; the bitmap header's height
    // counts colour and mask rows together.
    EXPECT_TRUE(holdsAt(ico, 0,
                        {u16(0), u16(1), u16(1), u8(32), u8(32), u8(16), u8(0), u16(1), u16(4),
                         u32(744), u32(22), u32(40), u32(32), u32(64), u16(1), u16(4), u32(0)}));
    // The standard sixteen colours, blue green red and a zero each, but for tan at 14.
    const std::array<std::uint32_t, 16> palette{
        0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0xC0C0C0,
        0x808080, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0xEFD6AD, 0xFFFFFF};
    std::vector<Field> entries;
    for (const std::uint32_t rgb : palette) {
        entries.push_back(u32(rgb));
    }
    EXPECT_TRUE(holdsAt(ico, 62, entries));
    EXPECT_TRUE(std::all_of(ico.begin() + 62 + 64 + 512, ico.end(), [](auto b) { return b == 0; }))
        << "the mask leaves every pixel opaque";
    EXPECT_EQ(decoded(ico, "ICO").size(), QSize(32, 32));
}

TEST(PictureGenerator, ReproducesTheCommittedPicturesExactly) {
    withGeneratorOutput(VINDELOR_MAKE_PICTURES, [](const std::filesystem::path& folder) {
        EXPECT_TRUE(sameFile(folder / "background.bmp", pictureBytes(kBackgroundPictureId)));
        EXPECT_TRUE(sameFile(folder / "metronome.gif", pictureBytes(kMetronomePictureId)));
        EXPECT_TRUE(sameFile(folder / "vindelor.ico", pictureBytes(kIconPictureId)));
        // The desktop's icons are compared by their pixels: a PNG's compressed bytes depend on
        // the zlib at hand.
        for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
            const std::string name =
                size == 256 ? "vindelor.png" : "vindelor-" + std::to_string(size) + ".png";
            SCOPED_TRACE(name);
            const QImage written((folder / name).c_str());
            const QImage committed(QString::fromStdString(VINDELOR_RESOURCE_DIR "/" + name));
            ASSERT_EQ(committed.size(), QSize(size, size));
            EXPECT_EQ(qAlpha(committed.pixel(0, 0)), 0) << "rounded corner";
            EXPECT_EQ(written.convertToFormat(QImage::Format_ARGB32),
                      committed.convertToFormat(QImage::Format_ARGB32));
        }
    });
}

}  // namespace
}  // namespace vindelor
