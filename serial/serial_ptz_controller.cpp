#include "serial/serial_ptz_controller.h"

#include <cstdio>
#include <cstring>
#include <string_view>

#include "hostlog/host_log.h"

namespace vorne {

namespace {

// The control's line settings for a baud rate: no parity, 8 data bits,
// 1 stop bit. Written into a buffer of the caller's, as every frame's open
// sets them.
struct SettingsText {
  char16_t text[24];
};

SettingsText LineSettingsFor(std::int32_t baudRate) {
  char digits[16];
  const int length = std::snprintf(digits, sizeof(digits), "%d", static_cast<int>(baudRate));
  SettingsText settings{};
  std::size_t at = 0;
  for (int i = 0; i < length; ++i) settings.text[at++] = static_cast<char16_t>(digits[i]);
  for (const char16_t c : std::u16string_view(u",n,8,1")) settings.text[at++] = c;
  return settings;
}

}  // namespace

SerialPtzController::SerialPtzController() = default;

SerialPtzController::~SerialPtzController() {
  // The driver part is gone by now, so this stops through the engine's own
  // Stop; after an earlier Close nothing is moving and nothing is sent.
  Close();
}

int SerialPtzController::Init(CWnd* parent, int /*nCamera*/) {
  try {
    const RECT rect{0, 0, 10, 10};
    const int created = comm.CreateControl(CLSID_MSComm, u"", WS_CHILD, rect, parent, 10000);
    if (created != 0) return created;
  } catch (...) {
    // Reported below like any other failed creation.
  }
  HostLogLine(u"Create MSComm Failed.\n");
  return 0;
}

void SerialPtzController::Close() {
  // A moving camera is stopped before its port control goes away. Whatever
  // came of it, nothing can be sent once the control is gone.
  Stop();
  panTiltMoving = 0;
  zoomMoving = 0;
  panTiltMayRun_ = false;
  zoomMayRun_ = false;
  if (comm.GetSafeHwnd() == nullptr) return;
  try {
    if (comm.GetOpenState()) comm.SetOpenState(false);
  } catch (...) {
    // Teardown errors are dropped.
  }
  // The window goes even when the port refused to close: ending the
  // control releases the port.
  comm.DestroyWindow();
}

int SerialPtzController::SetComPort(int index) {
  const std::int64_t number = static_cast<std::int64_t>(index) + 1;
  if (number == port) return 1;
  if (number < 1 || number > 4) return 0;
  port = static_cast<std::int32_t>(number);
  HostLogLine(u"Set Control COM Port %d.\n", port);
  return 1;
}

int SerialPtzController::SetBaudRate(int rate) {
  HostLogLine(u"SetBaudRate %d.\n", rate);
  baudRate = rate;
  try {
    if (comm.GetOpenState()) comm.SetLineSettings(LineSettingsFor(baudRate).text);
  } catch (...) {
    HostLogLine(u"Set BaudRate Exception,BaudRate = %d.\n", rate);
    return 0;
  }
  return 1;
}

void SerialPtzController::ClosePort() {
  closeFailed_ = false;
  bool closing = false;
  try {
    if (comm.GetOpenState()) {
      closing = true;
      comm.SetOpenState(false);
    }
  } catch (...) {
    // Dropped without a log line: a port that will not close is closed
    // again by the next open. A close that raised is remembered: the
    // control could not confirm that the session's bytes got through (it
    // closes the port all the same). A failed query is no failed close.
    closeFailed_ = closing;
  }
}

int SerialPtzController::OpenPort() {
  bool opened = false;
  try {
    ClosePort();
    comm.SetPortNumber(static_cast<std::int16_t>(port));
    comm.SetReceiveBufferSize(1024);
    comm.SetTransmitBufferSize(512);
    if (!comm.GetOpenState()) comm.SetOpenState(true);
    opened = true;
    comm.SetDataMode(1);  // binary
    comm.SetLineSettings(LineSettingsFor(baudRate).text);
    comm.SetReceiveThreshold(1);
    comm.SetReadLength(0);  // a read returns every waiting byte
    return 1;
  } catch (...) {
    HostLogLine(u"Open port exception,port = %d,BaudRate = %d.\n", port, baudRate);
    // A port opened before its settings were refused would stay locked
    // between commands, shutting other programs out.
    if (opened) ClosePort();
    return 0;
  }
}

int SerialPtzController::Write(const std::uint8_t* bytes, unsigned length) {
  writeUndelivered_ = false;
  if (length == 0 || bytes == nullptr) return 0;
  if (OpenPort() == 0) {
    HostLogLine(u"Open com port %d failed,baudrate = %d.\n", port, baudRate);
    return 0;
  }
  bool putFailed = false;
  try {
    PutBytes(bytes, length);
  } catch (...) {
    HostLogLine(u"Write Data Exception,DataLen = %d,Port = %d.\n", length, port);
    putFailed = true;
  }
  ClosePort();
  // A close that raised could not confirm delivery (a device server that
  // reset or never ended the session): the bytes count as not written, said
  // with the same line, once, now that it is known.
  if (closeFailed_ && !putFailed) {
    HostLogLine(u"Write Data Exception,DataLen = %d,Port = %d.\n", length, port);
  }
  writeUndelivered_ = putFailed || closeFailed_;
  return 1;
}

void SerialPtzController::PutBytes(const std::uint8_t* bytes, unsigned length) {
  // The array and the variant keep their storage from frame to frame.
  frameBytes_.SetSize(length);
  if (length != 0) std::memcpy(frameBytes_.GetData(), bytes, length);
  frameData_ = frameBytes_;
  comm.SetTransmitData(frameData_);
  VariantClear(&frameData_);
}

int SerialPtzController::WriteRaw(const std::uint8_t* bytes, unsigned length) {
  if (!vorne::IsWindow(comm.GetSafeHwnd())) return 0;
  if (bytes == nullptr && length != 0) return 0;
  try {
    PutBytes(bytes, length);
    return 1;
  } catch (...) {
    return 0;
  }
}

// The frame command engine.

int SerialPtzController::PanLeft() { return Move(panTiltMoving, panTiltMayRun_, panLeftFrame); }
int SerialPtzController::PanRight() { return Move(panTiltMoving, panTiltMayRun_, panRightFrame); }
int SerialPtzController::TiltUp() { return Move(panTiltMoving, panTiltMayRun_, tiltUpFrame); }
int SerialPtzController::TiltDown() { return Move(panTiltMoving, panTiltMayRun_, tiltDownFrame); }
int SerialPtzController::ZoomIn() { return Move(zoomMoving, zoomMayRun_, zoomInFrame); }
int SerialPtzController::ZoomOut() { return Move(zoomMoving, zoomMayRun_, zoomOutFrame); }

void SerialPtzController::Stop() {
  // Each moving group's stop frame is tried; AfterStop decides whether the
  // group stays moving for the next Stop to send it again.
  if (panTiltMoving != 0) AfterStop(panTiltMoving, panTiltMayRun_, SendStop(panTiltStopFrame));
  if (zoomMoving != 0) AfterStop(zoomMoving, zoomMayRun_, SendStop(zoomStopFrame));
}

void SerialPtzController::AfterStop(std::int32_t& groupMoving, bool& motionMayRun, bool stopSent) {
  // A camera that may be moving keeps its group marked until a stop was
  // sent (a port held by another program, a device server that reset); a
  // motion that never left needs no stop, and keeping it marked would
  // refuse every later motion without a word.
  if (stopSent || !motionMayRun) {
    groupMoving = 0;
    motionMayRun = false;
  }
}

bool SerialPtzController::WriteSent(const std::uint8_t* bytes, unsigned length) {
  // Cleared here too: a driver's own Write may not keep the mark.
  writeUndelivered_ = false;
  return Write(bytes, length) != 0 && !writeUndelivered_;
}

int SerialPtzController::SetAddressCode(int /*code*/) { return 1; }

int SerialPtzController::Move(std::int32_t& groupMoving, bool& motionMayRun,
                              const CommandFrame& frame) {
  // One motion per group until Stop; the group counts as moving even when
  // the frame could not be sent, so Stop still sends its stop frame. Whether
  // the frame may have reached the camera decides what a failed stop does.
  if (groupMoving != 0) return 0;
  groupMoving = 1;
  const int result = Send(frame);
  motionMayRun = result != 0;
  return result;
}

int SerialPtzController::Send(const CommandFrame& frame) {
  // A length beyond the frame's bytes would read past them.
  if (frame.length < 0 || frame.length > static_cast<std::int32_t>(sizeof(frame.data))) return 0;
  return Write(frame.data, static_cast<unsigned>(frame.length));
}

bool SerialPtzController::SendStop(const CommandFrame& frame) {
  if (frame.length < 0 || frame.length > static_cast<std::int32_t>(sizeof(frame.data)))
    return false;
  return WriteSent(frame.data, static_cast<unsigned>(frame.length));
}

}  // namespace vorne
