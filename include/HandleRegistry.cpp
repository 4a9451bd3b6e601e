#include "HandleRegistry.h"

#include <new>

namespace {

// The blocks each thread found last in a registry, one slot for each of the
// first few registries of a library (it has one per kind of handle; a call
// often names two or three blocks of one). A slot serves the registry whose
// address it holds and only while that registry's count of removals is the
// one it noted; otherwise it starts afresh.
struct LastFound {
    static constexpr unsigned kBlocks = 4;
    const HandleRegistry* registry;
    uint64_t removals;
    unsigned count;
    unsigned next;
    HandleRegistry::Block blocks[kBlocks];
};

constexpr unsigned kSlots = 4;
thread_local LastFound t_last[kSlots];
std::atomic<unsigned> g_registries {0};

LastFound& SlotOf(const HandleRegistry* registry, unsigned index, uint64_t removals)
{
    LastFound& slot = t_last[index];
    if (slot.registry != registry || slot.removals != removals) {
        slot.registry = registry;
        slot.removals = removals;
        slot.count = 0;
        slot.next = 0;
    }
    return slot;
}

// Strictly inside (or the start of an empty block): the address just past a
// block may also start another, which the full lookup prefers.
bool Holds(const HandleRegistry::Block& block, uintptr_t address)
{
    const auto start = reinterpret_cast<uintptr_t>(block.start);
    return address >= start && (address - start < block.size || address == start);
}

} // namespace

HandleRegistry::HandleRegistry() noexcept
    : m_slot(g_registries.fetch_add(1) % kSlots)
{
}

bool HandleRegistry::Add(const void* start, size_t size) noexcept
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    try {
        m_blocks[reinterpret_cast<uintptr_t>(start)] = size;
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool HandleRegistry::Remove(const void* start) noexcept
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (m_blocks.erase(reinterpret_cast<uintptr_t>(start)) != 1)
        return false;
    m_removals.fetch_add(1, std::memory_order_release);
    return true;
}

bool HandleRegistry::Contains(const void* start) const noexcept
{
    Block block;
    return Find(start, block) && block.start == start;
}

bool HandleRegistry::Find(const void* address, Block& block) const noexcept
{
    const auto at = reinterpret_cast<uintptr_t>(address);
    LastFound& last = SlotOf(this, m_slot, m_removals.load(std::memory_order_acquire));
    for (unsigned i = 0; i < last.count; ++i) {
        if (Holds(last.blocks[i], at)) {
            block = last.blocks[i];
            return true;
        }
    }
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (!FindLocked(at, block))
        return false;
    // Noted under the count read before the lookup: a Remove meanwhile makes
    // the next call look again.
    last.blocks[last.next] = block;
    last.next = (last.next + 1) % LastFound::kBlocks;
    if (last.count < LastFound::kBlocks)
        ++last.count;
    return true;
}

bool HandleRegistry::FindLocked(uintptr_t address, Block& block) const
{
    // The last block starting at or below the address is the only candidate.
    auto it = m_blocks.upper_bound(address);
    if (it == m_blocks.begin())
        return false;
    --it;
    if (address - it->first > it->second)
        return false;
    block = {reinterpret_cast<unsigned char*>(it->first), it->second};
    return true;
}
