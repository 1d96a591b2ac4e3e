#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

namespace ferrowick
{

// Hands the current catalogue entry from the loading threads to the audio thread.
//
// Loading threads own the entries through shared pointers; the audio thread sees a plain
// pointer. At the start of a block the audio thread announces the entry it is about to use in
// `inUse` and checks that it is still current; it clears the announcement at the end of the
// block. An entry that has been replaced is freed by a loading thread (in publish() or
// collect()) once it is not announced, so the audio thread never frees an entry and never uses
// a freed one. The audio side never waits: it only loads and stores atomics.
template <typename Entry> class EntryExchange
{
public:
    EntryExchange() = default;
    EntryExchange(const EntryExchange&) = delete;
    EntryExchange& operator=(const EntryExchange&) = delete;

    // Loading side. Makes entry current; the previous one is freed once the audio thread is
    // done with it.
    void publish(std::shared_ptr<Entry> entry)
    {
        std::lock_guard<std::mutex> lock(ownersLock);
        if (currentOwner != nullptr)
            retired.push_back(std::move(currentOwner));
        currentOwner = std::move(entry);
        current.store(currentOwner.get());
        collectLocked();
    }

    // Loading side. The current entry (shared with the caller).
    std::shared_ptr<Entry> get() const
    {
        std::lock_guard<std::mutex> lock(ownersLock);
        return currentOwner;
    }

    // Loading side. Frees the replaced entries that the audio thread no longer uses.
    void collect()
    {
        std::lock_guard<std::mutex> lock(ownersLock);
        collectLocked();
    }

    size_t retiredCount() const
    {
        std::lock_guard<std::mutex> lock(ownersLock);
        return retired.size();
    }

    // Audio side, at the start of a block: the entry to use until endBlock(), or nullptr in the
    // unlikely case that the entry was replaced on every one of a few attempts (the block is
    // then silent).
    Entry* beginBlock()
    {
        for (int attempt = 0; attempt < 4; attempt++)
        {
            Entry* entry = current.load();
            inUse.store(entry);
            if (current.load() == entry)
                return entry;
        }
        inUse.store(nullptr);
        return nullptr;
    }

    // Audio side, at the end of a block.
    void endBlock() { inUse.store(nullptr); }

private:
    void collectLocked()
    {
        const Entry* announced = inUse.load();
        std::erase_if(retired, [&](const std::shared_ptr<Entry>& e) { return e.get() != announced; });
    }

    std::atomic<Entry*> current{nullptr};
    std::atomic<Entry*> inUse{nullptr};
    mutable std::mutex ownersLock;
    std::shared_ptr<Entry> currentOwner;
    std::vector<std::shared_ptr<Entry>> retired;
};

} // namespace ferrowick
