// The serial port on Windows: a COM device opened without sharing (that is
// its exclusive lock), a DCB from the line settings, writes bounded by the
// comm timeouts and reads that never wait.
#include <windows.h>

#include <string>

#include "platform/net_port.h"
#include "platform/serial_port.h"
#include "platform/win32/system_text.h"

namespace vorne {

namespace {

// The rates a Windows serial driver offers (the CBR_ values) and the usual
// higher ones.
constexpr std::int32_t kRates[] = {110,    300,    600,    1200,   2400,  4800,  9600,
                                   14400,  19200,  28800,  38400,  56000, 57600, 115200,
                                   128000, 230400, 256000, 460800, 921600};

// Buffer sizes the driver is asked for: the control's input and output sizes.
constexpr DWORD kInputQueue = 1024;
constexpr DWORD kOutputQueue = 512;

PortResult Fail(PortStatus status, DWORD error) { return {status, SystemText(error)}; }

PortResult Fail(PortStatus status, std::string reason) { return {status, std::move(reason)}; }

HANDLE Handle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

std::wstring ToWide(const std::string& text) {
  if (text.empty()) return {};
  const int length =
      ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
  if (length > 0) {
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                          length);
  }
  return wide;
}

std::string FromWide(const std::wstring& wide) {
  if (wide.empty()) return {};
  const int length = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                           nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
  if (length > 0) {
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(),
                          length, nullptr, nullptr);
  }
  return text;
}

// The line time in the kernel's tick type.
DWORD LineTicks(std::size_t count, std::int32_t baud) {
  return static_cast<DWORD>(LineMilliseconds(count, baud));
}

// What a frame may take beyond its line time before it counts as stalled.
constexpr DWORD kStallMarginMs = 30;

// The largest frame a driver sends; another program holding the port is
// waited for about as long as two of them take on the line.
constexpr std::size_t kLongestFrame = 16;

// Whether `line` already runs `settings` the way Apply sets them.
bool SameLine(const DCB& line, const LineSettings& settings) {
  return line.BaudRate == static_cast<DWORD>(settings.baud) &&
         line.ByteSize == static_cast<BYTE>(settings.dataBits) &&
         line.StopBits == (settings.stopBits == 2 ? TWOSTOPBITS : ONESTOPBIT) && line.fBinary &&
         !line.fOutxCtsFlow && !line.fOutxDsrFlow && !line.fOutX && !line.fInX &&
         !line.fAbortOnError;
}

// Applies `settings` to the open line; writes them only when they differ
// from what the device already runs.
PortResult Apply(HANDLE handle, const LineSettings& settings) {
  if (!SerialPort::SupportsRate(settings.baud)) {
    return Fail(PortStatus::kRefused, ERROR_INVALID_PARAMETER);
  }
  DCB line{};
  line.DCBlength = sizeof(line);
  if (!::GetCommState(handle, &line)) return Fail(PortStatus::kRefused, ::GetLastError());
  BYTE parity = NOPARITY;
  switch (settings.parity) {
    case 'e': parity = EVENPARITY; break;
    case 'o': parity = ODDPARITY; break;
    case 'm': parity = MARKPARITY; break;
    case 's': parity = SPACEPARITY; break;
    default: break;
  }
  if (SameLine(line, settings) && line.Parity == parity) return {};
  // Bytes pass untouched in both directions; no software or hardware flow
  // control, modem lines ignored.
  line.BaudRate = static_cast<DWORD>(settings.baud);
  line.fBinary = TRUE;
  line.fParity = parity != NOPARITY ? TRUE : FALSE;
  line.fOutxCtsFlow = FALSE;
  line.fOutxDsrFlow = FALSE;
  line.fDtrControl = DTR_CONTROL_ENABLE;
  line.fDsrSensitivity = FALSE;
  line.fTXContinueOnXoff = TRUE;
  line.fOutX = FALSE;
  line.fInX = FALSE;
  line.fErrorChar = FALSE;
  line.fNull = FALSE;
  line.fRtsControl = RTS_CONTROL_ENABLE;
  line.fAbortOnError = FALSE;
  line.ByteSize = static_cast<BYTE>(settings.dataBits);
  line.Parity = parity;
  line.StopBits = settings.stopBits == 2 ? TWOSTOPBITS : ONESTOPBIT;
  if (!::SetCommState(handle, &line)) return Fail(PortStatus::kRefused, ::GetLastError());
  return {};
}

// Opens `path` without sharing, waiting a little for another program that
// holds the port for a frame of its own.
HANDLE OpenExclusive(const std::wstring& path, std::int32_t baud, PortResult* failure) {
  const DWORD deadline = ::GetTickCount() + 2 * LineTicks(kLongestFrame, baud) + kStallMarginMs;
  for (;;) {
    // Share mode 0 is the exclusive lock: a second opener is refused.
    const HANDLE handle = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                        OPEN_EXISTING, 0, nullptr);
    if (handle != INVALID_HANDLE_VALUE) return handle;
    const DWORD error = ::GetLastError();
    if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) {
      *failure = Fail(PortStatus::kNoDevice, error);
      return INVALID_HANDLE_VALUE;
    }
    if (static_cast<LONG>(deadline - ::GetTickCount()) <= 0) {
      *failure = Fail(PortStatus::kBusy, "held by another program (" + SystemText(error) + ")");
      return INVALID_HANDLE_VALUE;
    }
    ::Sleep(1);
  }
}

}  // namespace

std::string SerialPort::DevicePath(int number) {
  // Read from the process's environment block, so a host that sets the
  // variable with SetEnvironmentVariableW is heard.
  const std::wstring variable = L"VORNE_COM" + std::to_wstring(number);
  wchar_t text[260];
  DWORD length = ::GetEnvironmentVariableW(variable.c_str(), text, 260);
  if (length > 0 && length < 260) return FromWide(std::wstring(text, length));
  if (length >= 260) {
    std::wstring value(length, L'\0');
    length = ::GetEnvironmentVariableW(variable.c_str(), value.data(), length);
    if (length > 0 && length < value.size()) {
      value.resize(length);
      return FromWide(value);
    }
  }
  // The device namespace names every port, COM10 and up included.
  return "\\\\.\\COM" + std::to_string(number);
}

bool SerialPort::SupportsRate(std::int32_t baud) {
  for (const std::int32_t rate : kRates) {
    if (rate == baud) return true;
  }
  return false;
}

SerialPort::~SerialPort() { static_cast<void>(Close()); }

PortResult SerialPort::Open(const std::string& path, const LineSettings& settings) {
  static_cast<void>(Close());
  if (IsNetPath(path)) return OpenNet(path, settings);
  PortResult failure;
  const HANDLE handle = OpenExclusive(ToWide(path), settings.baud, &failure);
  if (handle == INVALID_HANDLE_VALUE) return failure;
  // One read of the line's state tells a serial device from anything else.
  DCB line{};
  line.DCBlength = sizeof(line);
  if (!::GetCommState(handle, &line)) {
    ::CloseHandle(handle);
    return Fail(PortStatus::kNoDevice, "not a serial device");
  }
  PortResult ready;
  if (!::SetupComm(handle, kInputQueue, kOutputQueue)) {
    ready = Fail(PortStatus::kRefused, ::GetLastError());
  } else {
    ready = Apply(handle, settings);
  }
  // Reads return at once with what has arrived.
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = MAXDWORD;
  if (ready.ok() && !::SetCommTimeouts(handle, &timeouts)) {
    ready = Fail(PortStatus::kRefused, ::GetLastError());
  }
  if (!ready.ok()) {
    ::CloseHandle(handle);
    return ready;
  }
  // An answer that came after its exchange ended must not answer the next
  // request.
  ::PurgeComm(handle, PURGE_RXCLEAR);
  handle_ = reinterpret_cast<std::intptr_t>(handle);
  settings_ = settings;
  unsent_ = false;
  return {};
}

PortResult SerialPort::Configure(const LineSettings& settings) {
  if (net_) return net_->Configure(settings);
  if (!IsOpen()) return Fail(PortStatus::kIoError, ERROR_INVALID_HANDLE);
  // The settings in force need no second write.
  if (settings == settings_) return {};
  if (PortResult applied = Apply(Handle(handle_), settings); !applied.ok()) return applied;
  settings_ = settings;
  return {};
}

PortResult SerialPort::Write(const std::uint8_t* bytes, std::size_t count) {
  if (net_) return net_->Write(bytes, count);
  if (!IsOpen()) return Fail(PortStatus::kIoError, ERROR_INVALID_HANDLE);
  const HANDLE handle = Handle(handle_);
  // The bytes must be out within their time on the line plus a margin; a
  // line that does not move is given up rather than holding the caller.
  const DWORD boundMs = LineTicks(count, settings_.baud) + kStallMarginMs;
  const DWORD deadline = ::GetTickCount() + boundMs;
  const auto stalled = [&] {
    unsent_ = true;
    return Fail(PortStatus::kIoError,
                "the line took no bytes for " + std::to_string(boundMs) + " ms");
  };
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.WriteTotalTimeoutConstant = boundMs;
  if (!::SetCommTimeouts(handle, &timeouts)) return Fail(PortStatus::kIoError, ::GetLastError());
  std::size_t done = 0;
  while (done < count) {
    const DWORD want = static_cast<DWORD>(count - done > 0x10000 ? 0x10000 : count - done);
    DWORD put = 0;
    if (!::WriteFile(handle, bytes + done, want, &put, nullptr)) {
      unsent_ = true;
      return Fail(PortStatus::kIoError, ::GetLastError());
    }
    if (put == 0) return stalled();
    done += put;
  }
  // Then until the driver's queue has gone to the wire.
  DWORD errors = 0;
  COMSTAT status{};
  while (::ClearCommError(handle, &errors, &status) && status.cbOutQue > 0) {
    if (static_cast<LONG>(deadline - ::GetTickCount()) <= 0) return stalled();
    ::Sleep(1);
  }
  return {};
}

PortResult SerialPort::Waiting(std::size_t* count) {
  if (net_) return net_->Waiting(count);
  *count = 0;
  if (!IsOpen()) return Fail(PortStatus::kIoError, ERROR_INVALID_HANDLE);
  DWORD errors = 0;
  COMSTAT status{};
  if (!::ClearCommError(Handle(handle_), &errors, &status)) {
    return Fail(PortStatus::kIoError, ::GetLastError());
  }
  *count = status.cbInQue;
  return {};
}

PortResult SerialPort::Read(std::size_t max, std::vector<std::uint8_t>* out) {
  if (net_) return net_->Read(max, out);
  if (!IsOpen()) return Fail(PortStatus::kIoError, ERROR_INVALID_HANDLE);
  const HANDLE handle = Handle(handle_);
  std::uint8_t chunk[512];
  while (max > 0) {
    const DWORD want = static_cast<DWORD>(max < sizeof(chunk) ? max : sizeof(chunk));
    DWORD got = 0;
    if (!::ReadFile(handle, chunk, want, &got, nullptr)) {
      return Fail(PortStatus::kIoError, ::GetLastError());
    }
    if (got == 0) break;
    out->insert(out->end(), chunk, chunk + got);
    max -= got;
  }
  return {};
}

PortResult SerialPort::DiscardInput() {
  if (net_) return net_->DiscardInput();
  if (!IsOpen()) return Fail(PortStatus::kIoError, ERROR_INVALID_HANDLE);
  if (!::PurgeComm(Handle(handle_), PURGE_RXCLEAR)) {
    return Fail(PortStatus::kIoError, ::GetLastError());
  }
  return {};
}

PortResult SerialPort::Close() {
  if (net_) {
    // A device server's session: its end is where delivery shows.
    PortResult ended = net_->Close();
    net_.reset();
    return ended;
  }
  if (!IsOpen()) return {};
  const HANDLE handle = Handle(handle_);
  handle_ = kNoHandle;
  if (unsent_) {
    // The line did not take the last frame: drop it rather than block on
    // the close.
    ::PurgeComm(handle, PURGE_TXABORT | PURGE_TXCLEAR);
  } else {
    ::FlushFileBuffers(handle);  // the last bytes still in the transmitter
  }
  ::CloseHandle(handle);
  return {};
}

}  // namespace vorne
