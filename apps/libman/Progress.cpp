#include "Progress.hpp"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include <unistd.h>

namespace Libman {

namespace {

volatile std::sig_atomic_t interrupted = 0;

extern "C" void OnInterrupt(int)
{
    if (interrupted != 0) {
        // The second Ctrl-C: the user does not want to wait for the
        // enumeration to wind down.
        static const char message[] = "\nlibman: interrupted\n";
        [[maybe_unused]] const ssize_t ignored = ::write(STDERR_FILENO, message, sizeof message - 1);
        ::_exit(130);
    }
    interrupted = 1;
}

struct sigaction previousAction;

// Title of the hierarchy build's phase.
constexpr std::int16_t HierarchyPhaseTitle = 118;
constexpr auto RedrawInterval = std::chrono::milliseconds(100);
constexpr auto LineInterval = std::chrono::seconds(2);
constexpr int BarWidth = 24;

std::string Duration(double seconds)
{
    const long s = static_cast<long>(seconds + 0.5);
    char text[32];
    if (s >= 3600)
        std::snprintf(text, sizeof text, "%ldh%02ldm", s / 3600, s / 60 % 60);
    else if (s >= 60)
        std::snprintf(text, sizeof text, "%ldm%02lds", s / 60, s % 60);
    else
        std::snprintf(text, sizeof text, "%lds", s);
    return text;
}

}  // namespace

ProgressMode ChooseProgressMode(bool quietUnlessTerminal)
{
    if (::isatty(STDERR_FILENO) == 1)
        return ProgressMode::Bar;
    return quietUnlessTerminal ? ProgressMode::Quiet : ProgressMode::Lines;
}

InterruptGuard::InterruptGuard()
{
    interrupted = 0;
    struct sigaction action {};
    action.sa_handler = &OnInterrupt;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, &previousAction);
}

InterruptGuard::~InterruptGuard()
{
    ::sigaction(SIGINT, &previousAction, nullptr);
}

bool InterruptGuard::Interrupted()
{
    return interrupted != 0;
}

ProgressSink::ProgressSink(ProgressMode mode) : mode_(mode) {}

ProgressSink::~ProgressSink()
{
    ClearLine();
}

void ProgressSink::InitProcessWindow(std::int16_t, std::int16_t phaseCount, std::int32_t)
{
    phaseCount_ = phaseCount;
    phase_ = 0;
}

void ProgressSink::SetPhaseString(const char* name)
{
    pendingName_ = name != nullptr ? name : "";
}

void ProgressSink::SetNextPhase(std::int16_t, std::int32_t total)
{
    ++libraryPhases_;
    files_ += total > 0 ? total : 0;
    StartPhase(pendingName_, total);
}

void ProgressSink::BeginNextPhase(std::int16_t phaseTitle, std::int32_t total)
{
    StartPhase(phaseTitle == HierarchyPhaseTitle ? "type hierarchy" : "finishing", total);
}

void ProgressSink::StartPhase(const std::string& name, std::int32_t total)
{
    ++phase_;
    name_ = name;
    total_ = total;
    value_ = 0;
    phaseStart_ = Clock::now();
    if (mode_ == ProgressMode::Lines) {
        std::fprintf(stderr, "libman: [%d/%d] %s: %d %s\n", phase_, std::max(phaseCount_, phase_), name_.c_str(),
                     total_, name_ == "type hierarchy" ? "parts" : "files");
        lastDraw_ = phaseStart_;
    } else {
        Draw(true);
    }
}

void ProgressSink::SetValue(std::int32_t value)
{
    value_ = value;
    Draw(false);
}

void ProgressSink::EndPhase()
{
    value_ = total_;
    Draw(true);
}

void ProgressSink::CloseWindow()
{
    ClearLine();
}

bool ProgressSink::IsBreakRequested(bool)
{
    if (InterruptGuard::Interrupted() && !breakSeen_) {
        breakSeen_ = true;
        ClearLine();
        std::fprintf(stderr, "libman: cancelling: the libraries that are not vital are skipped "
                             "(Ctrl-C again to quit at once)\n");
    }
    return breakSeen_;
}

void ProgressSink::Draw(bool force)
{
    if (mode_ == ProgressMode::Quiet)
        return;
    const Clock::time_point now = Clock::now();
    if (!force && now - lastDraw_ < (mode_ == ProgressMode::Bar ? RedrawInterval : LineInterval))
        return;
    lastDraw_ = now;
    const double elapsed = std::chrono::duration<double>(now - phaseStart_).count();
    const double rate = elapsed > 0.2 ? value_ / elapsed : 0;
    std::string left;
    if (rate > 0 && total_ > value_)
        left = ", " + Duration((total_ - value_) / rate) + " left";
    char figures[96];
    std::snprintf(figures, sizeof figures, "%d/%d, %.0f/s%s", value_, total_, rate, left.c_str());
    if (mode_ == ProgressMode::Lines) {
        if (!force)
            std::fprintf(stderr, "libman: [%d/%d] %s: %s\n", phase_, std::max(phaseCount_, phase_), name_.c_str(),
                         figures);
        return;
    }
    const int filled = total_ > 0 ? static_cast<int>(static_cast<double>(value_) * BarWidth / total_) : 0;
    std::string bar(static_cast<std::size_t>(std::min(filled, BarWidth)), '#');
    bar.resize(BarWidth, '-');
    std::string name = name_.size() > 24 ? name_.substr(0, 23) + "~" : name_;
    std::fprintf(stderr, "\r[%d/%d] %-24s [%s] %s\033[K", phase_, std::max(phaseCount_, phase_), name.c_str(),
                 bar.c_str(), figures);
    std::fflush(stderr);
    drawn_ = true;
}

void ProgressSink::ClearLine()
{
    if (drawn_) {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
        drawn_ = false;
    }
}

}  // namespace Libman
