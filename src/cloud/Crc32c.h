// CRC-32C (Castagnoli, reflected polynomial 0x82F63B78), as E57 pages carry it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace veldra {

// Checksum of a whole buffer: initial value all ones, final complement. Uses the processor's
// CRC32 instruction where there is one, else crc32cTable.
uint32_t crc32c(const void* data, std::size_t size);

// The portable slicing-by-8 computation.
uint32_t crc32cTable(const void* data, std::size_t size);

}  // namespace veldra
