// A device model for the transport's tests: it records every driver request
// with its bytes, answers receives from a scripted stream of device output,
// and can fail one chosen request.
#pragma once

#include "SimDriver.h"

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

struct DriverRequest {
    bool send;
    const uint8_t* address;     // where the driver was told the chunk lies
    std::vector<uint8_t> bytes; // what was sent, or what the model answered
};

class ScriptedModel : public simdrv::DeviceModel {
public:
    int Send(const uint8_t* data, uint32_t length) override;
    int Recv(uint8_t* data, uint32_t length) override;
    void Opened(int flags) override { openFlags.push_back(flags); }
    void Closed() override { ++closes; }

    // Device output for the next receives, in order. A receive that finds
    // too little fails with EIO (the device had nothing to say).
    void Answer(const std::vector<uint8_t>& bytes);
    // Forgets device output that was never asked for.
    void DropOutput() { output_.clear(); }
    // The request with this index (0 = the first after the call) fails.
    void FailRequest(size_t index, int error);

    // The requests as words: "Q12/16" a request block (direction/length),
    // "S<n>" another send, "R<n>" a receive; separated by spaces.
    std::string Trace() const;
    // The bytes of every send that is not a request block, joined.
    std::vector<uint8_t> SentData() const;

    std::vector<DriverRequest> requests;
    std::vector<int> openFlags;
    int closes = 0;

private:
    std::deque<uint8_t> output_;
    size_t failAt_ = SIZE_MAX;
    int failError_ = 0;
    bool Failing();
};

// Device answers, byte for byte.
std::vector<uint8_t> StatusReply(uint8_t status = 0, const char* magic = "QXUS");
std::vector<uint8_t> FexStatus(uint8_t result);
std::vector<uint8_t> Join(std::initializer_list<std::vector<uint8_t>> parts);
// Expected request block of a transfer.
std::vector<uint8_t> RequestBlock(uint32_t length, uint8_t direction);
