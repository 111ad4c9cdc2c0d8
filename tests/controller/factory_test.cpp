// Building controllers by type number and ending them.
#include "controller/factory.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "driver/ptz_controller.h"
#include "support/module_fixture.h"

using namespace vorne;

namespace {

class MockController : public PtzController {
 public:
  MOCK_METHOD(int, Init, (CWnd*, int), (override));
  MOCK_METHOD(void, Close, (), (override));
  MOCK_METHOD(int, SetComPort, (int), (override));
  MOCK_METHOD(int, PanLeft, (), (override));
  MOCK_METHOD(int, PanRight, (), (override));
  MOCK_METHOD(int, TiltUp, (), (override));
  MOCK_METHOD(int, TiltDown, (), (override));
  MOCK_METHOD(int, ZoomIn, (), (override));
  MOCK_METHOD(int, ZoomOut, (), (override));
  MOCK_METHOD(void, Stop, (), (override));
  MOCK_METHOD(int, SetBaudRate, (int), (override));
  MOCK_METHOD(int, SetAddressCode, (int), (override));
  MOCK_METHOD(void, Die, ());
  ~MockController() override { Die(); }
};

class FactoryTest : public vorne_test::InProcessTest {};

TEST_F(FactoryTest, TypesAboveSevenAreUnknown) {
  AttachLog();
  EXPECT_EQ(CreatePtzController(8, nullptr, 2), nullptr);
  EXPECT_EQ(CreatePtzController(0xFFFFFFFFu, nullptr, 2), nullptr);
  EXPECT_EQ(LogLines(), (std::vector<std::string>{"Unknown Camera Type,Type = 8,nCamera = 2.\n",
                                                  "Unknown Camera Type,Type = -1,nCamera = 2.\n"}));
}

TEST_F(FactoryTest, UnknownTypeWithoutSinkIsStillRefused) {
  EXPECT_EQ(CreatePtzController(12, nullptr, 0), nullptr);
}

TEST_F(FactoryTest, DestroyClosesBeforeDeleting) {
  auto* controller = new MockController();
  ::testing::InSequence order;
  EXPECT_CALL(*controller, Close());
  EXPECT_CALL(*controller, Die());
  DestroyPtzController(controller);
}

TEST_F(FactoryTest, DestroyOfNullDoesNothing) { DestroyPtzController(nullptr); }

TEST(PtzControllerDefaults, PortUnsetAndCameraZero) {
  ::testing::NiceMock<MockController> controller;
  EXPECT_EQ(controller.port, -1);
  EXPECT_EQ(controller.camera, 0);
}

}  // namespace
