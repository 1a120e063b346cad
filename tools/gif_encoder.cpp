#include "tools/gif_encoder.h"

#include <stdexcept>

#include "tools/byte_writer.h"

namespace vindelor {
namespace {

constexpr int kMaximumCodeSize = 12;
constexpr int kLastCode = (1 << kMaximumCodeSize) - 1;

class BitPacker {
  public:
    void put(int code, int size) {
        pending_ |= static_cast<std::uint32_t>(code) << pendingBits_;
        pendingBits_ += size;
        while (pendingBits_ >= 8) {
            bytes_.push_back(static_cast<std::uint8_t>(pending_ & 0xFF));
            pending_ >>= 8;
            pendingBits_ -= 8;
        }
    }
    std::vector<std::uint8_t> finish() {
        if (pendingBits_ > 0) {
            bytes_.push_back(static_cast<std::uint8_t>(pending_ & 0xFF));
        }
        pending_ = 0;
        pendingBits_ = 0;
        return std::move(bytes_);
    }

  private:
    std::vector<std::uint8_t> bytes_;
    std::uint32_t pending_ = 0;
    int pendingBits_ = 0;
};

}  // namespace

std::vector<std::uint8_t> lzwCompress(std::span<const std::uint8_t> indices, int minimumCodeSize) {
    if (minimumCodeSize < 2 || minimumCodeSize > 8) {
        throw std::invalid_argument("GIF code sizes run from 2 to 8 bits");
    }
    const int alphabet = 1 << minimumCodeSize;
    const int clearCode = alphabet;
    const int endCode = alphabet + 1;

    // next[code * alphabet + index]: the code of that string followed by index, or 0 for none
    // (no string's code is 0 once the single indices are set aside).
    std::vector<std::uint16_t> next(static_cast<std::size_t>(kLastCode + 1) * alphabet, 0);
    int codeSize = minimumCodeSize + 1;
    int lastEntry = endCode;  // the latest code in the table

    BitPacker out;
    out.put(clearCode, codeSize);
    if (indices.empty()) {
        out.put(endCode, codeSize);
        return out.finish();
    }
    for (const std::uint8_t index : indices) {
        if (index >= alphabet) {
            throw std::invalid_argument("a palette index does not fit the code size");
        }
    }

    int current = indices[0];
    for (std::size_t i = 1; i < indices.size(); ++i) {
        const int index = indices[i];
        std::uint16_t& entry = next[static_cast<std::size_t>(current) * alphabet + index];
        if (entry != 0) {
            current = entry;
            continue;
        }
        out.put(current, codeSize);
        entry = static_cast<std::uint16_t>(++lastEntry);
        // The decoder makes this entry one code later; it widens its codes as soon as the
        // table holds a code that needs the wider size.
        if (lastEntry >= (1 << codeSize) && codeSize < kMaximumCodeSize) {
            ++codeSize;
        }
        if (lastEntry == kLastCode) {
            out.put(clearCode, codeSize);
            std::fill(next.begin(), next.end(), std::uint16_t{0});
            codeSize = minimumCodeSize + 1;
            lastEntry = endCode;
        }
        current = index;
    }
    out.put(current, codeSize);
    // Reading that last code, the decoder adds one more entry and may widen once more.
    if (lastEntry + 1 >= (1 << codeSize) && codeSize < kMaximumCodeSize) {
        ++codeSize;
    }
    out.put(endCode, codeSize);
    return out.finish();
}

std::vector<std::uint8_t> encodeGif(const IndexedImage& image, const std::array<Rgb, 256>& palette,
                                    std::uint8_t transparentIndex) {
    if (image.width <= 0 || image.height <= 0 || image.width > 0xFFFF || image.height > 0xFFFF ||
        image.indices.size() != static_cast<std::size_t>(image.width) * image.height) {
        throw std::invalid_argument("the image's size does not match its indices");
    }
    const auto width = static_cast<std::uint16_t>(image.width);
    const auto height = static_cast<std::uint16_t>(image.height);

    ByteWriter out;
    out.text("GIF89a");
    out.u16(width);
    out.u16(height);
    out.u8(0xF7);  // global table present, 8-bit colour resolution, not sorted, 2^(7+1) entries
    out.u8(0);     // background colour index
    out.u8(0);     // no aspect ratio given
    for (const Rgb& colour : palette) {
        out.u8(colour.r);
        out.u8(colour.g);
        out.u8(colour.b);
    }

    out.u8(0x21);  // extension
    out.u8(0xF9);  // graphic control
    out.u8(4);
    out.u8(0x01);  // no disposal method, no user input, transparent index given
    out.u16(0);    // delay
    out.u8(transparentIndex);
    out.u8(0);

    out.u8(0x2C);  // image descriptor
    out.u16(0);
    out.u16(0);
    out.u16(width);
    out.u16(height);
    out.u8(0);  // no local table, not interlaced

    constexpr int kCodeSize = 8;
    out.u8(kCodeSize);
    const std::vector<std::uint8_t> codes = lzwCompress(image.indices, kCodeSize);
    for (std::size_t start = 0; start < codes.size(); start += 255) {
        const std::size_t length = std::min<std::size_t>(255, codes.size() - start);
        out.u8(static_cast<std::uint8_t>(length));
        out.append({codes.begin() + static_cast<std::ptrdiff_t>(start),
                    codes.begin() + static_cast<std::ptrdiff_t>(start + length)});
    }
    out.u8(0);  // end of the image data

    out.u8(0x3B);
    return out.bytes();
}

}  // namespace vindelor
