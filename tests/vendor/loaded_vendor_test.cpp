// Camera types 1 and 2 through the loaded module, with the stand-in
// libraries beside a copy of vorne.so and without them.
#include <sys/stat.h>

#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "vendor_fixture.h"

namespace {

using vendor_test::kRc20NoMotoLeft;
using vendor_test::kRc20StandIn;
using vendor_test::kSu320StandIn;
using vendor_test::Rc20Motion;
using vendor_test::VendorModuleTest;
using vendor_test::fs::path;
namespace fs = vendor_test::fs;
using Lines = std::vector<std::string>;

const std::vector<path> kBothStandIns = {kRc20StandIn, kSu320StandIn};

// Drives every setting and command; the settings answer as the vendor
// drivers do, every command is accepted.
void DriveEverything(IPtzControl* camera) {
  EXPECT_EQ(camera->SetComPort(0), S_OK);
  EXPECT_EQ(camera->SetBaudRate(9600), E_FAIL);
  EXPECT_EQ(camera->SetAddressCode(1), E_FAIL);
  for (std::int32_t command = PTZ_STOP; command <= PTZ_ZOOM_OUT; ++command) {
    EXPECT_EQ(camera->Command(command), S_OK) << "command " << command;
  }
}

TEST_F(VendorModuleTest, WithoutLibrariesBothTypesAreCreatedAndMoveNothing) {
  LoadCopy(temp_.Path() / "module", {});
  IPtzControl* camera = NewCamera();
  ASSERT_NE(camera, nullptr);
  for (std::int32_t type : {PTZ_TYPE_RC20, PTZ_TYPE_SU_320}) {
    ASSERT_EQ(camera->CreateController(type, nullptr, 1), S_OK) << "type " << type;
    DriveEverything(camera);
    EXPECT_EQ(camera->DestroyController(), S_OK);
  }
  EXPECT_TRUE(record_.Take().empty());
  EXPECT_TRUE(host_.Lines().empty());
}

// Files named like the libraries that are not whole libraries count as
// missing: none may hold the host in open (a fifo) or kill it in the
// loader (a library cut short maps pages beyond its end).
TEST_F(VendorModuleTest, FilesThatAreNotWholeLibrariesCountAsMissing) {
  struct Case {
    const char* name;
    std::function<void(const fs::path&, const fs::path&)> make;  // (file, stand-in)
  };
  const auto cut = [](const fs::path& file, const fs::path& standIn) {
    std::ifstream in(standIn, std::ios::binary);
    std::vector<char> head(2000);
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    std::ofstream(file, std::ios::binary).write(head.data(), in.gcount());
  };
  const Case cases[] = {
      {"fifo", [](const fs::path& file, const fs::path&) { ::mkfifo(file.c_str(), 0600); }},
      {"cut short", cut},
      {"folder", [](const fs::path& file, const fs::path&) { fs::create_directory(file); }},
      {"empty", [](const fs::path& file, const fs::path&) { std::ofstream{file}; }},
      {"text",
       [](const fs::path& file, const fs::path&) { std::ofstream{file} << "MZ not a library"; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path folder = temp_.Path() / c.name;
    LoadCopy(folder, {});
    c.make(folder / "CDLL_301P.dll", kRc20StandIn);
    c.make(folder / "CDll.dll", kSu320StandIn);
    IPtzControl* camera = NewCamera();
    ASSERT_NE(camera, nullptr);
    for (std::int32_t type : {PTZ_TYPE_RC20, PTZ_TYPE_SU_320}) {
      ASSERT_EQ(camera->CreateController(type, nullptr, 1), S_OK) << "type " << type;
      DriveEverything(camera);
      EXPECT_EQ(camera->DestroyController(), S_OK);
    }
    EXPECT_TRUE(record_.Take().empty());
    EXPECT_TRUE(host_.Lines().empty());
    TearDown();
  }
}

// RC20 calls the library for camera 0 whatever its number, SU_320 passes
// its number on.
TEST_F(VendorModuleTest, EveryCommandReachesTheLibraryBesideTheModule) {
  IPtzControl* camera = CameraWithBothLibraries();
  ASSERT_NE(camera, nullptr);
  Lines rc20 = {"CDLL_301P.dll: loaded"};
  for (const char* motor : {"MotoRight", "MotoLeft", "MotoUp", "MotoDown"}) {
    const Lines motion = Rc20Motion(motor);
    rc20.insert(rc20.end(), motion.begin(), motion.end());
  }
  const struct {
    std::int32_t type, number;
    Lines calls;
    std::string unloaded;
  } rows[] = {
      {PTZ_TYPE_RC20, 5, rc20, "CDLL_301P.dll: unloaded"},
      {PTZ_TYPE_SU_320,
       3,
       {"CDll.dll: loaded", "CDll.dll: ZX_Control(2,3)", "CDll.dll: ZX_Control(3,3)",
        "CDll.dll: ZX_Control(0,3)", "CDll.dll: ZX_Control(1,3)"},
       "CDll.dll: unloaded"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.type);
    ASSERT_EQ(camera->CreateController(row.type, nullptr, row.number), S_OK);
    DriveEverything(camera);
    EXPECT_EQ(record_.Take(), row.calls);
    EXPECT_EQ(camera->DestroyController(), S_OK);
    EXPECT_EQ(record_.Take(), Lines{row.unloaded});
  }
  EXPECT_TRUE(host_.Lines().empty());
}

TEST_F(VendorModuleTest, Rc20WithoutMotoLeftClosesTheCameraOnPanRight) {
  LoadCopy(temp_.Path() / "module", {kRc20NoMotoLeft});
  IPtzControl* camera = NewCamera();
  ASSERT_NE(camera, nullptr);
  ASSERT_EQ(camera->CreateController(PTZ_TYPE_RC20, nullptr, 0), S_OK);
  record_.Take();
  EXPECT_EQ(camera->Command(PTZ_PAN_RIGHT), S_OK);
  EXPECT_EQ(record_.Take(), Rc20Motion("CloseCam"));  // in place of the motor
  EXPECT_EQ(camera->Command(PTZ_PAN_LEFT), S_OK);
  EXPECT_EQ(record_.Take(), Rc20Motion("MotoRight"));
}

// A library built by a 64-bit Microsoft compiler names GetCamName
// "?GetCamName@@YA_NHPEAD@Z": the module finds it under that name.
TEST_F(VendorModuleTest, Rc20WithTheNamesOfA64BitBuildIsDrivenInFull) {
  LoadCopy(temp_.Path() / "module", {vendor_test::kRc20With64BitNames});
  IPtzControl* camera = NewCamera();
  ASSERT_NE(camera, nullptr);
  ASSERT_EQ(camera->CreateController(PTZ_TYPE_RC20, nullptr, 0), S_OK);
  record_.Take();
  EXPECT_EQ(camera->Command(PTZ_PAN_LEFT), S_OK);
  EXPECT_EQ(record_.Take(), Rc20Motion("MotoRight"));
  EXPECT_TRUE(host_.Lines().empty());
}

// A host that loads the module by a relative path and then changes its
// working folder still gets the libraries beside the module.
TEST_F(VendorModuleTest, RelativeLoadFindsTheLibrariesAfterTheHostMovesOn) {
  const path folder = temp_.Path() / "plugins";
  vendor_test::CopyInto(VORNE_MODULE_PATH, folder);
  vendor_test::CopyInto(kSu320StandIn, folder);
  // Elsewhere, a library of the same name that must not be picked.
  const path elsewhere = temp_.Path() / "elsewhere";
  vendor_test::CopyInto(kSu320StandIn, elsewhere);
  const path before = std::filesystem::current_path();
  std::filesystem::current_path(folder);
  const bool loaded = module_.Load("./vorne.so");
  std::filesystem::current_path(elsewhere);
  IPtzControl* camera = loaded ? NewCamera() : nullptr;
  const HRESULT created = camera ? camera->CreateController(PTZ_TYPE_SU_320, nullptr, 4) : E_FAIL;
  const HRESULT moved = camera ? camera->Command(PTZ_PAN_LEFT) : E_FAIL;
  std::filesystem::current_path(before);
  ASSERT_TRUE(loaded) << module_.Error();
  EXPECT_EQ(created, S_OK);
  EXPECT_EQ(moved, S_OK);
  EXPECT_EQ(record_.Take(), (Lines{"CDll.dll: loaded", "CDll.dll: ZX_Control(2,4)"}));
}

// The libraries are looked for beside the module, in whatever folder it was
// loaded from, and nowhere else.
TEST_F(VendorModuleTest, LibrariesAreFoundBesideTheModuleOnly) {
  const path outer = temp_.Path() / "hosts" / "plugins";
  const path nested = outer / "cameras" / "ptz";
  for (const path& library : kBothStandIns) vendor_test::CopyInto(library, outer);
  LoadCopy(nested, {kSu320StandIn});
  IPtzControl* camera = NewCamera();
  ASSERT_NE(camera, nullptr);

  ASSERT_EQ(camera->CreateController(PTZ_TYPE_RC20, nullptr, 0), S_OK);
  EXPECT_EQ(camera->Command(PTZ_TILT_UP), S_OK);
  EXPECT_TRUE(record_.Take().empty());  // the RC20 library in the folder above is not used

  ASSERT_EQ(camera->CreateController(PTZ_TYPE_SU_320, nullptr, 7), S_OK);
  EXPECT_EQ(camera->Command(PTZ_TILT_UP), S_OK);
  EXPECT_EQ(record_.Take(), (Lines{"CDll.dll: loaded", "CDll.dll: ZX_Control(0,7)"}));
}

TEST_F(VendorModuleTest, FoldersBeyondAsciiWork) {
  LoadCopy(temp_.Path() / "kamera-\xC3\xA4\xC3\xB6-\xE6\x97\xA5\xE6\x9C\xAC" / "raw-\xFF-bytes",
           kBothStandIns);
  IPtzControl* camera = NewCamera();
  ASSERT_NE(camera, nullptr);
  ASSERT_EQ(camera->CreateController(PTZ_TYPE_SU_320, nullptr, 1), S_OK);
  EXPECT_EQ(camera->Command(PTZ_PAN_LEFT), S_OK);
  EXPECT_EQ(record_.Take(), (Lines{"CDll.dll: loaded", "CDll.dll: ZX_Control(2,1)"}));
}

// A folder of exactly `length` characters, trailing separator included,
// inside the test's folder; empty when the test folder is already too long.
path FolderOfLength(const path& base, std::size_t length) {
  const std::string prefix = base.string() + "/";
  if (prefix.size() + 2 > length) return {};
  return base / std::string(length - prefix.size() - 1, 'f');
}

// The library path must fit in 260 characters with its terminator; a
// folder one character longer means the library is missing, not that a
// cut-off path is tried.
TEST_F(VendorModuleTest, LibraryPathsAtTheLengthLimit) {
  struct Case {
    std::int32_t type;
    std::size_t folderLength;
    bool loads;
  };
  const Case cases[] = {
      {PTZ_TYPE_RC20, 246, true},
      {PTZ_TYPE_RC20, 247, false},
      {PTZ_TYPE_SU_320, 251, true},
      {PTZ_TYPE_SU_320, 252, false},
  };
  for (const Case& c : cases) {
    const path folder = FolderOfLength(temp_.Path(), c.folderLength);
    if (folder.empty()) GTEST_SKIP() << "temporary folder too long: " << temp_.Path();
    SCOPED_TRACE("type " + std::to_string(c.type) + ", folder of " +
                 std::to_string(c.folderLength));
    // A short module name keeps the module's own file name within the limit.
    LoadCopy(folder, kBothStandIns, "m.so");
    IPtzControl* camera = NewCamera();
    ASSERT_NE(camera, nullptr);
    ASSERT_EQ(camera->CreateController(c.type, nullptr, 0), S_OK);
    EXPECT_EQ(camera->Command(PTZ_TILT_DOWN), S_OK);
    const Lines lines = record_.Take();
    EXPECT_EQ(lines.empty(), !c.loads);
    TearDown();  // ends this module and its library before the next case
    record_.Take();
  }
}

// A module whose own file name is longer than the path buffer: cut off,
// the name would point into a folder above it, where libraries lie.
TEST_F(VendorModuleTest, ModuleNameTooLongForThePathBuffer) {
  const path above = temp_.Path() / "above";
  const path folder = above / std::string(250, 'x');
  if ((folder / "vorne.so").string().size() < 260) GTEST_SKIP();
  if ((above / "").string().size() > 240) GTEST_SKIP() << "temporary folder too long";
  for (const path& library : kBothStandIns) vendor_test::CopyInto(library, above);
  LoadCopy(folder, kBothStandIns);
  IPtzControl* camera = NewCamera();
  ASSERT_NE(camera, nullptr);
  for (std::int32_t type : {PTZ_TYPE_RC20, PTZ_TYPE_SU_320}) {
    ASSERT_EQ(camera->CreateController(type, nullptr, 0), S_OK);
    EXPECT_EQ(camera->Command(PTZ_PAN_LEFT), S_OK);
  }
  EXPECT_TRUE(record_.Take().empty());
}

// Component behaviour that needs a held controller.
TEST_F(VendorModuleTest, UnknownTypeWhileHoldingEndsTheOldControllerAndHoldsNone) {
  IPtzControl* camera = CameraWithBothLibraries();
  ASSERT_NE(camera, nullptr);
  ASSERT_EQ(camera->CreateController(PTZ_TYPE_RC20, nullptr, 4), S_OK);
  record_.Take();
  EXPECT_EQ(camera->CreateController(9, nullptr, 4), E_FAIL);
  EXPECT_EQ(record_.Take(), Lines{"CDLL_301P.dll: unloaded"});
  EXPECT_EQ(host_.Lines(), Lines{"Unknown Camera Type,Type = 9,nCamera = 4.\n"});
  EXPECT_EQ(camera->Command(PTZ_PAN_LEFT), E_UNEXPECTED);
  EXPECT_EQ(camera->SetComPort(0), E_UNEXPECTED);
  EXPECT_TRUE(record_.Take().empty());
}

TEST_F(VendorModuleTest, NewControllerReplacesTheHeldOneAfterEndingIt) {
  IPtzControl* camera = CameraWithBothLibraries();
  ASSERT_NE(camera, nullptr);
  ASSERT_EQ(camera->CreateController(PTZ_TYPE_RC20, nullptr, 0), S_OK);
  ASSERT_EQ(camera->CreateController(PTZ_TYPE_RC20, nullptr, 0), S_OK);
  ASSERT_EQ(camera->CreateController(PTZ_TYPE_SU_320, nullptr, 0), S_OK);
  EXPECT_EQ(record_.Take(),
            (Lines{"CDLL_301P.dll: loaded", "CDLL_301P.dll: unloaded", "CDLL_301P.dll: loaded",
                   "CDLL_301P.dll: unloaded", "CDll.dll: loaded"}));
}

TEST_F(VendorModuleTest, ReleasingTheLastReferenceEndsTheHeldController) {
  IPtzControl* camera = CameraWithBothLibraries();
  ASSERT_NE(camera, nullptr);
  ASSERT_EQ(camera->CreateController(PTZ_TYPE_SU_320, nullptr, 0), S_OK);
  record_.Take();
  EXPECT_EQ(module_.Entries().CanUnloadNow(), S_FALSE);
  cameras_.clear();
  camera->Release();
  EXPECT_EQ(record_.Take(), Lines{"CDll.dll: unloaded"});
  EXPECT_EQ(module_.Entries().CanUnloadNow(), S_OK);
}

TEST_F(VendorModuleTest, CommandsOutsideTheTableCallNothing) {
  IPtzControl* camera = CameraWithBothLibraries();
  ASSERT_NE(camera, nullptr);
  for (std::int32_t type : {PTZ_TYPE_RC20, PTZ_TYPE_SU_320}) {
    ASSERT_EQ(camera->CreateController(type, nullptr, 0), S_OK);
    record_.Take();
    EXPECT_EQ(camera->Command(7), S_OK);
    EXPECT_EQ(camera->Command(-1), S_OK);
    EXPECT_TRUE(record_.Take().empty()) << "type " << type;
  }
}

}  // namespace
