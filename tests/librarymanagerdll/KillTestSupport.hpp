// Helpers of the tests that kill a writer with SIGKILL at random moments: a
// child process that tells when its work begins, and the window the kill
// moments are drawn from.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <random>
#include <thread>

namespace KillTest {

// Forks a child that runs `work(ready)` and exits with what it returns;
// `ready()` tells the parent that the part worth killing begins. Returns the
// child's id once it did; -1 when the child ended before.
inline pid_t StartChild(const std::function<int(const std::function<void()>& ready)>& work)
{
    int fds[2];
    if (::pipe(fds) != 0)
        return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        ::_exit(work([&] {
            const char byte = 1;
            if (::write(fds[1], &byte, 1) != 1)
                ::_exit(2);
        }));
    }
    ::close(fds[1]);
    char byte = 0;
    const bool started = ::read(fds[0], &byte, 1) == 1;
    ::close(fds[0]);
    return started ? pid : -1;
}

// How long the child takes when left alone, in microseconds; -1 when it did
// not exit with 0.
inline std::int64_t RunUndisturbed(pid_t child)
{
    const auto start = std::chrono::steady_clock::now();
    int status = 0;
    if (child <= 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count();
}

// Kill moments are drawn from [0, window]. The window starts at twice a
// run's time and follows what the runs show: it shrinks after a run that
// finished before its kill and grows after one that was cut short, so about
// half the runs are killed whatever the machine's load does.
class KillWindow {
public:
    explicit KillWindow(std::int64_t runMicroseconds) : window_(2.0 * static_cast<double>(runMicroseconds)) {}

    // Kills `child` at a random moment and waits for it: 1 when the kill cut
    // it short, 0 when it had exited with 0 before, -1 otherwise.
    int Kill(pid_t child, std::mt19937& random)
    {
        std::this_thread::sleep_for(std::chrono::microseconds(static_cast<std::int64_t>(fraction_(random) * window_)));
        ::kill(child, SIGKILL);
        int status = 0;
        if (::waitpid(child, &status, 0) != child)
            return -1;
        const bool cut = WIFSIGNALED(status);
        window_ *= cut ? 1.25 : 0.8;
        return cut ? 1 : (WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : -1);
    }

private:
    double window_;
    std::uniform_real_distribution<double> fraction_{0.0, 1.0};
};

}  // namespace KillTest
