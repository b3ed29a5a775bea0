#include "platform/app/Utf8Locale.h"

#include <clocale>
#include <cstdlib>
#include <cstring>

#include <langinfo.h>

namespace platform {

void preferUtf8Locale() {
    std::setlocale(LC_ALL, "");
    const char* codeset = nl_langinfo(CODESET);
    if (codeset && std::strcmp(codeset, "UTF-8") == 0)
        return;
    // LC_ALL overrides LC_CTYPE, so it is the one to change when the user set it.
    setenv(std::getenv("LC_ALL") && *std::getenv("LC_ALL") ? "LC_ALL" : "LC_CTYPE", "C.UTF-8", 1);
    std::setlocale(LC_ALL, "");
}

}  // namespace platform
