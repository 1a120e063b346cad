#include "utf8_locale.h"

#include <langinfo.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <string>

namespace vindelor {
namespace {

bool characterTypeIsUtf8() {
    const char* codeset = nl_langinfo(CODESET);
    return std::strcmp(codeset, "UTF-8") == 0 || std::strcmp(codeset, "utf8") == 0;
}

}  // namespace

void useUtf8CharacterType() {
    std::setlocale(LC_ALL, "");
    if (characterTypeIsUtf8()) {
        return;
    }
    // LC_ALL outranks LC_CTYPE: hand its value to every other category, so that only the
    // character type differs from what the user set.
    if (const char* all = std::getenv("LC_ALL"); all != nullptr && *all != '\0') {
        const std::string value = all;
        for (const char* category :
             {"LC_COLLATE", "LC_MONETARY", "LC_NUMERIC", "LC_TIME", "LC_MESSAGES", "LC_PAPER",
              "LC_NAME", "LC_ADDRESS", "LC_TELEPHONE", "LC_MEASUREMENT", "LC_IDENTIFICATION"}) {
            setenv(category, value.c_str(), 1);
        }
        unsetenv("LC_ALL");
    }
    // The UTF-8 form of the user's own locale where the system has it ("sv_SE" gives
    // "sv_SE.UTF-8"), else C.UTF-8, which glibc always has.
    std::string name = std::setlocale(LC_CTYPE, nullptr);
    name = name.substr(0, name.find_first_of(".@")) + ".UTF-8";
    if (name == "C.UTF-8" || name == "POSIX.UTF-8" ||
        std::setlocale(LC_CTYPE, name.c_str()) == nullptr) {
        name = "C.UTF-8";
    }
    setenv("LC_CTYPE", name.c_str(), 1);
    std::setlocale(LC_ALL, "");
}

}  // namespace vindelor
