// The date forms of the column sort: what is read as a date is written in the sort form and the
// "General Date" form, and both read back as the same value.
#include "listsort/dateforms.h"

#include <QLocale>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const QLocale locales[] = {QLocale::c(),
                                      QLocale(QLocale::English, QLocale::UnitedStates),
                                      QLocale(QLocale::German, QLocale::Germany)};
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    for (const QLocale &locale : locales) {
        const auto value = orvantis::readDateTime(text, locale);
        if (!value)
            continue;
        const auto sorted =
            orvantis::readDateTime(orvantis::sortableDateTime(*value), QLocale::c());
        if (!sorted ||
            !(QTime(sorted->time.hour(), sorted->time.minute(), sorted->time.second()) ==
              QTime(value->time.hour(), value->time.minute(), value->time.second())) ||
            sorted->date != value->date)
            std::abort();
        const auto shown = orvantis::readDateTime(orvantis::generalDate(*value, locale), locale);
        if (!shown || shown->date != value->date)
            std::abort();
    }
    return 0;
}
