// The types, records and constants of the Win32 API as the Linux layer gives
// it: no calls, so that the helpers in support/ may use them. Record layouts
// and sizes match the published Windows ones; wide text is wchar_t (UTF-32
// here), converted to UTF-8 at the kernel boundary. The calls are in
// win32_linux.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdarg>
#include <cwchar>

typedef int BOOL;
typedef BOOL* LPBOOL;
typedef unsigned int UINT;
typedef uint8_t BYTE;
typedef uint8_t BOOLEAN;
typedef uint16_t WORD;
typedef uint16_t USHORT;
typedef uint32_t DWORD;
typedef uint32_t ULONG;
typedef int32_t LONG;
typedef uint64_t ULONGLONG;
typedef int64_t LONGLONG;
typedef int16_t SHORT;
typedef wchar_t WCHAR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef const WCHAR* PCWSTR;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef void* HANDLE;
typedef HANDLE* PHANDLE;
typedef void* HWND;
typedef void* HINSTANCE;
typedef void* HMODULE;
typedef void* HLOCAL;
typedef DWORD* LPDWORD;
typedef LONG* PLONG;
typedef void* PSECURITY_DESCRIPTOR;
typedef void* LPSECURITY_ATTRIBUTES;
typedef WCHAR* LPOLESTR;
typedef long HRESULT;

#define TRUE 1
#define FALSE 0
#define MAX_PATH 260
#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define INVALID_SET_FILE_POINTER ((DWORD)-1)
#define STD_OUTPUT_HANDLE ((DWORD)-11)
#define WINAPI

typedef union _LARGE_INTEGER {
  struct {
    DWORD LowPart;
    LONG HighPart;
  } u;
  LONGLONG QuadPart;
} LARGE_INTEGER, *PLARGE_INTEGER;

typedef struct _GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
} GUID, CLSID;
typedef const GUID& REFCLSID;

// Only its offset is read: every handle of the layer is synchronous, and a
// read or write given one moves the data at that offset.
typedef struct _OVERLAPPED {
  uintptr_t Internal;
  uintptr_t InternalHigh;
  union {
    struct {
      DWORD Offset;
      DWORD OffsetHigh;
    };
    LPVOID Pointer;
  };
  HANDLE hEvent;
} OVERLAPPED, *LPOVERLAPPED;

// ---- Error codes the layer produces -----------------------------------------
#define ERROR_SUCCESS 0
#define ERROR_INVALID_FUNCTION 1
#define ERROR_FILE_NOT_FOUND 2
#define ERROR_PATH_NOT_FOUND 3
#define ERROR_TOO_MANY_OPEN_FILES 4
#define ERROR_ACCESS_DENIED 5
#define ERROR_INVALID_HANDLE 6
#define ERROR_NOT_ENOUGH_MEMORY 8
#define ERROR_INVALID_DRIVE 15
#define ERROR_NO_MORE_FILES 18
#define ERROR_WRITE_PROTECT 19
#define ERROR_NOT_READY 21
#define ERROR_CRC 23
#define ERROR_SEEK 25
#define ERROR_WRITE_FAULT 29
#define ERROR_READ_FAULT 30
#define ERROR_GEN_FAILURE 31
#define ERROR_SHARING_VIOLATION 32
#define ERROR_HANDLE_EOF 38
#define ERROR_HANDLE_DISK_FULL 39
#define ERROR_NOT_SUPPORTED 50
#define ERROR_DEV_NOT_EXIST 55
#define ERROR_FILE_EXISTS 80
#define ERROR_INVALID_PARAMETER 87
#define ERROR_INVALID_FLAGS 1004
#define ERROR_OPEN_FAILED 110
#define ERROR_BUFFER_OVERFLOW 111
#define ERROR_DISK_FULL 112
#define ERROR_INSUFFICIENT_BUFFER 122
#define ERROR_INVALID_NAME 123
#define ERROR_NEGATIVE_SEEK 131
#define ERROR_DIR_NOT_ROOT 144
#define ERROR_DIR_NOT_EMPTY 145
#define ERROR_BAD_LENGTH 24
#define ERROR_BUSY 170
#define ERROR_ALREADY_EXISTS 183
#define ERROR_FILENAME_EXCED_RANGE 206
#define ERROR_MORE_DATA 234
#define ERROR_DIRECTORY 267
#define ERROR_NOT_OWNER 288
#define ERROR_NOT_A_REPARSE_POINT 4390
#define ERROR_INVALID_DATA 13
#define ERROR_NO_MEDIA_IN_DRIVE 1112
#define ERROR_IO_DEVICE 1117
#define ERROR_NO_SUCH_DEVICE 433
#define ERROR_TIMEOUT 1460
#define ERROR_OPERATION_ABORTED 995
#define ERROR_NOT_FOUND 1168
#define ERROR_DEVICE_NOT_CONNECTED 1167
#define ERROR_UNRECOGNIZED_VOLUME 1005
#define ERROR_FILE_INVALID 1006
#define ERROR_NO_SYSTEM_RESOURCES 1450
#define ERROR_VIRTDISK_NOT_VIRTUAL_DISK 0xC03A0015
#define ERROR_VIRTUAL_DISK_LIMITATION 0xC03A001A
#define ERROR_NOT_ALL_ASSIGNED 1300
#define ERROR_NO_SUCH_PRIVILEGE 1313
#define ERROR_PRIVILEGE_NOT_HELD 1314
#define ERROR_VIRTDISK_PROVIDER_NOT_FOUND 0xC03A0014

// ---- Files ------------------------------------------------------------------
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x1
#define FILE_SHARE_WRITE 0x2
#define FILE_SHARE_DELETE 0x4
#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define FILE_ATTRIBUTE_DIRECTORY 0x10
#define FILE_ATTRIBUTE_NORMAL 0x80
#define FILE_ATTRIBUTE_COMPRESSED 0x800
#define FILE_ATTRIBUTE_ENCRYPTED 0x4000
#define INVALID_FILE_ATTRIBUTES ((DWORD)-1)
#define FILE_TYPE_UNKNOWN 0x0000
#define FILE_TYPE_DISK 0x0001
#define FILE_TYPE_CHAR 0x0002
#define FILE_TYPE_PIPE 0x0003
#define FILE_FLAG_SEQUENTIAL_SCAN 0x08000000
#define FILE_FLAG_WRITE_THROUGH 0x80000000u
#define FILE_FLAG_NO_BUFFERING 0x20000000
#define FILE_BEGIN 0
#define FILE_CURRENT 1
#define FILE_END 2

typedef struct _FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
} FILETIME;

typedef struct _WIN32_FIND_DATAW {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;
  DWORD dwReserved1;
  WCHAR cFileName[MAX_PATH];
  WCHAR cAlternateFileName[14];
} WIN32_FIND_DATAW, *LPWIN32_FIND_DATAW;

// ---- Synchronization --------------------------------------------------------
#define INFINITE 0xFFFFFFFFu
#define WAIT_OBJECT_0 0x00000000u
#define WAIT_ABANDONED 0x00000080u
#define WAIT_TIMEOUT 0x00000102u
#define WAIT_FAILED 0xFFFFFFFFu

#define SYNCHRONIZE 0x00100000u

// ---- Console and messages ---------------------------------------------------
typedef struct _COORD {
  SHORT X;
  SHORT Y;
} COORD;

typedef struct _SMALL_RECT {
  SHORT Left;
  SHORT Top;
  SHORT Right;
  SHORT Bottom;
} SMALL_RECT;

typedef struct _CONSOLE_SCREEN_BUFFER_INFO {
  COORD dwSize;
  COORD dwCursorPosition;
  WORD wAttributes;
  SMALL_RECT srWindow;
  COORD dwMaximumWindowSize;
} CONSOLE_SCREEN_BUFFER_INFO, *PCONSOLE_SCREEN_BUFFER_INFO;

#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x00000100
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000
#define LANG_NEUTRAL 0x00
#define SUBLANG_DEFAULT 0x01
#define MAKELANGID(p, s) ((((WORD)(s)) << 10) | (WORD)(p))

// Console control events. On Linux SIGINT is Ctrl-C, SIGHUP the closing of
// the terminal and SIGTERM a shutdown; as on Windows the routines run on a
// thread of their own, the last added first, until one returns TRUE; when
// none does, the signal's default action ends the process.
#define CTRL_C_EVENT 0
#define CTRL_BREAK_EVENT 1
#define CTRL_CLOSE_EVENT 2
#define CTRL_LOGOFF_EVENT 5
#define CTRL_SHUTDOWN_EVENT 6
typedef BOOL(WINAPI* PHANDLER_ROUTINE)(DWORD ctrlType);

// ---- Device control ---------------------------------------------------------
#define CTL_CODE(type, function, method, access) \
  (((type) << 16) | ((access) << 14) | ((function) << 2) | (method))
#define IOCTL_DISK_GET_DRIVE_LAYOUT_EX 0x00070050
#define IOCTL_DISK_UPDATE_PROPERTIES 0x00070140
#define IOCTL_DISK_GET_DISK_ATTRIBUTES 0x000700F0
#define IOCTL_STORAGE_GET_BACKING_FILE 0x002D5928
#define IOCTL_STORAGE_GET_DEVICE_NUMBER 0x002D1080
#define IOCTL_STORAGE_QUERY_PROPERTY 0x002D1400
#define FSCTL_SET_SPARSE 0x000900C4
#define FSCTL_SET_COMPRESSION 0x0009C040
#define COMPRESSION_FORMAT_NONE 0
#define COMPRESSION_FORMAT_DEFAULT 1
#define COMPRESSION_FORMAT_LZNT1 2
#define FILE_DEVICE_DISK 0x00000007

typedef DWORD DEVICE_TYPE;
typedef struct _STORAGE_DEVICE_NUMBER {
  DEVICE_TYPE DeviceType;
  DWORD DeviceNumber;
  DWORD PartitionNumber;
} STORAGE_DEVICE_NUMBER, *PSTORAGE_DEVICE_NUMBER;

typedef enum _STORAGE_PROPERTY_ID { StorageDeviceProperty = 0 } STORAGE_PROPERTY_ID;
typedef enum _STORAGE_QUERY_TYPE {
  PropertyStandardQuery = 0,
  PropertyExistsQuery = 1
} STORAGE_QUERY_TYPE;

typedef struct _STORAGE_PROPERTY_QUERY {
  STORAGE_PROPERTY_ID PropertyId;
  STORAGE_QUERY_TYPE QueryType;
  BYTE AdditionalParameters[1];
} STORAGE_PROPERTY_QUERY, *PSTORAGE_PROPERTY_QUERY;

typedef enum _STORAGE_BUS_TYPE {
  BusTypeUnknown = 0x00,
  BusTypeScsi = 0x1,
  BusTypeAta = 0x3,
  BusTypeUsb = 0x7,
  BusTypeRAID = 0x8,
  BusTypeSata = 0xB,
  BusTypeSd = 0xC,
  BusTypeVirtual = 0xE,
  BusTypeFileBackedVirtual = 0xF,
  BusTypeNvme = 0x11
} STORAGE_BUS_TYPE;

typedef struct _STORAGE_DESCRIPTOR_HEADER {
  DWORD Version;
  DWORD Size;
} STORAGE_DESCRIPTOR_HEADER;

typedef struct _STORAGE_DEVICE_DESCRIPTOR {
  DWORD Version;
  DWORD Size;
  BYTE DeviceType;
  BYTE DeviceTypeModifier;
  BOOLEAN RemovableMedia;
  BOOLEAN CommandQueueing;
  DWORD VendorIdOffset;
  DWORD ProductIdOffset;
  DWORD ProductRevisionOffset;
  DWORD SerialNumberOffset;
  STORAGE_BUS_TYPE BusType;
  DWORD RawPropertiesLength;
  BYTE RawDeviceProperties[1];
} STORAGE_DEVICE_DESCRIPTOR, *PSTORAGE_DEVICE_DESCRIPTOR;

enum PARTITION_STYLE {
  PARTITION_STYLE_MBR = 0,
  PARTITION_STYLE_GPT = 1,
  PARTITION_STYLE_RAW = 2
};

typedef struct _PARTITION_INFORMATION_MBR {
  BYTE PartitionType;
  uint8_t BootIndicator;
  uint8_t RecognizedPartition;
  DWORD HiddenSectors;
  GUID PartitionId;
} PARTITION_INFORMATION_MBR;

typedef struct _PARTITION_INFORMATION_GPT {
  GUID PartitionType;
  GUID PartitionId;
  ULONGLONG Attributes;
  uint16_t Name[36];  // UTF-16 units, as on disk and on Windows
} PARTITION_INFORMATION_GPT;

typedef struct _PARTITION_INFORMATION_EX {
  DWORD PartitionStyle;
  LARGE_INTEGER StartingOffset;
  LARGE_INTEGER PartitionLength;
  DWORD PartitionNumber;
  uint8_t RewritePartition;
  uint8_t IsServicePartition;
  union {
    PARTITION_INFORMATION_MBR Mbr;
    PARTITION_INFORMATION_GPT Gpt;
  };
} PARTITION_INFORMATION_EX, *PPARTITION_INFORMATION_EX;

typedef struct _DRIVE_LAYOUT_INFORMATION_MBR {
  ULONG Signature;
  ULONG CheckSum;
} DRIVE_LAYOUT_INFORMATION_MBR;

typedef struct _DRIVE_LAYOUT_INFORMATION_GPT {
  GUID DiskId;
  LARGE_INTEGER StartingUsableOffset;
  LARGE_INTEGER UsableLength;
  ULONG MaxPartitionCount;
} DRIVE_LAYOUT_INFORMATION_GPT;

typedef struct _DRIVE_LAYOUT_INFORMATION_EX {
  DWORD PartitionStyle;
  DWORD PartitionCount;
  union {
    DRIVE_LAYOUT_INFORMATION_MBR Mbr;
    DRIVE_LAYOUT_INFORMATION_GPT Gpt;
  };
  PARTITION_INFORMATION_EX PartitionEntry[1];
} DRIVE_LAYOUT_INFORMATION_EX, *PDRIVE_LAYOUT_INFORMATION_EX;

#define IOCTL_DISK_SET_DISK_ATTRIBUTES 0x0007C0F4
#define DISK_ATTRIBUTE_OFFLINE 0x0000000000000001ULL
#define DISK_ATTRIBUTE_READ_ONLY 0x0000000000000002ULL

typedef struct _SET_DISK_ATTRIBUTES {
  DWORD Version;
  uint8_t Persist;
  BYTE Reserved1[3];
  ULONGLONG Attributes;
  ULONGLONG AttributesMask;
  DWORD Reserved2[4];
} SET_DISK_ATTRIBUTES, *PSET_DISK_ATTRIBUTES;

typedef struct _GET_DISK_ATTRIBUTES {
  ULONG Version;
  ULONG Reserved1;
  ULONGLONG Attributes;
} GET_DISK_ATTRIBUTES, *PGET_DISK_ATTRIBUTES;

static_assert(sizeof(PARTITION_INFORMATION_EX) == 144, "published layout");
static_assert(sizeof(DRIVE_LAYOUT_INFORMATION_EX) == 48 + 144, "published layout");
static_assert(offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry) == 48, "published layout");
static_assert(sizeof(GET_DISK_ATTRIBUTES) == 16, "published layout");
static_assert(sizeof(SET_DISK_ATTRIBUTES) == 40, "published layout");
static_assert(sizeof(STORAGE_DEVICE_NUMBER) == 12, "published layout");
static_assert(sizeof(STORAGE_PROPERTY_QUERY) == 12, "published layout");
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, BusType) == 28, "published layout");
static_assert(sizeof(STORAGE_DEVICE_DESCRIPTOR) == 40, "published layout");

// ---- Virtual disk service ---------------------------------------------------
#define VIRTUAL_STORAGE_TYPE_DEVICE_UNKNOWN 0
#define VIRTUAL_STORAGE_TYPE_DEVICE_VHD 2
#define VIRTUAL_STORAGE_TYPE_DEVICE_VHDX 3

typedef struct _VIRTUAL_STORAGE_TYPE {
  ULONG DeviceId;
  GUID VendorId;
} VIRTUAL_STORAGE_TYPE, *PVIRTUAL_STORAGE_TYPE;

typedef enum _VIRTUAL_DISK_ACCESS_MASK {
  VIRTUAL_DISK_ACCESS_NONE = 0,
  VIRTUAL_DISK_ACCESS_DETACH = 0x00040000,
  VIRTUAL_DISK_ACCESS_ALL = 0x003f0000
} VIRTUAL_DISK_ACCESS_MASK;

typedef enum _CREATE_VIRTUAL_DISK_FLAG {
  CREATE_VIRTUAL_DISK_FLAG_NONE = 0
} CREATE_VIRTUAL_DISK_FLAG;

typedef enum _CREATE_VIRTUAL_DISK_VERSION {
  CREATE_VIRTUAL_DISK_VERSION_UNSPECIFIED = 0,
  CREATE_VIRTUAL_DISK_VERSION_1 = 1,
  CREATE_VIRTUAL_DISK_VERSION_2 = 2
} CREATE_VIRTUAL_DISK_VERSION;

typedef enum _OPEN_VIRTUAL_DISK_FLAG {
  OPEN_VIRTUAL_DISK_FLAG_NONE = 0
} OPEN_VIRTUAL_DISK_FLAG;

#include "create_virtual_disk_parameters.h"

typedef enum _ATTACH_VIRTUAL_DISK_FLAG {
  ATTACH_VIRTUAL_DISK_FLAG_NONE = 0,
  ATTACH_VIRTUAL_DISK_FLAG_READ_ONLY = 0x1,
  ATTACH_VIRTUAL_DISK_FLAG_NO_DRIVE_LETTER = 0x2,
  ATTACH_VIRTUAL_DISK_FLAG_PERMANENT_LIFETIME = 0x4
} ATTACH_VIRTUAL_DISK_FLAG;

typedef enum _ATTACH_VIRTUAL_DISK_VERSION {
  ATTACH_VIRTUAL_DISK_VERSION_UNSPECIFIED = 0,
  ATTACH_VIRTUAL_DISK_VERSION_1 = 1
} ATTACH_VIRTUAL_DISK_VERSION;

typedef struct _ATTACH_VIRTUAL_DISK_PARAMETERS {
  ATTACH_VIRTUAL_DISK_VERSION Version;
  union {
    struct {
      ULONG Reserved;
    } Version1;
  };
} ATTACH_VIRTUAL_DISK_PARAMETERS, *PATTACH_VIRTUAL_DISK_PARAMETERS;

typedef struct _OPEN_VIRTUAL_DISK_PARAMETERS OPEN_VIRTUAL_DISK_PARAMETERS,
    *POPEN_VIRTUAL_DISK_PARAMETERS;

typedef enum _DETACH_VIRTUAL_DISK_FLAG {
  DETACH_VIRTUAL_DISK_FLAG_NONE = 0
} DETACH_VIRTUAL_DISK_FLAG;

typedef enum _GET_STORAGE_DEPENDENCY_FLAG {
  GET_STORAGE_DEPENDENCY_FLAG_NONE = 0,
  GET_STORAGE_DEPENDENCY_FLAG_HOST_VOLUMES = 0x1,
  GET_STORAGE_DEPENDENCY_FLAG_DISK_HANDLE = 0x2
} GET_STORAGE_DEPENDENCY_FLAG;

typedef enum _STORAGE_DEPENDENCY_INFO_VERSION {
  STORAGE_DEPENDENCY_INFO_VERSION_UNSPECIFIED = 0,
  STORAGE_DEPENDENCY_INFO_VERSION_1 = 1,
  STORAGE_DEPENDENCY_INFO_VERSION_2 = 2
} STORAGE_DEPENDENCY_INFO_VERSION;

typedef enum _DEPENDENT_DISK_FLAG {
  DEPENDENT_DISK_FLAG_NONE = 0,
  DEPENDENT_DISK_FLAG_NO_DRIVE_LETTER = 0x80,
  DEPENDENT_DISK_FLAG_PERMANENT_LIFETIME = 0x400
} DEPENDENT_DISK_FLAG;

typedef struct _STORAGE_DEPENDENCY_INFO_TYPE_1 {
  DEPENDENT_DISK_FLAG DependencyTypeFlags;
  ULONG ProviderSpecificFlags;
  VIRTUAL_STORAGE_TYPE VirtualStorageType;
} STORAGE_DEPENDENCY_INFO_TYPE_1;

typedef struct _STORAGE_DEPENDENCY_INFO_TYPE_2 {
  DEPENDENT_DISK_FLAG DependencyTypeFlags;
  ULONG ProviderSpecificFlags;
  VIRTUAL_STORAGE_TYPE VirtualStorageType;
  ULONG AncestorLevel;
  LPWSTR DependencyDeviceName;
  LPWSTR HostVolumeName;
  LPWSTR DependentVolumeName;
  LPWSTR DependentVolumeRelativePath;
} STORAGE_DEPENDENCY_INFO_TYPE_2;

typedef struct _STORAGE_DEPENDENCY_INFO {
  STORAGE_DEPENDENCY_INFO_VERSION Version;
  ULONG NumberEntries;
  union {
    STORAGE_DEPENDENCY_INFO_TYPE_1 Version1Entries[1];
    STORAGE_DEPENDENCY_INFO_TYPE_2 Version2Entries[1];
  };
} STORAGE_DEPENDENCY_INFO, *PSTORAGE_DEPENDENCY_INFO;

// ---- Threads, events and the environment ------------------------------------
typedef size_t SIZE_T;
typedef DWORD(WINAPI* LPTHREAD_START_ROUTINE)(LPVOID parameter);
#define ERROR_ENVVAR_NOT_FOUND 203

#define THREAD_PRIORITY_IDLE (-15)
#define THREAD_PRIORITY_LOWEST (-2)
#define THREAD_PRIORITY_BELOW_NORMAL (-1)
#define THREAD_PRIORITY_NORMAL 0
#define THREAD_PRIORITY_ABOVE_NORMAL 1
#define THREAD_PRIORITY_HIGHEST 2
#define THREAD_PRIORITY_TIME_CRITICAL 15

typedef uintptr_t DWORD_PTR;
typedef struct _SYSTEM_INFO {
  union {
    DWORD dwOemId;
    struct {
      WORD wProcessorArchitecture;
      WORD wReserved;
    };
  };
  DWORD dwPageSize;
  LPVOID lpMinimumApplicationAddress;
  LPVOID lpMaximumApplicationAddress;
  DWORD_PTR dwActiveProcessorMask;
  DWORD dwNumberOfProcessors;
  DWORD dwProcessorType;
  DWORD dwAllocationGranularity;
  WORD wProcessorLevel;
  WORD wProcessorRevision;
} SYSTEM_INFO, *LPSYSTEM_INFO;
static_assert(sizeof(SYSTEM_INFO) == 48, "published layout");

// ---- Cryptography next generation (hashes only) -----------------------------
typedef LONG NTSTATUS;
typedef unsigned char UCHAR;
typedef UCHAR* PUCHAR;
typedef void* BCRYPT_HANDLE;
typedef void* BCRYPT_ALG_HANDLE;
typedef void* BCRYPT_HASH_HANDLE;
#define BCRYPT_SUCCESS(status) (((NTSTATUS)(status)) >= 0)
#define BCRYPT_SHA256_ALGORITHM L"SHA256"
#define BCRYPT_SHA1_ALGORITHM L"SHA1"
#define BCRYPT_HASH_LENGTH L"HashDigestLength"
#define BCRYPT_OBJECT_LENGTH L"ObjectLength"
#define BCRYPT_HASH_REUSABLE_FLAG 0x00000020
// Status codes the hash calls answer with.
#define STATUS_SUCCESS ((NTSTATUS)0x00000000)
#define STATUS_INVALID_HANDLE ((NTSTATUS)0xC0000008)
#define STATUS_INVALID_PARAMETER ((NTSTATUS)0xC000000D)
#define STATUS_NO_MEMORY ((NTSTATUS)0xC0000017)
#define STATUS_BUFFER_TOO_SMALL ((NTSTATUS)0xC0000023)
#define STATUS_NOT_SUPPORTED ((NTSTATUS)0xC00000BB)
#define STATUS_NOT_FOUND ((NTSTATUS)0xC0000225)

// ---- Cryptographic messages and certificates --------------------------------
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef uintptr_t ULONG_PTR;
typedef ULONG_PTR HCRYPTPROV_LEGACY;
typedef void* HCRYPTMSG;
typedef void* HCERTSTORE;
typedef struct _SYSTEMTIME {
  WORD wYear;
  WORD wMonth;
  WORD wDayOfWeek;
  WORD wDay;
  WORD wHour;
  WORD wMinute;
  WORD wSecond;
  WORD wMilliseconds;
} SYSTEMTIME, *LPSYSTEMTIME;
typedef struct _CRYPTOAPI_BLOB {
  DWORD cbData;
  BYTE* pbData;
} CRYPT_INTEGER_BLOB, CRYPT_DATA_BLOB, CERT_NAME_BLOB, CRYPT_OBJID_BLOB, CRYPT_ATTR_BLOB,
    *PCRYPT_ATTR_BLOB;
typedef struct _CRYPT_ALGORITHM_IDENTIFIER {
  LPSTR pszObjId;
  CRYPT_OBJID_BLOB Parameters;
} CRYPT_ALGORITHM_IDENTIFIER;
typedef struct _CRYPT_BIT_BLOB {
  DWORD cbData;
  BYTE* pbData;
  DWORD cUnusedBits;
} CRYPT_BIT_BLOB;
typedef struct _CERT_PUBLIC_KEY_INFO {
  CRYPT_ALGORITHM_IDENTIFIER Algorithm;
  CRYPT_BIT_BLOB PublicKey;
} CERT_PUBLIC_KEY_INFO;
typedef struct _CERT_EXTENSION {
  LPSTR pszObjId;
  BOOL fCritical;
  CRYPT_OBJID_BLOB Value;
} CERT_EXTENSION, *PCERT_EXTENSION;
typedef struct _CERT_INFO {
  DWORD dwVersion;
  CRYPT_INTEGER_BLOB SerialNumber;
  CRYPT_ALGORITHM_IDENTIFIER SignatureAlgorithm;
  CERT_NAME_BLOB Issuer;
  FILETIME NotBefore;
  FILETIME NotAfter;
  CERT_NAME_BLOB Subject;
  CERT_PUBLIC_KEY_INFO SubjectPublicKeyInfo;
  CRYPT_BIT_BLOB IssuerUniqueId;
  CRYPT_BIT_BLOB SubjectUniqueId;
  DWORD cExtension;
  PCERT_EXTENSION rgExtension;
} CERT_INFO, *PCERT_INFO;
static_assert(sizeof(CERT_INFO) == 208, "published layout");
typedef struct _CERT_CONTEXT {
  DWORD dwCertEncodingType;
  BYTE* pbCertEncoded;
  DWORD cbCertEncoded;
  PCERT_INFO pCertInfo;
  HCERTSTORE hCertStore;
} CERT_CONTEXT;
typedef const CERT_CONTEXT* PCCERT_CONTEXT;
typedef struct _CRYPT_ATTRIBUTE {
  LPSTR pszObjId;
  DWORD cValue;
  PCRYPT_ATTR_BLOB rgValue;
} CRYPT_ATTRIBUTE, *PCRYPT_ATTRIBUTE;
typedef struct _CRYPT_ATTRIBUTES {
  DWORD cAttr;
  PCRYPT_ATTRIBUTE rgAttr;
} CRYPT_ATTRIBUTES, *PCRYPT_ATTRIBUTES;
typedef struct _CMSG_CTRL_VERIFY_SIGNATURE_EX_PARA {
  DWORD cbSize;
  HCRYPTPROV_LEGACY hCryptProv;
  DWORD dwSignerIndex;
  DWORD dwSignerType;
  void* pvSigner;
} CMSG_CTRL_VERIFY_SIGNATURE_EX_PARA;
typedef void CMSG_STREAM_INFO;
#define X509_ASN_ENCODING 0x1
#define PKCS_7_ASN_ENCODING 0x10000
#define CMSG_SIGNED 2
#define CMSG_CONTENT_PARAM 2
#define CMSG_INNER_CONTENT_TYPE_PARAM 4
#define CMSG_SIGNER_COUNT_PARAM 5
#define CMSG_SIGNER_CERT_INFO_PARAM 7
#define CMSG_SIGNER_AUTH_ATTR_PARAM 9
#define CMSG_CTRL_VERIFY_SIGNATURE_EX 19
#define CMSG_VERIFY_SIGNER_CERT 2
#define CERT_STORE_PROV_MSG ((LPCSTR)1)
#define CERT_NAME_ATTR_TYPE 3
#define CERT_NAME_ISSUER_FLAG 0x1
#define PKCS_UTC_TIME ((LPCSTR)17)
#define szOID_COMMON_NAME "2.5.4.3"
#define szOID_RSA_signingTime "1.2.840.113549.1.9.5"
// Error codes the message and certificate calls set.
#define E_INVALIDARG ((HRESULT)0x80070057L)
#define NTE_BAD_SIGNATURE ((HRESULT)0x80090006L)
#define CRYPT_E_UNKNOWN_ALGO ((HRESULT)0x80091002L)
#define CRYPT_E_INVALID_MSG_TYPE ((HRESULT)0x80091004L)
#define CRYPT_E_HASH_VALUE ((HRESULT)0x80091007L)
#define CRYPT_E_INVALID_INDEX ((HRESULT)0x80091008L)
#define CRYPT_E_ATTRIBUTES_MISSING ((HRESULT)0x8009100FL)
#define CRYPT_E_NOT_FOUND ((HRESULT)0x80092004L)
#define CRYPT_E_ASN1_EOD ((HRESULT)0x80093102L)
#define CRYPT_E_ASN1_CORRUPT ((HRESULT)0x80093103L)
#define CRYPT_E_ASN1_BADTAG ((HRESULT)0x8009310BL)

// ---- Shell and COM ----------------------------------------------------------
#define SW_SHOWDEFAULT 10
#define COINIT_MULTITHREADED 0x0
#define COINIT_APARTMENTTHREADED 0x2
#define COINIT_DISABLE_OLE1DDE 0x4
#define S_OK ((HRESULT)0)
#define S_FALSE ((HRESULT)1)
#define RPC_E_CHANGED_MODE ((HRESULT)0x80010106L)
#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)

// ---- Process token privileges -----------------------------------------------
typedef struct _LUID {
  DWORD LowPart;
  LONG HighPart;
} LUID, *PLUID;
typedef struct _LUID_AND_ATTRIBUTES {
  LUID Luid;
  DWORD Attributes;
} LUID_AND_ATTRIBUTES;
typedef struct _TOKEN_PRIVILEGES {
  DWORD PrivilegeCount;
  LUID_AND_ATTRIBUTES Privileges[1];
} TOKEN_PRIVILEGES, *PTOKEN_PRIVILEGES;
#define TOKEN_QUERY 0x0008
typedef enum _TOKEN_INFORMATION_CLASS { TokenElevation = 20 } TOKEN_INFORMATION_CLASS;
typedef struct _TOKEN_ELEVATION {
  DWORD TokenIsElevated;
} TOKEN_ELEVATION;
#define TOKEN_ADJUST_PRIVILEGES 0x0020
#define SE_PRIVILEGE_ENABLED 0x00000002
