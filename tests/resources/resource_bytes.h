#pragma once

// Reading the fields of a resource file, and a scratch folder for a generator's output.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <span>
#include <string>
#include <vector>

namespace vindelor {

// Little-endian fields; a read past the end fails the test and gives 0.
inline std::uint32_t readLittleEndian(std::span<const std::uint8_t> bytes, std::size_t offset,
                                      std::size_t width) {
    if (offset + width > bytes.size()) {
        ADD_FAILURE() << "a field at " << offset << " lies past the end (" << bytes.size() << ")";
        return 0;
    }
    std::uint32_t value = 0;
    for (std::size_t i = width; i-- > 0;) {
        value = (value << 8) | bytes[offset + i];
    }
    return value;
}

inline std::uint32_t readU32(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return readLittleEndian(bytes, offset, 4);
}

inline std::uint32_t readU16(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return readLittleEndian(bytes, offset, 2);
}

inline std::uint32_t readU8(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return readLittleEndian(bytes, offset, 1);
}

inline std::string readText(std::span<const std::uint8_t> bytes, std::size_t offset,
                            std::size_t length) {
    if (offset + length > bytes.size()) {
        ADD_FAILURE() << "a text at " << offset << " lies past the end (" << bytes.size() << ")";
        return {};
    }
    return std::string(bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                       bytes.begin() + static_cast<std::ptrdiff_t>(offset + length));
}

inline std::vector<std::uint8_t> readFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    EXPECT_TRUE(file) << "cannot read " << path;
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(file), {});
}

// A fresh folder under the system's temporary folder, removed with everything in it.
class TemporaryFolder {
  public:
    TemporaryFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "vindelor-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            ADD_FAILURE() << "cannot make a temporary folder";
        }
        path_ = pattern;
    }
    ~TemporaryFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

}  // namespace vindelor
