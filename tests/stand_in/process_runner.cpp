#include "tests/stand_in/process_runner.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace stand_in::testing {

namespace {

// The child's whole environment, made here: between fork and exec a threaded process may neither
// allocate nor take a lock (another thread may hold the allocator's), so setenv there can hang.
std::vector<std::string> mergedEnvironment(const std::map<std::string, std::string>& overrides) {
    std::vector<std::string> entries;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const char* equals = std::strchr(*entry, '=');
        const std::string name(*entry,
                               equals ? static_cast<std::size_t>(equals - *entry) : std::strlen(*entry));
        if (overrides.count(name) == 0)
            entries.emplace_back(*entry);
    }
    for (const auto& [name, value] : overrides)
        entries.push_back(name + "=" + value);
    return entries;
}

std::vector<char*> pointersTo(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (std::string& text : strings)
        pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

void closeFd(int& fd) {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// Writes what the pipe takes now. A child that has closed its stdin must not raise SIGPIPE in the
// test process, so the signal is blocked for the write and a SIGPIPE it raised is taken back.
// False once nothing more can be written.
bool writeSome(int fd, const std::string& input, std::size_t& sent) {
    sigset_t pipeSignal;
    sigset_t previous;
    sigset_t pending;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    ::pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
    sigpending(&pending);
    const bool alreadyPending = sigismember(&pending, SIGPIPE) == 1;
    ssize_t written;
    do {
        written = ::write(fd, input.data() + sent, input.size() - sent);
    } while (written < 0 && errno == EINTR);
    const int error = errno;
    if (written < 0 && error == EPIPE && !alreadyPending) {
        const timespec now{0, 0};
        ::sigtimedwait(&pipeSignal, nullptr, &now);
    }
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (written > 0)
        sent += static_cast<std::size_t>(written);
    return written >= 0 || error == EAGAIN;
}

} // namespace

ProcessResult runProcess(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
                         const std::string& input, std::chrono::milliseconds timeout) {
    ProcessResult result;
    if (argv.empty())
        return result;
    // Everything the child needs exists before it does.
    std::vector<std::string> arguments = argv;
    std::vector<std::string> environment = mergedEnvironment(env);
    const std::vector<char*> argPointers = pointersTo(arguments);
    const std::vector<char*> envPointers = pointersTo(environment);

    // Close-on-exec from birth, so that no other child started meanwhile inherits a copy that would
    // keep a pipe open; the child gets its ends through dup2, which clears the flag.
    int in[2];
    int out[2];
    if (::pipe2(in, O_CLOEXEC) != 0)
        return result;
    if (::pipe2(out, O_CLOEXEC) != 0) {
        closeFd(in[0]);
        closeFd(in[1]);
        return result;
    }
    // Only the parent's ends: the child's stdin and stdout stay blocking.
    ::fcntl(in[1], F_SETFL, O_NONBLOCK);
    ::fcntl(out[0], F_SETFL, O_NONBLOCK);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, out[1], 2);
    // Descriptors other threads opened without close-on-exec (db-lib's sockets, for one) stay here.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t noSignals;
    sigset_t allSignals;
    sigemptyset(&noSignals);
    sigfillset(&allSignals);
    posix_spawnattr_setsigmask(&attributes, &noSignals);
    posix_spawnattr_setsigdefault(&attributes, &allSignals);
    // A group of its own, so that a timeout also kills whatever it started with our pipe as output.
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes,
                             POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
    pid_t pid = -1;
    const int spawnError =
        ::posix_spawnp(&pid, argPointers[0], &actions, &attributes, argPointers.data(), envPointers.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    closeFd(in[0]);
    closeFd(out[1]);
    if (spawnError != 0) {
        closeFd(in[1]);
        closeFd(out[0]);
        result.exitCode = 127; // as a shell reports a program it cannot run
        result.output = argv[0] + ": " + std::strerror(spawnError) + "\n";
        return result;
    }

    // Readable once the child has ended, so that waiting for it is bounded by the deadline too.
    // (The syscall itself: glibc 2.36's <sys/pidfd.h> declares pidfd_open without C linkage.)
    int exitFd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    int inFd = in[1];
    int outFd = out[0];
    std::size_t sent = 0;
    if (input.empty())
        closeFd(inFd);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    char buffer[4096];
    while (outFd >= 0 || exitFd >= 0) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            result.timedOut = true;
            break;
        }
        pollfd fds[3];
        nfds_t count = 0;
        const auto watch = [&](int fd, short events) {
            if (fd >= 0)
                fds[count++] = pollfd{fd, events, 0};
        };
        watch(outFd, POLLIN);
        watch(inFd, POLLOUT);
        watch(exitFd, POLLIN);
        if (::poll(fds, count, static_cast<int>(left.count())) < 0) {
            if (errno == EINTR)
                continue;
            result.timedOut = true;
            break;
        }
        for (nfds_t i = 0; i < count; ++i) {
            if (fds[i].revents == 0)
                continue;
            if (fds[i].fd == outFd) {
                const ssize_t got = ::read(outFd, buffer, sizeof buffer);
                if (got > 0)
                    result.output.append(buffer, static_cast<std::size_t>(got));
                else if (got == 0 || (errno != EAGAIN && errno != EINTR))
                    closeFd(outFd);
            } else if (fds[i].fd == inFd) {
                if (!writeSome(inFd, input, sent) || sent == input.size())
                    closeFd(inFd);
            } else {
                closeFd(exitFd); // ended; reaped below
            }
        }
    }
    closeFd(inFd);
    closeFd(outFd);
    closeFd(exitFd);
    if (result.timedOut)
        ::kill(-pid, SIGKILL); // the group still exists: its leader is not reaped yet
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status))
        result.exitCode = WEXITSTATUS(status);
    return result;
}

} // namespace stand_in::testing
