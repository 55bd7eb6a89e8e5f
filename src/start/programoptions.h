#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>
#include <QStringList>

#include <optional>

namespace orvantis {

// What every program's command line has: -h and --help, --version and at most one FOLDER, the
// folder that holds "accounts". Each program adds its own options and reads them from parser()
// once read() has let it go on.
class ProgramOptions {
public:
    // How a program says a line on standard error (complain(), as the console programs do).
    using Say = void (*)(const char *program, const QString &message);

    // `program` names the program in its messages and its --version; `usage` is its --help.
    ProgramOptions(const char *program, const char *usage, Say sayLine);

    void add(const QCommandLineOption &option) { parser_.addOption(option); }

    // Reads `arguments` (the program's name first). After --help or --version, which it prints,
    // gives kExitSuccess; on bad usage, which it says, kExitUsage; else nothing, to go on.
    std::optional<int> read(const QStringList &arguments);

    const QCommandLineParser &parser() const { return parser_; }
    // FOLDER, with "D:\Game" as "D:/Game", the form Qt gives paths in; `programDirectory` when
    // none was given.
    QString folder(const QString &programDirectory) const;

    // Says `message` about the command line, after the program's name.
    void say(const QString &message) const { say_(program_, message); }
    // Says `message` as bad usage, pointing to --help, and gives kExitUsage.
    int badUsage(const QString &message) const;

private:
    const char *program_;
    const char *usage_;
    Say say_;
    QCommandLineParser parser_;
    QCommandLineOption help_{QStringList{QStringLiteral("h"), QStringLiteral("help")}};
    QCommandLineOption version_{QStringLiteral("version")};
};

} // namespace orvantis
