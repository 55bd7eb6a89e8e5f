// The INI reader on arbitrary bytes: fed whole and in small pieces, it must give the same
// values, each at most 254 characters long.
#include "scan/ini/inireader.h"

#include <cstdint>
#include <cstdlib>

namespace {
orvantis::IniLookup &lookup() {
    static orvantis::IniLookup instance(
        {{"GENERAL", "Login"},
         {"CHAR1", "Level"},
         {"CHAR2", "Name"},
         {"CHARX", "Name"},
         {QString::fromUtf8("Straße"), QString::fromUtf8("Schlüssel")}});
    return instance;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    auto &ini = lookup();
    ini.readBytes(reinterpret_cast<const char *>(data), size);
    QStringList whole;
    for (size_t i = 0; i < 5; ++i) {
        whole << ini.value(i);
        if (whole.back().size() > 2 * orvantis::kMaxIniValueLength)
            std::abort();
        if (const auto ascii = ini.asciiValue(i);
            ascii && QString::fromLatin1(ascii->data(), qsizetype(ascii->size())) != whole.back())
            std::abort();
    }
    return 0;
}
