#include "scan/inireader.h"

#include "scan/filenames.h"
#include "scan/folderfiles.h"
#include "scan/textdecoding.h"

#include <algorithm>
#include <cerrno>
#include <string>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvantis {

namespace {

constexpr size_t kReadChunk = 64 * 1024;
constexpr size_t kNameCap = 256;
// Enough bytes for kMaxIniValueLength characters of four UTF-8 bytes each, plus a quote.
constexpr size_t kValueCap = 1024;
constexpr int kUtf8 = 0;
constexpr int kWindows1252 = 1;

bool isBlank(unsigned char c) { return c == ' ' || c == '\t' || c == '\v'; }
bool isLineEnd(unsigned char c) { return c == '\r' || c == '\n'; }
unsigned char foldAscii(unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; }

QByteArray foldAscii(QByteArray bytes) {
    for (char &c : bytes)
        c = static_cast<char>(foldAscii(static_cast<unsigned char>(c)));
    return bytes;
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
            data[size + k] = static_cast<char>(foldAscii(static_cast<unsigned char>(bytes[k])));
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

// A name looked up: its key as bytes in each candidate encoding, ASCII letters folded.
struct IniLookup::Target {
    QByteArray key[2];
    bool encodable[2] = {true, true};
};

// A section name looked up, with the targets in it.
struct IniLookup::Section {
    QByteArray name[2];
    bool encodable[2] = {true, true};
    std::vector<size_t> targets;
};

// The line-by-line reading of one file, and the matching of its lines against the names looked
// up. When a name is not plain ASCII, it is matched in both candidate encodings, and the one the
// file turns out to be in is kept. Made once per lookup and reset for each file.
struct IniLookup::Parser {
    enum class State { LineStart, Skip, Section, Key, ValueStart, Value };

    const std::vector<Target> &targets;
    const std::vector<Section> &sections;
    int encodings = 1;
    // Per encoding: for each section, whether one of its name was seen and whether the lines
    // now read are in that first one; for each target, whether it was found, and the targets
    // the key line being read fills.
    std::vector<char> sectionSeen[2], inSection[2], found[2];
    std::vector<size_t> pending[2];
    std::vector<std::string> raw[2];

    State state = State::LineStart;
    NameBytes name;
    ValueBytes value;
    Utf8Validator utf8;
    bool started = false;
    bool byteOrderMark = false;

    Parser(const std::vector<Target> &t, const std::vector<Section> &s, int encodingCount)
        : targets(t), sections(s), encodings(encodingCount) {
        for (int e = 0; e < 2; ++e) {
            raw[e].resize(targets.size());
            pending[e].reserve(targets.size());
        }
        reset();
    }

    void reset() {
        for (int e = 0; e < encodings; ++e) {
            sectionSeen[e].assign(sections.size(), false);
            inSection[e].assign(sections.size(), false);
            found[e].assign(targets.size(), false);
            pending[e].clear();
            for (std::string &r : raw[e])
                r.clear();
        }
        state = State::LineStart;
        utf8 = Utf8Validator();
        started = false;
        byteOrderMark = false;
    }

    void sectionLine() {
        for (int e = 0; e < encodings; ++e) {
            for (size_t s = 0; s < sections.size(); ++s) {
                const bool matches = sections[s].encodable[e] && name.equals(sections[s].name[e]);
                inSection[e][s] = matches && !sectionSeen[e][s];
                if (matches)
                    sectionSeen[e][s] = true;
            }
        }
    }

    // At a key's "=": notes the targets its value is for; false when there are none, so that
    // the value need not be read.
    bool keyWanted() {
        bool any = false;
        for (int e = 0; e < encodings; ++e) {
            pending[e].clear();
            for (size_t s = 0; s < sections.size(); ++s) {
                if (!inSection[e][s])
                    continue;
                for (size_t t : sections[s].targets) {
                    if (!found[e][t] && targets[t].encodable[e] && name.equals(targets[t].key[e])) {
                        pending[e].push_back(t);
                        any = true;
                    }
                }
            }
        }
        return any;
    }

    void keyLine() {
        for (int e = 0; e < encodings; ++e) {
            for (size_t t : pending[e]) {
                found[e][t] = true;
                value.take(raw[e][t]);
            }
            pending[e].clear();
        }
    }

    void endLine() {
        if (state == State::Section)
            sectionLine();
        else if (state == State::ValueStart || state == State::Value)
            keyLine();
        state = State::LineStart;
    }

    // Reads a piece of the file. Each state takes as many bytes as it can in one go; a line
    // may be cut between pieces anywhere.
    void feed(const char *data, size_t size) {
        if (!started) { // a UTF-8 byte-order mark is not part of the text
            started = true;
            if (size >= 3 && std::memcmp(data, "\xEF\xBB\xBF", 3) == 0) {
                byteOrderMark = true;
                data += 3, size -= 3;
            }
        }
        utf8.feed(data, size);
        const auto at = [data](size_t i) { return static_cast<unsigned char>(data[i]); };
        size_t i = 0;
        while (i < size) {
            if (isLineEnd(at(i))) {
                endLine();
                ++i;
                continue;
            }
            switch (state) {
            case State::LineStart: {
                const unsigned char c = at(i);
                if (isBlank(c)) {
                } else if (c == ';') {
                    state = State::Skip;
                } else if (c == '[') {
                    name.clear();
                    state = State::Section;
                } else if (c == '=') {
                    name.clear();
                    startValue();
                } else {
                    name.clear();
                    state = State::Key;
                    continue; // the key's first byte
                }
                ++i;
                break;
            }
            case State::Skip:
                while (i < size && !isLineEnd(at(i)))
                    ++i;
                break;
            case State::Section: {
                if (name.size == 0)
                    while (i < size && isBlank(at(i)))
                        ++i;
                size_t end = i;
                while (end < size && at(end) != ']' && !isLineEnd(at(end)))
                    ++end;
                name.append(data + i, end - i);
                i = end;
                if (i < size && at(i) == ']') {
                    sectionLine();
                    state = State::Skip;
                    ++i;
                }
                break;
            }
            case State::Key: {
                size_t end = i;
                while (end < size && at(end) != '=' && !isLineEnd(at(end)))
                    ++end;
                name.append(data + i, end - i);
                i = end;
                if (i < size && at(i) == '=') {
                    startValue();
                    ++i;
                }
                break;
            }
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

    void startValue() {
        value.clear();
        state = keyWanted() ? State::ValueStart : State::Skip;
    }

    void finish() { endLine(); }

    bool isUtf8() const { return byteOrderMark || (utf8.isValid() && utf8.sawNonAscii()); }

    const std::string &rawValue(size_t t) const {
        return raw[encodings == 2 && !isUtf8() ? kWindows1252 : kUtf8][t];
    }

    // Plain ASCII reads the same in either encoding, and is never cut.
    std::optional<std::string_view> ascii(size_t t) const {
        const std::string &bytes = rawValue(t);
        if (bytes.size() > static_cast<size_t>(kMaxIniValueLength) ||
            !std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
            return std::nullopt;
        return std::string_view(bytes);
    }

    QString decoded(size_t t) const {
        const bool utf8Text = isUtf8();
        const std::string &bytes = raw[encodings == 2 && !utf8Text ? kWindows1252 : kUtf8][t];
        if (bytes.empty())
            return QString();
        const QByteArray view = QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size()));
        return firstCharacters(utf8Text ? QString::fromUtf8(view) : decodeWindows1252(view), kMaxIniValueLength);
    }
};

IniLookup::IniLookup(const std::vector<IniName> &names) : buffer_(kReadChunk) {
    int encodings = 1;
    for (const IniName &n : names) {
        Target target;
        Section section;
        section.name[kUtf8] = foldAscii(n.section.toUtf8());
        target.key[kUtf8] = foldAscii(n.key.toUtf8());
        section.encodable[kWindows1252] = encodeWindows1252(n.section, section.name[kWindows1252]);
        target.encodable[kWindows1252] = encodeWindows1252(n.key, target.key[kWindows1252]);
        section.name[kWindows1252] = foldAscii(section.name[kWindows1252]);
        target.key[kWindows1252] = foldAscii(target.key[kWindows1252]);
        if (section.name[kUtf8] != section.name[kWindows1252] || target.key[kUtf8] != target.key[kWindows1252])
            encodings = 2;

        auto same = std::find_if(sections_.begin(), sections_.end(), [&](const Section &s) {
            return s.name[kUtf8] == section.name[kUtf8] && s.name[kWindows1252] == section.name[kWindows1252];
        });
        if (same == sections_.end())
            same = sections_.insert(sections_.end(), std::move(section));
        same->targets.push_back(targets_.size());
        targets_.push_back(std::move(target));
    }
    parser_ = std::make_unique<Parser>(targets_, sections_, encodings);
}

IniLookup::~IniLookup() = default;

void IniLookup::readFile(const QByteArray &path) {
    Parser &parser = *parser_;
    parser.reset();
    // Non-blocking, so that a FIFO named like a file cannot hold the reader.
    const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return;
    bool first = true;
    bool checked = false;
    for (;;) {
        const ssize_t got = ::read(fd, buffer_.data(), buffer_.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) { // a directory, a FIFO with nothing in it, a read error: nothing counts
            parser.reset();
            break;
        }
        if (got == 0) {
            parser.finish();
            break;
        }
        // Account files fit in one read. Only what gives more is asked what it is, so that a
        // device such as /dev/zero or a FIFO fed without end is never read on and on.
        if (!checked && (!first || static_cast<size_t>(got) == buffer_.size())) {
            struct stat info {};
            if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
                parser.reset();
                break;
            }
            checked = true;
        }
        first = false;
        parser.feed(buffer_.data(), static_cast<size_t>(got));
    }
    ::close(fd);
}

void IniLookup::readBytes(const char *data, size_t size) {
    Parser &parser = *parser_;
    parser.reset();
    // In pieces, as a file is read, so that lines cut between pieces are read like any other.
    for (size_t at = 0; at < size; at += kReadChunk)
        parser.feed(data + at, std::min(kReadChunk, size - at));
    parser.finish();
}

QString IniLookup::value(size_t index) const { return parser_->decoded(index); }

std::optional<std::string_view> IniLookup::asciiValue(size_t index) const { return parser_->ascii(index); }

QStringList IniLookup::read(const QString &file) {
    readFile(encodeFileName(file));
    QStringList values;
    for (size_t t = 0; t < targets_.size(); ++t)
        values << value(t);
    return values;
}

QString ReadIniValue(const QString &section, const QString &key, const QString &file) {
    IniLookup lookup({{section, key}});
    return lookup.read(resolvePathIgnoringCase(file)).value(0);
}

} // namespace orvantis
