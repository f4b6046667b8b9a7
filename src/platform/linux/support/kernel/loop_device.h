// Loop devices: attaching files and block devices, finding and detaching them.
// Everything about a bound loop is read from /sys/block/loopN/loop/, which
// exists only while the loop is bound.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <vector>

#include "win32_types.h"

struct LoopBinding {
  int number = -1;
  std::string backingFile;  // as the kernel reports it
  uint64_t offset = 0;
  uint64_t sizeLimit = 0;
};

struct LoopAttachRequest {
  std::string backingPath;
  uint64_t offset = 0;
  uint64_t sizeLimit = 0;  // 0: up to the end of the backing file
  uint32_t blockSize = 512;
  bool readOnly = false;
};

// "/dev/loopN".
std::string LoopDevicePath(int number);

// N for "/dev/loopN" (digits only after the prefix), else -1.
int LoopNumberOfPath(const std::string& path);

// The binding of loop N; false when that loop is not bound.
bool LoopReadBinding(int number, LoopBinding* binding);

// Every bound loop, by number.
std::vector<LoopBinding> LoopListBindings();

// A partition volume is a loop over another loop device: the number of that
// disk loop, or -1 for a loop over a file.
int LoopDiskOf(const LoopBinding& binding);

// The loop (not a partition volume) bound to the file at path, by device and
// inode; -1 when there is none.
int LoopFindByFile(const std::string& path);

// Whether loop N's backing file is the file of `status`, by the device and
// inode the kernel keeps for it (which hold also once the file has lost its
// name).
bool LoopHoldsFile(int number, const struct stat& status);

// The name of a loop's backing file: the kernel's record, without the
// " (deleted)" it adds once the file has no name any more (deleted, or
// another file moved over it). `named` tells whether the file still has it.
std::string LoopFileName(const LoopBinding& binding, bool* named);

// The loop (not a partition volume) whose backing file was named `path` and
// has no name any more; -1 when there is none.
int LoopFindByLostName(const std::string& path);

// Binds a free loop device to the backing path, without autoclear so that it
// outlives the process; direct I/O when the kernel accepts it. Returns: a
// Win32 code.
DWORD LoopAttach(const LoopAttachRequest& request, int* number);

// Unbinds loop N (deferred by the kernel while someone else holds it open).
// Returns: a Win32 code, ERROR_NOT_FOUND when it is not bound.
DWORD LoopDetach(int number);

// Logical block size of an open block device (512 when it cannot be read).
uint32_t LoopLogicalBlockSize(int fd);
