#include "scan/inireader.h"

#include "scan/filenames.h"
#include "scan/folderfiles.h"
#include "scan/textdecoding.h"

#include <cerrno>
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
    void push(unsigned char c) {
        if (size == kNameCap) {
            overflow = true;
            return;
        }
        data[size++] = static_cast<char>(foldAscii(c));
        if (!isBlank(c))
            trimmed = size;
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
    void push(unsigned char c) {
        if (kept < kValueCap)
            data[kept++] = static_cast<char>(c);
        ++length;
        if (!isBlank(c))
            trimmed = length, last = c;
    }
    QByteArray take() const {
        const size_t inKept = std::min(kept, trimmed);
        size_t begin = 0, end = inKept;
        const auto first = static_cast<unsigned char>(data[0]);
        if (trimmed >= 2 && (first == '"' || first == '\'') && last == first) {
            begin = 1;
            if (trimmed <= kValueCap)
                end = trimmed - 1;
        }
        return QByteArray(data + begin, static_cast<qsizetype>(end - begin));
    }
};

} // namespace

// The line-by-line reading of one file, and the matching of its lines against the names looked
// up. When a name is not plain ASCII, it is matched in both candidate encodings, and the one the
// file turns out to be in is kept.
struct IniLookup::Parser {
    enum class State { LineStart, Skip, Section, Key, ValueStart, Value };

    struct Target {
        QByteArray section[2];
        QByteArray key[2];
        bool encodable[2] = {true, true};
    };

    std::vector<Target> targets;
    int encodings = 1;
    // Per encoding and target: a section of its name seen, in that first section now, found.
    std::vector<bool> sectionSeen[2], inSection[2], found[2];
    std::vector<QByteArray> raw[2];

    State state = State::LineStart;
    NameBytes name;
    ValueBytes value;
    Utf8Validator utf8;
    bool byteOrderMark = false;

    explicit Parser(const std::vector<IniName> &names) {
        for (const IniName &n : names) {
            Target t;
            t.section[kUtf8] = foldAscii(n.section.toUtf8());
            t.key[kUtf8] = foldAscii(n.key.toUtf8());
            const bool sectionOk = EncodeWindows1252(n.section, t.section[kWindows1252]);
            const bool keyOk = EncodeWindows1252(n.key, t.key[kWindows1252]);
            t.section[kWindows1252] = foldAscii(t.section[kWindows1252]);
            t.key[kWindows1252] = foldAscii(t.key[kWindows1252]);
            t.encodable[kWindows1252] = sectionOk && keyOk;
            if (t.section[kUtf8] != t.section[kWindows1252] || t.key[kUtf8] != t.key[kWindows1252])
                encodings = 2;
            targets.push_back(std::move(t));
        }
        for (int e = 0; e < 2; ++e) {
            sectionSeen[e].assign(targets.size(), false);
            inSection[e].assign(targets.size(), false);
            found[e].assign(targets.size(), false);
            raw[e].assign(targets.size(), QByteArray());
        }
    }

    void sectionLine() {
        for (int e = 0; e < encodings; ++e) {
            for (size_t t = 0; t < targets.size(); ++t) {
                const bool matches = targets[t].encodable[e] && name.equals(targets[t].section[e]);
                inSection[e][t] = matches && !sectionSeen[e][t];
                if (matches)
                    sectionSeen[e][t] = true;
            }
        }
    }

    void keyLine() {
        for (int e = 0; e < encodings; ++e) {
            for (size_t t = 0; t < targets.size(); ++t) {
                if (inSection[e][t] && !found[e][t] && name.equals(targets[t].key[e])) {
                    found[e][t] = true;
                    raw[e][t] = value.take();
                }
            }
        }
    }

    void endLine() {
        if (state == State::Section)
            sectionLine();
        else if (state == State::ValueStart || state == State::Value)
            keyLine();
        state = State::LineStart;
    }

    void feed(const char *data, size_t size) {
        utf8.Feed(data, size);
        for (size_t i = 0; i < size; ++i) {
            const auto c = static_cast<unsigned char>(data[i]);
            if (isLineEnd(c)) {
                endLine();
                continue;
            }
            switch (state) {
            case State::LineStart:
                if (isBlank(c))
                    break;
                name.clear();
                if (c == ';') {
                    state = State::Skip;
                } else if (c == '[') {
                    state = State::Section;
                } else if (c == '=') {
                    value.clear();
                    state = State::ValueStart;
                } else {
                    name.push(c);
                    state = State::Key;
                }
                break;
            case State::Skip:
                break;
            case State::Section:
                if (c == ']') {
                    sectionLine();
                    state = State::Skip;
                } else if (name.size > 0 || !isBlank(c)) {
                    name.push(c);
                }
                break;
            case State::Key:
                if (c == '=') {
                    value.clear();
                    state = State::ValueStart;
                } else {
                    name.push(c);
                }
                break;
            case State::ValueStart:
                if (isBlank(c))
                    break;
                state = State::Value;
                [[fallthrough]];
            case State::Value:
                if (c == '\0')
                    value.ended = true;
                if (!value.ended)
                    value.push(c);
                break;
            }
        }
    }

    QStringList results() {
        endLine();
        const bool isUtf8 = byteOrderMark || (utf8.Valid() && utf8.SawNonAscii());
        const int e = encodings == 2 && !isUtf8 ? kWindows1252 : kUtf8;
        QStringList values;
        values.reserve(static_cast<qsizetype>(targets.size()));
        for (size_t t = 0; t < targets.size(); ++t) {
            const QByteArray &bytes = raw[e][t];
            values << FirstCharacters(isUtf8 ? QString::fromUtf8(bytes) : DecodeWindows1252(bytes),
                                      kMaxIniValueLength);
        }
        return values;
    }
};

IniLookup::IniLookup(std::vector<IniName> names) : names_(std::move(names)), buffer_(kReadChunk) {}
IniLookup::~IniLookup() = default;

QStringList IniLookup::Read(const QString &file) {
    const QStringList empty(static_cast<qsizetype>(names_.size()), QString());
    // Non-blocking, so that a FIFO or a device named like a file cannot hold the reader.
    const int fd = ::open(EncodeFileName(file).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return empty;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return empty;
    }
    Parser parser(names_);
    bool first = true;
    for (;;) {
        const ssize_t got = ::read(fd, buffer_.data(), buffer_.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            ::close(fd);
            return empty;
        }
        if (got == 0)
            break;
        const char *data = buffer_.data();
        size_t size = static_cast<size_t>(got);
        if (first && size >= 3 && std::memcmp(data, "\xEF\xBB\xBF", 3) == 0) {
            parser.byteOrderMark = true;
            data += 3, size -= 3;
        }
        first = false;
        parser.feed(data, size);
    }
    ::close(fd);
    return parser.results();
}

QString ReadIniValue(const QString &section, const QString &key, const QString &file) {
    IniLookup lookup({{section, key}});
    return lookup.Read(ResolvePathIgnoringCase(file)).value(0);
}

} // namespace orvantis
