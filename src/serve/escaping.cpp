#include "serve/escaping.h"

#include <QString>

#include <cstdio>

namespace orvantis {

namespace {

// The text as UTF-8, with the characters `escape` takes written its way.
template <typename Escape> QByteArray escaped(QStringView text, Escape &&escape) {
    QByteArray out;
    out.reserve(text.size() + 16);
    qsizetype run = 0; // start of the characters taken as they are
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char *replacement = nullptr;
        char buffer[8];
        if (!escape(text[i].unicode(), replacement, buffer))
            continue;
        out += text.mid(run, i - run).toUtf8();
        out += replacement ? replacement : buffer;
        run = i + 1;
    }
    out += text.mid(run).toUtf8();
    return out;
}

bool htmlSpecial(char16_t c, const char *&replacement) {
    switch (c) {
    case u'&':
        replacement = "&amp;";
        return true;
    case u'<':
        replacement = "&lt;";
        return true;
    case u'>':
        replacement = "&gt;";
        return true;
    default:
        return false;
    }
}

} // namespace

QByteArray htmlText(QStringView text) {
    return escaped(text, [](char16_t c, const char *&replacement, char *) {
        return htmlSpecial(c, replacement);
    });
}

QByteArray htmlAttribute(QStringView text) {
    return escaped(text, [](char16_t c, const char *&replacement, char *) {
        if (c == u'"') {
            replacement = "&quot;";
            return true;
        }
        if (c == u'\'') {
            replacement = "&#39;";
            return true;
        }
        return htmlSpecial(c, replacement);
    });
}

QByteArray jsonString(QStringView text) {
    return '"' +
           escaped(text,
                   [](char16_t c, const char *&replacement, char *buffer) {
                       if (c == u'"') {
                           replacement = "\\\"";
                           return true;
                       }
                       if (c == u'\\') {
                           replacement = "\\\\";
                           return true;
                       }
                       if (c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F) || c == 0x2028 ||
                           c == 0x2029 || c == u'<' || c == u'>' || c == u'&') {
                           std::snprintf(buffer, 8, "\\u%04x", static_cast<unsigned>(c));
                           return true;
                       }
                       return false;
                   }) +
           '"';
}

} // namespace orvantis
