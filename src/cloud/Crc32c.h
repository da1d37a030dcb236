// CRC-32C (Castagnoli, reflected polynomial 0x82F63B78), as E57 pages carry it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace veldra {

// Checksum of a whole buffer: initial value all ones, final complement. Uses carry-less
// multiplication or the processor's CRC32 instruction where there are, else crc32cTable.
uint32_t crc32c(const void* data, std::size_t size);

// The portable slicing-by-8 computation.
uint32_t crc32cTable(const void* data, std::size_t size);

// The ways crc32c can compute, fastest last; all give the same result.
enum class Crc32cMethod { Table, Instruction, Folding };
bool crc32cAvailable(Crc32cMethod m);
// crc32c by the given method, or by the table where the processor lacks what it needs.
uint32_t crc32cBy(Crc32cMethod m, const void* data, std::size_t size);

}  // namespace veldra
