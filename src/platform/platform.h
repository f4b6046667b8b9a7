// What the two builds provide beyond the Win32 names: console printing with
// one meaning of "%s" on both, bounded wide formatting and the path separator.
#pragma once

#include <cstdarg>
#include <string>

#include "printable_name.h"
#include "win32.h"

// Separator of file-system paths: '\\' on Windows, '/' on Linux. Device
// names keep their Windows form on both builds.
extern const wchar_t kPathSeparator;

// Every character that ends a path part when a path is read: '\\' and '/' on
// Windows, which accepts both; '/' alone on Linux, where '\\' is a valid
// character of a file name. kPathSeparator is the first of them.
extern const wchar_t kPathSeparators[];

// The device-namespace name of the physical drives before their number:
// "PhysicalDrive" of "\\.\PhysicalDrive2".
extern const wchar_t kDrivePrefix[];

// The extension that executables carry on this platform (".exe" on Windows,
// none on Linux). The program compares its own file name without it.
extern const wchar_t kExecutableExtension[];

// How a run that attaches or detaches disks is given the rights it needs,
// as the end of "run Brackwen ...": an elevated prompt on Windows, root on
// Linux.
extern const wchar_t kElevationAdvice[];

// Whether `folder` (ending in a separator) is a temporary folder of this
// program's own, where its VHD files lie. Windows: the user's temporary
// folder (GetTempPathW), compared in long form without regard to case.
// Linux: a folder named and checked as the calling user's private temporary
// folder is, under any TMPDIR (see GetTempPathW), without following links.
// Returns: true when it is, else false.
bool IsPrivateTempFolder(const std::wstring& folder);

// A new file that takes the name `path` only once it is complete, so that a
// run that fails, is interrupted or is killed leaves nothing under that name,
// and nothing is ever removed by a name that someone could have swapped. The
// folder of `path` is opened once and held in `*folder`; the file is made in
// that folder and named there, wherever its path leads meanwhile. Closing the
// file before NameUnnamedFile removes it.
// Windows: made under its name, marked for deletion through its handle at
// once (the folder is held without delete sharing, so it cannot be renamed).
// Linux: an unnamed file in the folder; where the file system has no unnamed
// files, a named one that closing removes from the held folder if it is still
// the same file.
// Returns: a handle for reading and writing, or INVALID_HANDLE_VALUE with the
// last error set (80 when `path` exists).
HANDLE CreateUnnamedFile(const wchar_t* path, HANDLE* folder);

// Gives the file made by CreateUnnamedFile its name in the held folder.
// Returns: TRUE, or FALSE with the last error set (80 when the name was
// taken meanwhile; the file then stays unnamed).
BOOL NameUnnamedFile(HANDLE folder, HANDLE file, const wchar_t* path);

// A folder held open, for work inside it when its path runs through a folder
// that another user may write: HeldFolderPath leads into the folder held,
// wherever its name leads meanwhile, so nothing is made in, or removed from,
// a folder put in its place. A link at `path` itself is followed when
// `followLink` says so, and refused otherwise (a folder the caller made).
// Windows: held without delete sharing, so that it cannot be renamed or
// removed; its path is its final path. Linux: the descriptor's /proc path.
// Returns: the handle (CloseHandle releases it), or INVALID_HANDLE_VALUE with
// the last error set.
HANDLE HoldFolder(const wchar_t* path, bool followLink);
// Returns: the path of the held folder, without a separator at its end;
// empty for a handle that HoldFolder did not make.
std::wstring HeldFolderPath(HANDLE folder);

// Whether `file` is the very file the virtual disk `drive` (an open
// \\.\PhysicalDriveN) was made from, by the file's identity rather than its
// name: a file put in its place under the same name is not. Windows holds
// an attached disk's file against deletion and replacement, so there the
// disk that the file opens as is compared; Linux compares the loop's
// backing file by device and inode.
// Returns: TRUE when it is, else FALSE.
extern "C" BOOL IsFileOfDisk(HANDLE drive, LPCWSTR file);

// Wide formatted print to standard output. "%s" takes a wide string, "%d" a
// signed 32-bit integer, "%x" and "%u" unsigned ones, "%%" a percent sign.
// Flushed before it returns; returns the number of characters printed.
int VPrintWide(const wchar_t* format, va_list arguments);
inline int PrintWide(const wchar_t* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  int printed = VPrintWide(format, arguments);
  va_end(arguments);
  return printed;
}

// Narrow formatted print to the same stream, in program order with the wide
// one. "%s" takes a narrow string here.
int PrintNarrow(const char* format, ...);

// Writes text to standard output unchanged (no format interpretation).
int PrintWideText(const wchar_t* text);

// The final text of a status line that had no console to be shown on
// (output redirected to a file or pipe). On Windows it is printed once as a
// plain line, without the blanks that padded its status word, so that logs
// keep it; the Linux build's redirected output stays without status lines,
// as its scripts and tests read it.
void PrintFinalStatusText(const wchar_t* text);

// Bounded wide formatting with the same conversions as PrintWide. Never writes
// more than count characters, terminator included; a longer result is cut
// and -1 is returned, as the counted formatting of the Windows runtime does.
int VFormatWideBounded(wchar_t* buffer, size_t count, const wchar_t* format,
                       va_list arguments);

// Keeps the thread's last error across a scope. Prints and status lines use
// it (their console calls fail on a file or pipe and set error 6, while
// callers print a line and then report the last error), and so do the Linux
// layer's virtual disk calls, which return their error as Windows does.
class KeptLastError {
 public:
  KeptLastError() : saved(GetLastError()) {}
  ~KeptLastError() { SetLastError(saved); }
  KeptLastError(const KeptLastError&) = delete;
  KeptLastError& operator=(const KeptLastError&) = delete;

 private:
  DWORD saved;
};
