#pragma once

#include "scan/ini/bytesource.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace orvantis {

// The longest value the reader returns, in characters.
constexpr int kMaxIniValueLength = 254;

// A section and key name to look up.
struct IniName {
    QString section;
    QString key;
};

// Reads the values of several names from one INI file in a single pass, with the conventions
// of classic desktop INI files:
// - UTF-8 when the file starts with a byte-order mark, or is valid UTF-8 holding a non-ASCII
//   byte; Windows-1252 otherwise.
// - CR, LF and CRLF end a line; blanks (space, tab, vertical tab) at either end of a line are
//   ignored, and so are empty lines and lines starting with ";".
// - "[name]" opens a section (to the line's end when there is no "]"); "key = value" lines
//   belong to the last section opened; a line without "=" is ignored. A value enclosed in a
//   pair of the same quote character (" or ') loses them. A value ends at a NUL byte.
// - Names match without regard to ASCII letter case. Only the first section of a name is
//   looked in, and in it the first key of a name wins.
// - Values are cut to their first kMaxIniValueLength characters.
// It reads the bytes it is handed, a file's or a test's, and opens no file itself. Memory stays
// bounded whatever the file's size or line length.
class IniLookup {
public:
    explicit IniLookup(const std::vector<IniName> &names);
    ~IniLookup();
    IniLookup(const IniLookup &) = delete;
    IniLookup &operator=(const IniLookup &) = delete;

    // Reads a file's bytes for the values of every name; what is not Read leaves every value
    // empty. Names that are not plain ASCII take two passes: one to tell the encoding.
    FileRead read(ByteSource &bytes);
    // The same from bytes in memory.
    void readBytes(const char *data, size_t size);
    // Every value empty, as for a file that could not be read.
    void clear();
    // The value of the name at `index` in the last file read; the empty text when it was not
    // there.
    QString value(size_t index) const;
    // The same value without decoding when it is plain ASCII (as levels are); nothing otherwise.
    std::optional<std::string_view> asciiValue(size_t index) const;

private:
    struct EncodedNames;
    struct Parser;
    std::vector<IniName> names_;
    bool asciiNames_;
    std::unique_ptr<EncodedNames> utf8Names_, windows1252Names_;
    std::unique_ptr<Parser> parser_;
};

} // namespace orvantis
