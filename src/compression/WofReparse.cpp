#include "compression/WofReparse.h"

#include "formats/LittleEndian.h"

namespace {

constexpr size_t kHeaderBytes = 8;  // tag, data length, reserved
constexpr size_t kDataBytes = 16;   // the overlay record and the file provider's
constexpr uint32_t kRecordVersion = 1;
constexpr uint32_t kFileProvider = 2;

}  // namespace

WofResult ParseWofReparsePoint(const void* data, size_t size, WofInfo& info) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  if (size < kHeaderBytes) return kWofBadReparseData;
  if (LoadLittle<uint32_t>(bytes) != kWofReparseTag) return kWofNotWof;
  if (LoadLittle<uint16_t>(bytes + 4) != size - kHeaderBytes) return kWofBadReparseData;
  return ParseWofReparseData(bytes + kHeaderBytes, size - kHeaderBytes, info);
}

WofResult ParseWofReparseData(const void* data, size_t size, WofInfo& info) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  if (size != kDataBytes) return kWofBadReparseData;
  if (LoadLittle<uint32_t>(bytes) != kRecordVersion) return kWofUnknownVersion;
  if (LoadLittle<uint32_t>(bytes + 4) != kFileProvider) return kWofUnknownProvider;
  if (LoadLittle<uint32_t>(bytes + 8) != kRecordVersion) return kWofUnknownVersion;
  static constexpr uint32_t kChunkSizes[] = {4096, 32768, 8192, 16384};
  uint32_t algorithm = LoadLittle<uint32_t>(bytes + 12);
  if (algorithm >= sizeof(kChunkSizes) / sizeof(kChunkSizes[0])) return kWofUnknownAlgorithm;
  info.algorithm = static_cast<WofAlgorithm>(algorithm);
  info.chunkSize = kChunkSizes[algorithm];
  return kWofOk;
}

const wchar_t* WofAlgorithmName(WofAlgorithm algorithm) {
  switch (algorithm) {
    case WofAlgorithm::kXpress4K:
      return L"XPRESS4K";
    case WofAlgorithm::kLzx32K:
      return L"LZX";
    case WofAlgorithm::kXpress8K:
      return L"XPRESS8K";
    case WofAlgorithm::kXpress16K:
      return L"XPRESS16K";
  }
  return L"?";
}
