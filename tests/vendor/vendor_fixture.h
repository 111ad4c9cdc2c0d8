// Temporary folders, the stand-in vendor libraries and their call records.
#ifndef VORNE_TESTS_VENDOR_VENDOR_FIXTURE_H
#define VORNE_TESTS_VENDOR_VENDOR_FIXTURE_H

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "hostkit/host_object.h"
#include "hostkit/module_loader.h"

namespace vendor_test {

namespace fs = std::filesystem;

// The stand-ins as built: the complete RC20 library, the one without
// MotoLeft, the one with the names of a 64-bit build (GetCamName as
// "?GetCamName@@YA_NHPEAD@Z" only), and the SU_320 library.
inline const fs::path kRc20StandIn = VORNE_STANDIN_RC20;
inline const fs::path kRc20NoMotoLeft = VORNE_STANDIN_RC20_NO_MOTOLEFT;
inline const fs::path kRc20With64BitNames = VORNE_STANDIN_RC20_64BIT_NAMES;
inline const fs::path kSu320StandIn = VORNE_STANDIN_SU320;

// A fresh folder under the system's temporary folder, removed with all it
// holds at the end.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const fs::path& Path() const { return path_; }

 private:
  fs::path path_;
};

// Copies `file` into `folder` (created as needed) under its own name, or
// under `name` when given.
void CopyInto(const fs::path& file, const fs::path& folder, const std::string& name = {});

// The stand-ins' call record: points them at a file of this test for as
// long as it lives.
class CallRecord {
 public:
  explicit CallRecord(fs::path file);
  ~CallRecord();
  CallRecord(const CallRecord&) = delete;
  CallRecord& operator=(const CallRecord&) = delete;

  // Lines recorded since the last Take.
  std::vector<std::string> Take();

 private:
  fs::path file_;
  std::size_t taken_ = 0;
};

// The lines of one RC20 motion that reaches its motor function.
std::vector<std::string> Rc20Motion(const std::string& motor);

// Tests with the stand-ins' record pointed at a file of their own.
class StandInTest : public ::testing::Test {
 protected:
  TempFolder temp_;
  CallRecord record_{temp_.Path() / "calls.txt"};
};

// The module as a host sees it, loaded from a copy in a folder of the test.
class VendorModuleTest : public StandInTest {
 protected:
  void TearDown() override;
  // Copies vorne.so into `folder` as `name` with `libraries` beside it and
  // loads the copy.
  void LoadCopy(const fs::path& folder, const std::vector<fs::path>& libraries,
                const std::string& name = "vorne.so");
  // A new "WCameraControler" with IPtzControl, released at the end.
  IPtzControl* NewCamera();
  // A new camera of a module copy with both stand-ins beside it.
  IPtzControl* CameraWithBothLibraries();

  hostkit::LoadedModule module_;
  hostkit::HostObject host_;
  std::vector<IPtzControl*> cameras_;
};

}  // namespace vendor_test

#endif
