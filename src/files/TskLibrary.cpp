#include "files/TskLibrary.h"

#include <dlfcn.h>

namespace {
template <typename Call>
bool Find(void* library, const char* name, Call& call, std::string& why) {
  call = reinterpret_cast<Call>(dlsym(library, name));
  if (call == nullptr) why = std::string("the library has no ") + name;
  return call != nullptr;
}

bool FindAll(void* library, TskCalls& calls, std::string& why) {
  return Find(library, "tsk_img_malloc", calls.imgMalloc, why) &&
         Find(library, "tsk_img_free", calls.imgFree, why) &&
         Find(library, "tsk_img_open_external", calls.imgOpenExternal, why) &&
         Find(library, "tsk_img_close", calls.imgClose, why) &&
         Find(library, "tsk_fs_open_img", calls.fsOpenImg, why) &&
         Find(library, "tsk_fs_close", calls.fsClose, why) &&
         Find(library, "tsk_fs_dir_open_meta", calls.dirOpenMeta, why) &&
         Find(library, "tsk_fs_dir_getsize", calls.dirGetSize, why) &&
         Find(library, "tsk_fs_dir_get", calls.dirGet, why) &&
         Find(library, "tsk_fs_dir_close", calls.dirClose, why) &&
         Find(library, "tsk_fs_file_open_meta", calls.fileOpenMeta, why) &&
         Find(library, "tsk_fs_file_read", calls.fileRead, why) &&
         Find(library, "tsk_fs_file_close", calls.fileClose, why) &&
         Find(library, "tsk_error_get", calls.errorGet, why) &&
         Find(library, "tsk_error_reset", calls.errorReset, why);
}
}  // namespace

const TskCalls* LoadTsk(std::string& why) {
  static TskCalls calls;
  static bool tried = false;
  static std::string failure;
  if (!tried) {
    tried = true;
    // The library stays loaded for the rest of the run.
    void* library = dlopen(TSK_SONAME, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr)
      failure = std::string(TSK_SONAME) + " cannot be loaded";
    else if (!FindAll(library, calls, failure))
      dlclose(library);
  }
  why = failure;
  return failure.empty() ? &calls : nullptr;
}
