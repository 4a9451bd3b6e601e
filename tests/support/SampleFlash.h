// What a board's flash holds once the sample image (build/bin/sample.img)
// has been flashed into it.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

// The board's whole flash equals the sample's partitions at their targets
// (the encrypted one as it was before encryption), zeros everywhere else.
::testing::AssertionResult FlashHoldsSample(const std::vector<uint8_t>& flash);
