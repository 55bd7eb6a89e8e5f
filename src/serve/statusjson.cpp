#include "serve/statusjson.h"

#include "platform/visibletext.h"
#include "serve/escaping.h"

namespace orvantis {

namespace {

QByteArray number(uint64_t n) {
    return QByteArray::number(static_cast<qulonglong>(n));
}

QByteArray timeOf(const QDateTime &time) {
    return time.isValid() ? jsonString(time.toUTC().toString(Qt::ISODate)) : QByteArray("null");
}

// Text from the folder (file names), as messages show it: control characters and bytes that are
// not UTF-8 written out.
QByteArray shown(const QString &text) {
    return jsonString(withControlsEscaped(text));
}

} // namespace

QByteArray statusJson(const Snapshot &snapshot) {
    const ScanReport &report = snapshot.report();
    const FolderHealth &health = snapshot.health();
    QByteArray json = "{\n  \"generation\": " + number(snapshot.generation()) +
                      ",\n  \"lastChange\": " + timeOf(snapshot.changedAt()) +
                      ",\n  \"accounts\": " + number(snapshot.size()) +
                      ",\n  \"accountFiles\": " + number(report.accountFiles) +
                      ",\n  \"withoutLogin\": " + number(report.withoutLogin) +
                      // How the last whole read read the files: io_uring, or blocking reads
                      // where io_uring is not to be had (a container's seccomp filter).
                      ",\n  \"readThrough\": " +
                      (report.readThroughRing > 0 ? "\"io_uring\"" : "\"blocking reads\"") +
                      ",\n  \"leftOut\": [";
    for (size_t i = 0; i < report.skipped.size(); ++i)
        json += QByteArray(i == 0 ? "" : ",") +
                "\n    {\"file\": " + shown(report.skipped[i].name) +
                ", \"reason\": " + shown(report.skipped[i].reason) + "}";
    json += QByteArray(report.skipped.empty() ? "" : "\n  ") + "],\n  \"following\": " +
            (health.following.on && !health.following.problem ? "true" : "false") +
            ",\n  \"notFollowed\": [";
    const std::vector<ScanFailure> missed = health.following.missed();
    for (size_t i = 0; i < missed.size(); ++i)
        json += QByteArray(i == 0 ? "" : ", ") + shown(missed[i].text);
    json += "],\n  \"readFailure\": ";
    if (health.readFailure)
        json += "{\"reason\": " + shown(health.readFailure->text) +
                ", \"since\": " + timeOf(health.failingSince) + "}";
    else
        json += "null";
    if (const std::optional<HistoryHealth> &history = health.history) {
        json += ",\n  \"history\": {\"file\": " + shown(history->file) + ", \"problem\": ";
        json += history->fault ? "{\"reason\": " + shown(history->fault->text) +
                                     ", \"since\": " + timeOf(history->since) + "}"
                               : QByteArray("null");
        json += "}";
    }
    return json + "\n}\n";
}

} // namespace orvantis
