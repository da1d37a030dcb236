// CRC-32C (Castagnoli, reflected polynomial 0x82F63B78), as E57 pages carry it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace veldra {

// Checksum of a whole buffer: initial value all ones, final complement.
uint32_t crc32c(const void* data, std::size_t size);

}  // namespace veldra
