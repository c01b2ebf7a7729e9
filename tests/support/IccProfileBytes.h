// The bytes of a colour profile made with lcms, as the stream of an
// ICCBased colour space carries them. For the suites that link lcms2.
#pragma once

#include <lcms2.h>

#include <string>

namespace pvltest {

// Saves the profile to memory and closes it.
inline std::string ProfileBytes(cmsHPROFILE profile) {
  cmsUInt32Number size = 0;
  cmsSaveProfileToMem(profile, nullptr, &size);
  std::string bytes(size, '\0');
  cmsSaveProfileToMem(profile, bytes.data(), &size);
  cmsCloseProfile(profile);
  return bytes;
}

}  // namespace pvltest
