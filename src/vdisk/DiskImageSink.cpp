#include "vdisk/DiskImageSink.h"

#include <cwctype>

#include "vdisk/OutputFile.h"

namespace {
bool EndsWithNoCase(const std::wstring& text, const std::wstring& end) {
  if (text.size() < end.size()) return false;
  for (size_t i = 0; i < end.size(); ++i)
    if (static_cast<wchar_t>(std::towlower(text[text.size() - end.size() + i])) != end[i])
      return false;
  return true;
}
}  // namespace

ImageContainer ContainerOfPath(const std::wstring& path) {
  if (EndsWithNoCase(path, L".vhdx")) return ImageContainer::kVhdx;
  if (EndsWithNoCase(path, L".vhd")) return ImageContainer::kVhd;
  return ImageContainer::kRaw;
}

int RawImageSink::Start(uint64_t length) {
  file.MakeSparse();
  return file.SetLength(length);
}

int RawImageSink::Write(uint64_t offset, const uint8_t* data, uint64_t length) {
  return file.Write(offset, data, length);
}

int RawImageSink::Finish() { return file.Name(); }
