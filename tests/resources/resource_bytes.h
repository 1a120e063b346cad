#pragma once

// Reading and expecting the fields of a resource file, and running its generator.

#include <gtest/gtest.h>
#include <unistd.h>

#include <QByteArray>
#include <QImage>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "resources/embedded_resources.h"

namespace vindelor {

using ByteView = std::span<const std::uint8_t>;

inline ByteView embedded(std::string_view type, int id) {
    const auto bytes = findEmbeddedResource(type, id);
    EXPECT_TRUE(bytes) << type << " " << id << " is not among the embedded resources";
    return bytes ? *bytes : ByteView{};
}

// One field of a header: a text, or a little-endian number of one, two or four bytes.
struct Field {
    Field(const char* text) : bytes(text, text + std::strlen(text)) {}
    Field(std::uint32_t value, int width) {
        for (int i = 0; i < width; ++i) {
            bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
        }
    }
    std::vector<std::uint8_t> bytes;
};
inline Field u8(std::uint32_t value) {
    return {value, 1};
}
inline Field u16(std::uint32_t value) {
    return {value, 2};
}
inline Field u32(std::uint32_t value) {
    return {value, 4};
}

// Every byte of `fields`, one after the other from `at` in `file`; names the first that differs.
inline testing::AssertionResult holdsAt(ByteView file, std::size_t at,
                                        const std::vector<Field>& fields) {
    for (const Field& field : fields) {
        for (const std::uint8_t expected : field.bytes) {
            if (at >= file.size() || file[at] != expected) {
                return testing::AssertionFailure() << "byte " << at << " is not " << int{expected};
            }
            ++at;
        }
    }
    return testing::AssertionSuccess();
}

inline QImage decoded(ByteView bytes, const char* format) {
    return QImage::fromData(QByteArray(reinterpret_cast<const char*>(bytes.data()),
                                       static_cast<qsizetype>(bytes.size())),
                            format);
}

// Runs a generator into a fresh folder, hands the folder to `check`, then removes it.
template <typename Check>
void withGeneratorOutput(const char* tool, Check check) {
    std::string folder = (std::filesystem::temp_directory_path() / "vindelor-XXXXXX").string();
    ASSERT_NE(mkdtemp(folder.data()), nullptr);
    const std::string command = std::string("\"") + tool + "\" \"" + folder + "\"";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    check(std::filesystem::path(folder));
    std::filesystem::remove_all(folder);
}

inline testing::AssertionResult sameFile(const std::filesystem::path& written, ByteView committed) {
    std::ifstream file(written, std::ios::binary);
    const std::vector<std::uint8_t> bytes(std::istreambuf_iterator<char>(file), {});
    if (file && std::equal(bytes.begin(), bytes.end(), committed.begin(), committed.end())) {
        return testing::AssertionSuccess();
    }
    return testing::AssertionFailure() << written << " differs from the committed file";
}

}  // namespace vindelor
