#include "start/complaint.h"

#include "platform/visibletext.h"

#include <cstdio>

namespace orvantis {

void complain(const char *program, const QString &message) {
    QString line = withControlsEscaped(message);
    if (!line.isEmpty())
        line[0] = line[0].toLower();
    std::fprintf(stderr, "%s: %s\n", program, line.toUtf8().constData());
}

} // namespace orvantis
