// Loading device plug-in libraries: dlopen with RTLD_NOW | RTLD_LOCAL and dlsym by plain
// name. A loaded library is never closed: plug-ins stay mapped until the process ends,
// because channel records, callbacks and plug-in threads may still point into them.
//
// Used by the plug-in discovery on the main thread at start-up; Symbol may be called
// from any thread afterwards (dlsym is thread-safe).
#pragma once

#include <optional>
#include <string>

namespace orvexa {

class DynamicLibrary {
 public:
  DynamicLibrary() = default;

  // Loads the library at `path` (a path with a '/' so that dlopen does not search the
  // library path). nullopt with `error` set (dlerror's text) when it cannot be loaded.
  static std::optional<DynamicLibrary> Load(const std::string& path, std::string* error = nullptr);

  // The exported symbol `name`, or null when the library does not export it.
  void* Symbol(const char* name) const;
  bool IsValid() const { return handle_ != nullptr; }
  void* Handle() const { return handle_; }

 private:
  explicit DynamicLibrary(void* handle) : handle_(handle) {}
  void* handle_ = nullptr;
};

}  // namespace orvexa
