#include <cstdlib>
#include <cwchar>

#include "support/runtime/errors.h"
#include "win32_linux.h"

// The English system texts of the Win32 codes that this layer and the program
// produce, worded as the system words them, each with its CR LF ending.

namespace {
constexpr DWORD kMessageNotFound = 317;  // ERROR_MR_MID_NOT_FOUND

struct SystemMessage {
  DWORD code;
  const wchar_t* text;
};

const SystemMessage kSystemMessages[] = {
    {0, L"The operation completed successfully.\r\n"},
    {1, L"Incorrect function.\r\n"},
    {2, L"The system cannot find the file specified.\r\n"},
    {3, L"The system cannot find the path specified.\r\n"},
    {4, L"The system cannot open the file.\r\n"},
    {5, L"Access is denied.\r\n"},
    {6, L"The handle is invalid.\r\n"},
    {8, L"Not enough memory resources are available to process this command.\r\n"},
    {13, L"The data is invalid.\r\n"},
    {14, L"Not enough memory resources are available to complete this operation.\r\n"},
    {15, L"The system cannot find the drive specified.\r\n"},
    {17, L"The system cannot move the file to a different disk drive.\r\n"},
    {18, L"There are no more files.\r\n"},
    {19, L"The media is write protected.\r\n"},
    {21, L"The device is not ready.\r\n"},
    {23, L"Data error (cyclic redundancy check).\r\n"},
    {24, L"The program issued a command but the command length is incorrect.\r\n"},
    {25, L"The drive cannot locate a specific area or track on the disk.\r\n"},
    {29, L"The system cannot write to the specified device.\r\n"},
    {30, L"The system cannot read from the specified device.\r\n"},
    {31, L"A device attached to the system is not functioning.\r\n"},
    {32, L"The process cannot access the file because it is being used by another "
         L"process.\r\n"},
    {33, L"The process cannot access the file because another process has locked a "
         L"portion of the file.\r\n"},
    {38, L"Reached the end of the file.\r\n"},
    {39, L"The disk is full.\r\n"},
    {50, L"The request is not supported.\r\n"},
    {55, L"The specified network resource or device is no longer available.\r\n"},
    {80, L"The file exists.\r\n"},
    {87, L"The parameter is incorrect.\r\n"},
    {110, L"The system cannot open the device or file specified.\r\n"},
    {111, L"The file name is too long.\r\n"},
    {112, L"There is not enough space on the disk.\r\n"},
    {122, L"The data area passed to a system call is too small.\r\n"},
    {123, L"The filename, directory name, or volume label syntax is incorrect.\r\n"},
    {131, L"An attempt was made to move the file pointer before the beginning of the "
          L"file.\r\n"},
    {144, L"The directory is not a subdirectory of the root directory.\r\n"},
    {145, L"The directory is not empty.\r\n"},
    {161, L"The specified path is invalid.\r\n"},
    {170, L"The requested resource is in use.\r\n"},
    {183, L"Cannot create a file when that file already exists.\r\n"},
    {206, L"The filename or extension is too long.\r\n"},
    {234, L"More data is available.\r\n"},
    {267, L"The directory name is invalid.\r\n"},
    {433, L"A device which does not exist was specified.\r\n"},
    {740, L"The requested operation requires elevation.\r\n"},
    {1005, L"The volume does not contain a recognized file system.\r\n"
           L"Please make sure that all required file system drivers are loaded and "
           L"that the volume is not corrupted.\r\n"},
    {1006, L"The volume for a file has been externally altered so that the opened "
           L"file is no longer valid.\r\n"},
    {1112, L"There is no media in the drive.\r\n"},
    {1117, L"The request could not be performed because of an I/O device error.\r\n"},
    {1167, L"The device is not connected.\r\n"},
    {1168, L"Element not found.\r\n"},
    {1300, L"Not all privileges or groups referenced are assigned to the caller.\r\n"},
    {1313, L"A specified privilege does not exist.\r\n"},
    {1314, L"A required privilege is not held by the client.\r\n"},
    {1392, L"The file or directory is corrupted and unreadable.\r\n"},
    {1450, L"Insufficient system resources exist to complete the requested "
           L"service.\r\n"},
    {1460, L"This operation returned because the timeout period expired.\r\n"},
    {1785, L"The disk media is not recognized. It may not be formatted.\r\n"},
    {4390, L"The file or directory is not a reparse point.\r\n"},
    {0xC03A0014, L"A virtual disk support provider for the specified file was not "
                 L"found.\r\n"},
    {0xC03A0015, L"The specified disk is not a virtual disk.\r\n"},
    {0xC03A001A, L"The requested operation could not be completed due to a virtual disk "
                 L"system limitation.  Virtual hard disk files must be uncompressed and "
                 L"unencrypted and must not be sparse.\r\n"},
};

// The English system text of a Win32 code, ending in CR LF; empty when the
// code has none.
const wchar_t* SystemMessageText(DWORD code) {
  for (const SystemMessage& message : kSystemMessages)
    if (message.code == code) return message.text;
  return L"";
}
}  // namespace

DWORD FormatMessageW(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId,
                     LPWSTR buffer, DWORD size, va_list* arguments) {
  (void)source, (void)languageId, (void)arguments;
  if ((flags & FORMAT_MESSAGE_FROM_SYSTEM) == 0 || buffer == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const wchar_t* text = SystemMessageText(messageId);
  const size_t length = wcslen(text);
  if (length == 0) {
    SetLastError(kMessageNotFound);
    return 0;
  }
  if (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
    // `buffer` receives a pointer to a block that LocalFree releases.
    const size_t capacity = length + 1 > size ? length + 1 : size;
    wchar_t* block = static_cast<wchar_t*>(calloc(capacity, sizeof(wchar_t)));
    *reinterpret_cast<wchar_t**>(buffer) = block;
    if (block == nullptr) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return 0;
    }
    wmemcpy(block, text, length + 1);
    return static_cast<DWORD>(length);
  }
  if (size < length + 1) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  wmemcpy(buffer, text, length + 1);
  return static_cast<DWORD>(length);
}

HLOCAL LocalFree(HLOCAL memory) {
  free(memory);
  return nullptr;
}
