// SPDX-License-Identifier: MIT
// Running code and programs in child processes, with their output.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdlib.h>
#include <string.h>

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

// Replaces this process with `program`. In a cross build the tests run
// under an emulator and the kernel cannot start the target's programs, so
// they are started through the emulator too, which is then given the
// preload list the program needs (the host's loader must not see it).
[[noreturn]] inline void exec_program(const std::string& program, const std::vector<std::string>& args)
{
    std::vector<std::string> cmd;
#ifdef TAVREL_TEST_EMULATOR
    std::string emulator = TAVREL_TEST_EMULATOR;
    for (size_t pos = 0;;) {
        size_t end = emulator.find('|', pos);
        cmd.push_back(emulator.substr(pos, end - pos));
        if (end == std::string::npos) break;
        pos = end + 1;
    }
    if (const char* preload = getenv("LD_PRELOAD")) {
        cmd.push_back("-E");
        cmd.push_back(std::string("LD_PRELOAD=") + preload);
        unsetenv("LD_PRELOAD");
    }
#endif
    cmd.push_back(program);
    cmd.insert(cmd.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : cmd) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
}

inline Outcome run(const std::string& program, const std::vector<std::string>& args)
{
    return in_child([&] { exec_program(program, args); });
}

}  // namespace tavrel_test

namespace tavrel_test {

// A program started in the background, with its standard output on a pipe
// (and its standard error on another, when asked: read it once it ended).
class Child {
public:
    Child(const std::string& program, const std::vector<std::string>& args, bool capture_err = false)
    {
        int fds[2], errs[2] = {-1, -1};
        if (pipe2(fds, O_CLOEXEC) != 0 || (capture_err && pipe2(errs, O_CLOEXEC) != 0)) abort();
        fflush(nullptr);
        pid_ = fork();
        if (pid_ == 0) {
            dup2(fds[1], 1);
            if (capture_err) dup2(errs[1], 2);
            exec_program(program, args);
        }
        close(fds[1]);
        out_ = fds[0];
        if (capture_err) close(errs[1]);
        err_ = errs[0];
    }
    ~Child()
    {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        close(out_);
        if (err_ >= 0) close(err_);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return pid_; }

    // Reads up to and including the next line feed; "" at end of output,
    // and what came so far after `seconds` without one: a child that hangs
    // fails its test with a message instead of running into ctest's limit.
    std::string line(int seconds = 40)
    {
        std::string s;
        char c;
        pollfd pfd = {out_, POLLIN, 0};
        for (int waited = 0;;) {
            int ready = poll(&pfd, 1, kResendMs);
            if (ready == 0 && (waited += kResendMs) < seconds * 1000) {
                resend();
                continue;
            }
            if (ready <= 0 || read(out_, &c, 1) != 1) break;
            unanswered_ = 0;
            s += c;
            if (c == '\n') break;
        }
        return s;
    }

    // ThreadSanitizer runs a handler only when the thread the kernel gave
    // the signal to next enters one of its interceptors: one of a
    // program's threads that only computes would keep it for ever. Under
    // it the signal goes to the main thread, which the programs driven
    // here leave in an intercepted wait; elsewhere to the process.
    void signal(int sig)
    {
#if defined(__SANITIZE_THREAD__)
        signal_main_thread(sig);
#else
        kill(pid_, sig);
#endif
    }

    // ThreadSanitizer can also lose a signal that reaches the main thread
    // on its way into pause() (seen about once in a hundred runs under
    // load): under it, one that the program has not answered with output
    // or its end is sent again each second that line() or wait() waits.
    // The signals sent here all ask for a quit, and a program quitting
    // takes the rest of a burst in its stride; the host stage, without
    // ThreadSanitizer, sends each signal once.
    void signal_main_thread(int sig)
    {
        syscall(SYS_tgkill, pid_, pid_, sig);
        unanswered_ = sig;
    }

    // What it wrote to standard error, to its end.
    std::string err() const
    {
        return err_ >= 0 ? read_all(err_) : std::string();
    }

    // The wait status, or -1 when the child is still running after
    // `seconds` (it is then killed).
    int wait(int seconds = 40)
    {
        for (int i = 0;; ++i) {
            int status;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return status;
            }
            if (i >= seconds * 1000) return -1;
            if (i > 0 && i % kResendMs == 0) resend();
            usleep(1000);
        }
    }

private:
    static constexpr int kResendMs = 1000;

    void resend()
    {
#if defined(__SANITIZE_THREAD__)
        if (unanswered_) syscall(SYS_tgkill, pid_, pid_, unanswered_);
#endif
    }

    pid_t pid_ = -1;
    int out_ = -1, err_ = -1;
    int unanswered_ = 0;  // a signal sent that output or the end has not answered yet
};

// tavrel-sim options that show the quit pattern on pins 24 to 27 every
// second for ten seconds: a listener that starts late still sees one.
inline std::vector<std::string> quit_pattern_schedule()
{
    std::vector<std::string> args;
    for (int s = 0; s < 10; ++s) {
        args.push_back("--drive");
        args.push_back(std::to_string(1000 * s + 100) + ":24-27=0");
        args.push_back("--drive");
        args.push_back(std::to_string(1000 * s + 300) + ":24-27=1");
    }
    return args;
}

inline bool exited_with(int status, int code)
{
    return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == code;
}

inline std::string describe(int status)
{
    if (status == -1) return "still running";
    if (WIFEXITED(status)) return "exit " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) return std::string("killed by ") + strsignal(WTERMSIG(status));
    return "status " + std::to_string(status);
}

}  // namespace tavrel_test
