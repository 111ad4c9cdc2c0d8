// The module as a host sees it: loaded with dlopen, reached through LumoDll.
#include <gtest/gtest.h>

#include <cstring>

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
