#pragma once

#include <string>

#include <tsk/libtsk.h>

// The library allocates an external image's header with these, exported
// but declared in its internal headers only.
extern "C" void* tsk_img_malloc(size_t length);
extern "C" void tsk_img_free(void* image);

// The Sleuth Kit's calls that the FAT reader makes. The library is loaded
// the first time a FAT or exFAT volume is opened, not linked into the
// program: it brings some forty libraries of its own (disk image formats,
// network and TLS clients), which cost every run, the mount too, about
// 11 MiB before it reads a byte.
struct TskCalls {
  decltype(&tsk_img_malloc) imgMalloc;
  decltype(&tsk_img_free) imgFree;
  decltype(&tsk_img_open_external) imgOpenExternal;
  decltype(&tsk_img_close) imgClose;
  decltype(&tsk_fs_open_img) fsOpenImg;
  decltype(&tsk_fs_close) fsClose;
  decltype(&tsk_fs_dir_open_meta) dirOpenMeta;
  decltype(&tsk_fs_dir_getsize) dirGetSize;
  decltype(&tsk_fs_dir_get) dirGet;
  decltype(&tsk_fs_dir_close) dirClose;
  decltype(&tsk_fs_file_open_meta) fileOpenMeta;
  decltype(&tsk_fs_file_read) fileRead;
  decltype(&tsk_fs_file_close) fileClose;
  decltype(&tsk_error_get) errorGet;
  decltype(&tsk_error_reset) errorReset;
};

// Loads the library and finds its calls, the first time.
// Returns: the calls, or nullptr with `why` when the library or one of its
// calls cannot be had.
const TskCalls* LoadTsk(std::string& why);
