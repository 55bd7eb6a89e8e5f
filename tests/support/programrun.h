#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QTemporaryFile>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

extern char **environ;

// What a program run gave: its exit status (-1 when a signal ended it), what it wrote, its peak
// memory and how long it took.
struct ProgramRun {
    int status = -1;
    int signal = 0;
    QByteArray out;
    QByteArray err;
    long peakKiB = 0;
    qint64 millis = 0;
};

struct ProgramOptions {
    // Run as this user and group id through setpriv (needs root); empty for as we are.
    QByteArray user;
    // Variables to set, "NAME=value", on top of this process's environment.
    QList<QByteArray> environment;
    // Where standard output goes instead of being collected (such as /dev/full).
    QByteArray outputPath;
};

// The user id that an unprivileged run uses: "nobody" when we are root (through setpriv), else
// ourselves. Empty when neither can be had.
inline QByteArray unprivilegedUser() {
    if (::geteuid() != 0)
        return "self";
    return ::access("/usr/bin/setpriv", X_OK) == 0 ? "65534" : QByteArray();
}

// The variables a program run with `options` gets on top of this process's environment.
inline QList<QByteArray> environmentOf(const ProgramOptions &options) {
    QList<QByteArray> ours = options.environment;
    if (!options.user.isEmpty() && options.user != "self") {
        // Another user may not read this build's sanitizer suppressions (the checkout may be
        // in root's home); the programs run that way need none.
        QList<QByteArray> kept;
        for (const QByteArray &option : qgetenv("TSAN_OPTIONS").split(':'))
            if (!option.startsWith("suppressions="))
                kept << option;
        ours << "TSAN_OPTIONS=" + kept.join(':');
    }
    return ours;
}

// Those variables, then this process's, as a program's environment: getenv takes the first
// entry of a name, so ours go first.
inline std::vector<char *> environmentPointers(QList<QByteArray> &ours) {
    std::vector<char *> envp;
    for (QByteArray &e : ours)
        envp.push_back(e.data());
    for (char **e = environ; *e; ++e)
        envp.push_back(*e);
    envp.push_back(nullptr);
    return envp;
}

// Runs a program to its end and collects its output and its peak memory (from wait4).
inline ProgramRun runProgram(const QByteArray &program, const QList<QByteArray> &arguments,
                             const ProgramOptions &options = {}) {
    ProgramRun run;
    QTemporaryFile errFile;
    EXPECT_TRUE(errFile.open());
    int outPipe[2];
    EXPECT_EQ(::pipe(outPipe), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (options.outputPath.isEmpty())
        posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    else
        posix_spawn_file_actions_addopen(&actions, 1, options.outputPath.constData(), O_WRONLY, 0);
    posix_spawn_file_actions_addclose(&actions, outPipe[0]);
    posix_spawn_file_actions_addopen(&actions, 2, errFile.fileName().toUtf8().constData(),
                                     O_WRONLY | O_TRUNC, 0);

    QList<QByteArray> args;
    if (!options.user.isEmpty() && options.user != "self")
        args = {"/usr/bin/setpriv", "--reuid=" + options.user, "--regid=" + options.user,
                "--clear-groups"};
    args << program << arguments;
    std::vector<char *> argv;
    for (QByteArray &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    QList<QByteArray> ours = environmentOf(options);
    std::vector<char *> envp = environmentPointers(ours);

    QElapsedTimer timer;
    timer.start();
    pid_t pid = 0;
    EXPECT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(outPipe[1]);
    char buffer[4096];
    for (ssize_t got; (got = ::read(outPipe[0], buffer, sizeof buffer)) > 0;)
        run.out.append(buffer, got);
    ::close(outPipe[0]);
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    run.millis = timer.elapsed();
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    run.peakKiB = usage.ru_maxrss;
    run.err = errFile.readAll();
    return run;
}

// Runs a program with its standard output and error on a pseudo-terminal, as in a terminal
// window, and gives what the terminal received (the terminal turns "\n" into "\r\n").
inline ProgramRun runOnTerminal(const QByteArray &program, const QList<QByteArray> &arguments) {
    ProgramRun run;
    QList<QByteArray> args = QList<QByteArray>{program} + arguments;
    std::vector<char *> argv;
    for (QByteArray &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    int terminal = -1;
    const pid_t pid = ::forkpty(&terminal, nullptr, nullptr, nullptr);
    if (pid == 0) {
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    EXPECT_GT(pid, 0);
    char buffer[4096];
    for (ssize_t got; (got = ::read(terminal, buffer, sizeof buffer)) > 0;) // EIO once it ends
        run.out.append(buffer, got);
    ::close(terminal);
    int status = 0;
    ::waitpid(pid, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

// A program started in the background with its standard output thrown away and its standard
// error kept, until stop() ends it with SIGTERM; run as `options.user` where given.
class BackgroundRun {
public:
    BackgroundRun(const QByteArray &program, const QList<QByteArray> &arguments,
                  const ProgramOptions &options = {}) {
        EXPECT_TRUE(errors_.open());
        QList<QByteArray> args;
        if (!options.user.isEmpty() && options.user != "self")
            args = {"/usr/bin/setpriv", "--reuid=" + options.user, "--regid=" + options.user,
                    "--clear-groups"};
        args << program << arguments;
        std::vector<char *> argv;
        for (QByteArray &a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, errors_.fileName().toUtf8().constData(),
                                         O_WRONLY | O_TRUNC, 0);
        QList<QByteArray> ours = environmentOf(options);
        std::vector<char *> envp = environmentPointers(ours);
        EXPECT_EQ(posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()), 0);
        posix_spawn_file_actions_destroy(&actions);
    }
    ~BackgroundRun() { stop(); }

    // Ends it with SIGTERM unless it has ended: its exit status, -1 when a signal ended it.
    int stop() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            int status = 0;
            ::waitpid(pid_, &status, 0);
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            pid_ = 0;
        }
        return status_;
    }
    // Whether it has ended on its own, waiting up to `ms`; its status is then stop()'s.
    bool ended(int ms = 0) {
        QElapsedTimer clock;
        clock.start();
        do {
            int status = 0;
            if (pid_ > 0 && ::waitpid(pid_, &status, WNOHANG) == pid_) {
                status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
                pid_ = 0;
            }
            if (pid_ == 0)
                return true;
            ::usleep(20000);
        } while (clock.elapsed() < ms);
        return false;
    }
    // What it has written to standard error so far.
    QByteArray errors() {
        errors_.seek(0);
        return errors_.readAll();
    }
    pid_t pid() const { return pid_; }

private:
    QTemporaryFile errors_;
    pid_t pid_ = 0;
    int status_ = -1;
};
