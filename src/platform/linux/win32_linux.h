// The subset of the Win32 API that Brackwen calls, declared for Linux: one
// section for each file of this folder that implements it. Their types and
// constants are in win32_types.h; platform.h's own calls are in print.cpp,
// paths.cpp, temp.cpp and unnamed_files.cpp.
#pragma once

#include "win32_types.h"

// The calls have C linkage, as on Windows; it also lets a test binary wrap
// single calls at link time (ld --wrap) to produce failures on demand.
extern "C" {

// ---- Files (files.cpp) ------------------------------------------------------
HANDLE CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode,
                   LPSECURITY_ATTRIBUTES securityAttributes,
                   DWORD creationDisposition, DWORD flagsAndAttributes,
                   HANDLE templateFile);
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead,
              LPOVERLAPPED overlapped);
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite,
               LPDWORD bytesWritten, LPOVERLAPPED overlapped);
BOOL SetFilePointerEx(HANDLE file, LARGE_INTEGER distanceToMove,
                      PLARGE_INTEGER newFilePointer, DWORD moveMethod);
BOOL SetEndOfFile(HANDLE file);
BOOL SetFileTime(HANDLE file, const FILETIME* creationTime, const FILETIME* lastAccessTime,
                 const FILETIME* lastWriteTime);
BOOL FlushFileBuffers(HANDLE file);
DWORD GetFileType(HANDLE file);

// ---- Handles (handles.cpp) --------------------------------------------------
BOOL CloseHandle(HANDLE object);

// ---- Folders, searches and deletes (directory.cpp) --------------------------
DWORD GetFileAttributesW(LPCWSTR fileName);
HANDLE FindFirstFileW(LPCWSTR fileName, LPWIN32_FIND_DATAW findFileData);
BOOL FindNextFileW(HANDLE findFile, LPWIN32_FIND_DATAW findFileData);
BOOL FindClose(HANDLE findFile);
BOOL DeleteFileW(LPCWSTR fileName);
BOOL CreateDirectoryW(LPCWSTR pathName, LPSECURITY_ATTRIBUTES securityAttributes);
BOOL RemoveDirectoryW(LPCWSTR pathName);
BOOLEAN CreateSymbolicLinkW(LPCWSTR symlinkFileName, LPCWSTR targetFileName, DWORD flags);

// ---- Temporary files (temp.cpp) ---------------------------------------------
DWORD GetTempPathW(DWORD bufferLength, LPWSTR buffer);
unsigned GetTempFileNameW(LPCWSTR pathName, LPCWSTR prefixString, unsigned unique,
                          LPWSTR tempFileName);

// ---- The executable's path (module.cpp) -------------------------------------
DWORD GetModuleFileNameW(HMODULE module, LPWSTR fileName, DWORD size);

// ---- The last error (last_error.cpp) ----------------------------------------
DWORD GetLastError();
void SetLastError(DWORD errorCode);

// ---- Strings (strings.cpp) --------------------------------------------------
LPWSTR CharUpperW(LPWSTR text);
// Code page 65001 (CP_UTF8) only, flags 0; what no valid text holds becomes
// U+FFFD, as on Windows.
#define CP_UTF8 65001
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR text, int length, LPSTR out,
                        int outSize, LPCSTR defaultChar, LPBOOL usedDefault);
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int length, LPWSTR out,
                        int outSize);

// ---- Named mutexes (mutex.cpp) ----------------------------------------------
// A named mutex is a lock file held with flock: root's "Global\" names in
// one folder for the whole machine, other names in the caller's temporary
// folder. The kernel lets it go when its holder dies (the next waiter then
// gets WAIT_ABANDONED, as on Windows).
HANDLE CreateMutexW(LPSECURITY_ATTRIBUTES mutexAttributes, BOOL initialOwner, LPCWSTR name);
HANDLE OpenMutexW(DWORD desiredAccess, BOOL inheritHandle, LPCWSTR name);
BOOL ReleaseMutex(HANDLE mutex);

// ---- Threads, events, waits and Sleep (threads.cpp) -------------------------
void Sleep(DWORD milliseconds);
DWORD GetCurrentProcessId();
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
HANDLE CreateThread(LPSECURITY_ATTRIBUTES threadAttributes, SIZE_T stackSize,
                    LPTHREAD_START_ROUTINE startAddress, LPVOID parameter,
                    DWORD creationFlags, LPDWORD threadId);
HANDLE CreateEventW(LPSECURITY_ATTRIBUTES eventAttributes, BOOL manualReset,
                    BOOL initialState, LPCWSTR name);
BOOL SetEvent(HANDLE event);
BOOL SetThreadPriority(HANDLE thread, int priority);

// ---- The environment and the machine (environment.cpp) ----------------------
DWORD GetEnvironmentVariableW(LPCWSTR name, LPWSTR buffer, DWORD size);
// Fills the page size and the processors the process may run on; the rest
// is zero.
void GetSystemInfo(LPSYSTEM_INFO systemInfo);

// ---- Console (console.cpp) --------------------------------------------------
HANDLE GetStdHandle(DWORD stdHandle);
BOOL GetConsoleMode(HANDLE console, LPDWORD mode);
BOOL GetConsoleScreenBufferInfo(HANDLE console, PCONSOLE_SCREEN_BUFFER_INFO info);
BOOL SetConsoleCursorPosition(HANDLE console, COORD position);
BOOL ReadConsoleOutputCharacterW(HANDLE console, LPWSTR characters, DWORD length,
                                 COORD readCoord, LPDWORD charsRead);
BOOL WriteConsoleW(HANDLE console, const void* buffer, DWORD charsToWrite,
                   LPDWORD charsWritten, LPVOID reserved);

// ---- Console control events (control_events.cpp) ----------------------------
BOOL SetConsoleCtrlHandler(PHANDLER_ROUTINE handlerRoutine, BOOL add);

// ---- System messages (messages.cpp) -----------------------------------------
DWORD FormatMessageW(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId,
                     LPWSTR buffer, DWORD size, va_list* arguments);
HLOCAL LocalFree(HLOCAL memory);

// ---- Device control (ioctl.cpp) ---------------------------------------------
BOOL DeviceIoControl(HANDLE device, DWORD ioControlCode, LPVOID inBuffer,
                     DWORD inBufferSize, LPVOID outBuffer, DWORD outBufferSize,
                     LPDWORD bytesReturned, LPOVERLAPPED overlapped);

// ---- DOS device names (dosdevices.cpp) --------------------------------------
DWORD QueryDosDeviceW(LPCWSTR deviceName, LPWSTR targetPath, DWORD max);

// ---- Volume management (volumes.cpp) ----------------------------------------
BOOL SetVolumeMountPointW(LPCWSTR volumeMountPoint, LPCWSTR volumeName);
BOOL DeleteVolumeMountPointW(LPCWSTR volumeMountPoint);
BOOL GetVolumePathNamesForVolumeNameW(LPCWSTR volumeName, LPWSTR volumePathNames,
                                      DWORD bufferLength, LPDWORD returnLength);
BOOL GetVolumeNameForVolumeMountPointW(LPCWSTR volumeMountPoint, LPWSTR volumeName,
                                       DWORD bufferLength);
HANDLE FindFirstVolumeW(LPWSTR volumeName, DWORD bufferLength);
BOOL FindNextVolumeW(HANDLE findVolume, LPWSTR volumeName, DWORD bufferLength);
BOOL FindVolumeClose(HANDLE findVolume);
BOOL GetVolumeInformationW(LPCWSTR rootPathName, LPWSTR volumeNameBuffer, DWORD volumeNameSize,
                           LPDWORD volumeSerialNumber, LPDWORD maximumComponentLength,
                           LPDWORD fileSystemFlags, LPWSTR fileSystemNameBuffer,
                           DWORD fileSystemNameSize);

// ---- Virtual disk service (virtdisk.cpp) ------------------------------------
DWORD CreateVirtualDisk(PVIRTUAL_STORAGE_TYPE storageType, PCWSTR path,
                        VIRTUAL_DISK_ACCESS_MASK accessMask,
                        PSECURITY_DESCRIPTOR securityDescriptor,
                        CREATE_VIRTUAL_DISK_FLAG flags, ULONG providerSpecificFlags,
                        PCREATE_VIRTUAL_DISK_PARAMETERS parameters,
                        LPOVERLAPPED overlapped, PHANDLE handle);
DWORD AttachVirtualDisk(HANDLE virtualDisk, PSECURITY_DESCRIPTOR securityDescriptor,
                        ATTACH_VIRTUAL_DISK_FLAG flags, ULONG providerSpecificFlags,
                        PATTACH_VIRTUAL_DISK_PARAMETERS parameters,
                        LPOVERLAPPED overlapped);
DWORD GetVirtualDiskPhysicalPath(HANDLE virtualDisk, ULONG* diskPathSizeInBytes,
                                 LPWSTR diskPath);
DWORD OpenVirtualDisk(PVIRTUAL_STORAGE_TYPE storageType, PCWSTR path,
                      VIRTUAL_DISK_ACCESS_MASK accessMask, OPEN_VIRTUAL_DISK_FLAG flags,
                      POPEN_VIRTUAL_DISK_PARAMETERS parameters, PHANDLE handle);
DWORD DetachVirtualDisk(HANDLE virtualDisk, DETACH_VIRTUAL_DISK_FLAG flags,
                        ULONG providerSpecificFlags);
DWORD GetStorageDependencyInformation(HANDLE object, GET_STORAGE_DEPENDENCY_FLAG flags,
                                      ULONG infoSize, PSTORAGE_DEPENDENCY_INFO info,
                                      ULONG* sizeUsed);

// ---- Cryptography next generation (SHA-1 and SHA-256 hashes) (bcrypt.cpp) ---
NTSTATUS BCryptOpenAlgorithmProvider(BCRYPT_ALG_HANDLE* algorithm, LPCWSTR algorithmId,
                                     LPCWSTR implementation, ULONG flags);
NTSTATUS BCryptCloseAlgorithmProvider(BCRYPT_ALG_HANDLE algorithm, ULONG flags);
NTSTATUS BCryptGetProperty(BCRYPT_HANDLE object, LPCWSTR property, PUCHAR output,
                           ULONG outputSize, ULONG* result, ULONG flags);
NTSTATUS BCryptCreateHash(BCRYPT_ALG_HANDLE algorithm, BCRYPT_HASH_HANDLE* hash,
                          PUCHAR hashObject, ULONG hashObjectSize, PUCHAR secret,
                          ULONG secretSize, ULONG flags);
NTSTATUS BCryptHashData(BCRYPT_HASH_HANDLE hash, PUCHAR input, ULONG inputSize, ULONG flags);
NTSTATUS BCryptFinishHash(BCRYPT_HASH_HANDLE hash, PUCHAR output, ULONG outputSize,
                          ULONG flags);
NTSTATUS BCryptDestroyHash(BCRYPT_HASH_HANDLE hash);

// ---- Cryptographic messages (crypt_messages.cpp) -----------------------------
// Signed messages (PKCS #7 SignedData) decoded whole, in one update.
HCRYPTMSG CryptMsgOpenToDecode(DWORD encodingType, DWORD flags, DWORD msgType,
                               HCRYPTPROV_LEGACY cryptProv, PCERT_INFO recipientInfo,
                               CMSG_STREAM_INFO* streamInfo);
BOOL CryptMsgUpdate(HCRYPTMSG message, const BYTE* data, DWORD dataSize, BOOL final);
BOOL CryptMsgGetParam(HCRYPTMSG message, DWORD paramType, DWORD index, void* data,
                      DWORD* dataSize);
BOOL CryptMsgControl(HCRYPTMSG message, DWORD flags, DWORD controlType, const void* controlPara);
BOOL CryptMsgClose(HCRYPTMSG message);
// The signing time attribute's value only.
BOOL CryptDecodeObject(DWORD encodingType, LPCSTR structType, const BYTE* encoded,
                       DWORD encodedSize, DWORD flags, void* structInfo, DWORD* structInfoSize);

// ---- Certificates (certificates.cpp) ----------------------------------------
// The store of a message's certificates only.
HCERTSTORE CertOpenStore(LPCSTR storeProvider, DWORD encodingType,
                         HCRYPTPROV_LEGACY cryptProv, DWORD flags, const void* para);
BOOL CertCloseStore(HCERTSTORE store, DWORD flags);
PCCERT_CONTEXT CertGetSubjectCertificateFromStore(HCERTSTORE store, DWORD encodingType,
                                                  PCERT_INFO certId);
BOOL CertFreeCertificateContext(PCCERT_CONTEXT context);
DWORD CertGetNameStringW(PCCERT_CONTEXT context, DWORD type, DWORD flags, void* typePara,
                         LPWSTR name, DWORD nameSize);

// ---- Time (time.cpp) --------------------------------------------------------
BOOL FileTimeToSystemTime(const FILETIME* fileTime, LPSYSTEMTIME systemTime);

// ---- Shell (shell.cpp) ------------------------------------------------------
HINSTANCE ShellExecuteW(HWND owner, LPCWSTR operation, LPCWSTR file,
                        LPCWSTR parameters, LPCWSTR directory, int showCommand);

// ---- COM (com.cpp) ----------------------------------------------------------
HRESULT CoInitializeEx(LPVOID reserved, DWORD coInit);
void CoUninitialize(void);
HRESULT CoCreateGuid(GUID* guid);

// ---- Process token privileges (token.cpp) -----------------------------------
HANDLE GetCurrentProcess(void);
BOOL OpenProcessToken(HANDLE process, DWORD desiredAccess, PHANDLE token);
BOOL LookupPrivilegeValueW(LPCWSTR systemName, LPCWSTR name, PLUID luid);
BOOL AdjustTokenPrivileges(HANDLE token, BOOL disableAll, PTOKEN_PRIVILEGES newState,
                           DWORD bufferLength, PTOKEN_PRIVILEGES previousState,
                           LPDWORD returnLength);
BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS informationClass,
                         LPVOID information, DWORD informationLength, LPDWORD returnLength);

}  // extern "C"
