#include "start/programoptions.h"

#include "platform/exitstatus.h"

#include <QDir>

#include <cstdio>

namespace orvantis {

ProgramOptions::ProgramOptions(const char *program, const char *usage, Say sayLine)
    : program_(program), usage_(usage), say_(sayLine) {
    parser_.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser_.addOptions({help_, version_});
}

std::optional<int> ProgramOptions::read(const QStringList &arguments) {
    if (!parser_.parse(arguments))
        return badUsage(parser_.errorText());
    if (parser_.isSet(help_)) {
        std::fputs(usage_, stdout);
        return kExitSuccess;
    }
    if (parser_.isSet(version_)) {
        std::printf("%s %s\n", program_, ORVANTIS_VERSION);
        return kExitSuccess;
    }
    if (parser_.positionalArguments().size() > 1)
        return badUsage(QStringLiteral("one FOLDER at most"));
    return std::nullopt;
}

QString ProgramOptions::folder(const QString &programDirectory) const {
    const QStringList folders = parser_.positionalArguments();
    return folders.isEmpty() ? programDirectory : QDir::fromNativeSeparators(folders[0]);
}

int ProgramOptions::badUsage(const QString &message) const {
    say(message + QStringLiteral(" (see --help)"));
    return kExitUsage;
}

} // namespace orvantis
