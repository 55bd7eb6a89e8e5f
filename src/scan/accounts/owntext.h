#pragma once

#include <QString>
#include <QStringView>

#include <cstdint>
#include <vector>

namespace orvantis {

// Texts made by the threads of a scan, one block each: the logins and names that records and
// characters point into.
using TextBlocks = std::vector<QString>;

// Texts kept after a scan, as its folder changes, one after another in a block of their own;
// each is pointed to by where it starts and how long it is. Once most of the block is texts let
// go, and that is more than a little, it is made anew with the others, so that a long watch
// does not grow without end.
class OwnText {
public:
    // Adds a text at the end of the block; where it starts. The block holds at most 4 Gi
    // characters: past that, a Failure says there are too many texts to keep.
    uint32_t add(QStringView text);
    // A text of this length is pointed to no more.
    void release(qsizetype length) { inUse_ -= length; }
    // How much of the block is pointed to, counted again after many pointers changed at once.
    void setInUse(qsizetype inUse) { inUse_ = inUse; }
    void reserve(qsizetype length) { text_.reserve(length); }

    const QString &text() const { return text_; }
    qsizetype size() const { return text_.size(); }

    // Makes the block anew when most of it is let go. `forEachKept` calls the function it is
    // given with each text still pointed to: its start, by reference, which is moved to where
    // the text is now, and its length.
    template <typename ForEachKept> void compactIfMostlyGone(ForEachKept &&forEachKept) {
        if (!mostlyGone())
            return;
        QString kept;
        kept.reserve(inUse_);
        forEachKept([&](uint32_t &start, qsizetype length) {
            const auto at = static_cast<uint32_t>(kept.size());
            kept += QStringView(text_).mid(start, length);
            start = at;
        });
        text_ = std::move(kept);
    }

private:
    bool mostlyGone() const;
    QString text_;
    qsizetype inUse_ = 0; // how much of the block is pointed to
};

} // namespace orvantis
