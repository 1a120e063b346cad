# Writes OUTPUT, a C++ file holding the bytes of every file in RESOURCES, a list of
# "type|id|file" entries, as the table behind embeddedResources().
set(arrays "")
set(rows "")
set(index 0)
foreach(entry IN LISTS RESOURCES)
    string(REPLACE "|" ";" parts "${entry}")
    list(GET parts 0 type)
    list(GET parts 1 id)
    list(GET parts 2 file)
    file(READ "${file}" hex HEX)
    string(LENGTH "${hex}" hexLength)
    math(EXPR size "${hexLength} / 2")
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
    string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" bytes "${bytes}")
    string(APPEND arrays "alignas(4) const std::uint8_t resource${index}[${size}] = {\n${bytes}};\n")
    string(APPEND rows "    {\"${type}\", ${id}, resource${index}},\n")
    math(EXPR index "${index} + 1")
endforeach()
file(WRITE "${OUTPUT}.new" "// Generated from the files in resources/; do not edit.
#include <array>

#include \"resources/embedded_resources.h\"

namespace vindelor {
namespace {
${arrays}
const std::array<EmbeddedResource, ${index}> table{{
${rows}}};
}  // namespace

std::span<const EmbeddedResource> embeddedResources() { return table; }

}  // namespace vindelor
")
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
