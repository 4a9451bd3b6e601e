// The eFex kernel driver stand-in. Linked into a test program, or preloaded
// (LD_PRELOAD) into any process, it makes chosen device-node paths answer as
// the driver's nodes do: open, close and the two driver requests. Every other
// path and descriptor passes through to the C library untouched.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace simdrv {

// The device behind a simulated node. Each driver request on a descriptor of
// the node reaches the model once, with the chunk the record names.
// Results: 0 on success, or a positive errno value the request fails with
// (the caller then sees -1 and that errno, as from the real driver).
class DeviceModel {
public:
    virtual ~DeviceModel() = default;
    // EFEX_IOC_SEND: `length` bytes from the host.
    virtual int Send(const uint8_t* data, uint32_t length) = 0;
    // EFEX_IOC_RECV: must fill exactly `length` bytes for the host.
    virtual int Recv(uint8_t* data, uint32_t length) = 0;
    // A descriptor of the node was opened with `flags`, or one was closed.
    virtual void Opened(int flags) { (void)flags; }
    virtual void Closed() { }
};

// Makes `path` (for example "/dev/qx_efex0") a simulated node served by
// `model`. Each open of it gets a real descriptor of its own.
void AttachNode(const std::string& path, std::shared_ptr<DeviceModel> model);

// Removes the node: later opens fail with ENOENT; requests on descriptors
// still open fail with ENODEV until they are closed.
void DetachNode(const std::string& path);

} // namespace simdrv
