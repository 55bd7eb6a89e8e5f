#include "serve/rowsquery.h"

#include <QList>
#include <QStringDecoder>

namespace orvantis {

namespace {

// A whole number from 1, as plain ASCII digits: nothing when it is not one.
std::optional<int64_t> wholeFromOne(const QByteArray &value) {
    if (value.isEmpty() || value.size() > 12)
        return std::nullopt;
    int64_t n = 0;
    for (char c : value) {
        if (c < '0' || c > '9')
            return std::nullopt;
        n = n * 10 + (c - '0');
    }
    return n >= 1 ? std::optional<int64_t>(n) : std::nullopt;
}

} // namespace

CheckedRows checkRowsQuery(const QueryParameters &parameters, RowsPlace place) {
    CheckedRows checked;
    RowsQuery &query = checked.query;
    QList<QByteArray> seen;
    for (const auto &[name, value] : parameters) {
        const bool known = name == "q" || name == "page" ||
                           (place == RowsPlace::Files && (name == "from" || name == "count")) ||
                           (place == RowsPlace::Page && name == "since");
        if (!known)
            continue;
        if (seen.contains(name)) {
            checked.error =
                QStringLiteral("%1 is given more than once").arg(QString::fromLatin1(name));
            return checked;
        }
        seen << name;
        if (name == "since") {
            if (value != "day" && value != "week") {
                checked.error = QStringLiteral("since takes day or week");
                return checked;
            }
            query.sinceWeek = value == "week";
            continue;
        }
        if (name == "q") {
            QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
            query.text = utf8(value);
            if (utf8.hasError()) {
                checked.error = QStringLiteral("q is not UTF-8 text");
                return checked;
            }
            if (value.contains('\0')) { // no name holds one: never searched as a shorter text
                checked.error = QStringLiteral("q holds a NUL character");
                return checked;
            }
            if (query.text.size() > RowsQuery::kMaxText) {
                checked.error =
                    QStringLiteral("q takes at most %1 characters").arg(RowsQuery::kMaxText);
                return checked;
            }
            continue;
        }
        const std::optional<int64_t> number = wholeFromOne(value);
        if (name == "count" && (!number || *number > RowsQuery::kMaxCount)) {
            checked.error =
                QStringLiteral("count takes a whole number from 1 to %1").arg(RowsQuery::kMaxCount);
            return checked;
        }
        if (!number || *number > 1000000000000) {
            checked.error =
                QStringLiteral("%1 takes a whole number from 1").arg(QString::fromLatin1(name));
            return checked;
        }
        (name == "page" ? query.page : name == "from" ? query.from : query.count) = number;
    }
    if (query.page && query.from)
        checked.error = QStringLiteral("page and from cannot both be given");
    return checked;
}

} // namespace orvantis
