// A serial controller on a real line: frames reach a pseudo-terminal byte
// for byte at the stored line settings, failures give their log lines, and
// the wire trace records what happened.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include "serial/line_helpers.h"
#include "serial/test_driver.h"
#include "support/module_fixture.h"
#include "support/pty_pair.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using vorne_test::Bytes;
using vorne_test::Hex;
using vorne_test::PtyPair;
using vorne_test::ScopedComPort;
using vorne_test::ScopedEnv;
using vorne_test::TestDriver;

class PtyTransportTest : public vorne_test::InProcessTest {
 protected:
  void SetUp() override {
    InProcessTest::SetUp();
    ASSERT_TRUE(pty_.Ok()) << pty_.Error();
    AttachLog();
    ASSERT_NE(driver_.Init(CWnd::FromHandle(reinterpret_cast<HWND>(0x7007)), 0), 0);
    ASSERT_EQ(driver_.SetComPort(1), 1);  // port 2
    host_.ClearLines();
  }

  Bytes Frame(const CommandFrame& frame) { return TestDriver::FrameBytes(frame); }

  PtyPair pty_;
  ScopedComPort port_{2, pty_.SlavePath()};
  TestDriver driver_;
};

TEST_F(PtyTransportTest, FramesArriveByteExactInOrder) {
  EXPECT_EQ(driver_.PanLeft(), 1);
  EXPECT_EQ(pty_.ReadMaster(5), Frame(driver_.panLeftFrame));
  EXPECT_EQ(driver_.ZoomOut(), 1);
  EXPECT_EQ(driver_.TiltDown(), 0);  // refused: nothing goes out
  driver_.Stop();

  Bytes expected = Frame(driver_.zoomOutFrame);
  for (const CommandFrame* f : {&driver_.panTiltStopFrame, &driver_.zoomStopFrame}) {
    const Bytes bytes = Frame(*f);
    expected.insert(expected.end(), bytes.begin(), bytes.end());
  }
  EXPECT_EQ(Hex(pty_.ReadMaster(expected.size())), Hex(expected));
  EXPECT_THAT(pty_.ReadAvailable(), IsEmpty());
  EXPECT_THAT(LogLines(), IsEmpty());
}

TEST_F(PtyTransportTest, TheLineIs8N1AtTheStoredRateFromTheNextFrameOn) {
  ASSERT_EQ(driver_.SetBaudRate(19200), 1);
  ASSERT_EQ(driver_.PanRight(), 1);
  EXPECT_EQ(pty_.ReadMaster(6), Frame(driver_.panRightFrame));
  std::optional<termios> line = pty_.SlaveTermios();
  ASSERT_TRUE(line);
  EXPECT_EQ(pty_.SlaveBaud(), 19200);
  EXPECT_EQ(line->c_cflag & (CSIZE | PARENB | CSTOPB), static_cast<tcflag_t>(CS8));

  // A new rate waits for the next open.
  ASSERT_EQ(driver_.SetBaudRate(2400), 1);
  EXPECT_EQ(pty_.SlaveBaud(), 19200);
  driver_.Stop();
  EXPECT_EQ(pty_.ReadMaster(9), Frame(driver_.panTiltStopFrame));
  EXPECT_EQ(pty_.SlaveBaud(), 2400);
  EXPECT_THAT(LogLines(), ElementsAre("SetBaudRate 19200.\n", "SetBaudRate 2400.\n"));
}

TEST_F(PtyTransportTest, PortFailuresAreLoggedAndNothingIsSent) {
  struct Case {
    const char* name;
    std::function<void()> arrange;
    std::string baud;
  };
  std::unique_ptr<ScopedComPort> elsewhere;
  int lock = -1;
  const Case cases[] = {
      {"missing device",
       [&] { elsewhere = std::make_unique<ScopedComPort>(2, "/nonexistent/ttyVORNE"); }, "9600"},
      {"busy port",
       [&] {
         lock = ::open(pty_.SlavePath().c_str(), O_RDWR | O_NOCTTY);
         ASSERT_EQ(::flock(lock, LOCK_EX | LOCK_NB), 0);
       },
       "9600"},
      {"bad rate", [&] { driver_.SetBaudRate(12345); }, "12345"},
      {"no rate", [&] { driver_.SetBaudRate(0); }, "0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.arrange();
    host_.ClearLines();
    EXPECT_EQ(driver_.PanLeft(), 0);
    EXPECT_EQ(driver_.panTiltMoving, 1);
    driver_.Stop();  // fails the same way; the motion stays until a stop goes out
    EXPECT_EQ(driver_.panTiltMoving, 1);
    const std::string open = "Open port exception,port = 2,BaudRate = " + c.baud + ".\n";
    const std::string failed = "Open com port 2 failed,baudrate = " + c.baud + ".\n";
    EXPECT_THAT(LogLines(), ElementsAre(open, failed, open, failed));
    EXPECT_THAT(pty_.ReadAvailable(), IsEmpty());

    elsewhere.reset();
    if (lock >= 0) ::close(lock);
    lock = -1;
    driver_.SetBaudRate(9600);
    driver_.Stop();  // the port is free again: the stop goes out now
    EXPECT_EQ(driver_.panTiltMoving, 0);
    EXPECT_EQ(pty_.ReadMaster(static_cast<std::size_t>(driver_.panTiltStopFrame.length)),
              Frame(driver_.panTiltStopFrame));
  }
  // Everything works again afterwards.
  EXPECT_EQ(driver_.ZoomIn(), 1);
  EXPECT_EQ(pty_.ReadMaster(8), Frame(driver_.zoomInFrame));
}

TEST_F(PtyTransportTest, WithoutAPortSelectedTheControlRefusesPortMinusOne) {
  TestDriver unset;
  ASSERT_NE(unset.Init(CWnd::FromHandle(reinterpret_cast<HWND>(0x7008)), 0), 0);
  EXPECT_EQ(unset.ZoomIn(), 0);
  EXPECT_THAT(LogLines(), ElementsAre("Open port exception,port = -1,BaudRate = 9600.\n",
                                      "Open com port -1 failed,baudrate = 9600.\n"));
  EXPECT_THAT(pty_.ReadAvailable(), IsEmpty());
}

TEST_F(PtyTransportTest, TheReceiveSideReadsWhatTheCameraSent) {
  ASSERT_EQ(driver_.OpenPort(), 1);
  ASSERT_TRUE(pty_.WriteMaster({0x90, 0x41, 0xFF}));
  vorne_test::Eventually([&] { return driver_.comm.GetReceivedCount() >= 3; });
  EXPECT_EQ(driver_.comm.GetReceivedCount(), 3);
  VARIANT data = driver_.comm.GetReceivedData();
  EXPECT_EQ(data.vt, VT_ARRAY | VT_UI1);
  EXPECT_EQ(data.bytes, (Bytes{0x90, 0x41, 0xFF}));
  VariantClear(&data);
  const std::uint8_t ack[2] = {0x06, 0x0D};
  EXPECT_EQ(driver_.WriteRaw(ack, 2), 1);
  driver_.ClosePort();
  EXPECT_EQ(pty_.ReadMaster(2), (Bytes{0x06, 0x0D}));
  EXPECT_EQ(driver_.WriteRaw(ack, 2), 0);  // the port is closed again
}

class WireTraceTest : public PtyTransportTest {
 protected:
  vorne_test::WireTrace trace_;
};

TEST_F(WireTraceTest, OneFrameIsTracedFromOpenToClose) {
  ASSERT_EQ(driver_.PanLeft(), 1);
  ASSERT_EQ(pty_.ReadMaster(5).size(), 5u);
  EXPECT_THAT(trace_.Lines(), ElementsAre("COM2 open " + pty_.SlavePath() + " 9600,n,8,1",
                                          "COM2 out 5: A2 01 02 03 04", "COM2 close"));
}

TEST_F(WireTraceTest, BytesInAndFailedOpensAreTraced) {
  ASSERT_EQ(driver_.OpenPort(), 1);
  ASSERT_TRUE(pty_.WriteMaster({0x90, 0x51}));
  ASSERT_TRUE(vorne_test::Eventually([&] { return driver_.comm.GetReceivedCount() >= 2; }));
  VARIANT data = driver_.comm.GetReceivedData();
  VariantClear(&data);
  driver_.ClosePort();
  {
    ScopedComPort missing(2, "/nonexistent/ttyVORNE");
    EXPECT_EQ(driver_.OpenPort(), 0);
  }
  EXPECT_THAT(
      trace_.Lines(),
      ElementsAre("COM2 open " + pty_.SlavePath() + " 9600,n,8,1", "COM2 in 2: 90 51", "COM2 close",
                  "COM2 open failed /nonexistent/ttyVORNE: No such file or directory"));
}

TEST_F(WireTraceTest, SettingsTheLineCannotTakeAreTracedWithTheirText) {
  ASSERT_EQ(driver_.SetBaudRate(14400), 1);  // applied only at the next open
  EXPECT_EQ(driver_.PanLeft(), 0);
  EXPECT_THAT(trace_.Lines(),
              ElementsAre("COM2 open " + pty_.SlavePath() + " 9600,n,8,1",
                          "COM2 settings failed: cannot use \"14400,n,8,1\" on this line",
                          "COM2 close"));
}

TEST_F(PtyTransportTest, AnUnwritableTraceNeverStopsTheFrames) {
  ScopedEnv trace("VORNE_TRACE", "/nonexistent/dir/trace.log");
  ASSERT_EQ(driver_.PanLeft(), 1);
  EXPECT_EQ(pty_.ReadMaster(5), Frame(driver_.panLeftFrame));
}

}  // namespace
