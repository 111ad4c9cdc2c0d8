// The contract every camera driver fulfils.
#ifndef VORNE_DRIVER_PTZ_CONTROLLER_H
#define VORNE_DRIVER_PTZ_CONTROLLER_H

#include <cstdint>

namespace vorne {

class CWnd;

// Operations return 1 for success and 0 for failure or refusal unless a
// driver says otherwise. The slot order is fixed; drivers append after
// SetAddressCode.
class PtzController {
 public:
  PtzController() = default;
  PtzController(const PtzController&) = delete;
  PtzController& operator=(const PtzController&) = delete;
  virtual ~PtzController() = default;

  virtual int Init(CWnd* parent, int nCamera) = 0;
  virtual void Close() = 0;
  // Port index is 0-based: index 0 is port 1.
  virtual int SetComPort(int index) = 0;
  virtual int PanLeft() = 0;
  virtual int PanRight() = 0;
  virtual int TiltUp() = 0;
  virtual int TiltDown() = 0;
  virtual int ZoomIn() = 0;
  virtual int ZoomOut() = 0;
  virtual void Stop() = 0;
  virtual int SetBaudRate(int rate) = 0;
  virtual int SetAddressCode(int code) = 0;

  // Selected COM port number; -1 while none is selected.
  std::int32_t port = -1;
  // Camera number, kept by the vendor-library drivers.
  std::int32_t camera = 0;
};

}  // namespace vorne

#endif
