#include "eFexCore.h"

#include "EfexIf.h"
#include "FexProtocol.h"
#include "PyrraDebug.h"

#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "wire records are written in host order");

namespace {

// The driver's two requests and the record both carry.
constexpr unsigned long EFEX_IOC_SEND = 0x40107303;
constexpr unsigned long EFEX_IOC_RECV = 0x80107304;

struct tag_DRV_TRANSFER {
    uint32_t code; // always 43
    uint32_t length;
    uint64_t buffer;
};
static_assert(sizeof(tag_DRV_TRANSFER) == 16, "driver record");

constexpr uint32_t kTransferCode = 43;
constexpr unsigned kSendChunk = 327680;
constexpr unsigned kRecvChunk = 512;
// Lengths count down as 32-bit signed values on the device side as well;
// anything longer cannot be described to it.
constexpr unsigned kMaxLength = INT32_MAX;

// O_RDWR with synchronous writes.
constexpr int kOpenFlags = O_RDWR | O_DSYNC;
static_assert(kOpenFlags == 0x1002, "the node is opened with flags 0x1002");
constexpr size_t kPathBuffer = 512;

struct __attribute__((packed)) tag_USB_REQUEST {
    char magic[4]; // "QXUC"
    uint32_t tag;
    uint32_t data_length;
    uint8_t reserved1[3];
    uint8_t command_length; // 12
    uint8_t direction;
    uint8_t reserved2;
    uint32_t data_length_again;
    uint8_t reserved3[10];
};
static_assert(sizeof(tag_USB_REQUEST) == 32, "request block");
static_assert(offsetof(tag_USB_REQUEST, data_length_again) == 18, "request block layout");

struct __attribute__((packed)) tag_USB_STATUS {
    char magic[4]; // "QXUS"
    uint8_t tag_and_residue[8];
    uint8_t status;
};
static_assert(sizeof(tag_USB_STATUS) == 13, "status reply");

constexpr size_t kFexStatusSize = 8;
constexpr size_t kFexStatusResult = 4;

// Two codes the device knows that no caller of this system issues; they
// carry no data phase.
enum : uint16_t {
    CMD_UNNAMED_0002 = 0x0002,
    CMD_UNNAMED_0010 = 0x0010,
};

const char kSourceFile[] = "eFexCore.cpp";

// Result codes; the ones that are also logged name their failure point in
// the log line. Points that pass an inner code outward have a number of
// their own, so the log still tells where the failure was.
enum : int {
    kOpenFailed = 74,
    kCloseBadHandle = 102,
    kSendBadHandle = 153,
    kSendNullBuffer = 168,
    kSendFailed = 200,
    kRecvBadHandle = 221,
    kRecvNullBuffer = 239,
    kRecvFailed = 272,
    kTransferBadHandle = 293,
    kTransferLengthPoint = 305,  // the data phase refused its length before anything went out
    kTransferRequestPoint = 318, // sending the request block failed
    kTransferDataPoint = 331,    // the data phase failed
    kTransferBadDirection = 347,
    kTransferReplyFailed = 357,
    kTransferBadReply = 364,
    kCommandBadArgs = 388,
    kCommandLengthPoint = 395, // the data phase refused its length before anything went out
    kCommandPhasePoint = 401,  // the command block's transfer failed
    kCommandDataPoint = 410,   // the data phase's transfer failed
    kVerifyNullBuffer = 421,
    kVerifyBadMagic = 434,
    kIsReadyNullBuffer = 448,
    kCmdSetVerNullBuffer = 464,
    kFesRunNullBuffer = 557,
    kFesInfoNullBuffer = 573,
    kFesInfoBadForm = 614,
    kGetMsgMismatch = 626,
    kUnknownCommand = 642,
    kStatusPhasePoint = 651, // the FEX status transfer failed
    kFexStatusFailed = 659,
};

// The descriptor a handle carries, or -1 when it carries none: -1 means no
// device, 0 a closed one, and a value outside the descriptor range cannot be
// one either.
int Descriptor(void** handle)
{
    if (!handle)
        return -1;
    const intptr_t value = reinterpret_cast<intptr_t>(*handle);
    return value > 0 && value <= INT_MAX ? static_cast<int>(value) : -1;
}

const char* ErrorText(int error, char (&text)[128])
{
    return strerror_r(error, text, sizeof text);
}

// Moves `length` bytes with one driver request per chunk, straight between
// the caller's buffer and the driver. Returns 0 or the errno of the failing
// request; `count` holds the bytes of the requests that succeeded.
int Move(int fd, unsigned long request, unsigned char* buffer, unsigned length, unsigned chunkMax,
    unsigned& count)
{
    if (length > kMaxLength)
        return EINVAL;
    while (length > 0) {
        const unsigned chunk = length < chunkMax ? length : chunkMax;
        tag_DRV_TRANSFER record {kTransferCode, chunk, reinterpret_cast<uintptr_t>(buffer)};
        if (ioctl(fd, request, &record) != 0)
            return errno ? errno : EIO; // a failure must never read as success
        count += chunk;
        buffer += chunk;
        length -= chunk;
    }
    return 0;
}

// The two failure lines differ in punctuation (": %s, %d" and " %s %d"): fixed
// log texts, kept on purpose.
int TransferFailed(int point, int code)
{
    PyrraDebug::DebugErr("Fex_transmit_receive Error: %s, %d\n", kSourceFile, point);
    return code;
}

int CommandFailed(int point, int code)
{
    PyrraDebug::DebugErr("Fex_command Error %s %d\n", kSourceFile, point);
    return code;
}

enum class Phase { None, Read, Write, Stop };

// What the command block asks for after the command phase. Chosen before
// anything goes out, so a length the data phase cannot carry is refused
// first; its logs are written only once the command phase is done.
struct DataPhase {
    Phase phase;
    int result = 0;             // Stop: what Fex_command returns at once
    bool logged = false;        // Stop: the result is also logged as its failure point
    const char* note = nullptr; // written through DebugMsg after the command phase
};

// "get_msg: command phase data length = 0, skipped" (GBK text, byte for byte
// as log readers know it; kept on purpose).
const char kGetMsgSkipped[] = "get_msg \xc3\xfc\xc1\xee\xbd\xd7\xb6\xce\xca\xfd\xbe\xdd\xb3\xa4"
                              "\xb6\xc8=0,\xcc\xf8\xb9\xfd\n";

uint16_t ReadU16(const unsigned char* p)
{
    uint16_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

uint32_t ReadU32(const unsigned char* p)
{
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

DataPhase Needing(const unsigned char* buffer, Phase phase, int nullBufferCode)
{
    return buffer ? DataPhase {phase} : DataPhase {Phase::Stop, nullBufferCode};
}

// Optional phases are skipped when there is nothing to move.
DataPhase Optional(const unsigned char* buffer, unsigned length, Phase phase)
{
    return buffer && length ? DataPhase {phase} : DataPhase {Phase::None};
}

// The data phase follows from the command code and, for a few commands, from
// parameter bits of the block.
DataPhase ChooseDataPhase(const unsigned char* block, const unsigned char* buffer, unsigned length)
{
    switch (ReadU16(block)) {
    case CMD_COMMON_VERIFY_DEV:
        return Needing(buffer, Phase::Read, kVerifyNullBuffer);
    case CMD_UNNAMED_0002:
    case CMD_UNNAMED_0010:
    case CMD_FEL_RUN:
        return {Phase::None};
    case CMD_COMMON_IS_READY:
        return Needing(buffer, Phase::Read, kIsReadyNullBuffer);
    case CMD_COMMON_GET_CMD_SET_VER:
        return Needing(buffer, Phase::Read, kCmdSetVerNullBuffer);
    case CMD_FEL_DOWN:
        return Optional(buffer, length, Phase::Write);
    case CMD_FEL_UP:
        return Optional(buffer, length, Phase::Read);
    case CMD_FES_TRANS: {
        if (!buffer || !length)
            return {Phase::None};
        switch ((block[13] >> 4) & 3) {
        case 2:
            return {Phase::Read};
        case 3: // no data and no status phase
            return {Phase::Stop};
        default:
            return {Phase::Write};
        }
    }
    case CMD_FES_RUN:
        return Needing(buffer, Phase::Write, kFesRunNullBuffer);
    case CMD_FES_INFO: {
        const unsigned form = block[4] >> 4;
        if (form == 0)
            return Needing(buffer, Phase::Read, kFesInfoNullBuffer);
        if (form == 1)
            return {(block[4] & 0x08) ? Phase::Write : Phase::Read};
        return {Phase::Stop, kFesInfoBadForm, true};
    }
    case CMD_FES_GET_MSG: {
        const uint32_t announced = ReadU32(block + 4);
        if (announced == 0)
            return {Phase::None, 0, false, kGetMsgSkipped};
        return announced == length ? DataPhase {Phase::Read}
                                   : DataPhase {Phase::Stop, kGetMsgMismatch};
    }
    default:
        return {Phase::Stop, kUnknownCommand};
    }
}

// The data phase of a transfer in `direction` (FEX_DIR_READ or FEX_DIR_WRITE).
int MoveData(
    void** handle, unsigned char* buffer, unsigned length, unsigned char direction, unsigned& count)
{
    return direction == FEX_DIR_READ ? Fex_Recv(handle, buffer, length, count)
                                     : Fex_Send(handle, buffer, length, count);
}

// Only what was actually read can carry the magic.
bool HasVerifyMagic(const unsigned char* buffer, unsigned length)
{
    return length >= CMD_COMMON_VERIFY_DEV_MAGIC_LENGTH
        && std::memcmp(buffer, CMD_COMMON_VERIFY_DEV_MAGIC, CMD_COMMON_VERIFY_DEV_MAGIC_LENGTH)
        == 0;
}

} // namespace

int Fex_Open(void** handle, char* path)
{
    char node[kPathBuffer] = {};
    const size_t length = path ? strnlen(path, sizeof node) : 0;
    // Nowhere to store the descriptor, no path, or a path that does not fit
    // the buffer (refused, never cut): each named by its own reason.
    const int refusal = !handle || !path ? EFAULT : length == sizeof node ? ENAMETOOLONG : 0;
    if (refusal) {
        errno = refusal;
        std::perror("open");
        if (handle)
            *handle = EFEX_NO_DEVICE;
        return kOpenFailed;
    }
    std::memcpy(node, path, length);
    int fd = open(node, kOpenFlags);
    if (fd == 0) {
        // Descriptor 0 would read as a closed handle: move the open to another
        // number, then give 0 back. A copy, not a second open: a driver that
        // serves one open at a time would refuse that one.
        fd = fcntl(0, F_DUPFD_CLOEXEC, 1);
        const int saved = errno;
        close(0);
        errno = saved;
    }
    if (fd < 0) {
        std::perror("open");
        *handle = EFEX_NO_DEVICE;
        return kOpenFailed;
    }
    *handle = reinterpret_cast<void*>(static_cast<intptr_t>(fd));
    return 0;
}

int Fex_Close(void** handle)
{
    const int fd = Descriptor(handle);
    if (fd < 0)
        return kCloseBadHandle;
    close(fd);
    *handle = nullptr;
    return 0;
}

int Fex_Query(void**, void*, unsigned, void*, unsigned, unsigned&)
{
    return 0;
}

int Fex_Send(void** handle, unsigned char* buffer, unsigned length, unsigned& count)
{
    const int fd = Descriptor(handle);
    if (fd < 0)
        return kSendBadHandle;
    if (!buffer) {
        PyrraDebug::DebugErr("Try write null buffer to the device!\n");
        return kSendNullBuffer;
    }
    count = 0;
    if (const int error = Move(fd, EFEX_IOC_SEND, buffer, length, kSendChunk, count)) {
        char text[128];
        PyrraDebug::DebugErr("Fex_Send error: %s\n", ErrorText(error, text));
        return kSendFailed;
    }
    return 0;
}

int Fex_Recv(void** handle, unsigned char* buffer, unsigned length, unsigned& count)
{
    const int fd = Descriptor(handle);
    if (fd < 0)
        return kRecvBadHandle;
    count = 0;
    if (!buffer) {
        PyrraDebug::DebugErr("Receive buffer is null!\n");
        return kRecvNullBuffer;
    }
    if (const int error = Move(fd, EFEX_IOC_RECV, buffer, length, kRecvChunk, count)) {
        char text[128];
        PyrraDebug::DebugErr("Fex_Recv error: %s\n", ErrorText(error, text));
        return kRecvFailed;
    }
    return 0;
}

int Fex_transmit_receive(
    void** handle, unsigned char* buffer, unsigned length, unsigned char direction)
{
    if (Descriptor(handle) < 0)
        return TransferFailed(kTransferBadHandle, kTransferBadHandle);

    unsigned count = 0;
    const bool knownDirection = direction == FEX_DIR_READ || direction == FEX_DIR_WRITE;
    // A length the device cannot count down must not be announced: the data
    // phase's own call refuses it (before any request), and nothing goes out.
    if (knownDirection && length > kMaxLength)
        return TransferFailed(
            kTransferLengthPoint, MoveData(handle, buffer, length, direction, count));

    tag_USB_REQUEST request {};
    std::memcpy(request.magic, "QXUC", sizeof request.magic);
    request.data_length = length;
    request.command_length = 12;
    request.direction = direction;
    request.data_length_again = length;
    tag_USB_STATUS reply {};

    int code = Fex_Send(handle, reinterpret_cast<unsigned char*>(&request), sizeof request, count);
    if (code)
        return TransferFailed(kTransferRequestPoint, code);

    if (!knownDirection)
        return TransferFailed(kTransferBadDirection, kTransferBadDirection);
    code = MoveData(handle, buffer, length, direction, count);
    if (code)
        return TransferFailed(kTransferDataPoint, code);

    if (Fex_Recv(handle, reinterpret_cast<unsigned char*>(&reply), sizeof reply, count))
        return TransferFailed(kTransferReplyFailed, kTransferReplyFailed);
    if (reply.status != 0 || std::memcmp(reply.magic, "QXUS", sizeof reply.magic) != 0)
        return TransferFailed(kTransferBadReply, kTransferBadReply);
    return 0;
}

int Fex_command(void** handle, void* command, unsigned char* buffer, unsigned length)
{
    if (Descriptor(handle) < 0 || !command)
        return kCommandBadArgs;
    auto* block = static_cast<unsigned char*>(command);
    unsigned char status[kFexStatusSize];
    std::memset(status, 0x55, sizeof status);

    const DataPhase data = ChooseDataPhase(block, buffer, length);
    const bool moves = data.phase == Phase::Read || data.phase == Phase::Write;
    const unsigned char direction = data.phase == Phase::Read ? FEX_DIR_READ : FEX_DIR_WRITE;
    // The data phase's transfer refuses a length it cannot announce without
    // sending anything; the command block must not go out before it either.
    if (moves && length > kMaxLength)
        return CommandFailed(
            kCommandLengthPoint, Fex_transmit_receive(handle, buffer, length, direction));

    int code = Fex_transmit_receive(handle, block, FEX_CMD_LENGTH, FEX_DIR_WRITE);
    if (code)
        return CommandFailed(kCommandPhasePoint, code);

    if (data.note)
        PyrraDebug::DebugMsg("%s", data.note);
    if (data.phase == Phase::Stop)
        return data.logged ? CommandFailed(data.result, data.result) : data.result;
    if (moves) {
        code = Fex_transmit_receive(handle, buffer, length, direction);
        if (code)
            return CommandFailed(kCommandDataPoint, code);
    }
    if (ReadU16(block) == CMD_COMMON_VERIFY_DEV && !HasVerifyMagic(buffer, length))
        return CommandFailed(kVerifyBadMagic, kVerifyBadMagic);

    code = Fex_transmit_receive(handle, status, sizeof status, FEX_DIR_READ);
    if (code)
        return CommandFailed(kStatusPhasePoint, code);
    if (status[kFexStatusResult] != 0)
        return CommandFailed(kFexStatusFailed, kFexStatusFailed);
    return 0;
}
