// What makes a payload runnable by CMD_FEL_RUN: a 16-byte header ("VEMOFES2",
// body length, CRC-32 of the body) followed by the body.
#pragma once

#include "SparseRam.h"

#include <cstdint>
#include <string>
#include <vector>

namespace simdev {

constexpr uint32_t kSecondStageHeader = 16;
constexpr uint32_t kSecondStageMaxBody = 16u << 20;

// Empty when the payload at `address` is valid, else why it is refused.
std::string CheckSecondStage(const SparseRam& ram, uint32_t address);

} // namespace simdev
