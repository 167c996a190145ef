// The progress of an enumeration on standard error, and Ctrl-C as its cancel.
//
// The module reports its progress through the sink an application installs
// (KRUtils::IProgressSink): one phase per library with the number of files
// counted in it, then the type hierarchy build. ProgressSink draws that as a
// bar on a terminal (at most ten redraws a second) or as plain lines when
// standard error is a file or a pipe, and answers the module's break query
// with the interrupt flag that InterruptGuard's SIGINT handler sets.
#pragma once

#include "KRUtils/Progress.hpp"

#include <chrono>
#include <cstdint>
#include <string>

namespace Libman {

enum class ProgressMode {
    Quiet,  // nothing is shown
    Lines,  // a line when a phase starts and about every two seconds
    Bar,    // a bar redrawn in place
};

// Bar on a terminal, lines otherwise; `quietUnlessTerminal` gives Quiet
// instead of Lines.
ProgressMode ChooseProgressMode(bool quietUnlessTerminal);

// What one enumeration did, as far as the progress tells it.
struct EnumerationReport {
    std::int32_t error = 0;     // the module's result
    bool cancelled = false;     // Ctrl-C was pressed while it ran
    std::int64_t files = 0;     // files counted in the walked libraries
    std::int32_t phases = 0;    // libraries walked
    double seconds = 0;
};

// While it lives, the first SIGINT sets the interrupt flag and a second one
// ends the process at once with status 130.
class InterruptGuard {
public:
    InterruptGuard();
    ~InterruptGuard();
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;

    static bool Interrupted();
};

class ProgressSink : public KRUtils::IProgressSink {
public:
    explicit ProgressSink(ProgressMode mode);
    ~ProgressSink() override;

    void InitProcessWindow(std::int16_t title, std::int16_t phaseCount, std::int32_t ticks) override;
    void SetNextPhase(std::int16_t phaseTitle, std::int32_t total) override;
    void BeginNextPhase(std::int16_t phaseTitle, std::int32_t total) override;
    void SetPhaseString(const char* name) override;
    void SetValue(std::int32_t value) override;
    void EndPhase() override;
    void CloseWindow() override;
    bool IsBreakRequested(bool checkEvents) override;

    std::int64_t FilesCounted() const { return files_; }
    std::int32_t LibraryPhases() const { return libraryPhases_; }
    bool BreakSeen() const { return breakSeen_; }
    // Takes the bar off its line (it is drawn again with the next value).
    void ClearLine();

private:
    using Clock = std::chrono::steady_clock;
    void StartPhase(const std::string& name, std::int32_t total);
    void Draw(bool force);

    ProgressMode mode_;
    std::string name_;
    std::string pendingName_;
    std::int32_t phase_ = 0;
    std::int32_t phaseCount_ = 0;
    std::int32_t total_ = 0;
    std::int32_t value_ = 0;
    std::int64_t files_ = 0;
    std::int32_t libraryPhases_ = 0;
    bool breakSeen_ = false;
    bool drawn_ = false;
    Clock::time_point phaseStart_;
    Clock::time_point lastDraw_;
};

}  // namespace Libman
