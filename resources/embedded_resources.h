#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace vindelor {

// Every resource the program carries, compiled into the binary: nothing is read from disk.
// Clips are under the type "VINDELOR" (ids 101 to 103), pictures under "PICTURE".
inline constexpr std::string_view kPictureResourceType = "PICTURE";
inline constexpr int kBackgroundPictureId = 1;  // BMP, 77 × 127, 24-bit
inline constexpr int kMetronomePictureId = 2;   // GIF89a, 144 × 239, the picture of Image1
inline constexpr int kIconPictureId = 3;        // ICO, 32 × 32, 16 colours

struct EmbeddedResource {
    std::string_view type;
    int id;
    std::span<const std::uint8_t> bytes;
};

std::span<const EmbeddedResource> embeddedResources();

// The bytes of the resource of that type and id, or none.
std::optional<std::span<const std::uint8_t>> findEmbeddedResource(std::string_view type, int id);

}  // namespace vindelor
