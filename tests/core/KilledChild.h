#pragma once
// A fault that kills ends the test process too, so its effect is watched
// from outside: the body runs in a child that reports every step it
// survived through a pipe, and the parent reads how far it came.
#include <csignal>
#include <functional>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace qx::test {

struct ChildEnd {
    bool started = false;  // the child could be forked and waited for
    bool killed = false;   // by SIGKILL
    int exitCode = -1;     // when it ended normally
    int survived = 0;      // steps reported before it ended
};

inline ChildEnd RunInChild(const std::function<void(const std::function<void()>& survived)>& body) {
    ChildEnd end;
    int fds[2];
    if (::pipe(fds) != 0) return end;
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return end;
    }
    if (child == 0) {
        ::close(fds[0]);
        body([&] {
            if (::write(fds[1], "x", 1) != 1) ::_exit(3);
        });
        ::_exit(0);
    }
    ::close(fds[1]);
    char buf[64];
    for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) end.survived += static_cast<int>(n);
    ::close(fds[0]);
    int status = 0;
    end.started = ::waitpid(child, &status, 0) == child;
    end.killed = end.started && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    end.exitCode = end.started && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return end;
}

}  // namespace qx::test
