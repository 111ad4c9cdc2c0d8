// The serial-port control on pseudo-terminals: its properties, the errors
// it raises, and the line it sets up.
#include "platform/comm_control.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <optional>
#include <thread>

#include "platform/app.h"
#include "platform/serial_port.h"
#include "platform/window.h"
#include "serial/line_helpers.h"
#include "support/pty_pair.h"
#include "support/recording_control.h"

using namespace vorne;

namespace {

using namespace comm_property;
using namespace comm_error;
using vorne_test::BoolVariant;
using vorne_test::Bytes;
using vorne_test::ByteVariant;
using vorne_test::Eventually;
using vorne_test::PtyPair;
using vorne_test::ScopedComPort;
using vorne_test::ShortVariant;

vorne::VARIANT Text(std::u16string text) {
  vorne::VARIANT value;
  value.vt = vorne::VT_BSTR;
  value.bstrVal = std::move(text);
  return value;
}

// The control's error number for what `call` does, or 0 when it raises
// nothing.
int ErrorOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const COleDispatchException& e) {
    EXPECT_FALSE(e.m_strDescription.empty());
    return e.m_wCode;
  }
  return 0;
}

// A file-scope lock on a device, as another program would hold it.
class ForeignLock {
 public:
  explicit ForeignLock(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY)) {
    if (fd_ >= 0 && ::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~ForeignLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool Held() const { return fd_ >= 0; }

 private:
  int fd_;
};

class CommControlTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(pty_.Ok()) << pty_.Error(); }

  // A control on port 5, which is the pseudo-terminal.
  std::unique_ptr<HostedControl> NewControl() {
    std::unique_ptr<HostedControl> control = MakeCommControl();
    control->SetProperty(kCommPort, ShortVariant(5));
    return control;
  }

  void Open(HostedControl& control) { control.SetProperty(kPortOpen, BoolVariant(true)); }

  PtyPair pty_;
  ScopedComPort port_{5, pty_.SlavePath()};
};

TEST(LineSettingsText, ParsesWhatTheDeviceCanTake) {
  struct Case {
    const char16_t* text;
    std::optional<LineSettings> expected;
  };
  const Case cases[] = {
      {u"9600,n,8,1", LineSettings{9600, 'n', 8, 1}},
      {u"115200,E,7,2", LineSettings{115200, 'e', 7, 2}},
      {u" 4800 , o , 5 , 1 ", LineSettings{4800, 'o', 5, 1}},
      {u"300,m,6,1", LineSettings{300, 'm', 6, 1}},
      {u"1200,s,8,2", LineSettings{1200, 's', 8, 2}},
      {u"", std::nullopt},
      {u"9600", std::nullopt},
      {u"9600,n,8", std::nullopt},
      {u"9600,n,8,1,1", std::nullopt},
      {u"0,n,8,1", std::nullopt},
      {u"-9600,n,8,1", std::nullopt},
      {u"12345,n,8,1", std::nullopt},  // no such line rate
      {u"99999999999,n,8,1", std::nullopt},
      {u"abc,n,8,1", std::nullopt},
      {u"9600,x,8,1", std::nullopt},
      {u"9600,,8,1", std::nullopt},
      {u"9600,no,8,1", std::nullopt},
      {u"9600,n,9,1", std::nullopt},
      {u"9600,n,4,1", std::nullopt},
      {u"9600,n,8,0", std::nullopt},
      {u"9600,n,8,1.5", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text, c.text + std::char_traits<char16_t>::length(c.text)));
    EXPECT_EQ(ParseLineSettings(c.text), c.expected);
  }
  EXPECT_EQ(FormatLineSettings(LineSettings{19200, 'e', 7, 2}), "19200,e,7,2");
}

TEST(SerialPortDevice, EnvironmentNamesTheDeviceElseTheSystemPort) {
  vorne_test::ScopedEnv unset("VORNE_COM3", std::nullopt);
  EXPECT_EQ(SerialPort::DevicePath(3), "/dev/ttyS2");
  {
    vorne_test::ScopedEnv empty("VORNE_COM3", "");
    EXPECT_EQ(SerialPort::DevicePath(3), "/dev/ttyS2");
  }
  ScopedComPort named(3, "/dev/ttyUSB0");
  EXPECT_EQ(SerialPort::DevicePath(3), "/dev/ttyUSB0");
  EXPECT_EQ(SerialPort::DevicePath(1),
            std::getenv("VORNE_COM1") ? std::getenv("VORNE_COM1") : std::string("/dev/ttyS0"));
}

TEST_F(CommControlTest, PropertyErrorsOfAClosedControl) {
  std::unique_ptr<HostedControl> control = MakeCommControl();
  HostedControl& c = *control;
  struct Case {
    const char* name;
    std::function<void()> call;
    int error;
  };
  const Case cases[] = {
      {"port 0", [&] { c.SetProperty(kCommPort, ShortVariant(0)); }, kInvalidPortNumber},
      {"port 17", [&] { c.SetProperty(kCommPort, ShortVariant(17)); }, kInvalidPortNumber},
      {"port -1", [&] { c.SetProperty(kCommPort, ShortVariant(-1)); }, kInvalidPortNumber},
      {"port 16", [&] { c.SetProperty(kCommPort, ShortVariant(16)); }, 0},
      {"settings rate", [&] { c.SetProperty(kSettings, Text(u"12345,n,8,1")); },
       kInvalidPropertyValue},
      {"settings type", [&] { c.SetProperty(kSettings, ShortVariant(9600)); },
       kInvalidPropertyValue},
      {"settings", [&] { c.SetProperty(kSettings, Text(u"2400,n,8,1")); }, 0},
      {"buffer 0", [&] { c.SetProperty(kInBufferSize, ShortVariant(0)); }, kInvalidPropertyValue},
      {"input mode 2", [&] { c.SetProperty(kInputMode, ShortVariant(2)); }, kInvalidPropertyValue},
      {"read length -1", [&] { c.SetProperty(kInputLen, ShortVariant(-1)); },
       kInvalidPropertyValue},
      {"output closed", [&] { c.SetProperty(kOutput, ByteVariant({1})); }, kPortNotOpen},
      {"count closed", [&] { c.GetProperty(kInBufferCount); }, kPortNotOpen},
      {"input closed", [&] { c.GetProperty(kInput); }, kPortNotOpen},
      {"input put", [&] { c.SetProperty(kInput, ByteVariant({1})); }, kPropertyReadOnly},
      {"output get", [&] { c.GetProperty(kOutput); }, kPropertyWriteOnly},
      {"unknown", [&] { c.GetProperty(99); }, kNoSuchProperty},
      {"close closed", [&] { c.SetProperty(kPortOpen, BoolVariant(false)); }, 0},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    EXPECT_EQ(ErrorOf(test.call), test.error);
  }
  EXPECT_EQ(c.GetProperty(kCommPort).intVal, 16);
  EXPECT_EQ(c.GetProperty(kSettings).bstrVal, u"2400,n,8,1");
  EXPECT_EQ(c.GetProperty(kPortOpen).intVal, 0);
}

TEST_F(CommControlTest, OpenFailuresAreDistinct) {
  std::unique_ptr<HostedControl> control = NewControl();
  {
    ScopedComPort missing(5, "/nonexistent/ttyVORNE");
    EXPECT_EQ(ErrorOf([&] { Open(*control); }), kDeviceNotAvailable);
  }
  {
    ScopedComPort notATerminal(5, "/dev/null");
    EXPECT_EQ(ErrorOf([&] { Open(*control); }), kDeviceNotAvailable);
  }
  {
    ForeignLock lock(pty_.SlavePath());
    ASSERT_TRUE(lock.Held());
    EXPECT_EQ(ErrorOf([&] { Open(*control); }), kPortInUse);
  }
  EXPECT_EQ(control->GetProperty(kPortOpen).intVal, 0);
  EXPECT_EQ(ErrorOf([&] { Open(*control); }), 0);  // free again
  EXPECT_NE(control->GetProperty(kPortOpen).intVal, 0);
}

TEST_F(CommControlTest, AnOpenPortIsHeldExclusively) {
  std::unique_ptr<HostedControl> first = NewControl();
  std::unique_ptr<HostedControl> second = NewControl();
  Open(*first);
  EXPECT_EQ(ErrorOf([&] { Open(*second); }), kPortInUse);
  EXPECT_FALSE(ForeignLock(pty_.SlavePath()).Held());

  EXPECT_EQ(ErrorOf([&] { Open(*first); }), kPortAlreadyOpen);
  EXPECT_EQ(ErrorOf([&] { first->SetProperty(kCommPort, ShortVariant(6)); }), kPortAlreadyOpen);
  EXPECT_EQ(ErrorOf([&] { first->SetProperty(kInBufferSize, ShortVariant(1024)); }), kNotWhileOpen);

  first.reset();  // ending the control closes the port
  EXPECT_EQ(ErrorOf([&] { Open(*second); }), 0);
}

TEST_F(CommControlTest, OpenSetsARawLineWithTheSettings) {
  // A pseudo-terminal always keeps 8 data bits without parity whatever it
  // is asked for, so the rate, the stop bits and the odd-parity flag are
  // what shows here.
  std::unique_ptr<HostedControl> control = NewControl();
  control->SetProperty(kSettings, Text(u"4800,e,7,2"));
  Open(*control);
  std::optional<termios> line = pty_.SlaveTermios();
  ASSERT_TRUE(line);
  EXPECT_EQ(pty_.SlaveBaud(), 4800);
  EXPECT_NE(line->c_cflag & CSTOPB, 0u);
  EXPECT_EQ(line->c_cflag & PARODD, 0u);
  EXPECT_NE(line->c_cflag & CLOCAL, 0u);
  EXPECT_NE(line->c_cflag & CREAD, 0u);
  EXPECT_EQ(line->c_cflag & CRTSCTS, 0u);
  EXPECT_EQ(line->c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
  EXPECT_EQ(line->c_oflag & OPOST, 0u);
  EXPECT_EQ(line->c_iflag & (IXON | IXOFF | ICRNL | ISTRIP), 0u);
  EXPECT_EQ(line->c_cc[VMIN], 0);
  EXPECT_EQ(line->c_cc[VTIME], 0);

  // New settings on the open line apply at once; refused ones change nothing.
  control->SetProperty(kSettings, Text(u"19200,o,8,1"));
  line = pty_.SlaveTermios();
  EXPECT_EQ(pty_.SlaveBaud(), 19200);
  EXPECT_NE(line->c_cflag & PARODD, 0u);
  EXPECT_EQ(line->c_cflag & CSTOPB, 0u);
  EXPECT_EQ(ErrorOf([&] { control->SetProperty(kSettings, Text(u"7,n,8,1")); }),
            kInvalidPropertyValue);
  EXPECT_EQ(pty_.SlaveBaud(), 19200);
  EXPECT_EQ(control->GetProperty(kSettings).bstrVal, u"19200,o,8,1");
}

TEST_F(CommControlTest, BytesGoOutAndComeIn) {
  std::unique_ptr<HostedControl> control = NewControl();
  control->SetProperty(kInputMode, ShortVariant(1));
  Open(*control);
  control->SetProperty(kOutput, ByteVariant({0x00, 0xFF, 0x0A, 0x0D, 0x11, 0x13}));
  control->SetProperty(kOutput, Text(u"AB"));
  control->SetProperty(kOutput, ByteVariant({}));
  EXPECT_EQ(pty_.ReadMaster(8), (Bytes{0x00, 0xFF, 0x0A, 0x0D, 0x11, 0x13, 'A', 'B'}));

  EXPECT_EQ(control->GetProperty(kInBufferCount).intVal, 0);
  EXPECT_TRUE(control->GetProperty(kInput).bytes.empty());
  ASSERT_TRUE(pty_.WriteMaster({0x90, 0x50, 0xFF, 0x0D}));
  Eventually([&] { return control->GetProperty(kInBufferCount).intVal >= 4; });
  EXPECT_EQ(control->GetProperty(kInBufferCount).intVal, 4);
  control->SetProperty(kInputLen, ShortVariant(3));
  vorne::VARIANT first = control->GetProperty(kInput);
  EXPECT_EQ(first.vt, vorne::VT_ARRAY | vorne::VT_UI1);
  EXPECT_EQ(first.bytes, (Bytes{0x90, 0x50, 0xFF}));
  control->SetProperty(kInputLen, ShortVariant(0));
  EXPECT_EQ(control->GetProperty(kInput).bytes, Bytes{0x0D});

  // Text mode hands the bytes out as characters; a put of 0 to the count
  // drops what waits.
  ASSERT_TRUE(pty_.WriteMaster({'o', 'k'}));
  ASSERT_TRUE(Eventually([&] { return control->GetProperty(kInBufferCount).intVal >= 2; }));
  control->SetProperty(kInputMode, ShortVariant(0));
  EXPECT_EQ(control->GetProperty(kInput).bstrVal, u"ok");
  ASSERT_TRUE(pty_.WriteMaster({1, 2, 3}));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  control->SetProperty(kInBufferCount, ShortVariant(0));
  EXPECT_EQ(control->GetProperty(kInBufferCount).intVal, 0);
}

TEST_F(CommControlTest, LongWritesGoOutWholeThroughAFullQueue) {
  // More than the line's queue holds: the control must wait for room and
  // carry on after partial writes.
  Bytes sent(64 * 1024);
  for (std::size_t i = 0; i < sent.size(); ++i)
    sent[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
  Bytes received;
  std::thread reader([&] { received = pty_.ReadMaster(sent.size(), std::chrono::seconds(20)); });
  {
    std::unique_ptr<HostedControl> control = NewControl();
    control->SetProperty(kSettings, Text(u"115200,n,8,1"));
    Open(*control);
    control->SetProperty(kOutput, ByteVariant(sent));
    control->SetProperty(kPortOpen, BoolVariant(false));
  }
  reader.join();
  ASSERT_EQ(received.size(), sent.size());
  EXPECT_TRUE(received == sent);
}

// A pseudo-terminal hands bytes over at once, so this cannot show a drain
// that is missing; it shows that frames of back-to-back open-write-close
// cycles arrive whole and in order.
TEST_F(CommControlTest, BackToBackCyclesDeliverEveryFrameInOrder) {
  std::unique_ptr<HostedControl> control = NewControl();
  for (int round = 0; round < 20; ++round) {
    Open(*control);
    control->SetProperty(kOutput, ByteVariant({0xFF, static_cast<std::uint8_t>(round), 0x00}));
    control->SetProperty(kPortOpen, BoolVariant(false));
  }
  const Bytes got = pty_.ReadMaster(60);
  ASSERT_EQ(got.size(), 60u);
  for (int round = 0; round < 20; ++round) EXPECT_EQ(got[round * 3 + 1], round);
}

// A host that makes a parent window per camera view: the window objects for
// its handles go with their last control, so the table does not grow.
TEST(ForeignWindows, AParentsObjectGoesWithItsLastControl) {
  AfxEnableControlContainer();
  const std::size_t before = CWnd::ForeignWindowCount();
  const vorne::RECT rect{0, 0, 10, 10};
  for (std::uintptr_t handle = 0x900000; handle < 0x900000 + 1000 * 0x10; handle += 0x10) {
    CWnd* parent = CWnd::FromHandle(reinterpret_cast<HWND>(handle));
    CWnd first;
    CWnd second;
    ASSERT_EQ(first.CreateControl(CLSID_CommControl, u"", WS_CHILD, rect, parent, 1), 1);
    ASSERT_EQ(second.CreateControl(CLSID_CommControl, u"", WS_CHILD, rect, parent, 2), 1);
    first.DestroyWindow();
    ASSERT_EQ(CWnd::FromHandle(reinterpret_cast<HWND>(handle)), parent);  // one control left
    second.DestroyWindow();
  }
  EXPECT_EQ(CWnd::ForeignWindowCount(), before);
}

}  // namespace
