#include "handles.h"

#include <mutex>
#include <new>
#include <set>

// Never destroyed: a tool script may still run on a plug-in thread while
// the process exits, and free or look up a handle after the static
// destructors have run.
HandleRegistry& g_buffers = *new HandleRegistry;
HandleRegistry& g_streams = *new HandleRegistry;

namespace {

struct Descriptors {
    std::mutex mutex;
    std::set<int> open;
};
Descriptors& g_descriptors = *new Descriptors;

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
    const std::lock_guard<std::mutex> lock(g_descriptors.mutex);
    try {
        g_descriptors.open.insert(fd);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool RemoveDescriptor(int fd) noexcept
{
    const std::lock_guard<std::mutex> lock(g_descriptors.mutex);
    return g_descriptors.open.erase(fd) == 1;
}

bool HasDescriptor(int fd) noexcept
{
    const std::lock_guard<std::mutex> lock(g_descriptors.mutex);
    return g_descriptors.open.count(fd) == 1;
}
