#pragma once

#include <cstdint>
#include <string>

#include "common/UniqueHandle.h"

// The extract's new file: it takes its name only when Name is called, so a
// run that fails, is interrupted or killed leaves nothing under that name,
// and it is never removed by a name (see CreateUnnamedFile).
class OutputFile {
 public:
  explicit OutputFile(const std::wstring& path) : path(path) {}
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  const std::wstring& Path() const { return path; }

  // Makes the file, never over an existing one.
  // Returns: 0, or the Win32 error code after reporting it with the path.
  int Create();

  // Returns: 0, or the Win32 error code after reporting it with the path.
  int Write(uint64_t offset, const void* data, uint64_t length);

  // Makes the file `length` bytes long: cut there, or grown with zeros. A
  // file whose writes already end there is left as it is, so that file
  // systems that cannot change a file's length (FAT through its FUSE
  // driver) still take a VHDX or VHD.
  // Returns: 0, or the Win32 error code after reporting it with the path.
  int SetLength(uint64_t length);

  // Marks it sparse where the file system has sparse files; holes then
  // take no space.
  void MakeSparse();

  // Gives the file its name and closes it for good.
  // Returns: 0, or the Win32 error code after reporting it with the path.
  int Name();

 private:
  bool MoveTo(uint64_t offset);

  std::wstring path;
  UniqueHandle folder;  // held while the file is made, see CreateUnnamedFile
  UniqueHandle file;
  uint64_t writtenEnd = 0;  // the file is made empty and grows by Write alone
};
