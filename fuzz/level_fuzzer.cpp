// Level reading on arbitrary text: a level or out of range, the same for the text and its
// Latin-1 form when it is ASCII, and never a crash.
#include "scan/ini/levelreading.h"

#include <cstdint>
#include <cstdlib>

namespace {
template <typename Text> bool read(Text text, int32_t &level) {
    const std::optional<int32_t> read = orvantis::readLevel(text);
    level = read.value_or(0);
    return read.has_value();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    int32_t fromText = 0;
    const bool okText = read(QStringView(QString::fromUtf8(bytes)), fromText);
    bool ascii = true;
    for (char c : bytes)
        ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (ascii) {
        int32_t fromLatin1 = 0;
        const bool okLatin1 = read(QLatin1StringView(bytes), fromLatin1);
        if (okText != okLatin1 || (okText && fromText != fromLatin1))
            std::abort();
    }
    return 0;
}
