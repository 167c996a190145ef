// The progress window.
//
// Long operations report their progress through the TT* calls below. The
// calls go to a replaceable sink: by default nothing is shown and no cancel
// is ever requested; an application installs its own sink (a progress bar,
// for instance) with SetProgressSink.
//
// The order of calls of one long operation:
//   TTBegLong(true)
//   TTInitProcessWindowNext(title, phases, ticks)
//     per phase: TTSetProcessPhaseString(name), TTSetNextProcessPhase(0, total)
//                or TTBeginNextProcessPhase(title, total);
//                TTSetProcessValue(value)...; TTEndProcessPhase()
//     TTBreak(true) whenever the operation can stop
//   TTCloseProcessWindow(); TTEndLong(true); TTSetProcessPhaseString(nullptr)
// Title numbers name the operation: 84 library enumeration, 118 building the
// type hierarchy, 121 cache synchronisation.
#pragma once

#include <cstdint>

namespace KRUtils {

class IProgressSink {
public:
    virtual ~IProgressSink();
    virtual void BeginLong(bool showCursor);
    virtual void EndLong(bool showCursor);
    // `ticks`: how long the operation may run before the window is shown,
    // in clock ticks.
    virtual void InitProcessWindow(std::int16_t title, std::int16_t phaseCount, std::int32_t ticks);
    virtual void SetNextPhase(std::int16_t phaseTitle, std::int32_t total);
    virtual void BeginNextPhase(std::int16_t phaseTitle, std::int32_t total);
    // Null resets the phase name.
    virtual void SetPhaseString(const char* name);
    virtual void SetValue(std::int32_t value);
    virtual void EndPhase();
    virtual void CloseWindow();
    // True when the user asked to cancel.
    virtual bool IsBreakRequested(bool checkEvents);
};

// Installs `sink` (null: the silent default) and returns the previous one.
IProgressSink* SetProgressSink(IProgressSink* sink) noexcept;
IProgressSink* GetProgressSink() noexcept;

}  // namespace KRUtils

void TTBegLong(bool showCursor);
void TTEndLong(bool showCursor);
void TTInitProcessWindowNext(std::int16_t title, std::int16_t phaseCount, std::int32_t ticks);
void TTSetNextProcessPhase(std::int16_t phaseTitle, std::int32_t total);
void TTBeginNextProcessPhase(std::int16_t phaseTitle, std::int32_t total);
void TTSetProcessPhaseString(const char* name);
void TTSetProcessValue(std::int32_t value);
void TTEndProcessPhase();
void TTCloseProcessWindow();
bool TTBreak(bool checkEvents);
