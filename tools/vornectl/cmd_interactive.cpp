// vornectl interactive: arrow keys pan and tilt, + and - zoom, space stops,
// q quits. Every way out, signals and a lost terminal included, stops the
// camera and puts the terminal back the way it was.
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <iostream>
#include <string>

#include "commands.h"
#include "report.h"
#include "session.h"
#include "stop_request.h"

namespace vornectl {

namespace {

// Character-at-a-time input without echo, for the life of the object.
class RawTerminal {
 public:
  RawTerminal() {
    if (tcgetattr(STDIN_FILENO, &saved_) != 0) return;  // not a terminal: read as is
    termios raw = saved_;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    active_ = tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0;
  }
  ~RawTerminal() {
    if (active_) tcsetattr(STDIN_FILENO, TCSANOW, &saved_);
  }
  RawTerminal(const RawTerminal&) = delete;
  RawTerminal& operator=(const RawTerminal&) = delete;

 private:
  termios saved_{};
  bool active_ = false;
};

enum class Key { kNone, kLeft, kRight, kUp, kDown, kZoomIn, kZoomOut, kStop, kQuit, kInterrupt };

// Reads one key; an escape sequence for an arrow counts as one key. A stop
// request while waiting reads as kQuit.
Key ReadKey() {
  unsigned char c = 0;
  if (!WaitReadable(STDIN_FILENO)) return Key::kQuit;
  if (read(STDIN_FILENO, &c, 1) != 1) return Key::kQuit;  // end of input, or the terminal is gone
  switch (c) {
    case 'q':
    case 'Q':
    case 4: return Key::kQuit;       // q, Ctrl-D
    case 3: return Key::kInterrupt;  // Ctrl-C, which raw mode delivers as a key
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

int RunInteractive(const CameraOptions& options, Reporter& reporter) {
  ActiveRun run;
  bool failed = false;
  {
    // Declared first so that it is put back last, after the module is gone.
    RawTerminal terminal;
    Session session(reporter);
    if (const int code = session.Open(options); code != 0) {
      session.Close();
      return StopSignal() != 0 ? StopExitCode() : code;
    }
    std::cout << "arrows pan and tilt, + and - zoom, space stops, q quits" << std::endl;
    CheckOutput();

    // The module refuses a second motion of a moving group until a stop, so
    // a change of direction sends a stop first.
    Key panTilt = Key::kNone;
    Key zoom = Key::kNone;
    for (Key key = ReadKey(); key != Key::kQuit && StopSignal() == 0; key = ReadKey()) {
      if (key == Key::kInterrupt) {
        RequestStop(SIGINT);
        break;
      }
      const bool isPanTilt =
          key == Key::kLeft || key == Key::kRight || key == Key::kUp || key == Key::kDown;
      const bool isZoom = key == Key::kZoomIn || key == Key::kZoomOut;
      if (key == Key::kStop || (isPanTilt && panTilt != Key::kNone && panTilt != key) ||
          (isZoom && zoom != Key::kNone && zoom != key)) {
        session.Command(PTZ_STOP, "stop");
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
        group = key;
      }
    }
    session.Close();  // stops a moving camera before the controller goes
    failed = session.Failed();
  }
  if (StopSignal() != 0) return StopExitCode();
  std::cout << "bye" << std::endl;
  return failed ? kExitFailed : kExitOk;
}

}  // namespace vornectl
