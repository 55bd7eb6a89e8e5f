#include "scan/system/pathtrace.h"

#include "scan/system/filenames.h"

#include <QStringList>

namespace orvantis {

PathTrace::Step PathTrace::stepOf(const QString &path, bool followLinks) {
    Step step;
    const QByteArray bytes = encodeFileName(path);
    step.error = identityOfPath(bytes, followLinks, step.identity);
    if (step.error == 0 && step.identity.link)
        step.linkTarget = linkTargetOf(bytes);
    return step;
}

PathTrace PathTrace::of(const QString &path) {
    PathTrace trace;
    const QStringList parts = path.split(u'/');
    QString prefix, above;
    for (qsizetype i = 0; i < parts.size(); ++i) {
        if (parts[i].isEmpty() && i > 0)
            continue; // a doubled or trailing "/"
        above = prefix;
        prefix = i == 0 ? parts[i] : prefix + u'/' + parts[i];
        // "/" and "C:/" name their folder; "" and "C:" alone would not.
        const QString shown = prefix.isEmpty() || prefix.endsWith(u':') ? prefix + u'/' : prefix;
        trace.steps_.push_back(stepOf(shown, false));
    }
    trace.steps_.push_back(stepOf(path, true));
    trace.steps_.push_back(stepOf(above.isEmpty() ? QStringLiteral(".") : above, true));
    return trace;
}

} // namespace orvantis
