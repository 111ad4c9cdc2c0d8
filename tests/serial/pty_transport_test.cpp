// A serial controller on a real line: frames reach a pseudo-terminal byte
// for byte at the stored line settings, failures give their log lines, and
// the wire trace records what happened.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <fstream>

#include "serial/line_helpers.h"
#include "serial/test_driver.h"
#include "support/module_fixture.h"
#include "support/pty_pair.h"

using namespace vorne;

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
  const auto restore = [&] {
    elsewhere.reset();
    if (lock >= 0) ::close(lock);
    lock = -1;
    driver_.SetBaudRate(9600);
    host_.ClearLines();
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string open = "Open port exception,port = 2,BaudRate = " + c.baud + ".\n";
    const std::string failed = "Open com port 2 failed,baudrate = " + c.baud + ".\n";

    // The motion never leaves: the Stop after it fails the same way and
    // ends the group all the same, so the next motion is sent.
    c.arrange();
    host_.ClearLines();
    EXPECT_EQ(driver_.PanLeft(), 0);
    EXPECT_EQ(driver_.panTiltMoving, 1);
    driver_.Stop();
    EXPECT_EQ(driver_.panTiltMoving, 0);
    EXPECT_THAT(LogLines(), ElementsAre(open, failed, open, failed));
    EXPECT_THAT(pty_.ReadAvailable(), IsEmpty());
    restore();
    EXPECT_EQ(driver_.PanLeft(), 1);
    EXPECT_EQ(pty_.ReadMaster(static_cast<std::size_t>(driver_.panLeftFrame.length)),
              Frame(driver_.panLeftFrame));

    // The motion went out, its stop cannot: the group stays moving until a
    // stop goes out.
    c.arrange();
    host_.ClearLines();
    driver_.Stop();
    EXPECT_EQ(driver_.panTiltMoving, 1);
    EXPECT_EQ(driver_.TiltUp(), 0);  // still refused, not tried
    EXPECT_THAT(LogLines(), ElementsAre(open, failed));
    EXPECT_THAT(pty_.ReadAvailable(), IsEmpty());
    restore();
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

TEST_F(WireTraceTest, ANewlineInADeviceNameCannotForgeALine) {
  {
    ScopedComPort forged(2, "/nonexistent/tty\nCOM2 close");
    EXPECT_EQ(driver_.OpenPort(), 0);
  }
  EXPECT_THAT(
      trace_.Lines(),
      ElementsAre("COM2 open failed /nonexistent/tty\\x0ACOM2 close: No such file or directory"));
}

TEST_F(WireTraceTest, SettingsTheLineCannotTakeAreTracedWithTheirText) {
  ASSERT_EQ(driver_.SetBaudRate(14400), 1);  // applied only at the next open
  EXPECT_EQ(driver_.PanLeft(), 0);
  EXPECT_THAT(
      trace_.Lines(),
      ElementsAre("COM2 open " + pty_.SlavePath() + " 9600,n,8,1",
                  "COM2 settings failed: cannot use \"14400,n,8,1\" on this line", "COM2 close"));
}

TEST_F(PtyTransportTest, AnUnwritableTraceNeverStopsTheFrames) {
  ScopedEnv trace("VORNE_TRACE", "/nonexistent/dir/trace.log");
  ASSERT_EQ(driver_.PanLeft(), 1);
  EXPECT_EQ(pty_.ReadMaster(5), Frame(driver_.panLeftFrame));
}

// Another program that has the port: a child process named `name` that
// takes an flock on `device` when given one, then waits to be killed.
class Holder {
 public:
  explicit Holder(const char* name, const std::string& device = "") {
    int ready[2];
    if (::pipe(ready) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::prctl(PR_SET_NAME, name);
      const int fd = device.empty() ? -1 : ::open(device.c_str(), O_RDWR | O_NOCTTY);
      if (!device.empty() && (fd < 0 || ::flock(fd, LOCK_EX) != 0)) ::_exit(1);
      if (::write(ready[1], "", 1) != 1) ::_exit(1);
      for (;;) ::pause();
    }
    ::close(ready[1]);
    char byte;
    ready_ = pid_ > 0 && ::read(ready[0], &byte, 1) == 1;
    ::close(ready[0]);
  }
  ~Holder() { End(); }
  Holder(const Holder&) = delete;
  Holder& operator=(const Holder&) = delete;

  bool Ready() const { return ready_; }
  pid_t Pid() const { return pid_; }
  // The process is gone and reaped; its pid stays for a stale lock file.
  void End() {
    if (pid_ > 0 && ready_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
      ready_ = false;
    }
  }

 private:
  pid_t pid_ = -1;
  bool ready_ = false;
};

// Another program's hold on the port, by its UUCP lock file or by flock,
// keeps the frames back and is named in the trace; a lock file whose
// process is gone, or that names this process, is passed over and left.
TEST_F(WireTraceTest, OtherProgramsHoldsKeepFramesBackAndAreNamed) {
  if (::access("/var/lock", W_OK) != 0) GTEST_SKIP() << "/var/lock is not writable";
  // Pointed at a link, as users do with the by-id names: the lock file is
  // named after the device it leads to.
  char folder[] = "/tmp/vorne-locks-XXXXXX";
  ASSERT_NE(::mkdtemp(folder), nullptr);
  const std::string link = std::string(folder) + "/camera";
  ASSERT_EQ(::symlink(pty_.SlavePath().c_str(), link.c_str()), 0);
  ScopedComPort linked(2, link);
  const std::string& slave = pty_.SlavePath();
  const std::string lockFile = "/var/lock/LCK.." + slave.substr(slave.rfind('/') + 1);
  struct Removed {
    const std::string& path;
    ~Removed() { ::unlink(path.c_str()); }
  } removed{lockFile};

  Holder minicom("minicom");
  Holder gone("gone");
  ASSERT_TRUE(minicom.Ready() && gone.Ready());
  gone.End();
  const auto ascii = [](pid_t pid) {
    char text[16];
    std::snprintf(text, sizeof(text), "%10d\n", static_cast<int>(pid));
    return std::string(text);
  };
  const auto binary = [](pid_t pid) {
    const std::int32_t number = pid;
    return std::string(reinterpret_cast<const char*>(&number), sizeof(number));
  };
  const std::string byMinicom = "COM2 open failed " + link + ": held by another program (pid " +
                                std::to_string(minicom.Pid()) + ", minicom) by its lock file " +
                                lockFile;
  struct Case {
    const char* name;
    std::string lock;     // the lock file's content
    std::string refusal;  // the trace line; none when the frames go out
    const char* flocker;  // a program holding the port by flock
  };
  const Case cases[] = {
      {"a live holder", ascii(minicom.Pid()), byMinicom, nullptr},
      {"a live holder's binary pid", binary(minicom.Pid()), byMinicom, nullptr},
      {"a stale lock", ascii(gone.Pid()), "", nullptr},
      {"a lock of this process", ascii(::getpid()), "", nullptr},
      {"an flock", "", "COM2 open failed " + link + ": held by another program (pid ", "picocom"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (!c.lock.empty()) {
      std::ofstream(lockFile, std::ios::binary) << c.lock;
    }
    std::optional<Holder> flocker;
    std::string refusal = c.refusal;
    if (c.flocker != nullptr) {
      flocker.emplace(c.flocker, slave);
      ASSERT_TRUE(flocker->Ready());
      refusal += std::to_string(flocker->Pid()) + ", " + c.flocker + ")";
    }
    const std::size_t before = trace_.Lines().size();
    if (refusal.empty()) {
      EXPECT_EQ(driver_.PanLeft(), 1);
      EXPECT_EQ(pty_.ReadMaster(5), Frame(driver_.panLeftFrame));
    } else {
      EXPECT_EQ(driver_.PanLeft(), 0);
      EXPECT_THAT(pty_.ReadAvailable(), IsEmpty());
      const std::vector<std::string> lines = trace_.Lines();
      EXPECT_THAT(std::vector<std::string>(lines.begin() + static_cast<std::ptrdiff_t>(before),
                                           lines.end()),
                  ElementsAre(refusal));
    }
    struct stat st {};
    EXPECT_EQ(::stat(lockFile.c_str(), &st) == 0, !c.lock.empty()) << "the lock file was touched";
    ::unlink(lockFile.c_str());
    flocker.reset();
    driver_.Stop();  // the port is free: the motion ends
    EXPECT_EQ(driver_.panTiltMoving, 0);
    EXPECT_EQ(pty_.ReadMaster(9), Frame(driver_.panTiltStopFrame));
  }
  ::unlink(link.c_str());
  ::rmdir(folder);
}

}  // namespace

namespace hostile {

// A trace file the host cannot control: each must leave the frames going
// out and the host alive; the ones that cannot be traced say so once.
TEST_F(PtyTransportTest, HostileTraceFilesNeitherHoldNorEndTheHost) {
  char folder[] = "/tmp/vorne-hostile-XXXXXX";
  ASSERT_NE(::mkdtemp(folder), nullptr);
  const std::string fifo = std::string(folder) + "/fifo";
  const std::string left = std::string(folder) + "/left";
  const std::string link = std::string(folder) + "/link";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  ASSERT_EQ(::mkfifo(left.c_str(), 0600), 0);
  ASSERT_EQ(::symlink("/dev/null", link.c_str()), 0);
  struct Case {
    const char* name;
    std::string target;
    std::string warning;
    std::string shown = {};  // the target as the warning names it, when not as it is
  };
  const Case cases[] = {
      {"a fifo nobody reads", fifo, "cannot open it: a fifo nobody reads"},
      {"a symbolic link", link, "cannot open it: a symbolic link"},
      {"a folder that does not exist", std::string(folder) + "/none/trace",
       "cannot open it: No such file or directory"},
      {"a name with a line break", std::string(folder) + "/none\n/trace",
       "cannot open it: No such file or directory", std::string(folder) + "/none\\x0A/trace"},
      {"a fifo whose reader leaves", left, "its reader went away"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int reader = -1;
    if (c.target == left) reader = ::open(left.c_str(), O_RDONLY | O_NONBLOCK);
    ::testing::internal::CaptureStderr();
    {
      ScopedEnv trace("VORNE_TRACE", c.target);
      EXPECT_EQ(driver_.PanLeft(), 1);
      if (reader >= 0) ::close(reader);  // the next line meets no reader: EPIPE, not SIGPIPE
      driver_.Stop();
      EXPECT_EQ(driver_.PanLeft(), 1);
      driver_.Stop();
    }
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(pty_.ReadAvailable().size(), 2 * (5 + 9u));  // pan left and stop, twice
    EXPECT_EQ(said, "vorne: wire trace " + (c.shown.empty() ? c.target : c.shown) +
                        " is off: " + c.warning + "\n");
  }
  ::unlink(fifo.c_str());
  ::unlink(left.c_str());
  ::unlink(link.c_str());
  ::rmdir(folder);
}

// A line that takes no bytes (nobody reads the other end and its buffer is
// full) costs a frame its time on the line plus a small margin, not seconds.
TEST_F(PtyTransportTest, AStalledLineIsGivenUpQuicklyWithItsLogLine) {
  const int filler = ::open(pty_.SlavePath().c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(filler, 0);
  const std::vector<std::uint8_t> block(4096, 0x55);
  // The terminal layer moves queued bytes on in the background: fill until a
  // pause makes no more room.
  for (bool added = true; added;) {
    added = false;
    for (std::size_t size = block.size(); size > 0; size /= 2) {
      while (::write(filler, block.data(), size) > 0) added = true;
    }
    if (added) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ::close(filler);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(driver_.PanLeft(), 1);  // the port opened: the frame counts as handed over
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_LT(took, std::chrono::milliseconds(500));
  EXPECT_THAT(LogLines(), ElementsAre("Write Data Exception,DataLen = 5,Port = 2.\n"));
}

// Two programs on one port take turns: none of their frames is refused as
// "held" and every byte arrives inside whole frames.
TEST_F(PtyTransportTest, TwoProgramsSharingThePortLoseNoFrame) {
  constexpr int kFrames = 4000;
  const pid_t other = ::fork();
  ASSERT_GE(other, 0);
  if (other == 0) {
    int lost = 0;
    for (int i = 0; i < kFrames; ++i) lost += driver_.Write(driver_.panLeftFrame.data, 5) == 0;
    ::_exit(lost > 255 ? 255 : lost);
  }
  int lost = 0;
  std::size_t received = 0;
  Bytes all;
  for (int i = 0; i < kFrames; ++i) {
    lost += driver_.Write(driver_.panRightFrame.data, 6) == 0;
    if (i % 64 == 0) {
      const Bytes got = pty_.ReadAvailable(std::chrono::milliseconds(0));
      all.insert(all.end(), got.begin(), got.end());
    }
  }
  int status = 0;
  ASSERT_EQ(::waitpid(other, &status, 0), other);
  const Bytes rest = pty_.ReadAvailable();
  all.insert(all.end(), rest.begin(), rest.end());
  received = all.size();
  EXPECT_EQ(lost, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the other program lost frames";
  EXPECT_EQ(received, kFrames * (5u + 6u));
  // Pan-left frames (5 bytes) and pan-right frames (6 bytes), never torn.
  for (std::size_t at = 0; at < all.size();) {
    const Bytes& frame =
        all[at] == 0xA2 ? Frame(driver_.panLeftFrame) : Frame(driver_.panRightFrame);
    ASSERT_LE(at + frame.size(), all.size());
    ASSERT_TRUE(
        std::equal(frame.begin(), frame.end(), all.begin() + static_cast<std::ptrdiff_t>(at)))
        << "torn frame at byte " << at;
    at += frame.size();
  }
}

}  // namespace hostile
