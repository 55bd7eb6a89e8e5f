#include "scan/accounts/owntext.h"

#include "platform/failure.h"

#include <algorithm>

namespace orvantis {

uint32_t OwnText::add(QStringView text) {
    if (text_.size() + text.size() > qsizetype{UINT32_MAX})
        throw Failure(kOutOfMemory, QStringLiteral("Too many logins and names to keep"));
    const auto start = static_cast<uint32_t>(text_.size());
    text_ += text;
    inUse_ += text.size();
    return start;
}

bool OwnText::mostlyGone() const {
    constexpr qsizetype kLeastWaste = 1 << 20; // characters
    return text_.size() - inUse_ >= std::max(kLeastWaste, inUse_);
}

} // namespace orvantis
