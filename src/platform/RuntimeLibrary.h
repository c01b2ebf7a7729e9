// Libraries bound at run time: opened by their versioned soname the first
// time they are needed, each entry point looked up once, so that a run that
// never needs them does not pay for loading them (and for everything they
// drag in) at start. Types and constants still come from the libraries' own
// headers.
#pragma once

#include <cstring>
#include <stdexcept>
#include <string>

// Raised by an operation that needs a library which cannot be loaded; the
// message names the library.
class ELibraryUnavailable : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// dlsym without the <dlfcn.h> include in every user.
void* LookupLibrarySymbol(void* handle, const char* name);

// Stores the address of `name` in `slot`. False when the library lacks it;
// the first missing name is kept in `missing`.
template <class F>
bool BindLibrarySymbol(void* handle, const char* name, F& slot, std::string& missing) {
  static_assert(sizeof(F) == sizeof(void*));
  void* p = handle ? LookupLibrarySymbol(handle, name) : nullptr;
  if (!p) {
    if (missing.empty()) missing = name;
    return false;
  }
  std::memcpy(&slot, &p, sizeof(p));
  return true;
}

// A library opened for the life of the process, and the entry points bound
// from it. Used once per library, from a function-local static:
//   TRuntimeLibrary lib("libfoo.so.1");
//   lib.Bind("foo_open", slots.foo_open); ...
//   if (!lib.Complete()) report lib.Error();
class TRuntimeLibrary {
public:
  explicit TRuntimeLibrary(const char* soname);
  ~TRuntimeLibrary();
  TRuntimeLibrary(const TRuntimeLibrary&) = delete;
  TRuntimeLibrary& operator=(const TRuntimeLibrary&) = delete;

  template <class F>
  void Bind(const char* name, F& slot) {
    if (handle_) BindLibrarySymbol(handle_, name, slot, missing_);
  }
  // True when the library was opened and every entry point was found; the
  // library then stays loaded. Otherwise it is closed again, and Error()
  // names the library and what went wrong.
  bool Complete();
  const std::string& Error() const { return error_; }

private:
  std::string soname_;
  void* handle_ = nullptr;
  std::string missing_;
  std::string error_;
};

// A record of entry points (with a string member `error`) bound from the
// library `soname` by bindAll(library, record): error is empty when every
// entry point was bound, else it names the library and what went wrong.
// Called from a function-local static, so that the binding is done once.
template <class TEntries, class BindAll>
TEntries BindRuntimeLibrary(const char* soname, BindAll bindAll) {
  TEntries entries;
  TRuntimeLibrary library(soname);
  bindAll(library, entries);
  if (!library.Complete()) entries.error = library.Error();
  return entries;
}
