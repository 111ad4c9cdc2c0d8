// vornectl interactive: arrow keys pan and tilt, + and - zoom, space stops,
// q quits. The terminal is put back the way it was on every way out.
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>

#include "commands.h"
#include "session.h"

namespace vornectl {

namespace {

termios savedTerminal;
volatile std::sig_atomic_t terminalSaved = 0;

void RestoreTerminal() {
  if (terminalSaved != 0) {
    tcsetattr(STDIN_FILENO, TCSANOW, &savedTerminal);
    terminalSaved = 0;
  }
}

extern "C" void OnSignal(int sig) {
  RestoreTerminal();
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

// Character-at-a-time input without echo, for the life of the object.
class RawTerminal {
 public:
  RawTerminal() {
    if (tcgetattr(STDIN_FILENO, &savedTerminal) != 0) return;  // not a terminal: read as is
    termios raw = savedTerminal;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    terminalSaved = 1;
    std::signal(SIGTERM, OnSignal);
    std::signal(SIGHUP, OnSignal);
    tcsetattr(STDIN_FILENO, TCSANOW, &raw);
  }
  ~RawTerminal() { RestoreTerminal(); }
  RawTerminal(const RawTerminal&) = delete;
  RawTerminal& operator=(const RawTerminal&) = delete;
};

enum class Key { kNone, kLeft, kRight, kUp, kDown, kZoomIn, kZoomOut, kStop, kQuit };

// Reads one key; an escape sequence for an arrow counts as one key.
Key ReadKey() {
  unsigned char c = 0;
  if (read(STDIN_FILENO, &c, 1) != 1) return Key::kQuit;  // end of input
  switch (c) {
    case 'q':
    case 'Q':
    case 3:
    case 4: return Key::kQuit;  // q, Ctrl-C, Ctrl-D
    case ' ': return Key::kStop;
    case '+':
    case '=': return Key::kZoomIn;
    case '-':
    case '_': return Key::kZoomOut;
    case 27: break;
    default: return Key::kNone;
  }
  pollfd pfd{STDIN_FILENO, POLLIN, 0};
  unsigned char seq[2] = {};
  if (poll(&pfd, 1, 50) <= 0 || read(STDIN_FILENO, &seq[0], 1) != 1) return Key::kNone;
  if (poll(&pfd, 1, 50) <= 0 || read(STDIN_FILENO, &seq[1], 1) != 1) return Key::kNone;
  if (seq[0] != '[' && seq[0] != 'O') return Key::kNone;
  switch (seq[1]) {
    case 'A': return Key::kUp;
    case 'B': return Key::kDown;
    case 'C': return Key::kRight;
    case 'D': return Key::kLeft;
    default: return Key::kNone;
  }
}

}  // namespace

int RunInteractive(const CameraOptions& options) {
  Session session(std::cerr);
  if (const int code = session.Open(options); code != 0) return code;
  std::cout << "arrows pan and tilt, + and - zoom, space stops, q quits" << std::endl;

  // The module refuses a second motion of a moving group until a stop, so a
  // change of direction sends a stop first.
  Key panTilt = Key::kNone;
  Key zoom = Key::kNone;
  {
    RawTerminal terminal;
    for (Key key = ReadKey(); key != Key::kQuit; key = ReadKey()) {
      const bool isPanTilt =
          key == Key::kLeft || key == Key::kRight || key == Key::kUp || key == Key::kDown;
      const bool isZoom = key == Key::kZoomIn || key == Key::kZoomOut;
      if (key == Key::kStop || (isPanTilt && panTilt != Key::kNone && panTilt != key) ||
          (isZoom && zoom != Key::kNone && zoom != key)) {
        session.Command(PTZ_STOP, "stop");
        std::cout << "stop" << std::endl;
        panTilt = zoom = Key::kNone;
      }
      struct Move {
        Key key;
        std::int32_t command;
        const char* word;
      };
      static constexpr Move kMoves[] = {
          {Key::kLeft, PTZ_PAN_LEFT, "left"},     {Key::kRight, PTZ_PAN_RIGHT, "right"},
          {Key::kUp, PTZ_TILT_UP, "up"},          {Key::kDown, PTZ_TILT_DOWN, "down"},
          {Key::kZoomIn, PTZ_ZOOM_IN, "zoom-in"}, {Key::kZoomOut, PTZ_ZOOM_OUT, "zoom-out"},
      };
      for (const Move& m : kMoves) {
        if (m.key != key) continue;
        Key& group = isPanTilt ? panTilt : zoom;
        if (group == key) break;  // already moving that way
        session.Command(m.command, m.word);
        std::cout << m.word << std::endl;
        group = key;
      }
    }
  }
  session.Close();  // stops a moving camera before the controller goes
  std::cout << "bye" << std::endl;
  return session.Failed() ? kExitFailed : kExitOk;
}

}  // namespace vornectl
