"""python3-serial's RFC 2217 client, an implementation apart from ours,
against vorne-camsim --listen rfc2217://: it must open (negotiation, the
settings, modem control and the purge all answered), and a Pelco-D frame
full of 0xFF must arrive byte for byte."""
import subprocess
import sys

import serial

camsim = subprocess.Popen(
    [sys.argv[1], "--type", "PELCO_D", "--listen", "rfc2217://127.0.0.1:0"],
    stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
try:
    url = camsim.stdout.readline().strip().split("=", 1)[1]
    port = serial.serial_for_url(url, baudrate=4800, timeout=2)
    port.reset_input_buffer()
    port.write(bytes([0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0xFF]))
    port.flush()
    port.close()
    port = serial.serial_for_url(url, baudrate=2400, timeout=2)
    port.write(bytes([0xFF, 0xFF, 0x00, 0x04, 0x20, 0x00, 0x23]))
    port.close()
    frames = []
    while len(frames) < 2:
        line = camsim.stdout.readline()
        if not line:
            break
        if " rx " in line:
            frames.append(line)
finally:
    camsim.terminate()
    camsim.wait(10)

expected = ["rx FF FF 00 00 00 00 FF | stop", "rx FF FF 00 04 20 00 23 | pan left"]
for want, got in zip(expected, frames + [""] * 2):
    if want not in got or "checksum ok" not in got:
        sys.exit(f"expected '{want}' with checksum ok, got: {got!r}")
print("pyserial RFC 2217 client: both frames arrived whole")
