#include "NodeTable.h"
#include "SimDriver.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <set>
#include <utility>

namespace simdrv {
namespace {

struct Node {
    std::string path;
    std::shared_ptr<DeviceModel> model;
    Opens opens = Opens::Many;
    // Guarded by Table::lock.
    bool attached = true;
    int openFiles = 0; // opens whose release the model has not heard yet
};

struct OpenFile;

struct Table {
    std::mutex lock;
    std::map<std::string, std::shared_ptr<Node>> nodes;
    std::set<std::string> gone; // detached paths: opens fail with ENOENT
    // Copies of a descriptor share one OpenFile.
    std::map<int, std::shared_ptr<OpenFile>> descriptors;
};

// Until a node is attached nothing is simulated, and every call passes
// through without taking the lock (this also covers calls made while the
// process starts, before any static object exists).
std::atomic<bool> g_active {false};

// Never destroyed: descriptors may still be closed from exit handlers after
// static destructors have run.
Table& GetTable()
{
    static Table* table = new Table;
    return *table;
}

// One open of a node. It lives while one of its descriptors is open and
// while a request on it is still running, and the model hears Closed() when
// the last of these ends: as with a driver, whose release runs only after the
// last copy of the file is closed and the last request on it has returned, a
// close from another thread never ends the session under a running request.
struct OpenFile {
    explicit OpenFile(std::shared_ptr<Node> n)
        : node(std::move(n))
    {
    }
    ~OpenFile()
    {
        node->model->Closed();
        Table& t = GetTable();
        std::lock_guard<std::mutex> hold(t.lock);
        --node->openFiles;
    }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;

    const std::shared_ptr<Node> node;
};

int Fail(int error)
{
    errno = error;
    return -1;
}

} // namespace

void AttachNode(const std::string& path, std::shared_ptr<DeviceModel> model, Opens opens)
{
    Table& t = GetTable();
    std::lock_guard<std::mutex> hold(t.lock);
    auto node = std::make_shared<Node>();
    node->path = path;
    node->model = std::move(model);
    node->opens = opens;
    t.nodes[path] = std::move(node);
    t.gone.erase(path);
    g_active.store(true, std::memory_order_release);
}

void DetachNode(const std::string& path)
{
    Table& t = GetTable();
    std::lock_guard<std::mutex> hold(t.lock);
    auto it = t.nodes.find(path);
    if (it == t.nodes.end())
        return;
    it->second->attached = false;
    t.nodes.erase(it);
    t.gone.insert(path);
}

int OpenDescriptors(const std::string& path)
{
    Table& t = GetTable();
    std::lock_guard<std::mutex> hold(t.lock);
    int count = 0;
    for (const auto& entry : t.descriptors)
        count += entry.second->node->path == path;
    return count;
}

bool OpenNode(const char* path, int flags, int& result)
{
    if (!g_active.load(std::memory_order_acquire) || !path)
        return false;
    Table& t = GetTable();
    std::shared_ptr<Node> node;
    {
        std::lock_guard<std::mutex> hold(t.lock);
        auto it = t.nodes.find(path);
        if (it == t.nodes.end()) {
            if (!t.gone.count(path))
                return false;
            result = Fail(ENOENT);
            return true;
        }
        node = it->second;
        // The open is counted from here, so two racing opens of a
        // single-open node cannot both pass.
        if (node->opens == Opens::One && node->openFiles > 0) {
            result = Fail(EBUSY);
            return true;
        }
        ++node->openFiles;
    }
    if (const int refused = node->model->Admit(flags)) {
        result = Fail(refused > 0 ? refused : EACCES);
        return true;
    }
    const int fd = NewDescriptor(flags);
    if (fd < 0) {
        const int error = errno;
        {
            std::lock_guard<std::mutex> hold(t.lock);
            --node->openFiles;
        }
        result = Fail(error);
        return true;
    }
    // Nobody knows the number before open returns, so the model hears of
    // the open before anyone can close it.
    node->model->Opened(flags);
    auto file = std::make_shared<OpenFile>(std::move(node));
    {
        std::lock_guard<std::mutex> hold(t.lock);
        // A number still in the table was closed behind the stand-in's back;
        // that open ends here, outside the lock.
        std::swap(t.descriptors[fd], file);
    }
    result = fd;
    return true;
}

namespace {

// Removes `fd` from the table and hands over its open, which the caller
// drops outside the lock (the model may hear Closed() then); null when the
// number is no simulated descriptor.
std::shared_ptr<OpenFile> TakeDescriptor(int fd)
{
    if (!g_active.load(std::memory_order_acquire))
        return nullptr;
    Table& t = GetTable();
    std::lock_guard<std::mutex> hold(t.lock);
    auto it = t.descriptors.find(fd);
    if (it == t.descriptors.end())
        return nullptr;
    std::shared_ptr<OpenFile> file = std::move(it->second);
    t.descriptors.erase(it);
    return file;
}

} // namespace

void ForgetDescriptor(int fd)
{
    TakeDescriptor(fd);
}

bool CopyNode(int fd, int cmd, int minFd, int& result)
{
    if (!g_active.load(std::memory_order_acquire))
        return false;
    Table& t = GetTable();
    // Held across the copy, so a close of the original meanwhile cannot end
    // the open under the new number.
    std::shared_ptr<OpenFile> file;
    {
        std::lock_guard<std::mutex> hold(t.lock);
        auto it = t.descriptors.find(fd);
        if (it == t.descriptors.end())
            return false;
        file = it->second;
    }
    result = CopyDescriptor(fd, cmd, minFd);
    const int error = errno;
    if (result >= 0) {
        // A number still in the table was closed behind the stand-in's back;
        // that open ends when `file` goes, outside the lock.
        std::lock_guard<std::mutex> hold(t.lock);
        std::swap(t.descriptors[result], file);
    }
    file.reset();
    errno = error;
    return true;
}

bool CloseNode(int fd, int& result)
{
    std::shared_ptr<OpenFile> file = TakeDescriptor(fd);
    if (!file)
        return false;
    // The number stays taken until here, so no open can reuse it early.
    result = CloseDescriptor(fd);
    const int error = errno;
    file.reset();
    errno = error;
    return true;
}

namespace {

// Checks the record as the driver does and hands the chunk to the model.
// Returns 0, or -1 with errno set.
int Serve(DeviceModel& model, unsigned long request, const void* argument)
{
    // The kernel takes the request number as 32 bits, so a number that was
    // sign-extended on its way through an int still names the same request.
    request = static_cast<uint32_t>(request);
    if (request != kIocSend && request != kIocRecv)
        return Fail(EINVAL);
    if (!argument)
        return Fail(EFAULT);
    const auto& record = *static_cast<const DrvTransfer*>(argument);
    const uint32_t limit = request == kIocSend ? kSendChunkMax : kRecvChunkMax;
    if (record.code != kTransferCode || record.length == 0 || record.length > limit)
        return Fail(EINVAL);
    if (record.buffer == 0)
        return Fail(EFAULT);
    auto* data = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(record.buffer));
    const int error
        = request == kIocSend ? model.Send(data, record.length) : model.Recv(data, record.length);
    // A model that breaks its contract with a non-positive error still fails.
    return error == 0 ? 0 : Fail(error > 0 ? error : EIO);
}

} // namespace

bool RequestNode(int fd, unsigned long request, void* argument, int& result)
{
    if (!g_active.load(std::memory_order_acquire))
        return false;
    Table& t = GetTable();
    std::shared_ptr<OpenFile> file;
    {
        std::lock_guard<std::mutex> hold(t.lock);
        auto it = t.descriptors.find(fd);
        if (it == t.descriptors.end())
            return false;
        if (!it->second->node->attached) {
            result = Fail(ENODEV);
            return true;
        }
        file = it->second;
    }
    result = Serve(*file->node->model, request, argument);
    // If the descriptor was closed meanwhile, its session ends here; the
    // request's own result and errno stand.
    const int error = errno;
    file.reset();
    errno = error;
    return true;
}

} // namespace simdrv
