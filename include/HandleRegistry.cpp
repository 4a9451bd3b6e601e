#include "HandleRegistry.h"

#include <new>

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
    return m_blocks.erase(reinterpret_cast<uintptr_t>(start)) == 1;
}

bool HandleRegistry::Contains(const void* start) const noexcept
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_blocks.count(reinterpret_cast<uintptr_t>(start)) == 1;
}

bool HandleRegistry::Find(const void* address, Block& block) const noexcept
{
    const auto at = reinterpret_cast<uintptr_t>(address);
    const std::lock_guard<std::mutex> lock(m_mutex);
    // The last block starting at or below the address is the only candidate.
    auto it = m_blocks.upper_bound(at);
    if (it == m_blocks.begin())
        return false;
    --it;
    if (at - it->first > it->second)
        return false;
    block = {reinterpret_cast<unsigned char*>(it->first), it->second};
    return true;
}
