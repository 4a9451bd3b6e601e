// The eFex kernel driver stand-in (libvemora_simdrv.so). Linked into a test
// program, or preloaded (LD_PRELOAD) into any process, it makes chosen
// device-node paths answer as the driver's nodes do: open, close and the two
// driver requests. Every other path and descriptor passes through to the C
// library untouched.
//
// Preloading: name libvemora_simdrv.so itself in LD_PRELOAD, before any
// library that links it (LD_PRELOAD=.../libvemora_simdrv.so:.../libboard.so).
// The dependencies of a preloaded library come after the program's own, so
// after the C library, and its open/ioctl would be found first. A program
// that links the stand-in directly needs nothing else.
//
// What is intercepted: open, open64, openat, openat64, __open_2, __open64_2,
// close, ioctl, fcntl and fcntl64, called through the dynamic linker (as any
// library does). Nothing else is, and calls the C library makes internally
// (fopen) are not seen either: a simulated node is meant to be used with
// open/ioctl/close and fcntl's copies only. In particular:
// - dup, dup2 and dup3 give a plain copy of the eventfd: the driver requests
//   on the copy fail with ENOTTY and the model hears nothing of it; fcntl's
//   commands other than F_DUPFD and F_DUPFD_CLOEXEC work on the eventfd as on
//   any descriptor.
// - A simulated descriptor closed some other way (close_range, dup2 onto it)
//   stays known until its number is handed out again by an open or an fcntl
//   copy, which then passes through as usual; until then, requests on the
//   dead number still reach the model instead of failing with EBADF.
//
// How a simulated node behaves (errors as -1 with errno, as from the driver):
// - open of an attached path gives a real descriptor of its own (an eventfd),
//   so the number cannot clash with a real file while it is open. Open flags
//   are handed to the model; the node is never created on disk. A path that
//   was attached and then detached fails with ENOENT. A model may refuse an
//   open (DeviceModel::Admit), as a node whose permissions shut the caller
//   out answers EACCES.
// - ioctl(fd, EFEX_IOC_SEND or EFEX_IOC_RECV, &record) with a DrvTransfer
//   record: the record is checked (null record EFAULT; code other than 43,
//   length 0 or above the request's chunk limit EINVAL; null buffer EFAULT),
//   then the model is called once with the chunk. Any other request number on
//   the node is EINVAL (numbers compare on their low 32 bits, as in the
//   kernel). After DetachNode every request is ENODEV.
// - fcntl(fd, F_DUPFD or F_DUPFD_CLOEXEC, lowest) gives a copy that reaches
//   the same open of the node, as a copy of a driver's file does: its
//   requests go to the model, and the model hears no Opened() for it.
// - close ends the descriptor at once; its number may be reused right away.
//   The model hears Closed() when the last copy of an open is closed and no
//   request on it is still running (a close from another thread during a
//   request: when that request returns), as a driver's release follows the
//   last close and the last request.
// - A node attached with Opens::One serves one open at a time, as a driver
//   that keeps one session per device: while an open is not yet released (a
//   copy of it still open, or a request on it still running), another open
//   fails with EBUSY.
// - A descriptor that is not (or no longer) a simulated one behaves as usual:
//   closing it twice is EBADF from the C library.
//
// Thread safety: the node and descriptor tables are guarded by one mutex,
// which is not held while the model runs, so a model may block (for example
// until a simulated board answers) while other descriptors are used. A model
// that serves several descriptors at once must guard its own state.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#define SIMDRV_API __attribute__((visibility("default")))

namespace simdrv {

// The two driver requests and the record they carry (host byte order).
constexpr unsigned long kIocSend = 0x40107303; // EFEX_IOC_SEND, host to device
constexpr unsigned long kIocRecv = 0x80107304; // EFEX_IOC_RECV, device to host
constexpr uint32_t kTransferCode = 43;         // DrvTransfer::code, always
constexpr uint32_t kSendChunkMax = 327680;     // longest EFEX_IOC_SEND chunk
constexpr uint32_t kRecvChunkMax = 512;        // longest EFEX_IOC_RECV chunk

struct DrvTransfer {
    uint32_t code;   // kTransferCode
    uint32_t length; // bytes of this chunk
    uint64_t buffer; // address of the chunk in the caller's memory
};
static_assert(sizeof(DrvTransfer) == 16, "the driver's record is 16 bytes");

// The device behind a simulated node. Each driver request on a descriptor of
// the node reaches the model once, with the chunk the record names.
// Results: 0 on success, or a positive errno value the request fails with
// (the caller then sees -1 and that errno, as from the real driver).
class SIMDRV_API DeviceModel {
public:
    virtual ~DeviceModel() = default;
    // EFEX_IOC_SEND: `length` bytes from the host.
    virtual int Send(const uint8_t* data, uint32_t length) = 0;
    // EFEX_IOC_RECV: must fill exactly `length` bytes for the host.
    virtual int Recv(uint8_t* data, uint32_t length) = 0;
    // Asked before each open of the node: 0 lets it go on; a positive errno
    // value makes the open fail with it, and no descriptor is made (EACCES:
    // a node the caller has no permission for).
    virtual int Admit(int flags)
    {
        (void)flags;
        return 0;
    }
    // A descriptor of the node was opened with `flags`, or one was closed.
    virtual void Opened(int flags) { (void)flags; }
    virtual void Closed() { }
};

// How many opens of a node may be unreleased at once.
enum class Opens {
    Many, // any number
    One,  // one; another open fails with EBUSY until its release
};

// Makes `path` (for example "/dev/qx_efex0") a simulated node served by
// `model`. Each open of it gets a real descriptor of its own. Attaching a path
// again replaces its model (and its Opens) for later opens; descriptors
// already open keep the model they were opened with.
SIMDRV_API void AttachNode(
    const std::string& path, std::shared_ptr<DeviceModel> model, Opens opens = Opens::Many);

// Removes the node: later opens fail with ENOENT; requests on descriptors
// still open fail with ENODEV until they are closed.
SIMDRV_API void DetachNode(const std::string& path);

// Number of descriptors of `path` that are open now (0 for unknown paths);
// lets a caller check that every open was matched by a close.
SIMDRV_API int OpenDescriptors(const std::string& path);

} // namespace simdrv
