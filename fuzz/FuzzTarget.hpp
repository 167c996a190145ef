// What every fuzz target provides and what the targets share.
//
// A target is one .cpp file that defines LLVMFuzzerTestOneInput (the entry
// point libFuzzer calls with each input) and LmFuzz::Seeds (valid inputs
// built with the project's own writers, from which the replay driver's
// mutations start and with which a libFuzzer corpus is begun). A target
// returns 0 for every input; an input that the code under test refuses is
// an ordinary outcome. A crash, a sanitizer report, an uncaught exception or
// a failed Expect is a bug.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace LmFuzz {

// The seeds of the target; defined by each target.
std::vector<std::string> Seeds();

// Stops the process with a message when `condition` is false: a property
// that must hold for every input (a round trip, for instance) did not.
void Expect(bool condition, const char* what);

// A folder of this process for the files a target reads, made on first use
// and removed with its content when the process ends normally. Each run
// empties it again with ClearScratchFolder, so inputs leave no files.
const std::string& ScratchFolder();
void ClearScratchFolder();

// Reads the bytes of an input from the front, giving zeros when they run out.
class Bytes {
public:
    Bytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    std::size_t Remaining() const noexcept { return size_ - position_; }
    std::uint8_t Byte() noexcept { return position_ < size_ ? data_[position_++] : 0; }
    std::uint32_t Word() noexcept
    {
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v |= std::uint32_t{Byte()} << (8 * i);
        return v;
    }
    // The rest of the input.
    std::string_view Rest() noexcept
    {
        std::string_view rest(reinterpret_cast<const char*>(data_) + position_, size_ - position_);
        position_ = size_;
        return rest;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t position_ = 0;
};

}  // namespace LmFuzz
