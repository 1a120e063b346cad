#include "tools/windows_bitmaps.h"

#include <stdexcept>

#include "tools/byte_writer.h"

namespace vindelor {
namespace {

constexpr std::uint32_t kInfoHeaderSize = 40;
constexpr std::uint32_t kPixelsPerMetre = 3779;  // 96 dpi

std::uint32_t paddedRowBytes(int bits) {
    return static_cast<std::uint32_t>((bits + 31) / 32 * 4);
}

void writeInfoHeader(ByteWriter& out, int width, int height, int bitsPerPixel,
                     std::uint32_t imageSize, std::uint32_t pixelsPerMetre) {
    out.u32(kInfoHeaderSize);
    out.u32(static_cast<std::uint32_t>(width));
    out.u32(static_cast<std::uint32_t>(height));  // positive: rows run bottom-up
    out.u16(1);                                   // planes
    out.u16(static_cast<std::uint16_t>(bitsPerPixel));
    out.u32(0);  // no compression
    out.u32(imageSize);
    out.u32(pixelsPerMetre);
    out.u32(pixelsPerMetre);
    out.u32(0);  // colours used: all that the bit depth allows
    out.u32(0);  // all colours important
}

}  // namespace

std::vector<std::uint8_t> encodeBmp24(int width, int height, std::span<const Rgb> pixels) {
    if (width <= 0 || height <= 0 || pixels.size() != static_cast<std::size_t>(width) * height) {
        throw std::invalid_argument("the bitmap's size does not match its pixels");
    }
    const std::uint32_t rowBytes = paddedRowBytes(width * 24);
    const std::uint32_t imageSize = rowBytes * static_cast<std::uint32_t>(height);
    constexpr std::uint32_t kPixelOffset = 14 + kInfoHeaderSize;

    ByteWriter out;
    out.text("BM");
    out.u32(kPixelOffset + imageSize);
    out.u16(0);
    out.u16(0);
    out.u32(kPixelOffset);
    writeInfoHeader(out, width, height, 24, imageSize, kPixelsPerMetre);
    for (int y = height - 1; y >= 0; --y) {
        for (int x = 0; x < width; ++x) {
            const Rgb& pixel = pixels[static_cast<std::size_t>(y) * width + x];
            out.u8(pixel.b);
            out.u8(pixel.g);
            out.u8(pixel.r);
        }
        for (std::uint32_t pad = static_cast<std::uint32_t>(width) * 3; pad < rowBytes; ++pad) {
            out.u8(0);
        }
    }
    return out.bytes();
}

std::vector<std::uint8_t> encodeIcon16(std::span<const std::uint8_t> indices,
                                       const std::array<Rgb, 16>& palette) {
    constexpr int kSide = 32;
    if (indices.size() != kSide * kSide) {
        throw std::invalid_argument("an icon image is 32 by 32");
    }
    const std::uint32_t colourBytes = paddedRowBytes(kSide * 4) * kSide;
    const std::uint32_t maskBytes = paddedRowBytes(kSide) * kSide;
    const std::uint32_t imageBytes = kInfoHeaderSize + 16 * 4 + colourBytes + maskBytes;
    constexpr std::uint32_t kImageOffset = 6 + 16;

    ByteWriter out;
    out.u16(0);  // reserved
    out.u16(1);  // an icon
    out.u16(1);  // one image
    out.u8(kSide);
    out.u8(kSide);
    out.u8(16);  // colours
    out.u8(0);   // reserved
    out.u16(1);  // planes
    out.u16(4);  // bits per pixel
    out.u32(imageBytes);
    out.u32(kImageOffset);

    writeInfoHeader(out, kSide, kSide * 2, 4, colourBytes + maskBytes, 0);
    for (const Rgb& colour : palette) {
        out.u8(colour.b);
        out.u8(colour.g);
        out.u8(colour.r);
        out.u8(0);
    }
    for (int y = kSide - 1; y >= 0; --y) {
        for (int x = 0; x < kSide; x += 2) {
            const std::uint8_t left = indices[static_cast<std::size_t>(y * kSide + x)];
            const std::uint8_t right = indices[static_cast<std::size_t>(y * kSide + x + 1)];
            if (left > 15 || right > 15) {
                throw std::invalid_argument("an icon pixel lies outside its 16 colours");
            }
            out.u8(static_cast<std::uint8_t>(left << 4 | right));
        }
    }
    for (std::uint32_t i = 0; i < maskBytes; ++i) {
        out.u8(0);
    }
    return out.bytes();
}

}  // namespace vindelor
