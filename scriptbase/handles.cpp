#include "handles.h"

#include <mutex>
#include <new>
#include <set>

HandleRegistry g_buffers;
HandleRegistry g_streams;

namespace {

std::mutex g_descriptorMutex;
std::set<int> g_descriptors;

int FindBuffer(const void* address, unsigned char** start, size_t* size)
{
    HandleRegistry::Block block;
    if (!g_buffers.Find(address, block))
        return 0;
    *start = block.start;
    *size = block.size;
    return 1;
}

} // namespace

const tag_SCRIPT_BUFFERS g_scriptBuffers = {FindBuffer};

bool AddDescriptor(int fd) noexcept
{
    const std::lock_guard<std::mutex> lock(g_descriptorMutex);
    try {
        g_descriptors.insert(fd);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool RemoveDescriptor(int fd) noexcept
{
    const std::lock_guard<std::mutex> lock(g_descriptorMutex);
    return g_descriptors.erase(fd) == 1;
}

bool HasDescriptor(int fd) noexcept
{
    const std::lock_guard<std::mutex> lock(g_descriptorMutex);
    return g_descriptors.count(fd) == 1;
}
