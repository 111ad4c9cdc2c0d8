// The base of every serial camera driver: the port link (control window,
// port and baud rate, open-write-close per transmission) and the frame
// command engine (stored frames, motion groups).
#ifndef VORNE_SERIAL_SERIAL_PTZ_CONTROLLER_H
#define VORNE_SERIAL_SERIAL_PTZ_CONTROLLER_H

#include <cstdint>

#include "driver/ptz_controller.h"
#include "serial/ms_comm.h"

namespace vorne {

// One stored command: `length` bytes of `data` are sent; 0 means empty.
struct CommandFrame {
  std::uint8_t data[16];
  std::int32_t length;
};

class SerialPtzController : public PtzController {
 public:
  SerialPtzController();
  ~SerialPtzController() override;

  int Init(CWnd* parent, int nCamera) override;
  void Close() override;
  int SetComPort(int index) override;
  int PanLeft() override;
  int PanRight() override;
  int TiltUp() override;
  int TiltDown() override;
  int ZoomIn() override;
  int ZoomOut() override;
  void Stop() override;
  int SetBaudRate(int rate) override;
  int SetAddressCode(int code) override;

  // Closes an open port. Errors are dropped without a log line, but a close
  // that raised is remembered (closeFailed_): the control could not confirm
  // that what was written in this session got through.
  virtual void ClosePort();
  virtual int OpenPort();
  // Opens the port, puts the bytes and closes it again. 1 once the port
  // could be opened, 0 otherwise. A put or a close that raised writes the
  // "Write Data Exception" line (once) and marks the frame as not delivered
  // (writeUndelivered_); the result stays 1.
  virtual int Write(const std::uint8_t* bytes, unsigned length);

  // Puts bytes on a port the caller has already opened; neither opens nor
  // closes it and logs nothing. 1 when the bytes were put, 0 without a
  // control window or on a control error.
  int WriteRaw(const std::uint8_t* bytes, unsigned length);
  // Hands `length` bytes to the control's output through a byte-array
  // variant. Throws what the control raises.
  void PutBytes(const std::uint8_t* bytes, unsigned length);

  // Stored frames, in declaration order; drivers fill them at construction.
  // They start empty (length 0, bytes 0).
  CommandFrame tiltUpFrame{};
  CommandFrame tiltDownFrame{};
  CommandFrame panLeftFrame{};
  CommandFrame panRightFrame{};
  CommandFrame zoomOutFrame{};
  CommandFrame zoomInFrame{};
  CommandFrame panTiltStopFrame{};
  CommandFrame zoomStopFrame{};

  CMSComm comm;
  // 1 from a group's first motion until a Stop ends it (see AfterStop).
  std::int32_t zoomMoving = 0;
  std::int32_t panTiltMoving = 0;
  std::int32_t baudRate = 9600;

 protected:
  // The stop rule. A group whose motion never left the module (its Write
  // returned 0: the port did not open, or the frame was empty) is idle after
  // any Stop, whatever came of the stop frame. A group whose motion may have
  // reached the camera (its Write got the port open) stays moving after a
  // stop that could not be sent, so the next Stop sends it again. Called
  // once the group's stop was tried; `stopSent` as WriteSent answers.
  static void AfterStop(std::int32_t& groupMoving, bool& motionMayRun, bool stopSent);
  // Writes through the Write slot and tells whether the frame was sent:
  // Write got the port open and neither the put nor the close raised.
  bool WriteSent(const std::uint8_t* bytes, unsigned length);

  // Bookkeeping of the stop rule, beside the fields above. Whether each
  // group's motion may have reached the camera: its motion's Write
  // returned 1.
  bool panTiltMayRun_ = false;
  bool zoomMayRun_ = false;
  // Set by Write when the frame it got the port open for was not delivered:
  // its put raised, or the close after it did. Cleared at each Write.
  bool writeUndelivered_ = false;
  // Whether the close of the last ClosePort raised.
  bool closeFailed_ = false;

 private:
  // Starts a motion of the group whose flag is `groupMoving`.
  int Move(std::int32_t& groupMoving, bool& motionMayRun, const CommandFrame& frame);
  // Writes a stored frame through the Write slot.
  int Send(const CommandFrame& frame);
  // Sends a group's stop frame: true when it was sent (WriteSent).
  bool SendStop(const CommandFrame& frame);

  CByteArray frameBytes_;
  COleVariant frameData_;
};

}  // namespace vorne

#endif
