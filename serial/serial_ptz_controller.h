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

  virtual void ClosePort();
  virtual int OpenPort();
  // Opens the port, puts the bytes and closes it again. 1 once the port
  // could be opened, 0 otherwise.
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
  std::int32_t zoomMoving = 0;
  std::int32_t panTiltMoving = 0;
  std::int32_t baudRate = 9600;

 private:
  // Starts a motion of the group whose flag is `groupMoving`.
  int Move(std::int32_t& groupMoving, const CommandFrame& frame);
  // Writes a stored frame through the Write slot.
  int Send(const CommandFrame& frame);

  CByteArray frameBytes_;
  COleVariant frameData_;
};

}  // namespace vorne

#endif
