// Runs a built command-line tool as a user would: in a folder of its own,
// with a given standard input, its output and errors collected in files.
#pragma once

#include "Support/TempDir.hpp"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace TestSupport {

struct ToolResult {
    int status = -1;  // the exit status; -1 when the tool was killed by a signal
    std::string out;
    std::string err;
};

// A tool started in the folder `dir` (the scratch files .stdin, .stdout and
// .stderr are kept there while it runs). A run that hangs is ended after 30
// seconds.
class RunningTool {
public:
    RunningTool(const std::string& tool, const std::vector<std::string>& args, const TempDir& dir,
                const std::string& input = "")
        : in_(dir / ".stdin"), out_(dir / ".stdout"), err_(dir / ".stderr")
    {
        WriteFileBytes(in_, input);
        pid_ = ::fork();
        if (pid_ != 0)
            return;
        const int in = ::open(in_.c_str(), O_RDONLY);
        const int out = ::open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        if (::chdir(dir.Path().c_str()) != 0)
            ::_exit(126);
        ::alarm(30);
        std::vector<char*> argv{const_cast<char*>(tool.c_str())};
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(tool.c_str(), argv.data());
        ::_exit(127);
    }
    RunningTool(const RunningTool&) = delete;
    RunningTool& operator=(const RunningTool&) = delete;
    ~RunningTool()
    {
        if (pid_ > 0)
            Wait();
    }

    void Signal(int signal) const { ::kill(pid_, signal); }

    // True once standard error holds `text`; false when the tool ended or
    // 20 seconds passed first.
    bool WaitForError(const std::string& text) const
    {
        for (int i = 0; i < 2000; ++i) {
            if (ReadFileBytes(err_).find(text) != std::string::npos)
                return true;
            siginfo_t info{};
            if (::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
                info.si_pid != 0)
                return false;  // ended, not yet reaped
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    ToolResult Wait()
    {
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        ToolResult r;
        r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.out = ReadFileBytes(out_);
        r.err = ReadFileBytes(err_);
        for (const std::string* path : {&in_, &out_, &err_})
            std::filesystem::remove(*path);
        return r;
    }

private:
    std::string in_, out_, err_;
    pid_t pid_ = -1;
};

inline ToolResult RunTool(const std::string& tool, const std::vector<std::string>& args, const TempDir& dir,
                          const std::string& input = "")
{
    return RunningTool(tool, args, dir, input).Wait();
}

}  // namespace TestSupport
