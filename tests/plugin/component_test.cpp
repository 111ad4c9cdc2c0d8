// IPtzControl on a component, in-process, without a camera driver.
#include <gtest/gtest.h>

#include "plugin/camera_component.h"
#include "plugin/entry.h"
#include "plugin/module_lock.h"
#include "support/module_fixture.h"

using namespace vorne;

namespace {

class ComponentTest : public vorne_test::InProcessTest {
 protected:
  void SetUp() override {
    InProcessTest::SetUp();
    ASSERT_EQ(CreateInstance(&CLSID_WCameraControler, &IID_IPtzControl, nullptr, &host_,
                             reinterpret_cast<void**>(&camera_)),
              S_OK);
    host_.ClearLines();
  }
  void TearDown() override {
    if (camera_ != nullptr) camera_->Release();
    EXPECT_EQ(ModuleLockCount.load(), 0);
    InProcessTest::TearDown();
  }
  IPtzControl* camera_ = nullptr;
};

TEST_F(ComponentTest, OperationsThatNeedAControllerSayUnexpected) {
  EXPECT_EQ(camera_->Command(PTZ_STOP), E_UNEXPECTED);
  EXPECT_EQ(camera_->Command(7), E_UNEXPECTED);
  EXPECT_EQ(camera_->SetComPort(0), E_UNEXPECTED);
  EXPECT_EQ(camera_->SetBaudRate(9600), E_UNEXPECTED);
  EXPECT_EQ(camera_->SetAddressCode(1), E_UNEXPECTED);
  EXPECT_EQ(camera_->DestroyController(), S_OK);
  EXPECT_EQ(camera_->DestroyController(), S_OK);
  EXPECT_TRUE(LogLines().empty());
}

TEST_F(ComponentTest, ListsTheCatalogue) {
  EXPECT_EQ(camera_->GetCameraTypeCount(), 8u);
  char16_t name[32];
  EXPECT_EQ(camera_->GetCameraTypeInfo(0, nullptr, name, 32), E_POINTER);
  std::int32_t id = -1;
  EXPECT_EQ(camera_->GetCameraTypeInfo(7, &id, name, 32), 7);
  EXPECT_EQ(id, 7);
  EXPECT_EQ(std::u16string_view(name), u"PELCO_P");
}

TEST_F(ComponentTest, UnknownTypesAreRefusedWithTheirLogLine) {
  struct Case {
    std::int32_t type;
    std::int32_t camera;
    const char* line;
  };
  const Case cases[] = {
      {8, 2, "Unknown Camera Type,Type = 8,nCamera = 2.\n"},
      {9, 0, "Unknown Camera Type,Type = 9,nCamera = 0.\n"},
      {-1, 5, "Unknown Camera Type,Type = -1,nCamera = 5.\n"},
  };
  for (const Case& c : cases) {
    host_.ClearLines();
    EXPECT_EQ(camera_->CreateController(c.type, nullptr, c.camera), E_FAIL);
    EXPECT_EQ(LogLines(), std::vector<std::string>{c.line});
    EXPECT_EQ(camera_->Command(PTZ_PAN_LEFT), E_UNEXPECTED);  // none held
  }
}

}  // namespace
