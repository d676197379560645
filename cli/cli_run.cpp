/* Running one of serve's commands: the message in on standard input, the
 * answer out of standard output, and nothing left running past its time. */
#include "cli/cli.h"
#include "cli/cli_sound.h"

#include <algorithm>
#include <chrono>

/* A command whose output has ended gets this long to exit before its
 * output is taken as the answer. */
static const double EXIT_GRACE_S = 1.0;

static double seconds_since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

#ifndef _WIN32

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

/* The running command's process group, for the signal handler. */
static volatile pid_t g_group;

int cli_run_active(void) { return g_group > 0; }

/* The pid of every process whose parent is this one. */
static std::vector<pid_t> our_children(void) {
    std::vector<pid_t> kids;
    DIR *d = opendir("/proc");
    if (!d) return kids;
    const pid_t self = getpid();
    while (struct dirent *e = readdir(d)) {
        pid_t pid = (pid_t)atol(e->d_name);
        if (pid <= 0) continue;
        char path[64], stat[512];
        snprintf(path, sizeof path, "/proc/%d/stat", (int)pid);
        FILE *f = fopen(path, "r");
        if (!f) continue;
        size_t n = fread(stat, 1, sizeof stat - 1, f);
        fclose(f);
        stat[n] = '\0';
        const char *name_end = strrchr(stat, ')'); /* the name may hold anything */
        int ppid = 0;
        if (name_end && sscanf(name_end + 1, " %*c %d", &ppid) == 1 && ppid == self)
            kids.push_back(pid);
    }
    closedir(d);
    return kids;
}

/* Ends the command's process group and, as this process is their
 * subreaper, whatever of it left the group (setsid, double forks): each
 * orphan comes back to us, its own orphans after it. The shell is exited
 * only now, so its group id cannot have been reused. */
static void end_command(pid_t pid, int *st) {
    kill(-pid, SIGKILL);
    kill(pid, SIGKILL);
    while (waitpid(pid, st, 0) < 0 && errno == EINTR) {}
    g_group = 0;
    for (int round = 0; round < 100; round++) {
        std::vector<pid_t> kids = our_children();
        if (kids.empty()) break;
        for (pid_t k : kids) kill(k, SIGKILL);
        for (pid_t k : kids)
            while (waitpid(k, nullptr, 0) < 0 && errno == EINTR) {}
    }
    prctl(PR_SET_CHILD_SUBREAPER, 0);
}

/* Reads what the command's output holds now (a bounded share, so a
 * command that never stops printing cannot hold us) into out, kept to
 * max_out; closes it and returns 1 at its end. */
static int read_out(int *fd, size_t max_out, std::string *out) {
    char buf[4096];
    for (int k = 0; k < 64; k++) {
        ssize_t n = read(*fd, buf, sizeof buf);
        if (n > 0) {
            if (out->size() < max_out) out->append(buf, std::min((size_t)n, max_out - out->size()));
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) return 0;
        close(*fd);
        *fd = -1;
        return 1;
    }
    return 0;
}

int cli_run(const std::string &command, const std::string &input, double timeout_s, size_t max_out,
            std::string *out, int *exit_status, std::string *why) {
    out->clear();
    int in[2], from[2];
    if (pipe2(in, O_CLOEXEC) != 0) {
        *why = strerror(errno);
        return RUN_CANNOT;
    }
    if (pipe2(from, O_CLOEXEC) != 0) {
        *why = strerror(errno);
        close(in[0]);
        close(in[1]);
        return RUN_CANNOT;
    }
    /* A command that exits without reading its input must not end us. */
    signal(SIGPIPE, SIG_IGN);
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    const char *argv[] = {"sh", "-c", command.c_str(), nullptr};
    pid_t pid = fork();
    if (pid == 0) {
        /* A group of its own: it ends with all it started. */
        setpgid(0, 0);
        signal(SIGPIPE, SIG_DFL);
        dup2(in[0], 0);
        dup2(from[1], 1);
        execve("/bin/sh", (char *const *)argv, environ);
        _exit(127);
    }
    close(in[0]);
    close(from[1]);
    if (pid < 0) {
        *why = strerror(errno);
        close(in[1]);
        close(from[0]);
        prctl(PR_SET_CHILD_SUBREAPER, 0);
        return RUN_CANNOT;
    }
    setpgid(pid, pid); /* also here: the child may not have run yet */
    g_group = pid;
    fcntl(in[1], F_SETFL, O_NONBLOCK);
    int to_child = in[1], from_child = from[0];
    size_t sent = 0;
    if (input.empty()) {
        close(to_child);
        to_child = -1;
    }
    fcntl(from_child, F_SETFL, O_NONBLOCK);
    auto t0 = std::chrono::steady_clock::now();
    double eof_at = -1;
    int outcome = -1, st = 0, exited = 0;
    /* Until it exits, or its output has ended and it does not exit soon
     * after: a child it left in the background holding the output open
     * does not hold the answer back, nor does one that closed it and
     * lingers. */
    while (outcome < 0) {
        if (cli_interrupted()) outcome = RUN_INTERRUPTED;
        double left = timeout_s - seconds_since(t0);
        if (outcome < 0 && left <= 0) outcome = RUN_TIMED_OUT;
        if (outcome >= 0) break;
        siginfo_t info;
        info.si_pid = 0; /* seen to exit, reaped by end_command */
        if (waitid(P_PID, (id_t)pid, &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid) {
            exited = 1;
            break;
        }
        if (eof_at >= 0 && seconds_since(t0) - eof_at > EXIT_GRACE_S) break;
        int wait_ms = left < 0.1 ? (int)(left * 1000) + 1 : 100;
        if (from_child < 0) {
            poll(nullptr, 0, wait_ms < 10 ? wait_ms : 10);
            continue;
        }
        struct pollfd fds[2] = {{from_child, POLLIN, 0}, {to_child, POLLOUT, 0}};
        if (poll(fds, to_child >= 0 ? 2 : 1, wait_ms < 20 ? wait_ms : 20) < 0 && errno != EINTR) {
            *why = strerror(errno);
            outcome = RUN_CANNOT;
            break;
        }
        if (to_child >= 0 && fds[1].revents) {
            ssize_t n = write(to_child, input.data() + sent, input.size() - sent);
            if (n > 0) sent += (size_t)n;
            /* Done, or the command does not read it (EPIPE): either way, no more. */
            if (sent == input.size() || (n < 0 && errno != EAGAIN && errno != EINTR)) {
                close(to_child);
                to_child = -1;
            }
        }
        if (fds[0].revents && read_out(&from_child, max_out, out) && eof_at < 0)
            eof_at = seconds_since(t0);
    }
    /* What it printed before it exited is in the pipe already. */
    if (exited && from_child >= 0) read_out(&from_child, max_out, out);
    /* Whatever it left running in the background ends with it. */
    end_command(pid, &st);
    if (to_child >= 0) close(to_child);
    if (from_child >= 0) close(from_child);
    if (outcome >= 0) return outcome;
    if (!exited) { /* its output ended long ago: that was its answer */
        *exit_status = 0;
        return RUN_DONE;
    }
    *exit_status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    return *exit_status == 0 ? RUN_DONE : RUN_FAILED;
}

#else

#include <windows.h>
#include <atomic>
#include <thread>

int cli_run_active(void) { return 0; } /* the job's processes end with ours */

int cli_run(const std::string &command, const std::string &input, double timeout_s, size_t max_out,
            std::string *out, int *exit_status, std::string *why) {
    out->clear();
    SECURITY_ATTRIBUTES sa = {sizeof sa, NULL, TRUE};
    HANDLE in_r = NULL, in_w = NULL, out_r = NULL, out_w = NULL;
    if (!CreatePipe(&in_r, &in_w, &sa, 65536) || !CreatePipe(&out_r, &out_w, &sa, 0)) {
        *why = "cannot make a pipe";
        if (in_r) CloseHandle(in_r);
        if (in_w) CloseHandle(in_w);
        return RUN_CANNOT;
    }
    SetHandleInformation(in_w, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(out_r, HANDLE_FLAG_INHERIT, 0);
    /* A job holds the command and all it starts, so that they all end with
     * it, and with us; without one nothing is started. */
    HANDLE job = CreateJobObjectA(NULL, NULL);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limit = {};
    limit.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!job ||
        !SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limit, sizeof limit)) {
        *why = "cannot make a job object (error " + std::to_string(GetLastError()) + ")";
        CloseHandle(in_r);
        CloseHandle(in_w);
        CloseHandle(out_r);
        CloseHandle(out_w);
        if (job) CloseHandle(job);
        return RUN_CANNOT;
    }

    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = in_r;
    si.hStdOutput = out_w;
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    std::string line = "cmd.exe /s /c \"" + command + "\"";
    PROCESS_INFORMATION pi = {};
    BOOL started = CreateProcessA(NULL, &line[0], NULL, NULL, TRUE,
                                  CREATE_SUSPENDED | CREATE_NO_WINDOW, NULL, NULL, &si, &pi);
    CloseHandle(in_r);
    CloseHandle(out_w);
    if (!started) {
        *why = "cannot start cmd.exe (error " + std::to_string(GetLastError()) + ")";
        CloseHandle(in_w);
        CloseHandle(out_r);
        CloseHandle(job);
        return RUN_CANNOT;
    }
    if (!AssignProcessToJobObject(job, pi.hProcess)) {
        *why = "cannot hold the command in a job (error " + std::to_string(GetLastError()) + ")";
        TerminateProcess(pi.hProcess, 1);
        WaitForSingleObject(pi.hProcess, 5000);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
        CloseHandle(in_w);
        CloseHandle(out_r);
        CloseHandle(job);
        return RUN_CANNOT;
    }
    ResumeThread(pi.hThread);
    CloseHandle(pi.hThread);

    /* A message is a few kilobytes at most and the pipe holds 64: this write
     * does not wait for the command to read. */
    DWORD written = 0;
    if (!input.empty()) WriteFile(in_w, input.data(), (DWORD)input.size(), &written, NULL);
    CloseHandle(in_w);
    std::atomic<int> read_done(0);
    std::thread reader([&] {
        char buf[4096];
        DWORD n = 0;
        while (ReadFile(out_r, buf, sizeof buf, &n, NULL) && n > 0)
            if (out->size() < max_out)
                out->append(buf, n < max_out - out->size() ? n : max_out - out->size());
        read_done = 1;
    });
    auto t0 = std::chrono::steady_clock::now();
    double settled_at = -1;
    int outcome = -1;
    while (outcome < 0) {
        int exited = WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0;
        if (exited && read_done) break;
        /* It has exited and the reader has all it printed, or its output
         * ended and it lingers: a child holding the pipe open, or the
         * command itself, does not hold the answer back. */
        DWORD avail = 1;
        if (exited && (!PeekNamedPipe(out_r, NULL, 0, NULL, &avail, NULL) || avail == 0)) break;
        if (read_done && settled_at < 0) settled_at = seconds_since(t0);
        if (settled_at >= 0 && seconds_since(t0) - settled_at > EXIT_GRACE_S) break;
        if (cli_interrupted())
            outcome = RUN_INTERRUPTED;
        else if (seconds_since(t0) >= timeout_s)
            outcome = RUN_TIMED_OUT;
        else
            Sleep(20);
    }
    int lingered = outcome < 0 && WaitForSingleObject(pi.hProcess, 0) != WAIT_OBJECT_0;
    /* Whatever it left running in the background ends with it. */
    TerminateJobObject(job, 1);
    if (outcome >= 0 || !read_done) {
        if (outcome >= 0 || lingered) TerminateProcess(pi.hProcess, 1);
        /* Whatever the job could not reach must not hold the threads. */
        CancelIoEx(out_r, NULL);
    }
    reader.join();
    WaitForSingleObject(pi.hProcess, 5000);
    DWORD code = 1;
    GetExitCodeProcess(pi.hProcess, &code);
    if (lingered) code = 0; /* its output ended long ago: that was its answer */
    CloseHandle(pi.hProcess);
    CloseHandle(out_r);
    CloseHandle(job);
    if (outcome >= 0) return outcome;
    *exit_status = (int)code;
    return code == 0 ? RUN_DONE : RUN_FAILED;
}

#endif
