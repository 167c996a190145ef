// Reading the first bytes of a library's files on a second thread while the
// walk stores the files before them. Internal.
//
// The walk hands over the files of each real folder it enters (Post) and,
// when it comes to a file, asks for what was read of it (Take). The reader
// thread opens, reads and closes the files of the newest folder posted, in
// the walk's order, into a small ring of slots; it never reads a file that
// the walk has reached or passed. A file that the reader did not read is
// read by the walk itself, as without a reader, so the reader changes when a
// file is read, never what is made of it. The reader only reads: nothing it
// did becomes visible except through a slot that the walk takes.
//
// The handoff is one mutex: a slot's bytes are written by the reader only
// while the slot is marked as being read, and read by the walk only after it
// found the slot filled and marked it taken, each mark made under the mutex.
// The walk never waits for the reader; the reader waits (on a condition
// variable) for work or free slots.
#pragma once

#include "IO/Location.hpp"
#include "LPF/PartFile.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace LM {

// Whether enumerations read ahead. Auto: where it is safe and a second
// processor is there. For tests: Off; On (also on one processor); Every, as
// On, but the walk waits for the reader to read each file instead of
// reading the files it comes to first itself.
enum class ReadAheadMode : std::uint8_t { Auto, Off, On, Every };
void SetReadAheadMode(ReadAheadMode mode) noexcept;
ReadAheadMode GetReadAheadMode() noexcept;
// How many files' first bytes the walks of this process took from a reader.
std::uint64_t ReadAheadTakenCount() noexcept;

class ReadAhead {
public:
    static constexpr std::size_t SlotCount = 32;
    // The reader starts no read of a file fewer than Lead files after the
    // one the walk is at.
    static constexpr std::uint32_t Lead = 3;
    // How long the reader watches for work before it sleeps.
    static constexpr std::chrono::microseconds SpinTime{200};

    // A read made ahead; valid from Take until Release.
    struct Slot {
        enum class State : std::uint8_t { Free, Reading, Filled, Taken };
        State state = State::Free;
        std::uint32_t batch = 0;
        std::uint32_t index = 0;
        LPF::PartFileHead head;
        std::array<unsigned char, LPF::PartFileHeadSize> bytes{};
    };

    // A reader, when the active platform is the system's and the mode (and
    // the number of processors) allow one; null otherwise or when no thread
    // can be started.
    static std::unique_ptr<ReadAhead> Start();

    ReadAhead();
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;
    // Stops the reader, waits for it and closes what it holds.
    ~ReadAhead();

    // The files of the real folder open as `folderFd`, in the order in which
    // the walk will come to them. Returns the batch number to name them by;
    // 0 when nothing will be read ahead for them.
    std::uint32_t Post(int folderFd, const std::vector<const IO::Name*>& files) noexcept;
    // The walk has left the folder of `batch`.
    void Retire(std::uint32_t batch) noexcept;
    // What was read of file `index` of `batch`, which the walk knows as
    // `name`. Null when the reader has not read it (yet): the walk then reads
    // it itself, and the reader will not read it any more. Never waits.
    const Slot* Take(std::uint32_t batch, std::uint32_t index, const IO::Name& name) noexcept;
    void Release(const Slot* slot) noexcept;

private:
    struct Batch {
        std::uint32_t id = 0;
        int fd = -1;              // a descriptor of its own of the folder; -1 once done with
        std::string names;        // the names, each followed by a zero byte
        std::vector<std::uint32_t> starts;
        std::uint32_t next = 0;   // the first file the reader has not passed
        std::uint32_t walked = 0;  // the files the walk has come to
        bool retired = false;
        const char* Name(std::uint32_t i) const noexcept { return names.c_str() + starts[i]; }
        // Files closer to the walk than Lead are left to it: it would come
        // to them before their read is done and read them itself.
        std::uint32_t FirstToRead(bool noLead) const noexcept
        {
            return noLead ? std::max(next, walked - (walked > 0 ? 1 : 0)) : std::max(next, walked + Lead - 1);
        }
    };

    void Run() noexcept;
    Batch* Find(std::uint32_t id) noexcept;
    // The batch to read from next (closing what is done with); null: none.
    Batch* NextBatch() noexcept;
    void FreeSlotsOf(std::uint32_t batch, std::uint32_t below) noexcept;
    // Under the mutex: wakes a waiting reader when it has something to do.
    void WakeReader(bool slotFreed) noexcept;

    std::mutex mutex_;
    std::condition_variable readerWakes_;  // work, free slots or the stop
    bool readerWaiting_ = false;
    bool waitForReader_ = false;  // ReadAheadMode::Every
    std::condition_variable slotDone_;  // the walk waits for the reader (Every)
    bool walkWaiting_ = false;
    // Counts the changes that may give the reader work (posts, retirements,
    // freed slots, the stop), so that it can watch for one without the mutex.
    std::atomic<std::uint64_t> changes_{0};
    bool stop_ = false;
    std::uint32_t lastId_ = 0;
    std::vector<std::unique_ptr<Batch>> batches_;
    std::array<Slot, SlotCount> slots_;
    std::thread thread_;
};

}  // namespace LM
