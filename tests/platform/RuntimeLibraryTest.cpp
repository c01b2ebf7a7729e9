// Libraries bound at run time: a library that cannot be loaded, or that lacks
// an entry point, is never reported usable, and the error names what is
// missing.
#include <gtest/gtest.h>

#include <cstddef>

#include "platform/RuntimeLibrary.h"

namespace {

struct BindCase {
  const char* soname;
  const char* entry;
  bool usable;
  const char* error;  // the start of the error text
};

TEST(RuntimeLibrary, UsableOnlyWhenLoadedWithEveryEntry) {
  const BindCase cases[] = {
      {"libc.so.6", "strlen", true, ""},
      {"libc.so.6", "pvl_no_such_entry", false, "libc.so.6 lacks pvl_no_such_entry"},
      {"libpvl-no-such-library.so.1", "strlen", false, "libpvl-no-such-library.so.1 cannot be loaded"},
  };
  for (const BindCase& c : cases) {
    TRuntimeLibrary lib(c.soname);
    size_t (*length)(const char*) = nullptr;
    lib.Bind(c.entry, length);
    EXPECT_EQ(lib.Complete(), c.usable) << c.soname << " " << c.entry;
    EXPECT_EQ(lib.Error().rfind(c.error, 0), 0u) << lib.Error();
    if (c.usable) {
      EXPECT_EQ(length("four"), 4u);
    }
  }
}

}  // namespace
