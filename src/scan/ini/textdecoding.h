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

// The encodings an INI file is read in.
enum class TextEncoding { Utf8, Windows1252 };

// Tells a file's encoding from its bytes, fed in pieces: UTF-8 when it starts with a byte-order
// mark, or is valid UTF-8 holding a non-ASCII byte; Windows-1252 otherwise.
class EncodingSniffer {
public:
    // Takes the next piece; returns how many of its first bytes are the byte-order mark, which
    // is no part of the text.
    size_t feed(const char *data, size_t size);
    TextEncoding encoding() const {
        return byteOrderMark_ || (utf8_.isValid() && utf8_.sawNonAscii())
                   ? TextEncoding::Utf8
                   : TextEncoding::Windows1252;
    }

private:
    Utf8Validator utf8_;
    bool started_ = false;
    bool byteOrderMark_ = false;
};

// Decodes Windows-1252 text; its five unassigned bytes map to the C1 controls of the same value.
QString decodeWindows1252(const QByteArray &bytes);

// Encodes text as Windows-1252; false when a character has no byte there.
bool encodeWindows1252(const QString &text, QByteArray &bytes);

// Cuts a text to its first `count` characters, never splitting a surrogate pair.
QString firstCharacters(const QString &text, int count);

} // namespace orvantis
