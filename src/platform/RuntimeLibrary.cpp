#include "platform/RuntimeLibrary.h"

#include <dlfcn.h>

void* LookupLibrarySymbol(void* handle, const char* name) {
  return dlsym(handle, name);
}

TRuntimeLibrary::TRuntimeLibrary(const char* soname) : soname_(soname) {
  handle_ = dlopen(soname, RTLD_NOW | RTLD_LOCAL);
  if (!handle_) {
    const char* reason = dlerror();
    error_ = soname_ + " cannot be loaded" + (reason ? std::string(" (") + reason + ")" : std::string());
  }
}

TRuntimeLibrary::~TRuntimeLibrary() = default;

bool TRuntimeLibrary::Complete() {
  if (!handle_) return false;
  if (!missing_.empty()) {
    error_ = soname_ + " lacks " + missing_;
    dlclose(handle_);
    handle_ = nullptr;
    return false;
  }
  return true;
}
