#include "embedded_resources.h"

namespace vindelor {

std::optional<std::span<const std::uint8_t>> findEmbeddedResource(std::string_view type, int id) {
    for (const EmbeddedResource& resource : embeddedResources()) {
        if (resource.type == type && resource.id == id) {
            return resource.bytes;
        }
    }
    return std::nullopt;
}

}  // namespace vindelor
