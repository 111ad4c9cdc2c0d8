// The serial port on Windows: a COM device opened without sharing (that is
// its exclusive lock), a DCB from the line settings, writes bounded by the
// comm timeouts and reads that never wait.
#include <windows.h>

#include <string>

#include "platform/serial_port.h"

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

// The system's text for `error`, without its line break: "Access is denied."
std::string Reason(DWORD error) {
  char* text = nullptr;
  const DWORD length = ::FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(&text), 0,
      nullptr);
  std::string reason = length > 0 && text != nullptr ? std::string(text, length) : std::string();
  if (text != nullptr) ::LocalFree(text);
  while (!reason.empty() &&
         (reason.back() == '\n' || reason.back() == '\r' || reason.back() == ' '))
    reason.pop_back();
  if (reason.empty()) reason = "system error " + std::to_string(error);
  return reason;
}

PortResult Fail(PortStatus status, DWORD error) { return {status, Reason(error)}; }

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

// Milliseconds `count` bytes need on the line at `baud`, 12 bits a byte at
// most (start, 8 data, parity, 2 stop).
DWORD LineTime(std::size_t count, std::int32_t baud) {
  const unsigned long long bits = static_cast<unsigned long long>(count) * 12u * 1000u;
  return static_cast<DWORD>(bits / static_cast<unsigned long long>(baud > 0 ? baud : 9600) + 1);
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

SerialPort::~SerialPort() { Close(); }

PortResult SerialPort::Open(const std::string& path, const LineSettings& settings) {
  Close();
  // Share mode 0 is the exclusive lock: a second opener is refused.
  const HANDLE handle = ::CreateFileW(ToWide(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) {
      return Fail(PortStatus::kBusy, "held by another program (" + Reason(error) + ")");
    }
    return Fail(PortStatus::kNoDevice, error);
  }
  DCB line{};
  line.DCBlength = sizeof(line);
  if (!::GetCommState(handle, &line)) {
    ::CloseHandle(handle);
    return Fail(PortStatus::kNoDevice, "not a serial device");
  }
  handle_ = reinterpret_cast<std::intptr_t>(handle);
  if (!::SetupComm(handle, kInputQueue, kOutputQueue)) {
    const DWORD error = ::GetLastError();
    Close();
    return Fail(PortStatus::kRefused, error);
  }
  PortResult configured = Configure(settings);
  if (!configured.ok()) {
    ::CloseHandle(handle);
    handle_ = kNoHandle;
    return configured;
  }
  ::PurgeComm(handle, PURGE_RXCLEAR | PURGE_TXCLEAR);
  return {};
}

PortResult SerialPort::Configure(const LineSettings& settings) {
  if (!IsOpen()) return Fail(PortStatus::kIoError, ERROR_INVALID_HANDLE);
  if (!SupportsRate(settings.baud)) return Fail(PortStatus::kRefused, ERROR_INVALID_PARAMETER);
  const HANDLE handle = Handle(handle_);
  DCB line{};
  line.DCBlength = sizeof(line);
  if (!::GetCommState(handle, &line)) return Fail(PortStatus::kRefused, ::GetLastError());
  // Bytes pass untouched in both directions; no software or hardware flow
  // control, modem lines ignored.
  line.BaudRate = static_cast<DWORD>(settings.baud);
  line.fBinary = TRUE;
  line.fParity = settings.parity != 'n' ? TRUE : FALSE;
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
  switch (settings.parity) {
    case 'e': line.Parity = EVENPARITY; break;
    case 'o': line.Parity = ODDPARITY; break;
    case 'm': line.Parity = MARKPARITY; break;
    case 's': line.Parity = SPACEPARITY; break;
    default: line.Parity = NOPARITY; break;
  }
  line.StopBits = settings.stopBits == 2 ? TWOSTOPBITS : ONESTOPBIT;
  if (!::SetCommState(handle, &line)) return Fail(PortStatus::kRefused, ::GetLastError());

  // Reads return at once with what has arrived; writes are bounded per call.
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.WriteTotalTimeoutConstant = 1000;
  if (!::SetCommTimeouts(handle, &timeouts)) return Fail(PortStatus::kRefused, ::GetLastError());
  baud_ = settings.baud;
  return {};
}

PortResult SerialPort::Write(const std::uint8_t* bytes, std::size_t count, int timeoutMs) {
  if (!IsOpen()) return Fail(PortStatus::kIoError, ERROR_INVALID_HANDLE);
  const HANDLE handle = Handle(handle_);
  // Each write may take the bytes' time on the line plus the caller's
  // allowance; a write that moves nothing in that time has stalled.
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.WriteTotalTimeoutConstant =
      static_cast<DWORD>(timeoutMs > 0 ? timeoutMs : 0) + LineTime(count, baud_);
  if (!::SetCommTimeouts(handle, &timeouts)) return Fail(PortStatus::kIoError, ::GetLastError());
  std::size_t done = 0;
  while (done < count) {
    const DWORD want = static_cast<DWORD>(count - done > 0x10000 ? 0x10000 : count - done);
    DWORD put = 0;
    if (!::WriteFile(handle, bytes + done, want, &put, nullptr)) {
      return Fail(PortStatus::kIoError, ::GetLastError());
    }
    if (put == 0) return Fail(PortStatus::kIoError, ERROR_TIMEOUT);
    done += put;
  }
  return {};
}

PortResult SerialPort::Waiting(std::size_t* count) {
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
  if (!IsOpen()) return Fail(PortStatus::kIoError, ERROR_INVALID_HANDLE);
  if (!::PurgeComm(Handle(handle_), PURGE_RXCLEAR)) {
    return Fail(PortStatus::kIoError, ::GetLastError());
  }
  return {};
}

void SerialPort::Close() {
  if (!IsOpen()) return;
  const HANDLE handle = Handle(handle_);
  handle_ = kNoHandle;
  // Let the queued bytes reach the wire before the handle goes: the caller
  // closes straight after a write. The wait is bounded by the time the
  // queue needs at this rate, so a stalled line cannot hold the caller.
  DWORD errors = 0;
  COMSTAT status{};
  if (::ClearCommError(handle, &errors, &status) && status.cbOutQue > 0) {
    const DWORD deadline = ::GetTickCount() + LineTime(status.cbOutQue, baud_) + 200;
    while (::ClearCommError(handle, &errors, &status) && status.cbOutQue > 0 &&
           static_cast<LONG>(deadline - ::GetTickCount()) > 0) {
      ::Sleep(1);
    }
  }
  if (status.cbOutQue > 0) {
    // The line does not move: drop the rest rather than block on close.
    ::PurgeComm(handle, PURGE_TXABORT | PURGE_TXCLEAR);
  }
  ::CloseHandle(handle);
}

}  // namespace vorne
