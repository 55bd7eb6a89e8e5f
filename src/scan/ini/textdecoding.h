#pragma once

#include <QByteArray>
#include <QString>

namespace orvantis {

// Checks UTF-8 validity of a byte stream fed in pieces.
class Utf8Validator {
public:
    void feed(const char *data, size_t size);
    bool isValid() const { return valid_ && pending_ == 0; }
    bool sawNonAscii() const { return nonAscii_; }

private:
    int pending_ = 0;
    unsigned char lo_ = 0x80, hi_ = 0xBF;
    bool valid_ = true;
    bool nonAscii_ = false;
};

// Decodes Windows-1252 text; its five unassigned bytes map to the C1 controls of the same value.
QString decodeWindows1252(const QByteArray &bytes);

// Encodes text as Windows-1252; false when a character has no byte there.
bool encodeWindows1252(const QString &text, QByteArray &bytes);

// Cuts a text to its first `count` characters, never splitting a surrogate pair.
QString firstCharacters(const QString &text, int count);

} // namespace orvantis
