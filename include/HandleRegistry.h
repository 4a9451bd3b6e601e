// What a script library handed out to scripts (buffers, streams, cipher
// contexts), recorded by start address and size, so that a handle a script
// gives back is checked before any memory is touched through it. One
// registry per kind and library serves the whole process: several Lua states
// use it at once from different threads. An answer holds for the moment of
// the lookup; the memory itself is not locked (as before, scripts order their
// own work on a handle they share).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>

class HandleRegistry {
public:
    struct Block {
        unsigned char* start;
        size_t size;
    };

    HandleRegistry() noexcept;

    // Records a block; false (nothing recorded) when memory runs out.
    bool Add(const void* start, size_t size) noexcept;
    // Forgets the block that starts at start; false when none does.
    bool Remove(const void* start) noexcept;
    // Whether a recorded block starts at start.
    bool Contains(const void* start) const noexcept;
    // The block that holds address: start <= address <= start + size (the
    // address just past a block still belongs to it, as an address of no
    // bytes). Where blocks touch, the one starting at address wins.
    bool Find(const void* address, Block& block) const noexcept;

private:
    bool FindLocked(uintptr_t address, Block& block) const;

    mutable std::mutex m_mutex;
    std::map<uintptr_t, size_t> m_blocks;
    // Counts every Remove. Each thread keeps the blocks it found last and
    // answers from them without the lock while this count is unchanged: a
    // block found live stays live until a Remove, and a later Add never
    // overlaps a live block.
    std::atomic<uint64_t> m_removals {0};
    // Where each thread keeps this registry's last blocks.
    const unsigned m_slot;
};
