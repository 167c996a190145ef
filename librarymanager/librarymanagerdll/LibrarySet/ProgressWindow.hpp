// The progress window of one long operation of a set (an enumeration, a
// synchronisation), held for the operation's duration. Internal.
#pragma once

#include "KR/Time.hpp"
#include "KRUtils/Progress.hpp"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <utility>

namespace LM {

// Opens the window on construction: the long-operation cursor, then a window
// with `title` and `phases` phases (clamped to what the window can count),
// shown after two seconds. Close() closes it; when an exception or an early
// return ends the operation first, the destructor closes it, so that an
// application is never left with a window no call will close.
class ProgressWindow {
public:
    ProgressWindow(std::int16_t title, std::int32_t phases)
    {
        ::TTBegLong(true);
        open_ = true;
        ::TTInitProcessWindowNext(
            title, static_cast<std::int16_t>(std::min<std::int32_t>(phases, std::numeric_limits<std::int16_t>::max())),
            2 * KR::clockManager.GetTicksPerSecond());
    }
    ProgressWindow(const ProgressWindow&) = delete;
    ProgressWindow& operator=(const ProgressWindow&) = delete;
    ~ProgressWindow()
    {
        try {
            Close();
        } catch (...) {
            // A sink that throws while closing must not hide what ended the
            // operation.
        }
    }

    void Close()
    {
        if (!std::exchange(open_, false))
            return;
        ::TTCloseProcessWindow();
        ::TTEndLong(true);
        ::TTSetProcessPhaseString(nullptr);
    }

private:
    bool open_ = false;
};

}  // namespace LM
