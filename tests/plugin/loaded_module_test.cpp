// The module as a host sees it: loaded with dlopen, reached through LumoDll.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "hostkit/module_loader.h"
#include "support/module_fixture.h"

namespace {

using vorne_test::LoadedModuleTest;

TEST_F(LoadedModuleTest, EntryTableAndClassTable) {
  PluginEntryTable wrong;
  std::memset(&wrong, 0, sizeof(wrong));
  wrong.size = 20 + (sizeof(PluginEntryTable) == 20 ? 4 : 0);
  EXPECT_EQ(module_.Entry()(&wrong), E_FAIL);
  EXPECT_EQ(wrong.GetInfo, nullptr);

  std::uint32_t info[3] = {};
  EXPECT_EQ(module_.Entries().GetInfo(&info[0], &info[1], &info[2]), 0);
  EXPECT_EQ(info[0], 0x01000001u);
  EXPECT_EQ(info[1], 1u);

  const ClassEntry* rows = nullptr;
  std::int32_t count = 0;
  module_.Entries().GetClassTable(&rows, &count);
  ASSERT_EQ(count, 1);
  EXPECT_EQ(std::u16string_view(rows[0].name), u"WCameraControler");
  EXPECT_TRUE(IsEqualGUID(*rows[0].classId, CLSID_WCameraControler));
}

TEST_F(LoadedModuleTest, ListsTheEightTypesAndFollowsComponentLives) {
  EXPECT_EQ(module_.Entries().CanUnloadNow(), S_OK);
  IPtzControl* camera = NewCamera();
  ASSERT_NE(camera, nullptr);
  EXPECT_EQ(module_.Entries().CanUnloadNow(), S_FALSE);

  const char16_t* names[] = {u"EVI_D31",       u"RC20",    u"SU_320",  u"TAC",
                             u"VIDEOTREC_PWT", u"PELCO_D", u"VC_C50i", u"PELCO_P"};
  ASSERT_EQ(camera->GetCameraTypeCount(), 8u);
  for (std::uint32_t i = 0; i < 8; ++i) {
    std::int32_t id = -1;
    char16_t name[32];
    std::memset(name, 0xFF, sizeof(name));
    const HRESULT length = camera->GetCameraTypeInfo(i, &id, name, 32);
    EXPECT_EQ(id, static_cast<std::int32_t>(i));
    EXPECT_EQ(std::u16string_view(name), names[i]);
    EXPECT_EQ(length, static_cast<HRESULT>(std::u16string_view(names[i]).size()));
  }
  camera->Release();
  cameras_.clear();
  EXPECT_EQ(module_.Entries().CanUnloadNow(), S_OK);
}

TEST_F(LoadedModuleTest, RefusalsCarryTheirResultCodesAndLogLines) {
  IPtzControl* camera = NewCamera();
  ASSERT_NE(camera, nullptr);
  EXPECT_EQ(camera->CreateController(static_cast<std::int32_t>(0xFFFFFFFFu), nullptr, 2), E_FAIL);
  EXPECT_EQ(camera->Command(PTZ_STOP), E_UNEXPECTED);
  EXPECT_EQ(camera->SetComPort(0), E_UNEXPECTED);
  EXPECT_EQ(camera->SetBaudRate(9600), E_UNEXPECTED);
  EXPECT_EQ(camera->SetAddressCode(2), E_UNEXPECTED);
  EXPECT_EQ(camera->DestroyController(), S_OK);
  EXPECT_EQ(host_.Lines(),
            std::vector<std::string>{"Unknown Camera Type,Type = -1,nCamera = 2.\n"});
}

TEST_F(LoadedModuleTest, UnloadReleasesTheLogSink) {
  const int before = hostkit::HostObject::LiveSinks();
  ASSERT_NE(NewCamera(), nullptr);
  EXPECT_EQ(hostkit::HostObject::LiveSinks(), before + 1);
  for (IPtzControl* camera : cameras_) camera->Release();
  cameras_.clear();
  module_.Unload();
  EXPECT_EQ(hostkit::HostObject::LiveSinks(), before);
}

}  // namespace

namespace {

// A host whose log objects are static: destroyed by exit before the
// module's own end. Any call into them after that kills the process.
volatile bool exitingHostGone = false;

struct ExitingHost final : IHostLogFactory, IHostLog {
  ~ExitingHost() { exitingHostGone = true; }
  static void Check() {
    if (exitingHostGone) std::abort();
  }
  HRESULT VORNE_CALL QueryInterface(const GUID& iid, void** out) override {
    Check();
    if (!IsEqualGUID(iid, IID_IHostLogFactory) && !IsEqualGUID(iid, IID_IUnknown)) {
      return E_NOINTERFACE;
    }
    *out = static_cast<IHostLogFactory*>(this);
    return S_OK;
  }
  std::uint32_t VORNE_CALL AddRef() override {
    Check();
    return 2;
  }
  std::uint32_t VORNE_CALL Release() override {
    Check();
    return 1;
  }
  HRESULT VORNE_CALL CreateLog(const char16_t*, std::int32_t, std::int32_t,
                               IHostLog** out) override {
    *out = this;
    return S_OK;
  }
  HRESULT VORNE_CDECL Log(const char16_t*, ...) override {
    Check();
    return S_OK;
  }
};

TEST(ProcessExit, AHostThatExitsWithoutUnloadingIsNotCalledAfterItsObjectsAreGone) {
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    static ExitingHost host;  // destroyed by exit, before the module ends
    hostkit::LoadedModule* module = new hostkit::LoadedModule;  // never unloaded
    IPtzControl* camera = nullptr;
    if (!module->Load(VORNE_MODULE_PATH) ||
        module->CreateCamera(static_cast<IHostLogFactory*>(&host), &camera) != S_OK) {
      ::_exit(3);
    }
    camera->Release();
    std::exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
}

}  // namespace
