// GUIDs on Linux: 16 bytes from getrandom(2), with the version-4 and variant bits set as a
// generated random GUID carries them.
#include "platform/guid.h"

#include <sys/random.h>

#include <cerrno>
#include <cstddef>

namespace {

bool FillRandom(uint8_t* bytes, size_t count) {
  size_t filled = 0;
  while (filled < count) {
    const ssize_t n = getrandom(bytes + filled, count - filled, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    filled += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

bool CreateGuid(Guid& guid) {
  uint8_t bytes[16];
  if (!FillRandom(bytes, sizeof bytes)) return false;
  guid.data1 = (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) |
               bytes[3];
  guid.data2 = static_cast<uint16_t>((bytes[4] << 8) | bytes[5]);
  guid.data3 = static_cast<uint16_t>((((bytes[6] << 8) | bytes[7]) & 0x0FFF) | 0x4000);
  for (int i = 0; i < 8; ++i) guid.data4[i] = bytes[8 + i];
  guid.data4[0] = static_cast<uint8_t>((guid.data4[0] & 0x3F) | 0x80);
  return true;
}
