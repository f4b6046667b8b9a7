#include "random_id.h"

#include <sys/random.h>
#include <unistd.h>

#include <ctime>

namespace {

void FillRandom(uint8_t* bytes, size_t length) {
  if (getrandom(bytes, length, 0) == static_cast<ssize_t>(length)) return;
  // Without the kernel's generator the id is still unique enough per file.
  uint64_t seed = static_cast<uint64_t>(time(nullptr)) ^ (static_cast<uint64_t>(getpid()) << 32);
  for (size_t i = 0; i < length; ++i) {
    seed = seed * 6364136223846793005ull + 1442695040888963407ull;
    bytes[i] = static_cast<uint8_t>(seed >> 56);
  }
}

// The version in the top 4 bits of the third field, the variant in the top
// 2 bits of the fourth.
uint8_t WithVersion(uint8_t byte) { return static_cast<uint8_t>((byte & 0x0F) | 0x40); }
uint8_t WithVariant(uint8_t byte) { return static_cast<uint8_t>((byte & 0x3F) | 0x80); }

}  // namespace

void NewRandomId(uint8_t id[16]) {
  FillRandom(id, 16);
  id[6] = WithVersion(id[6]);
  id[8] = WithVariant(id[8]);
}

DiskGuid NewRandomGuid() {
  DiskGuid id;
  FillRandom(reinterpret_cast<uint8_t*>(&id), sizeof(id));
  id.data3 = static_cast<uint16_t>((id.data3 & 0x0FFF) | 0x4000);
  id.data4[0] = WithVariant(id.data4[0]);
  return id;
}
