#include "tests/common/RunControl.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace lftest {

void withFileSizeLimit(size_t bytes, const std::function<void()>& fn) {
    struct rlimit before;
    getrlimit(RLIMIT_FSIZE, &before);
    // The soft limit alone: the hard one could not be raised again.
    struct rlimit limited = before;
    limited.rlim_cur = bytes;
    signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &limited);
    fn();
    setrlimit(RLIMIT_FSIZE, &before);
}

int runAndInterrupt(const std::vector<std::string>& argv, const std::function<bool(const std::string&)>& interruptWhen,
                    std::string* out, bool* sent) {
    out->clear();
    *sent = false;
    int fds[2];
    if (argv.empty() || pipe(fds) != 0) return -1;
    pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        dup2(fds[1], STDOUT_FILENO);
        close(fds[0]);
        close(fds[1]);
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(fds[1]);
    char buf[4096];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0) {
        out->append(buf, static_cast<size_t>(n));
        if (!*sent && interruptWhen(*out)) {
            kill(pid, SIGINT);
            *sent = true;
        }
    }
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace lftest
