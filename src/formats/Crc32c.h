// CRC-32C (Castagnoli), the checksum of the VHDX headers and tables.
#pragma once

#include <cstddef>
#include <cstdint>

// The CRC-32C of `length` bytes: reflected polynomial 0x82F63B78, initial
// value and final XOR 0xFFFFFFFF.
uint32_t Crc32c(const uint8_t* bytes, size_t length);
