#include "compression/WofChunkTable.h"

#include "compression/WofStreamSource.h"
#include "formats/LittleEndian.h"

WofChunkTable::WofChunkTable(uint64_t streamSize, const WofInfo& info, uint64_t fileSize)
    : info(info), streamSize(streamSize), fileSize(fileSize) {
  uint64_t chunk = info.chunkSize ? info.chunkSize : 1;
  chunkCount = fileSize / chunk + (fileSize % chunk != 0);
  entrySize = fileSize > 0xFFFFFFFFull ? 8 : 4;
  tableSize = chunkCount ? (chunkCount - 1) * entrySize : 0;
}

uint32_t WofChunkTable::ChunkSize(uint64_t index) const {
  uint64_t start = index * info.chunkSize;
  uint64_t rest = fileSize - start;
  return static_cast<uint32_t>(rest < info.chunkSize ? rest : info.chunkSize);
}

WofResult WofChunkTable::ReadEntry(WofStreamSource& source, uint64_t entry, uint64_t& value,
                                   int& sourceError) const {
  uint8_t bytes[8] = {};
  sourceError = source.ReadAt(entry * entrySize, bytes, entrySize);
  if (sourceError != 0) return kWofStreamReadFailed;
  value = entrySize == 8 ? LoadLittle<uint64_t>(bytes) : LoadLittle<uint32_t>(bytes);
  return kWofOk;
}

WofResult WofChunkTable::Locate(WofStreamSource& source, uint64_t index, Place& place,
                                int& sourceError) const {
  if (index >= chunkCount || tableSize > streamSize) return kWofBadChunkTable;
  uint64_t start = 0;
  uint64_t end = streamSize - tableSize;
  WofResult result = kWofOk;
  if (index > 0) result = ReadEntry(source, index - 1, start, sourceError);
  if (result == kWofOk && index + 1 < chunkCount)
    result = ReadEntry(source, index, end, sourceError);
  if (result != kWofOk) return result;
  uint32_t size = ChunkSize(index);
  if (start > end || end > streamSize - tableSize || end - start > size || end == start)
    return kWofBadChunkTable;
  place.offset = tableSize + start;
  place.length = static_cast<uint32_t>(end - start);
  place.stored = place.length == size;
  return kWofOk;
}
