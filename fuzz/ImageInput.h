// The input of the image targets: a flag byte, then the image. CRC-32 fields
// stop nearly every mutated image at the first check, so the flags ask for
// them to be made right again after the mutation, where the image's own
// fields say where they lie: bit 0 the items' data CRCs, bit 1 the table CRC,
// bit 2 the header CRC (docs/image-format.md). Seeds are good images with
// all three bits set.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzz {

std::string ImageFromInput(const uint8_t* data, size_t size);

} // namespace fuzz
