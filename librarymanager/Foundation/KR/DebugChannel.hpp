// The debug channel, on which caught exceptions are printed.
#pragma once

#include "KR/Channel.hpp"

namespace KR {

// A text channel that writes to stderr unless it is redirected.
class DebugChannel : public OChannel {
public:
    DebugChannel() noexcept : OChannel(textOProtocol) {}
    ErrorCode WriteBin(const void* data, std::size_t size, std::size_t* written = nullptr) override;
    ErrorCode Flush() override;

    // Sends everything to `target` from now on (null: back to stderr);
    // returns the previous target.
    OChannel* Redirect(OChannel* target) noexcept;
    OChannel* GetTarget() const noexcept { return target_; }

private:
    OChannel* target_ = nullptr;
};

extern DebugChannel dbChannel;

// Captures what is printed on dbChannel while it lives (for tests and for
// tools that show such messages their own way).
class DebugCapture {
public:
    DebugCapture() noexcept : previous_(dbChannel.Redirect(&buffer_)) {}
    ~DebugCapture() { dbChannel.Redirect(previous_); }
    DebugCapture(const DebugCapture&) = delete;
    DebugCapture& operator=(const DebugCapture&) = delete;

    const std::string& GetText() const noexcept { return buffer_.GetText(); }
    void Clear() noexcept { buffer_.Clear(); }

private:
    StringOChannel buffer_;
    OChannel* previous_;
};

}  // namespace KR
