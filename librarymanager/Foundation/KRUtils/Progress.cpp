#include "KRUtils/Progress.hpp"

#include <atomic>

namespace KRUtils {

// The default sink shows nothing and never asks to cancel.
IProgressSink::~IProgressSink() = default;
void IProgressSink::BeginLong(bool) {}
void IProgressSink::EndLong(bool) {}
void IProgressSink::InitProcessWindow(std::int16_t, std::int16_t, std::int32_t) {}
void IProgressSink::SetNextPhase(std::int16_t, std::int32_t) {}
void IProgressSink::BeginNextPhase(std::int16_t, std::int32_t) {}
void IProgressSink::SetPhaseString(const char*) {}
void IProgressSink::SetValue(std::int32_t) {}
void IProgressSink::EndPhase() {}
void IProgressSink::CloseWindow() {}
bool IProgressSink::IsBreakRequested(bool)
{
    return false;
}

namespace {

// Reached through functions with local statics so that progress calls made
// during another library's static initialisation find them ready.
IProgressSink& SilentSink() noexcept
{
    static IProgressSink silent;
    return silent;
}

std::atomic<IProgressSink*>& CurrentSink() noexcept
{
    static std::atomic<IProgressSink*> current{nullptr};
    return current;
}

}  // namespace

IProgressSink* SetProgressSink(IProgressSink* sink) noexcept
{
    IProgressSink* previous = CurrentSink().exchange(sink);
    return previous != nullptr ? previous : &SilentSink();
}

IProgressSink* GetProgressSink() noexcept
{
    IProgressSink* sink = CurrentSink().load();
    return sink != nullptr ? sink : &SilentSink();
}

}  // namespace KRUtils

void TTBegLong(bool showCursor)
{
    KRUtils::GetProgressSink()->BeginLong(showCursor);
}

void TTEndLong(bool showCursor)
{
    KRUtils::GetProgressSink()->EndLong(showCursor);
}

void TTInitProcessWindowNext(std::int16_t title, std::int16_t phaseCount, std::int32_t ticks)
{
    KRUtils::GetProgressSink()->InitProcessWindow(title, phaseCount, ticks);
}

void TTSetNextProcessPhase(std::int16_t phaseTitle, std::int32_t total)
{
    KRUtils::GetProgressSink()->SetNextPhase(phaseTitle, total);
}

void TTBeginNextProcessPhase(std::int16_t phaseTitle, std::int32_t total)
{
    KRUtils::GetProgressSink()->BeginNextPhase(phaseTitle, total);
}

void TTSetProcessPhaseString(const char* name)
{
    KRUtils::GetProgressSink()->SetPhaseString(name);
}

void TTSetProcessValue(std::int32_t value)
{
    KRUtils::GetProgressSink()->SetValue(value);
}

void TTEndProcessPhase()
{
    KRUtils::GetProgressSink()->EndPhase();
}

void TTCloseProcessWindow()
{
    KRUtils::GetProgressSink()->CloseWindow();
}

bool TTBreak(bool checkEvents)
{
    return KRUtils::GetProgressSink()->IsBreakRequested(checkEvents);
}
