#include "platform/dynamic_library.h"

#include <dlfcn.h>

namespace orvexa {

std::optional<DynamicLibrary> DynamicLibrary::Load(const std::string& path, std::string* error) {
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    if (error != nullptr) {
      const char* reason = ::dlerror();
      *error = "dlopen(" + path + "): " + (reason != nullptr ? reason : "unknown error");
    }
    return std::nullopt;
  }
  return DynamicLibrary(handle);
}

void* DynamicLibrary::Symbol(const char* name) const {
  if (handle_ == nullptr) return nullptr;
  return ::dlsym(handle_, name);
}

}  // namespace orvexa
