// The driver stand-in as a program sees it through open/ioctl/close.
#include "SimDriver.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <fcntl.h>
#include <mutex>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

class EchoModel : public simdrv::DeviceModel {
public:
    int Send(const uint8_t* data, uint32_t length) override
    {
        sent.insert(sent.end(), data, data + length);
        return sendError;
    }
    int Recv(uint8_t* data, uint32_t length) override
    {
        for (uint32_t i = 0; i < length; ++i)
            data[i] = static_cast<uint8_t>(i);
        ++recvCalls;
        return 0;
    }
    int Admit(int) override { return admitError; }
    void Opened(int flags) override { openFlags.push_back(flags); }
    void Closed() override { ++closes; }

    int admitError = 0;
    std::vector<uint8_t> sent;
    std::vector<int> openFlags;
    int sendError = 0;
    int recvCalls = 0;
    std::atomic<int> closes {0}; // may be heard on a requesting thread
};

int Request(int fd, unsigned long request, uint32_t code, uint32_t length, void* buffer)
{
    simdrv::DrvTransfer record {code, length, reinterpret_cast<uintptr_t>(buffer)};
    return ioctl(fd, request, &record);
}

class SimDriverTest : public testing::Test {
protected:
    void SetUp() override { simdrv::AttachNode(kPath, model); }
    void TearDown() override { simdrv::DetachNode(kPath); }

    static constexpr const char* kPath = "/dev/qx_efex_simtest";
    std::shared_ptr<EchoModel> model = std::make_shared<EchoModel>();
};

TEST_F(SimDriverTest, OpenGivesRealDescriptorAndModelSeesRequests)
{
    const int fd = open(kPath, O_RDWR | O_DSYNC);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(simdrv::OpenDescriptors(kPath), 1);
    ASSERT_EQ(model->openFlags.size(), 1u);
    EXPECT_EQ(model->openFlags[0], 0x1002);

    uint8_t out[4] = {1, 2, 3, 4};
    EXPECT_EQ(Request(fd, simdrv::kIocSend, 43, 4, out), 0);
    EXPECT_EQ(model->sent, std::vector<uint8_t>(out, out + 4));

    uint8_t in[512] = {};
    EXPECT_EQ(Request(fd, simdrv::kIocRecv, 43, 512, in), 0);
    EXPECT_EQ(in[511], 255);
    // As in the kernel, only the low 32 bits of the number count.
    const int asInt = static_cast<int>(simdrv::kIocRecv);
    EXPECT_EQ(Request(fd, static_cast<unsigned long>(asInt), 43, 1, in), 0);
    EXPECT_EQ(model->recvCalls, 2);

    EXPECT_EQ(close(fd), 0);
    EXPECT_EQ(model->closes.load(), 1);
    EXPECT_EQ(simdrv::OpenDescriptors(kPath), 0);
    // The descriptor is gone for real: a second close is the C library's EBADF.
    errno = 0;
    EXPECT_EQ(close(fd), -1);
    EXPECT_EQ(errno, EBADF);
}

TEST_F(SimDriverTest, EveryOpenFlavourReachesTheNode)
{
    const int fds[] = {
        open64(kPath, O_RDWR), openat(AT_FDCWD, kPath, O_RDWR), openat64(AT_FDCWD, kPath, O_RDWR)};
    for (int fd : fds)
        EXPECT_GE(fd, 0);
    EXPECT_EQ(simdrv::OpenDescriptors(kPath), 3);
    EXPECT_NE(fds[0], fds[1]);
    for (int fd : fds)
        EXPECT_EQ(close(fd), 0);
}

TEST_F(SimDriverTest, ModelMayRefuseAnOpenAsANodeWithoutPermission)
{
    model->admitError = EACCES;
    errno = 0;
    EXPECT_EQ(open(kPath, O_RDWR), -1);
    EXPECT_EQ(errno, EACCES);
    EXPECT_EQ(simdrv::OpenDescriptors(kPath), 0);
    EXPECT_TRUE(model->openFlags.empty());

    model->admitError = 0;
    const int fd = open(kPath, O_RDWR);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(close(fd), 0);
}

TEST_F(SimDriverTest, BadRecordsAreRefusedLikeTheDriver)
{
    const int fd = open(kPath, O_RDWR);
    ASSERT_GE(fd, 0);
    uint8_t buf[512];
    struct Case {
        unsigned long request;
        uint32_t code, length;
        void* buffer;
        int error;
    } cases[] = {
        {simdrv::kIocSend, 42, 4, buf, EINVAL},
        {simdrv::kIocSend, 43, 0, buf, EINVAL},
        {simdrv::kIocSend, 43, 327681, buf, EINVAL},
        {simdrv::kIocRecv, 43, 513, buf, EINVAL},
        {simdrv::kIocRecv, 43, 4, nullptr, EFAULT},
        {0x80107305, 43, 4, buf, EINVAL},
    };
    for (const Case& c : cases) {
        errno = 0;
        EXPECT_EQ(Request(fd, c.request, c.code, c.length, c.buffer), -1);
        EXPECT_EQ(errno, c.error) << std::hex << c.request << std::dec << " " << c.length;
    }
    errno = 0;
    EXPECT_EQ(ioctl(fd, simdrv::kIocSend, nullptr), -1);
    EXPECT_EQ(errno, EFAULT);
    EXPECT_TRUE(model->sent.empty());
    EXPECT_EQ(model->recvCalls, 0);

    model->sendError = EPIPE;
    errno = 0;
    EXPECT_EQ(Request(fd, simdrv::kIocSend, 43, 1, buf), -1);
    EXPECT_EQ(errno, EPIPE);
    close(fd);
}

TEST_F(SimDriverTest, DetachedNodeIsGoneAndOpenDescriptorsFailWithNoDevice)
{
    const int fd = open(kPath, O_RDWR);
    ASSERT_GE(fd, 0);
    simdrv::DetachNode(kPath);
    uint8_t buf[4] = {};
    errno = 0;
    EXPECT_EQ(Request(fd, simdrv::kIocSend, 43, 4, buf), -1);
    EXPECT_EQ(errno, ENODEV);
    errno = 0;
    EXPECT_EQ(open(kPath, O_RDWR), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(close(fd), 0);
    EXPECT_EQ(model->closes.load(), 1);
}

TEST_F(SimDriverTest, OtherFilesAndDescriptorsPassThrough)
{
    const int fd = open("/proc/self/stat", O_RDONLY);
    ASSERT_GE(fd, 0);
    char c = 0;
    EXPECT_EQ(read(fd, &c, 1), 1);
    EXPECT_EQ(simdrv::OpenDescriptors("/proc/self/stat"), 0);
    int pending = -1;
    EXPECT_EQ(ioctl(fd, simdrv::kIocSend, &pending), -1); // the kernel's answer
    EXPECT_EQ(close(fd), 0);
    EXPECT_TRUE(model->sent.empty());
}

// A regular file opened on the number of a simulated descriptor that was
// closed must be the regular file for every call.
void ExpectPlainFile(int fd, EchoModel& model)
{
    char c = 0;
    EXPECT_EQ(read(fd, &c, 1), 1);
    uint8_t buf[4] = {};
    errno = 0;
    EXPECT_EQ(Request(fd, simdrv::kIocSend, 43, 4, buf), -1);
    EXPECT_EQ(errno, ENOTTY); // the kernel's answer for a regular file
    EXPECT_TRUE(model.sent.empty());
    EXPECT_EQ(close(fd), 0);
    errno = 0;
    EXPECT_EQ(close(fd), -1);
    EXPECT_EQ(errno, EBADF);
}

TEST_F(SimDriverTest, ClosedNumberReusedByARegularOpenPassesThrough)
{
    const int fd = open(kPath, O_RDWR);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(close(fd), 0);
    const int reused = open("/proc/self/stat", O_RDONLY); // the lowest free number
    ASSERT_EQ(reused, fd);
    ExpectPlainFile(reused, *model);
    EXPECT_EQ(model->closes.load(), 1);
}

TEST_F(SimDriverTest, NumberClosedBehindTheStandInsBackIsForgottenWhenReused)
{
    // By a regular open: the old descriptor counts as closed.
    int fd = open(kPath, O_RDWR);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(syscall(SYS_close, fd), 0); // as close_range or dup2 would
    const int reused = openat(AT_FDCWD, "/proc/self/stat", O_RDONLY);
    ASSERT_EQ(reused, fd);
    EXPECT_EQ(simdrv::OpenDescriptors(kPath), 0);
    EXPECT_EQ(model->closes.load(), 1);
    ExpectPlainFile(reused, *model);

    // By another open of the node: one descriptor, the new one.
    fd = open(kPath, O_RDWR);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(syscall(SYS_close, fd), 0);
    ASSERT_EQ(open(kPath, O_RDWR), fd);
    EXPECT_EQ(simdrv::OpenDescriptors(kPath), 1);
    EXPECT_EQ(model->closes.load(), 2);
    EXPECT_EQ(close(fd), 0);
    EXPECT_EQ(model->closes.load(), 3);
}

TEST_F(SimDriverTest, FcntlCopiesShareTheOpenAndDupCopiesAreNotSimulated)
{
    const int fd = open(kPath, O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(fcntl(fd, F_GETFD), FD_CLOEXEC);
    EXPECT_EQ(fcntl(fd, F_GETFL) & O_ACCMODE, O_RDWR);
    uint8_t buf[4] = {1, 2, 3, 4};
    const int plain = dup(fd);
    ASSERT_GE(plain, 0);
    errno = 0;
    EXPECT_EQ(Request(plain, simdrv::kIocSend, 43, 4, buf), -1);
    EXPECT_EQ(errno, ENOTTY);
    EXPECT_EQ(close(plain), 0);

    const int copy = fcntl(fd, F_DUPFD, 10);
    const int cloexec = fcntl(copy, F_DUPFD_CLOEXEC, 0);
    ASSERT_GE(copy, 10);
    ASSERT_GE(cloexec, 0);
    EXPECT_EQ(fcntl(cloexec, F_GETFD), FD_CLOEXEC);
    EXPECT_EQ(simdrv::OpenDescriptors(kPath), 3);
    EXPECT_EQ(close(fd), 0);
    EXPECT_EQ(Request(copy, simdrv::kIocSend, 43, 4, buf), 0);
    EXPECT_EQ(close(copy), 0);
    EXPECT_EQ(Request(cloexec, simdrv::kIocSend, 43, 4, buf), 0);
    EXPECT_EQ(model->sent.size(), 8u);
    EXPECT_EQ(model->openFlags.size(), 1u);
    EXPECT_EQ(model->closes.load(), 0);
    EXPECT_EQ(close(cloexec), 0);
    EXPECT_EQ(model->closes.load(), 1); // released with the last copy
}

TEST_F(SimDriverTest, SingleOpenNodeIsBusyUntilItsOpenIsReleased)
{
    simdrv::AttachNode(kPath, model, simdrv::Opens::One);
    const int fd = open(kPath, O_RDWR);
    ASSERT_GE(fd, 0);
    errno = 0;
    EXPECT_EQ(open(kPath, O_RDWR), -1);
    EXPECT_EQ(errno, EBUSY);
    const int copy = fcntl(fd, F_DUPFD_CLOEXEC, 0); // a copy is no second open
    ASSERT_GE(copy, 0);
    EXPECT_EQ(close(fd), 0);
    EXPECT_EQ(open(kPath, O_RDWR), -1);
    EXPECT_EQ(close(copy), 0);
    const int again = open(kPath, O_RDWR);
    EXPECT_GE(again, 0);
    EXPECT_EQ(close(again), 0);
    EXPECT_EQ(model->openFlags.size(), 2u);
    EXPECT_EQ(model->closes.load(), 2);
}

// A model that blocks must not stall requests on other descriptors.
class GateModel : public EchoModel {
public:
    int Recv(uint8_t* data, uint32_t length) override
    {
        std::unique_lock<std::mutex> hold(lock);
        entered = true;
        wake.notify_all();
        wake.wait(hold, [this] { return open; });
        return EchoModel::Recv(data, length);
    }
    std::mutex lock;
    std::condition_variable wake;
    bool entered = false;
    bool open = false;
};

TEST(SimDriverThreads, BlockingModelDoesNotHoldTheTable)
{
    auto gate = std::make_shared<GateModel>();
    auto other = std::make_shared<EchoModel>();
    simdrv::AttachNode("/dev/qx_efex_gate", gate);
    simdrv::AttachNode("/dev/qx_efex_other", other);
    const int slow = open("/dev/qx_efex_gate", O_RDWR);
    const int fast = open("/dev/qx_efex_other", O_RDWR);
    uint8_t a[8], b[8];
    std::thread blocked([&] { EXPECT_EQ(Request(slow, simdrv::kIocRecv, 43, 8, a), 0); });
    {
        std::unique_lock<std::mutex> hold(gate->lock);
        gate->wake.wait(hold, [&] { return gate->entered; });
    }
    EXPECT_EQ(Request(fast, simdrv::kIocRecv, 43, 8, b), 0);
    {
        std::lock_guard<std::mutex> hold(gate->lock);
        gate->open = true;
    }
    gate->wake.notify_all();
    blocked.join();
    close(slow);
    close(fast);
    simdrv::DetachNode("/dev/qx_efex_gate");
    simdrv::DetachNode("/dev/qx_efex_other");
}

TEST(SimDriverThreads, CloseDuringARequestEndsTheSessionWhenTheRequestReturns)
{
    auto gate = std::make_shared<GateModel>();
    simdrv::AttachNode("/dev/qx_efex_gate", gate);
    const int fd = open("/dev/qx_efex_gate", O_RDWR);
    ASSERT_GE(fd, 0);
    uint8_t in[8] = {};
    int requestResult = -2;
    std::thread running([&] { requestResult = Request(fd, simdrv::kIocRecv, 43, 8, in); });
    {
        std::unique_lock<std::mutex> hold(gate->lock);
        gate->wake.wait(hold, [&] { return gate->entered; });
    }
    // The close itself does not wait for the request, and frees the number.
    EXPECT_EQ(close(fd), 0);
    EXPECT_EQ(simdrv::OpenDescriptors("/dev/qx_efex_gate"), 0);
    EXPECT_EQ(gate->closes.load(), 0) << "session ended under a running request";
    const int reused = open("/proc/self/stat", O_RDONLY);
    EXPECT_EQ(reused, fd);
    ExpectPlainFile(reused, *gate);
    {
        std::lock_guard<std::mutex> hold(gate->lock);
        gate->open = true;
    }
    gate->wake.notify_all();
    running.join();
    EXPECT_EQ(requestResult, 0);
    EXPECT_EQ(in[7], 7);
    EXPECT_EQ(gate->closes.load(), 1);
    simdrv::DetachNode("/dev/qx_efex_gate");
}

} // namespace
