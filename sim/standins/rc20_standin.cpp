// Stand-in for the RC20 camera library "CDLL_301P.dll": records every call.
//
// The functions are compiled under plain names and renamed to the vendor's
// decorated names (with '$' for '@', see rc20_exports.txt) before linking.
// Built three times: complete, without MotoLeft (STANDIN_WITHOUT_MOTOLEFT),
// and with the names of a 64-bit build (rc20_exports_64bit_names.txt).
#include <cstdint>
#include <cstring>

#include "standin_record.h"

namespace {

constexpr const char* kLibrary = "CDLL_301P.dll";

// The caller's name buffer holds 512 bytes; filling all of it lets the
// sanitizer build catch a smaller one.
constexpr std::size_t kNameBufferSize = 512;

__attribute__((constructor)) void Loaded() { Record(kLibrary, "loaded"); }
__attribute__((destructor)) void Unloaded() { Record(kLibrary, "unloaded"); }

}  // namespace

STANDIN_EXPORT void standin_MotoUp() { Record(kLibrary, "MotoUp()"); }
STANDIN_EXPORT void standin_MotoDown() { Record(kLibrary, "MotoDown()"); }
STANDIN_EXPORT void standin_MotoRight() { Record(kLibrary, "MotoRight()"); }
#ifndef STANDIN_WITHOUT_MOTOLEFT
STANDIN_EXPORT void standin_MotoLeft() { Record(kLibrary, "MotoLeft()"); }
#endif

STANDIN_EXPORT bool standin_OpenCam(std::int32_t index) {
  Record(kLibrary, "OpenCam(%d)", static_cast<int>(index));
  return index == 0;
}

STANDIN_EXPORT bool standin_CloseCam() {
  Record(kLibrary, "CloseCam()");
  return true;
}

STANDIN_EXPORT std::int32_t standin_GetCamNum() {
  Record(kLibrary, "GetCamNum()");
  return 1;
}

STANDIN_EXPORT bool standin_GetCamName(std::int32_t index, char* name) {
  Record(kLibrary, "GetCamName(%d,%s)", static_cast<int>(index),
         name != nullptr ? "buffer" : "null");
  if (name == nullptr) return false;
  std::memset(name, 0, kNameBufferSize);
  std::strcpy(name, "Stand-in RC20");
  return index == 0;
}
