// The number forms of the column sort: what is read as a number is written back in general form
// and read again as the same value, and sortable forms order as their values do.
#include "listsort/numberforms.h"
#include "platform/failure.h"

#include <QLocale>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {
bool readNumber(const QString &text, const orvantis::NumberFormat &format, double &value) {
    try {
        value = format.read(text);
        return true;
    } catch (const orvantis::Failure &f) {
        if (f.number() != orvantis::kTypeMismatch)
            std::abort();
        return false;
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const orvantis::NumberFormat c(QLocale::c());
    static const orvantis::NumberFormat german{QLocale(QLocale::German, QLocale::Germany)};
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    for (const orvantis::NumberFormat *format : {&c, &german}) {
        double value = 0;
        if (!readNumber(text, *format, value))
            continue;
        if (!std::isfinite(value))
            std::abort();
        double again = 0;
        if (!readNumber(format->general(value), *format, again) || again != value)
            std::abort();
    }
    // Two doubles from the raw bytes: their sortable forms compare as they do.
    if (size >= 16) {
        double a, b;
        std::memcpy(&a, data, 8);
        std::memcpy(&b, data + 8, 8);
        if (std::isfinite(a) && std::isfinite(b)) {
            const int width = std::max(orvantis::wholeDigitCount(a), orvantis::wholeDigitCount(b));
            const QString sa = orvantis::sortableNumber(a, width),
                          sb = orvantis::sortableNumber(b, width);
            if ((QString::compare(sa, sb) < 0) != (a < b) ||
                orvantis::readSortableNumber(sa) != (a == 0 ? 0 : a))
                std::abort();
        }
    }
    return 0;
}
