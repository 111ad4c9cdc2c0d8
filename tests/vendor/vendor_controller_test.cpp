// The vendor-library drivers in-process, handed the stand-in libraries.
#include <unistd.h>

#include <functional>
#include <memory>
#include <string>

#include "vendor/module_directory.h"
#include "vendor/rc20_controller.h"
#include "vendor/su320_controller.h"
#include "vendor_fixture.h"

using namespace vorne;

namespace {

using vendor_test::Rc20Motion;
using vendor_test::StandInTest;
using Lines = std::vector<std::string>;

vorne::HMODULE Load(const vendor_test::fs::path& file) {
  std::u16string wide;
  for (unsigned char c : file.string()) wide.push_back(c);
  return vorne::LoadLibraryW(wide.c_str());
}

// Plain functions rather than member pointers: GCC 12 miscompiles calls
// through member pointers in a loop under the sanitizers.
struct Motion {
  const char* name;
  int (*run)(PtzController&);
};
const Motion kMotions[] = {{"PanLeft", [](PtzController& c) { return c.PanLeft(); }},
                           {"PanRight", [](PtzController& c) { return c.PanRight(); }},
                           {"TiltUp", [](PtzController& c) { return c.TiltUp(); }},
                           {"TiltDown", [](PtzController& c) { return c.TiltDown(); }}};

class Rc20Test : public StandInTest {};

TEST_F(Rc20Test, EachMotionOpensCameraZeroAndRunsItsMotor) {
  // The library's left and right are swapped against the host's.
  const char* motors[] = {"MotoRight", "MotoLeft", "MotoUp", "MotoDown"};
  Rc20Controller controller(Load(vendor_test::kRc20StandIn));
  ASSERT_NE(controller.library, nullptr);
  EXPECT_EQ(controller.Init(nullptr, 5), 1);
  EXPECT_EQ(controller.camera, 5);
  record_.Take();
  for (std::size_t i = 0; i < std::size(kMotions); ++i) {
    EXPECT_EQ(kMotions[i].run(controller), 1) << kMotions[i].name;
    EXPECT_EQ(record_.Take(), Rc20Motion(motors[i])) << kMotions[i].name;
  }
}

TEST_F(Rc20Test, AMissingMotorClosesTheCameraAgain) {
  Rc20Controller controller(Load(vendor_test::kRc20NoMotoLeft));
  ASSERT_NE(controller.library, nullptr);
  EXPECT_EQ(controller.MotoLeft, nullptr);
  controller.Init(nullptr, 0);
  record_.Take();

  EXPECT_EQ(controller.PanRight(), 0);
  EXPECT_EQ(record_.Take(), Rc20Motion("CloseCam"));  // in place of the motor
  EXPECT_EQ(controller.PanLeft(), 1);
  EXPECT_EQ(record_.Take(), Rc20Motion("MotoRight"));
}

// Each function by its 32-bit decorated name first, and
// only when that is missing by a 64-bit build's: GetCamName, whose pointer
// argument is "PEA" there, is the one name that differs.
TEST_F(Rc20Test, FunctionsAreFoundUnderTheNamesOfA64BitBuildToo) {
  struct Row {
    const char* name;
    const vendor_test::fs::path* library;
    const char* foundAs;  // the name GetCamName is found under
    const char* missing;  // the name the library lacks
  };
  const Row rows[] = {
      {"32-bit names", &vendor_test::kRc20StandIn, "?GetCamName@@YA_NHPAD@Z",
       "?GetCamName@@YA_NHPEAD@Z"},
      {"64-bit names", &vendor_test::kRc20With64BitNames, "?GetCamName@@YA_NHPEAD@Z",
       "?GetCamName@@YA_NHPAD@Z"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Rc20Controller controller(Load(*row.library));
    ASSERT_NE(controller.library, nullptr);
    EXPECT_EQ(vorne::GetProcAddress(controller.library, row.missing), nullptr);
    EXPECT_EQ(reinterpret_cast<vorne::FARPROC>(controller.GetCamName),
              vorne::GetProcAddress(controller.library, row.foundAs));
    for (const void* entry : {reinterpret_cast<const void*>(controller.OpenCam),
                              reinterpret_cast<const void*>(controller.GetCamNum),
                              reinterpret_cast<const void*>(controller.GetCamName),
                              reinterpret_cast<const void*>(controller.CloseCam),
                              reinterpret_cast<const void*>(controller.MotoUp),
                              reinterpret_cast<const void*>(controller.MotoDown),
                              reinterpret_cast<const void*>(controller.MotoRight),
                              reinterpret_cast<const void*>(controller.MotoLeft)}) {
      EXPECT_NE(entry, nullptr);
    }
    controller.Init(nullptr, 0);
    record_.Take();
    EXPECT_EQ(controller.TiltDown(), 1);
    EXPECT_EQ(record_.Take(), Rc20Motion("MotoDown"));  // GetCamName(0,buffer) included
  }
}

TEST_F(Rc20Test, DeletingFreesTheLibraryWithoutClosingTheCamera) {
  auto controller = std::make_unique<Rc20Controller>(Load(vendor_test::kRc20StandIn));
  controller->Init(nullptr, 1);
  controller->TiltUp();
  record_.Take();
  controller->Close();
  controller.reset();
  EXPECT_EQ(record_.Take(), Lines{"CDLL_301P.dll: unloaded"});
}

class Su320Test : public StandInTest {};

TEST_F(Su320Test, EachMotionSendsItsCodeAndTheCameraNumber) {
  Su320Controller controller(Load(vendor_test::kSu320StandIn));
  ASSERT_NE(controller.ZX_Control, nullptr);
  EXPECT_EQ(controller.Init(nullptr, 3), 1);
  record_.Take();
  const char* calls[] = {"CDll.dll: ZX_Control(2,3)", "CDll.dll: ZX_Control(3,3)",
                         "CDll.dll: ZX_Control(0,3)", "CDll.dll: ZX_Control(1,3)"};
  for (std::size_t i = 0; i < std::size(kMotions); ++i) {
    EXPECT_EQ(kMotions[i].run(controller), 1) << kMotions[i].name;
    EXPECT_EQ(record_.Take(), Lines{calls[i]}) << kMotions[i].name;
  }
}

TEST_F(Su320Test, DeletingFreesTheLibrary) {
  auto controller = std::make_unique<Su320Controller>(Load(vendor_test::kSu320StandIn));
  record_.Take();
  controller.reset();
  EXPECT_EQ(record_.Take(), Lines{"CDll.dll: unloaded"});
}

// What both drivers answer whatever the library holds: nothing but pan and
// tilt ever reaches it.
TEST_F(StandInTest, FixedAnswersCallNothing) {
  using Make = std::function<std::unique_ptr<PtzController>()>;
  const std::pair<const char*, Make> drivers[] = {
      {"RC20", [] { return std::make_unique<Rc20Controller>(Load(vendor_test::kRc20StandIn)); }},
      {"SU_320",
       [] { return std::make_unique<Su320Controller>(Load(vendor_test::kSu320StandIn)); }},
      {"RC20 without library", [] { return std::make_unique<Rc20Controller>(nullptr); }},
      {"SU_320 without library", [] { return std::make_unique<Su320Controller>(nullptr); }},
  };
  for (const auto& [name, make] : drivers) {
    std::unique_ptr<PtzController> controller = make();
    EXPECT_EQ(controller->port, -1) << name;
    EXPECT_EQ(controller->Init(nullptr, 4), 1) << name;
    record_.Take();
    EXPECT_EQ(controller->SetComPort(2), 1) << name;
    EXPECT_EQ(controller->SetBaudRate(9600), 0) << name;
    EXPECT_EQ(controller->SetAddressCode(1), 0) << name;
    EXPECT_EQ(controller->ZoomIn(), 0) << name;
    EXPECT_EQ(controller->ZoomOut(), 0) << name;
    controller->Stop();
    controller->Close();
    EXPECT_EQ(controller->port, -1) << name;
    EXPECT_TRUE(record_.Take().empty()) << name;
  }
}

TEST_F(StandInTest, WithoutALibraryEveryMotionFails) {
  Rc20Controller rc20(nullptr);
  Su320Controller su320(nullptr);
  for (PtzController* controller :
       {static_cast<PtzController*>(&rc20), static_cast<PtzController*>(&su320)}) {
    EXPECT_EQ(controller->Init(nullptr, 2), 1);
    for (const Motion& motion : kMotions) {
      EXPECT_EQ(motion.run(*controller), 0) << motion.name;
    }
  }
}

// This test program holds the module's code, so the module's directory is
// the program's, where no vendor library lies.
TEST(ModuleDirectory, IsTheFolderOfTheModulesOwnFile) {
  char program[4096];
  const ssize_t n = readlink("/proc/self/exe", program, sizeof(program) - 1);
  ASSERT_GT(n, 0);
  std::string folder(program, static_cast<std::size_t>(n));
  folder.erase(folder.rfind('/') + 1);
  std::u16string expected(folder.begin(), folder.end());

  EXPECT_EQ(std::u16string_view(ModuleDirectory().data()), expected);
  PathText path;
  ASSERT_TRUE(PathBesideModule(u"CDll.dll", path));
  EXPECT_EQ(std::u16string_view(path.data()), expected + u"CDll.dll");

  const std::u16string tooLong(MAX_PATH - expected.size(), u'x');
  EXPECT_FALSE(PathBesideModule(tooLong.c_str(), path));
  EXPECT_EQ(path[0], 0);
  const std::u16string longest(MAX_PATH - 1 - expected.size(), u'x');
  EXPECT_TRUE(PathBesideModule(longest.c_str(), path));

  Rc20Controller rc20;
  Su320Controller su320;
  EXPECT_EQ(rc20.library, nullptr);
  EXPECT_EQ(su320.library, nullptr);
}

}  // namespace
