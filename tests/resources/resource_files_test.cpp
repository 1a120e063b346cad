// The clips and pictures the program carries: the facts of their formats, and their generators
// (tools/) reproducing the committed files exactly.

#include <gtest/gtest.h>
#include <unistd.h>

#include <QImage>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "resources/embedded_resources.h"

namespace vindelor {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes embedded(std::string_view type, int id) {
    const auto bytes = findEmbeddedResource(type, id);
    return bytes ? Bytes(bytes->begin(), bytes->end()) : Bytes{};
}

std::uint32_t le(const Bytes& bytes, std::size_t at, int width) {
    std::uint32_t value = 0;
    for (int i = width - 1; i >= 0; --i) {
        value = value << 8 | bytes.at(at + static_cast<std::size_t>(i));
    }
    return value;
}

std::string text(const Bytes& bytes, std::size_t at, std::size_t length) {
    return {bytes.begin() + static_cast<std::ptrdiff_t>(at),
            bytes.begin() + static_cast<std::ptrdiff_t>(at + length)};
}

TEST(ResourceFilesTest, EachClipIsAWholeRiffWaveOf16BitMono8kHzSamplesAtFullScale) {
    struct Clip {
        int id;
        std::uint32_t size, samples;
        std::int16_t first;
    };
    for (const Clip& c : {Clip{101, 676, 275, 8042}, {102, 968, 421, 3018},
                          {103, 1756, 815, 3018}}) {
        SCOPED_TRACE(c.id);
        const Bytes clip = embedded("VINDELOR", c.id);
        ASSERT_EQ(clip.size(), c.size);
        const std::uint32_t data = c.samples * 2;
        EXPECT_EQ(text(clip, 0, 4) + text(clip, 8, 8) + text(clip, 36, 4) +
                      text(clip, 44 + data, 4) + text(clip, 52 + data, 8),
                  "RIFFWAVEfmt dataLISTINFOISFT");
        // Sizes of RIFF, "fmt ", data, LIST and ISFT; PCM, one channel, 8000 Hz, 16000 bytes a
        // second, 2-byte frames, 16 bits; the software text ends with a NUL.
        EXPECT_EQ((std::vector<std::uint32_t>{le(clip, 4, 4), le(clip, 16, 4), le(clip, 40, 4),
                                              le(clip, 48 + data, 4), le(clip, 60 + data, 4),
                                              le(clip, 20, 2), le(clip, 22, 2), le(clip, 24, 4),
                                              le(clip, 28, 4), le(clip, 32, 2), le(clip, 34, 2),
                                              clip.back()}),
                  (std::vector<std::uint32_t>{c.size - 8, 16, data, 74, 62, 1, 1, 8000, 16000, 2,
                                              16, 0}));
        int atTheLimits = 0;
        double power = 0;
        for (std::uint32_t i = 0; i < c.samples; ++i) {
            const auto sample = static_cast<std::int16_t>(le(clip, 44 + 2 * i, 2));
            atTheLimits += sample == 32767 || sample == -32768 ? 1 : 0;
            power += static_cast<double>(sample) * sample;
        }
        EXPECT_EQ(static_cast<std::int16_t>(le(clip, 44, 2)), c.first);
        // Hard-clipped bursts: over half the samples at full scale, the level near it.
        EXPECT_NEAR(atTheLimits / static_cast<double>(c.samples), 0.55, 0.05);
        EXPECT_NEAR(10 * std::log10(power / c.samples / 32768.0 / 32768.0), -1.45, 0.15);
    }
}

TEST(ResourceFilesTest, ThePicturesAreABitmapAStillGifAndAnIconOfTheirSizes) {
    const Bytes bmp = embedded("PICTURE", kBackgroundPictureId);
    const Bytes gif = embedded("PICTURE", kMetronomePictureId);
    const Bytes ico = embedded("PICTURE", kIconPictureId);
    // The bitmap: 29518 bytes, data at 54, 77 x 127 bottom-up, 24 bits, uncompressed, 96 dpi.
    EXPECT_EQ(text(bmp, 0, 2) + text(gif, 0, 6), "BMGIF89a");
    EXPECT_EQ((std::vector<std::size_t>{bmp.size(), le(bmp, 10, 4), le(bmp, 18, 4), le(bmp, 22, 4),
                                        le(bmp, 28, 2), le(bmp, 30, 4), le(bmp, 38, 4)}),
              (std::vector<std::size_t>{29518, 54, 77, 127, 24, 0, 3779}));
    // The GIF: a global table of 256 colours, index 255 transparent, one image, the trailer.
    EXPECT_EQ((std::vector<std::size_t>{gif[10], gif[13 + 768 + 6], gif.back()}),
              (std::vector<std::size_t>{0xF7, 255, 0x3B}));
    EXPECT_EQ(QImage::fromData(gif.data(), static_cast<int>(gif.size())).size(), QSize(144, 239));
    // The icon: 766 bytes, one image of 32 x 32 in 16 colours at 22, palette entry 14 tan.
    EXPECT_EQ((std::vector<std::size_t>{ico.size(), le(ico, 4, 2), ico[6], ico[7], ico[8],
                                        le(ico, 18, 4), le(ico, 62 + 14 * 4, 4)}),
              (std::vector<std::size_t>{766, 1, 32, 32, 16, 22, 0xEFD6AD}));
}

// Runs a generator into a fresh folder and compares what it wrote with the committed files.
void expectGeneratorReproduces(const char* tool, const std::vector<std::string>& files) {
    std::string folder = (std::filesystem::temp_directory_path() / "vindelor-XXXXXX").string();
    ASSERT_NE(mkdtemp(folder.data()), nullptr);
    ASSERT_EQ(std::system((std::string("\"") + tool + "\" \"" + folder + "\"").c_str()), 0);
    for (const std::string& name : files) {
        const auto read = [](const std::string& path) {
            std::ifstream file(path, std::ios::binary);
            return Bytes(std::istreambuf_iterator<char>(file), {});
        };
        const std::string committed = VINDELOR_RESOURCE_DIR "/" + name;
        if (name.ends_with(".png")) {  // its compressed bytes depend on the zlib at hand
            EXPECT_EQ(QImage((folder + "/" + name).c_str()), QImage(committed.c_str())) << name;
        } else {
            EXPECT_EQ(read(folder + "/" + name), read(committed)) << name;
        }
    }
    std::filesystem::remove_all(folder);
}

TEST(ResourceFilesTest, TheGeneratorsReproduceTheCommittedFilesExactly) {
    expectGeneratorReproduces(VINDELOR_MAKE_CLIPS, {"normal_click.wav", "accent_click.wav",
                                                    "triple_accent_click.wav"});
    std::vector<std::string> pictures = {"background.bmp", "metronome.gif", "vindelor.ico",
                                         "vindelor.png"};
    for (const int size : {16, 22, 24, 32, 48, 64, 128}) {
        pictures.push_back("vindelor-" + std::to_string(size) + ".png");
    }
    expectGeneratorReproduces(VINDELOR_MAKE_PICTURES, pictures);
}

}  // namespace
}  // namespace vindelor
