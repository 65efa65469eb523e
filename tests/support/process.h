// Running code and programs in child processes, with their output.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

namespace tavrel_test {

struct Outcome {
    int status = -1;  // raw wait status
    std::string out, err;

    bool exited_with(int code) const { return WIFEXITED(status) && WEXITSTATUS(status) == code; }
};

inline std::string read_all(int fd)
{
    std::string s;
    char buf[4096];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
        if (n > 0) s.append(buf, n);
    return s;
}

// Runs `body` in a forked child whose standard output and error are
// captured; a return from `body` exits the child through exit(0).
inline Outcome in_child(const std::function<void()>& body)
{
    char out_path[] = "/tmp/tavrel-out-XXXXXX", err_path[] = "/tmp/tavrel-err-XXXXXX";
    int out = mkstemp(out_path), err = mkstemp(err_path);
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out, 1);
        dup2(err, 2);
        body();
        exit(0);
    }
    Outcome o;
    while (waitpid(pid, &o.status, 0) < 0 && errno == EINTR) {
    }
    lseek(out, 0, SEEK_SET);
    lseek(err, 0, SEEK_SET);
    o.out = read_all(out);
    o.err = read_all(err);
    close(out);
    close(err);
    unlink(out_path);
    unlink(err_path);
    return o;
}

inline Outcome run(const std::string& program, const std::vector<std::string>& args)
{
    return in_child([&] {
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    });
}

}  // namespace tavrel_test
