#pragma once
// Runs a command to its end and gives its exit status (-1: it could not be
// started or did not exit normally).
//
// Not QProcess: that forks this process, and under ThreadSanitizer a fork()
// while the station's threads run makes the checker lose the order it has
// recorded between them, so it then reports accesses that were ordered.
// posix_spawn starts the command without going through fork().
#include <QByteArray>
#include <QStringList>

#include <cerrno>
#include <spawn.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

inline int runCommand(const QString& program, const QStringList& arguments)
{
    std::vector<QByteArray> words{program.toLocal8Bit()};
    for (const QString& a : arguments)
        words.push_back(a.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return -1;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
