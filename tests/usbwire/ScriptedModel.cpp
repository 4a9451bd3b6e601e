#include "ScriptedModel.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

bool ScriptedModel::Failing()
{
    if (requests.size() != failAt_)
        return false;
    failAt_ = SIZE_MAX;
    return true;
}

int ScriptedModel::Send(const uint8_t* data, uint32_t length)
{
    const bool fail = Failing();
    requests.push_back({true, data, {data, data + length}});
    return fail ? failError_ : 0;
}

int ScriptedModel::Recv(uint8_t* data, uint32_t length)
{
    const bool fail = Failing();
    if (fail || output_.size() < length) {
        requests.push_back({false, data, std::vector<uint8_t>(length)});
        return fail ? failError_ : EIO;
    }
    std::copy(output_.begin(), output_.begin() + length, data);
    output_.erase(output_.begin(), output_.begin() + length);
    requests.push_back({false, data, {data, data + length}});
    return 0;
}

void ScriptedModel::Answer(const std::vector<uint8_t>& bytes)
{
    output_.insert(output_.end(), bytes.begin(), bytes.end());
}

void ScriptedModel::FailRequest(size_t index, int error)
{
    failAt_ = requests.size() + index;
    failError_ = error;
}

static bool IsRequestBlock(const DriverRequest& r)
{
    return r.send && r.bytes.size() == 32 && std::memcmp(r.bytes.data(), "QXUC", 4) == 0;
}

std::string ScriptedModel::Trace() const
{
    std::string trace;
    char word[32];
    for (const DriverRequest& r : requests) {
        if (IsRequestBlock(r)) {
            uint32_t length;
            std::memcpy(&length, &r.bytes[8], 4);
            std::snprintf(word, sizeof word, "Q%02x/%u", r.bytes[16], length);
        } else {
            std::snprintf(word, sizeof word, "%c%zu", r.send ? 'S' : 'R', r.bytes.size());
        }
        trace += trace.empty() ? word : std::string(" ") + word;
    }
    return trace;
}

std::vector<uint8_t> ScriptedModel::SentData() const
{
    std::vector<uint8_t> data;
    for (const DriverRequest& r : requests)
        if (r.send && !IsRequestBlock(r))
            data.insert(data.end(), r.bytes.begin(), r.bytes.end());
    return data;
}

std::vector<uint8_t> StatusReply(uint8_t status, const char* magic)
{
    std::vector<uint8_t> reply(13, 0);
    std::memcpy(reply.data(), magic, 4);
    reply[12] = status;
    return reply;
}

std::vector<uint8_t> FexStatus(uint8_t result)
{
    std::vector<uint8_t> status(8, 0);
    status[4] = result;
    return status;
}

std::vector<uint8_t> Join(std::initializer_list<std::vector<uint8_t>> parts)
{
    std::vector<uint8_t> all;
    for (const auto& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

std::vector<uint8_t> RequestBlock(uint32_t length, uint8_t direction)
{
    std::vector<uint8_t> block(32, 0);
    std::memcpy(block.data(), "QXUC", 4);
    std::memcpy(&block[8], &length, 4);
    block[15] = 0x0C;
    block[16] = direction;
    std::memcpy(&block[18], &length, 4);
    return block;
}
