#include "vdisk/OutputFile.h"

#include <algorithm>

#include "common/Failure.h"
#include "platform.h"

int OutputFile::Create() {
  HANDLE heldFolder = INVALID_HANDLE_VALUE;
  file.Reset(CreateUnnamedFile(path.c_str(), &heldFolder));
  if (!file.Valid()) return FailWithError(0, path.c_str());
  folder.Reset(heldFolder);
  return 0;
}

bool OutputFile::MoveTo(uint64_t offset) {
  LARGE_INTEGER target{};
  target.QuadPart = static_cast<LONGLONG>(offset);
  return SetFilePointerEx(file.Get(), target, nullptr, FILE_BEGIN) != FALSE;
}

int OutputFile::Write(uint64_t offset, const void* data, uint64_t length) {
  if (!MoveTo(offset)) return FailWithError(0, path.c_str());
  writtenEnd = std::max(writtenEnd, offset + length);
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  while (length > 0) {
    DWORD piece = static_cast<DWORD>(std::min<uint64_t>(length, 1u << 30));
    DWORD written = 0;
    if (!WriteFile(file.Get(), bytes, piece, &written, nullptr))
      return FailWithError(0, path.c_str());
    bytes += piece;
    length -= piece;
  }
  return 0;
}

int OutputFile::SetLength(uint64_t length) {
  if (length == writtenEnd) return 0;
  if (!MoveTo(length) || !SetEndOfFile(file.Get())) return FailWithError(0, path.c_str());
  writtenEnd = length;
  return 0;
}

void OutputFile::MakeSparse() {
  // A file system without sparse files writes the zeros instead.
  DWORD returned = 0;
  DeviceIoControl(file.Get(), FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr);
}

int OutputFile::Name() {
  if (!NameUnnamedFile(folder.Get(), file.Get(), path.c_str()))
    return FailWithError(0, path.c_str());
  HANDLE handle = file.Release();
  folder.Reset();
  if (!CloseHandle(handle)) return FailWithError(0, path.c_str());
  return 0;
}
