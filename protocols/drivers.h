// The frame drivers: serial camera types whose whole protocol is a set of
// stored command frames sent by the frame engine.
#ifndef VORNE_PROTOCOLS_DRIVERS_H
#define VORNE_PROTOCOLS_DRIVERS_H

#include "serial/serial_ptz_controller.h"

namespace vorne {

// Type 0, "EVI_D31": VISCA messages to camera 1, each followed by one 0x00
// that goes out on the wire too. The address is fixed.
class ViscaController : public SerialPtzController {
 public:
  ViscaController();
};

// Type 4, "VIDEOTREC_PWT": constant 7-byte frames with stored check bytes;
// no address.
class VideotrecController : public SerialPtzController {
 public:
  VideotrecController();
};

// Type 5, "PELCO_D": 7-byte Pelco-D frames. The address code is the address
// byte itself; the checksum is the sum of bytes 2 to 6 modulo 256.
class PelcoDController : public SerialPtzController {
 public:
  PelcoDController();
  // Re-addresses all eight frames; only the low 8 bits of the code reach
  // the wire. Always 1.
  int SetAddressCode(int code) override;
};

// Type 7, "PELCO_P": 8-byte Pelco-P frames. The address code is 1-based, the
// address byte is code - 1; the checksum is the XOR of bytes 1 to 7.
class PelcoPController : public SerialPtzController {
 public:
  PelcoPController();
  // Re-addresses all eight frames with the low 8 bits of code - 1. Always 1.
  int SetAddressCode(int code) override;
};

}  // namespace vorne

#endif
