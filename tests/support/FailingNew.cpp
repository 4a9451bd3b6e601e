// Replaces the process's operator new and new[], their nothrow forms (which
// the script libraries use) and the matching deletes, so that every block
// goes through malloc and free alike, sanitizers included.
#include "FailingNew.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<bool> g_fail {false};

void* Allocate(std::size_t size)
{
    if (!g_fail) {
        if (void* block = std::malloc(size ? size : 1))
            return block;
    }
    throw std::bad_alloc();
}

} // namespace

void FailAllocations(bool fail)
{
    g_fail = fail;
}

void* operator new(std::size_t size)
{
    return Allocate(size);
}

void* operator new[](std::size_t size)
{
    return Allocate(size);
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    try {
        return Allocate(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept
{
    return operator new(size, tag);
}

void operator delete(void* block) noexcept
{
    std::free(block);
}

void operator delete(void* block, std::size_t) noexcept
{
    std::free(block);
}

void operator delete[](void* block) noexcept
{
    std::free(block);
}

void operator delete[](void* block, std::size_t) noexcept
{
    std::free(block);
}
