// New globally unique identifiers from the system's random source.
#pragma once

#include <cstdint>

// The GUID layout: one 32-bit field, two 16-bit fields, eight bytes.
struct Guid {
  uint32_t data1 = 0;
  uint16_t data2 = 0;
  uint16_t data3 = 0;
  uint8_t data4[8] = {};
};

// A new random (version 4) GUID; false when the random source fails.
bool CreateGuid(Guid& guid);
