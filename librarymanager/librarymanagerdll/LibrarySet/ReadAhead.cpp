// Reading the first bytes of a library's files on a second thread.
#include "LibrarySet/ReadAhead.hpp"

#include "IO/File.hpp"
#include "IO/Platform.hpp"
#include "PartTable/PartTable.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <limits>
#include <new>

namespace LM {

namespace {

std::atomic<ReadAheadMode> readAheadMode{ReadAheadMode::Auto};
std::atomic<std::uint64_t> takenCount{0};

// Spinning politely: lets the other hardware thread of the core run.
inline void Pause() noexcept
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

}  // namespace

void SetReadAheadMode(ReadAheadMode mode) noexcept
{
    readAheadMode.store(mode, std::memory_order_relaxed);
}

ReadAheadMode GetReadAheadMode() noexcept
{
    return readAheadMode.load(std::memory_order_relaxed);
}

std::uint64_t ReadAheadTakenCount() noexcept
{
    return takenCount.load(std::memory_order_relaxed);
}

std::unique_ptr<ReadAhead> ReadAhead::Start()
{
    const ReadAheadMode mode = GetReadAheadMode();
    // Another platform (a test's) wants its calls made in the walk's order,
    // on the walk's thread.
    if (mode == ReadAheadMode::Off || !IO::IsSystemPlatformActive())
        return nullptr;
    if (mode == ReadAheadMode::Auto && std::thread::hardware_concurrency() < 2)
        return nullptr;
    try {
        auto reader = std::make_unique<ReadAhead>();
        reader->waitForReader_ = mode == ReadAheadMode::Every;
        reader->thread_ = std::thread(&ReadAhead::Run, reader.get());
        return reader;
    } catch (...) {
        return nullptr;  // no thread: the walk reads every file itself
    }
}

ReadAhead::ReadAhead() = default;

ReadAhead::~ReadAhead()
{
    if (thread_.joinable()) {
        {
            const std::lock_guard lock(mutex_);
            stop_ = true;
            changes_.fetch_add(1, std::memory_order_relaxed);
            readerWakes_.notify_one();
        }
        thread_.join();
    }
    for (const auto& batch : batches_)
        if (batch->fd >= 0)
            IO::SystemPlatform().Close(batch->fd);
}

std::uint32_t ReadAhead::Post(int folderFd, const std::vector<const IO::Name*>& files) noexcept
{
    if (folderFd < 0 || files.empty())
        return 0;
    std::unique_ptr<Batch> batch;
    try {
        batch = std::make_unique<Batch>();
        batch->starts.reserve(files.size());
        for (const IO::Name* name : files) {
            batch->starts.push_back(static_cast<std::uint32_t>(batch->names.size()));
            batch->names += name->Std();
            batch->names += '\0';
        }
    } catch (const std::bad_alloc&) {
        return 0;
    }
    // The reader's own descriptor: the walk closes its own when it leaves.
    batch->fd = IO::SystemPlatform().Dup(folderFd);
    if (batch->fd < 0)
        return 0;
    std::uint32_t id = 0;
    {
        const std::lock_guard lock(mutex_);
        try {
            batches_.push_back(std::move(batch));
        } catch (const std::bad_alloc&) {
            IO::SystemPlatform().Close(batch->fd);
            return 0;
        }
        id = ++lastId_;
        batches_.back()->id = id;
        // The walk comes back to the folders it is in only after this one:
        // slots they hold would keep the reader from this one.
        for (Slot& slot : slots_)
            if (slot.state == Slot::State::Filled)
                slot.state = Slot::State::Free;
        WakeReader(false);
    }
    return id;
}

void ReadAhead::Retire(std::uint32_t batch) noexcept
{
    if (batch == 0)
        return;
    {
        const std::lock_guard lock(mutex_);
        if (Batch* b = Find(batch))
            b->retired = true;
        FreeSlotsOf(batch, std::numeric_limits<std::uint32_t>::max());
        WakeReader(false);
    }
}

const ReadAhead::Slot* ReadAhead::Take(std::uint32_t batch, std::uint32_t index, const IO::Name& name) noexcept
{
    if (batch == 0)
        return nullptr;
    std::unique_lock lock(mutex_);
    Batch* b = Find(batch);
    if (b == nullptr)
        return nullptr;
    // Files that the walk passed without taking them are of no use any more.
    FreeSlotsOf(batch, index);
    b->walked = std::max(b->walked, index + 1);
    Slot* found = nullptr;
    for (;;) {
        found = nullptr;
        for (Slot& slot : slots_)
            if (slot.state != Slot::State::Free && slot.batch == batch && slot.index == index)
                found = &slot;
        // Otherwise the walk reads this file itself rather than wait (a
        // wait costs more than the read on this scale); the reader goes on
        // Lead files ahead of it.
        const bool pending = found != nullptr ? found->state == Slot::State::Reading : b->next <= index;
        if (!waitForReader_ || !pending)
            break;
        WakeReader(false);
        walkWaiting_ = true;
        slotDone_.wait(lock);
        walkWaiting_ = false;
    }
    if (found == nullptr || found->state == Slot::State::Reading)
        return nullptr;
    if (index >= b->starts.size() || name.Std() != b->Name(index)) {
        found->state = Slot::State::Free;
        return nullptr;
    }
    found->state = Slot::State::Taken;
    takenCount.fetch_add(1, std::memory_order_relaxed);
    return found;
}

void ReadAhead::Release(const Slot* slot) noexcept
{
    if (slot == nullptr)
        return;
    const std::lock_guard lock(mutex_);
    const_cast<Slot*>(slot)->state = Slot::State::Free;
    WakeReader(true);
}

void ReadAhead::WakeReader(bool slotFreed) noexcept
{
    changes_.fetch_add(1, std::memory_order_relaxed);
    if (!readerWaiting_)
        return;
    // A reader that waits for free slots is woken when a quarter of them
    // are free, not for every one: each wake costs a switch of threads.
    if (slotFreed) {
        std::size_t free = 0;
        for (const Slot& slot : slots_)
            free += slot.state == Slot::State::Free ? 1 : 0;
        if (free < SlotCount / 4)
            return;
    }
    readerWakes_.notify_one();
}

ReadAhead::Batch* ReadAhead::Find(std::uint32_t id) noexcept
{
    for (auto it = batches_.rbegin(); it != batches_.rend(); ++it)
        if ((*it)->id == id)
            return it->get();
    return nullptr;
}

void ReadAhead::FreeSlotsOf(std::uint32_t batch, std::uint32_t below) noexcept
{
    for (Slot& slot : slots_)
        if (slot.state == Slot::State::Filled && slot.batch == batch && slot.index < below)
            slot.state = Slot::State::Free;
}

ReadAhead::Batch* ReadAhead::NextBatch() noexcept
{
    // Runs under the mutex on the reader's thread, between two reads: no
    // descriptor closed here is in use.
    for (const auto& batch : batches_)
        if ((batch->retired || batch->FirstToRead(waitForReader_) >= batch->starts.size()) && batch->fd >= 0) {
            IO::SystemPlatform().Close(batch->fd);
            batch->fd = -1;
        }
    std::erase_if(batches_, [](const std::unique_ptr<Batch>& batch) { return batch->retired; });
    // The walk is in the folder posted last that it has not left.
    for (auto it = batches_.rbegin(); it != batches_.rend(); ++it)
        if ((*it)->fd >= 0)
            return it->get();
    return nullptr;
}

void ReadAhead::Run() noexcept
{
    std::unique_lock lock(mutex_);
    for (;;) {
        Batch* batch = nullptr;
        Slot* slot = nullptr;
        for (;;) {
            if (stop_)
                return;
            batch = NextBatch();
            slot = nullptr;
            for (Slot& s : slots_)
                if (s.state == Slot::State::Free) {
                    slot = &s;
                    break;
                }
            if (batch != nullptr && slot != nullptr)
                break;
            // The walk posts the next folder or frees slots within
            // microseconds as a rule: watch for that for a moment before
            // sleeping, since being woken costs the walk a system call and
            // the reader the time until it runs again.
            const std::uint64_t seen = changes_.load(std::memory_order_relaxed);
            lock.unlock();
            const auto until = std::chrono::steady_clock::now() + SpinTime;
            while (changes_.load(std::memory_order_relaxed) == seen && std::chrono::steady_clock::now() < until)
                Pause();
            lock.lock();
            if (changes_.load(std::memory_order_relaxed) != seen)
                continue;
            readerWaiting_ = true;
            readerWakes_.wait(lock);
            readerWaiting_ = false;
        }
        const std::uint32_t index = batch->FirstToRead(waitForReader_);
        batch->next = index + 1;
        const char* name = batch->Name(index);
        // Never stored, so not read ahead.
        if (IsMetadataFileName(name)) {
            if (walkWaiting_)
                slotDone_.notify_one();
            continue;
        }
        slot->state = Slot::State::Reading;
        slot->batch = batch->id;
        slot->index = index;
        const int fd = batch->fd;
        lock.unlock();

        // Outside the mutex: only this thread touches a slot being read, and
        // the batch (its names, its descriptor) stays until this thread
        // removes it.
        IO::FileHead file(IO::SystemPlatform());
        LPF::PartFileHead& head = slot->head;
        head.error = file.ReadAt(fd, name, slot->bytes.data(), slot->bytes.size(), true);
        head.bytes = slot->bytes.data();
        head.got = file.got;
        head.fileSize = static_cast<std::uint64_t>(file.size);
        head.timeKnown = file.timeKnown;
        head.time = file.time;
        head.timeError = file.timeError;
        file.Close();

        // A failed call is left to the walk, which makes it again: the
        // failure may be this thread's (its descriptors count against the
        // process's limit) and the walk must see what it would have seen.
        const bool failed = head.error != KR::NoError || head.timeError != KR::NoError;

        lock.lock();
        slot->state = batch->retired || failed ? Slot::State::Free : Slot::State::Filled;
        if (walkWaiting_)
            slotDone_.notify_one();
    }
}

}  // namespace LM
