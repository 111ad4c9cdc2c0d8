// Obtaining, using and releasing the host's log sink.
#include "hostlog/host_log.h"

#include <gtest/gtest.h>

#include "support/module_fixture.h"

using namespace vorne;

namespace {

using vorne_test::InProcessTest;

class HostLogTest : public InProcessTest {};

TEST_F(HostLogTest, RefusesMissingHostOrName) {
  EXPECT_EQ(AttachHostLog(nullptr, u"VORNE", 3, 2), E_FAIL);
  EXPECT_EQ(AttachHostLog(&host_, nullptr, 3, 2), E_FAIL);
  EXPECT_EQ(HostLog, nullptr);
  EXPECT_EQ(host_.createLogCalls, 0);
}

TEST_F(HostLogTest, AttachesOnceAndReleasesTheFactory) {
  ASSERT_EQ(AttachHostLog(&host_, u"VORNE", 3, 2), S_OK);
  EXPECT_NE(HostLog, nullptr);
  EXPECT_EQ(host_.References(), 0);
  hostkit::HostObject other;
  EXPECT_EQ(AttachHostLog(&other, u"VORNE", 3, 2), S_OK);
  EXPECT_EQ(other.createLogCalls, 0);  // already attached: the second host is not asked
}

TEST_F(HostLogTest, HostThatDeclinesLeavesTheLogUnset) {
  host_.declineFactory = true;
  EXPECT_EQ(AttachHostLog(&host_, u"VORNE", 3, 2), E_NOINTERFACE);
  EXPECT_EQ(HostLog, nullptr);
  HostLogLine(u"Set AddrCode %d.\n", 5);  // dropped, not a crash
}

TEST_F(HostLogTest, FailingFactoryReturnsItsCodeAndIsReleased) {
  host_.createLogResult = static_cast<HRESULT>(0x80070005u);
  EXPECT_EQ(AttachHostLog(&host_, u"VORNE", 3, 2), static_cast<HRESULT>(0x80070005u));
  EXPECT_EQ(HostLog, nullptr);
  EXPECT_EQ(host_.References(), 0);
}

TEST_F(HostLogTest, LinesAreFormattedWithSignedValuesAndReleaseDropsTheSink) {
  const int sinksBefore = hostkit::HostObject::LiveSinks();
  AttachLog();
  EXPECT_EQ(hostkit::HostObject::LiveSinks(), sinksBefore + 1);
  HostLogLine(u"Unknown Camera Type,Type = %d,nCamera = %d.\n", 0xFFFFFFFFu, 2);
  HostLogLine(u"Create MSComm Failed.\n");
  EXPECT_EQ(LogLines(), (std::vector<std::string>{"Unknown Camera Type,Type = -1,nCamera = 2.\n",
                                                  "Create MSComm Failed.\n"}));
  EXPECT_EQ(ReleaseHostLog(), 0);
  EXPECT_EQ(HostLog, nullptr);
  EXPECT_EQ(hostkit::HostObject::LiveSinks(), sinksBefore);
  EXPECT_EQ(ReleaseHostLog(), 0);
}

}  // namespace
