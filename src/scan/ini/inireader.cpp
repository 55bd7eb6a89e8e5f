#include "scan/ini/inireader.h"

#include "platform/asciitext.h"
#include "scan/ini/textdecoding.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace orvantis {

namespace {

constexpr size_t kNameCap = 256;
// Enough bytes for kMaxIniValueLength characters of four UTF-8 bytes each, plus a quote.
constexpr size_t kValueCap = 1024;

bool isBlank(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\v';
}
bool isLineEnd(unsigned char c) {
    return c == '\r' || c == '\n';
}

// A section or key name as it is read: ASCII letters folded, trailing blanks not counted, and
// never matching once it has grown past the cap.
struct NameBytes {
    char data[kNameCap];
    size_t size = 0;
    size_t trimmed = 0;
    bool overflow = false;

    void clear() { size = trimmed = 0, overflow = false; }
    void append(const char *bytes, size_t count) {
        if (count > kNameCap - size) {
            overflow = true;
            count = kNameCap - size;
        }
        for (size_t k = 0; k < count; ++k)
            data[size + k] = foldAscii(bytes[k]);
        for (size_t k = count; k > 0; --k) {
            if (!isBlank(static_cast<unsigned char>(bytes[k - 1]))) {
                trimmed = size + k;
                break;
            }
        }
        size += count;
    }
    bool equals(const QByteArray &folded) const {
        return !overflow && trimmed == static_cast<size_t>(folded.size()) &&
               std::memcmp(data, folded.constData(), trimmed) == 0;
    }
};

// A value as it is read: its first kValueCap bytes, and where its last non-blank byte stands.
struct ValueBytes {
    char data[kValueCap];
    size_t kept = 0;
    size_t length = 0;  // bytes seen, up to the NUL that may end the value
    size_t trimmed = 0; // length up to and including the last non-blank byte
    unsigned char last = 0;
    bool ended = false;

    void clear() { kept = length = trimmed = 0, last = 0, ended = false; }
    // Adds bytes of the value's line; a NUL byte ends the value.
    void append(const char *bytes, size_t count) {
        if (ended || count == 0)
            return;
        if (const void *nul = std::memchr(bytes, '\0', count)) {
            count = static_cast<size_t>(static_cast<const char *>(nul) - bytes);
            ended = true;
        }
        const size_t copied = std::min(count, kValueCap - kept);
        std::memcpy(data + kept, bytes, copied);
        kept += copied;
        for (size_t k = count; k > 0; --k) {
            const auto c = static_cast<unsigned char>(bytes[k - 1]);
            if (!isBlank(c)) {
                trimmed = length + k, last = c;
                break;
            }
        }
        length += count;
    }
    // The value's bytes, trimmed and without enclosing quotes.
    void take(std::string &out) const {
        const size_t inKept = std::min(kept, trimmed);
        size_t begin = 0, end = inKept;
        const auto first = static_cast<unsigned char>(data[0]);
        if (trimmed >= 2 && (first == '"' || first == '\'') && last == first) {
            begin = 1;
            if (trimmed <= kValueCap)
                end = trimmed - 1;
        }
        out.assign(data + begin, end - begin);
    }
};

} // namespace

// The names looked up, as the bytes they have in a file of one encoding, ASCII letters folded.
// A name that has no bytes in that encoding is never matched.
struct IniLookup::EncodedNames {
    struct Section {
        QByteArray bytes;
        bool matchable = true;
        std::vector<size_t> targets; // the looked-up names in this section
    };
    std::vector<Section> sections;
    std::vector<QByteArray> keys; // per looked-up name
    std::vector<char> keyMatchable;

    EncodedNames(const std::vector<IniName> &names, TextEncoding encoding) {
        const auto encode = [encoding](const QString &text, QByteArray &bytes) {
            bool ok = true;
            if (encoding == TextEncoding::Utf8)
                bytes = text.toUtf8();
            else
                ok = encodeWindows1252(text, bytes);
            std::transform(bytes.begin(), bytes.end(), bytes.begin(),
                           [](char c) { return foldAscii(c); });
            return ok;
        };
        for (size_t t = 0; t < names.size(); ++t) {
            Section section;
            section.matchable = encode(names[t].section, section.bytes);
            auto same = std::find_if(sections.begin(), sections.end(),
                                     [&](const Section &s) { return s.bytes == section.bytes; });
            if (same == sections.end())
                same = sections.insert(sections.end(), std::move(section));
            same->targets.push_back(t);
            keys.emplace_back();
            keyMatchable.push_back(encode(names[t].key, keys.back()));
        }
    }
};

// The line-by-line reading of one file, and the matching of its lines against the names looked
// up. Made once per lookup and reset for each file.
struct IniLookup::Parser {
    enum class State { LineStart, Skip, Name, ValueStart, Value };

    const EncodedNames *names = nullptr;
    // Per section: whether one of its name was seen, and whether the lines now read are in that
    // first one. Per looked-up name: whether it was found, and its value's bytes.
    std::vector<char> sectionSeen, inSection, found;
    std::vector<std::string> raw;
    // The looked-up names that the key line now read gives a value to.
    std::vector<size_t> pending;

    State state = State::LineStart;
    char nameEnd = 0; // ']' while a section name is read, '=' while a key is
    NameBytes name;
    ValueBytes value;
    EncodingSniffer sniffer;

    void reset(const EncodedNames &encodedNames) {
        names = &encodedNames;
        sectionSeen.assign(names->sections.size(), false);
        inSection.assign(names->sections.size(), false);
        found.assign(names->keys.size(), false);
        raw.resize(names->keys.size());
        for (std::string &r : raw)
            r.clear();
        pending.clear();
        state = State::LineStart;
        sniffer = EncodingSniffer();
    }

    void sectionLine() {
        for (size_t s = 0; s < names->sections.size(); ++s) {
            const EncodedNames::Section &section = names->sections[s];
            const bool matches = section.matchable && name.equals(section.bytes);
            inSection[s] = matches && !sectionSeen[s];
            sectionSeen[s] = sectionSeen[s] || matches;
        }
    }

    // At a key's "=": notes the looked-up names its value is for, and reads the value only when
    // there are any.
    void startValue() {
        pending.clear();
        for (size_t s = 0; s < names->sections.size(); ++s) {
            if (!inSection[s])
                continue;
            for (size_t t : names->sections[s].targets)
                if (!found[t] && names->keyMatchable[t] && name.equals(names->keys[t]))
                    pending.push_back(t);
        }
        value.clear();
        state = pending.empty() ? State::Skip : State::ValueStart;
    }

    void keyLine() {
        for (size_t t : pending) {
            found[t] = true;
            value.take(raw[t]);
        }
        pending.clear();
    }

    void endLine() {
        if (state == State::Name && nameEnd == ']') // a section line without its "]"
            sectionLine();
        else if (state == State::ValueStart || state == State::Value)
            keyLine();
        state = State::LineStart; // a key line without "=" is ignored
    }

    void startName(char end) {
        name.clear();
        nameEnd = end;
        state = State::Name;
    }

    // Reads a section or key name up to its closing character, and acts on the whole name.
    size_t readName(const char *data, size_t i, size_t size) {
        const auto at = [data](size_t k) { return static_cast<unsigned char>(data[k]); };
        if (name.size == 0)
            while (i < size && isBlank(at(i)))
                ++i;
        size_t end = i;
        while (end < size && at(end) != nameEnd && !isLineEnd(at(end)))
            ++end;
        name.append(data + i, end - i);
        if (end == size || at(end) != nameEnd)
            return end;
        if (nameEnd == ']') {
            sectionLine();
            state = State::Skip; // the rest of a section line is ignored
        } else {
            startValue();
        }
        return end + 1;
    }

    // Reads a piece of the file. Each state takes as many bytes as it can in one go; a line
    // may be cut between pieces anywhere.
    void feed(const char *data, size_t size) {
        const size_t mark = sniffer.feed(data, size);
        data += mark, size -= mark;
        const auto at = [data](size_t k) { return static_cast<unsigned char>(data[k]); };
        size_t i = 0;
        while (i < size) {
            if (isLineEnd(at(i))) {
                endLine();
                ++i;
                continue;
            }
            switch (state) {
            case State::LineStart:
                if (isBlank(at(i)))
                    ++i;
                else if (at(i) == ';')
                    state = State::Skip, ++i;
                else if (at(i) == '[')
                    startName(']'), ++i;
                else
                    startName('='); // this byte is the key's first, or its "="
                break;
            case State::Skip:
                while (i < size && !isLineEnd(at(i)))
                    ++i;
                break;
            case State::Name:
                i = readName(data, i, size);
                break;
            case State::ValueStart:
                while (i < size && isBlank(at(i)))
                    ++i;
                if (i < size && !isLineEnd(at(i)))
                    state = State::Value;
                break;
            case State::Value: {
                size_t end = i;
                while (end < size && !isLineEnd(at(end)))
                    ++end;
                value.append(data + i, end - i);
                i = end;
                break;
            }
            }
        }
    }

    void finish() { endLine(); }

    const std::string &rawValue(size_t t) const { return raw[t]; }

    // Plain ASCII reads the same in either encoding, and is never cut.
    std::optional<std::string_view> ascii(size_t t) const {
        const std::string &bytes = rawValue(t);
        if (bytes.size() > static_cast<size_t>(kMaxIniValueLength) ||
            !isAscii(bytes.begin(), bytes.end()))
            return std::nullopt;
        return std::string_view(bytes);
    }

    QString decoded(size_t t) const {
        const std::string &bytes = rawValue(t);
        if (bytes.empty())
            return QString();
        const QByteArray view =
            QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size()));
        return firstCharacters(sniffer.encoding() == TextEncoding::Utf8 ? QString::fromUtf8(view)
                                                                        : decodeWindows1252(view),
                               kMaxIniValueLength);
    }
};

IniLookup::IniLookup(const std::vector<IniName> &names)
    : names_(names), utf8Names_(std::make_unique<EncodedNames>(names, TextEncoding::Utf8)),
      parser_(std::make_unique<Parser>()) {
    // ASCII names have the same bytes in either encoding, so they are matched as the file is
    // read. Other names are matched once the file's encoding is known.
    asciiNames_ = std::all_of(names.begin(), names.end(), [](const IniName &n) {
        return isAscii(n.section.utf16(), n.section.utf16() + n.section.size()) &&
               isAscii(n.key.utf16(), n.key.utf16() + n.key.size());
    });
    if (!asciiNames_)
        windows1252Names_ = std::make_unique<EncodedNames>(names, TextEncoding::Windows1252);
    parser_->reset(*utf8Names_);
}

IniLookup::~IniLookup() = default;

namespace {

// Hands every piece of the bytes to `consume`, to their end.
template <typename Consume> FileRead eachPiece(ByteSource &bytes, Consume &&consume) {
    for (;;) {
        std::string_view piece;
        const FileRead read = bytes.next(piece);
        if (read.outcome != FileRead::Read || piece.empty())
            return read;
        consume(piece.data(), piece.size());
    }
}

} // namespace

FileRead IniLookup::read(ByteSource &bytes) {
    Parser &parser = *parser_;
    const EncodedNames *names = utf8Names_.get();
    if (!asciiNames_) { // the encoding is known only once every byte has been seen
        EncodingSniffer sniffer;
        FileRead read =
            eachPiece(bytes, [&](const char *data, size_t size) { sniffer.feed(data, size); });
        if (read.outcome == FileRead::Read)
            read = bytes.rewind();
        if (read.outcome != FileRead::Read) {
            clear();
            return read;
        }
        if (sniffer.encoding() == TextEncoding::Windows1252)
            names = windows1252Names_.get();
    }
    parser.reset(*names);
    const FileRead read =
        eachPiece(bytes, [&](const char *data, size_t size) { parser.feed(data, size); });
    if (read.outcome != FileRead::Read) {
        clear();
        return read;
    }
    parser.finish();
    return read;
}

void IniLookup::readBytes(const char *data, size_t size) {
    MemoryBytes bytes(data, size);
    read(bytes);
}

void IniLookup::clear() {
    parser_->reset(*utf8Names_);
}

QString IniLookup::value(size_t index) const {
    return parser_->decoded(index);
}

std::optional<std::string_view> IniLookup::asciiValue(size_t index) const {
    return parser_->ascii(index);
}

} // namespace orvantis
