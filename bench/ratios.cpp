// The module's cost against raw C doing the same on the same line, each
// pair measured interleaved in one run, printed as ratios with the targets
// they are held to. Absolute times vary with the machine; ratios measured
// side by side do not, much.
//
//   vorne_ratios            the table
//   vorne_ratios --soak     fd count and memory across long runs
//   vorne_ratios --frames N --what raw|PELCO_D   N frames, for strace -c
//   vorne_ratios --net [tcp|rfc2217] [--commands N]
//                           64 cameras behind one ser2net (raw accepters
//                           unless told), 10,000 commands unless told, and
//                           a frame over raw TCP against plain C
#include <arpa/inet.h>
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <malloc.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "alloc_count.h"
#include "hostkit/host_object.h"
#include "hostkit/module_loader.h"
#include "ser2net_server.h"
#include "sim/runner.h"

namespace {

constexpr int kRepetitions = 21;

double Now(clockid_t clock) {
  timespec t{};
  clock_gettime(clock, &t);
  return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_nsec) / 1e3;
}

struct Cost {
  double cpu = 0;   // microseconds of this thread's CPU
  double wall = 0;  // microseconds
};

Cost Measure(const std::function<void()>& run) {
  const double cpu = Now(CLOCK_THREAD_CPUTIME_ID);
  const double wall = Now(CLOCK_MONOTONIC);
  run();
  return {Now(CLOCK_THREAD_CPUTIME_ID) - cpu, Now(CLOCK_MONOTONIC) - wall};
}

// The value `share` of the way up the sorted values (0.5: the median).
double Percentile(std::vector<double> values, double share) {
  std::sort(values.begin(), values.end());
  const auto index = static_cast<std::size_t>(share * static_cast<double>(values.size()));
  return values[std::min(index, values.size() - 1)];
}

double Median(std::vector<double> values) { return Percentile(std::move(values), 0.5); }

// A pseudo-terminal whose far end is read by a thread of its own; for TAC
// it answers each 11-byte request at once with a right reply, or not at all.
class Line {
 public:
  enum class Peer { kDrain, kTacAnswers, kTacSilent };

  explicit Line(Peer peer) : peer_(peer) {
    char name[128] = {};
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) std::abort();
    path_ = name;
    termios raw{};
    tcgetattr(slave_, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave_, TCSANOW, &raw);
    reader_ = std::thread([this] { Run(); });
  }
  ~Line() {
    stop_ = true;
    reader_.join();
    close(master_);
    close(slave_);
  }
  Line(const Line&) = delete;
  Line& operator=(const Line&) = delete;

  const std::string& Path() const { return path_; }
  void SetPeer(Peer peer) { peer_ = peer; }

 private:
  void Run() {
    std::vector<std::uint8_t> request;
    std::uint8_t chunk[4096];
    while (!stop_) {
      pollfd wait{master_, POLLIN, 0};
      if (poll(&wait, 1, 20) <= 0) continue;
      const ssize_t got = read(master_, chunk, sizeof(chunk));
      if (got <= 0) continue;
      if (peer_ == Peer::kDrain) continue;
      request.insert(request.end(), chunk, chunk + got);
      while (request.size() >= 11) {
        request.erase(request.begin(), request.begin() + 11);
        if (peer_ == Peer::kTacAnswers) {
          static const std::uint8_t kReply[11] = {'*', '0', '0', '7', '5', '0',
                                                  '0', '0', '0', 'B', '6'};
          [[maybe_unused]] const ssize_t put = write(master_, kReply, sizeof(kReply));
        }
      }
    }
  }

  int master_ = -1;
  int slave_ = -1;
  std::string path_;
  std::atomic<Peer> peer_;
  std::atomic<bool> stop_{false};
  std::thread reader_;
};

// Opens the line as a frame must: no controlling terminal, the lock, raw
// 9600 baud.
int RawOpen(const char* path) {
  const int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) std::abort();
  flock(fd, LOCK_EX | LOCK_NB);
  termios line{};
  tcgetattr(fd, &line);
  cfmakeraw(&line);
  cfsetspeed(&line, B9600);
  tcsetattr(fd, TCSANOW, &line);
  return fd;
}

// What one frame must do, in raw C: open, lock, raw settings, write, drain,
// close.
void RawFrame(const char* path, const std::uint8_t* bytes, std::size_t count) {
  const int fd = RawOpen(path);
  [[maybe_unused]] const ssize_t put = write(fd, bytes, count);
  tcdrain(fd);
  close(fd);
}

// A frame of a driver that reads the camera's answers after each frame
// (VC_C50i), in raw C: the same, and the count of waiting bytes before the
// close (none come on this line).
void RawFrameReadingAnswers(const char* path, const std::uint8_t* bytes, std::size_t count) {
  const int fd = RawOpen(path);
  [[maybe_unused]] const ssize_t put = write(fd, bytes, count);
  tcdrain(fd);
  int waiting = 0;
  ioctl(fd, FIONREAD, &waiting);
  if (waiting > 0) {
    std::uint8_t answer[64];
    [[maybe_unused]] const ssize_t got = read(fd, answer, sizeof(answer));
  }
  close(fd);
}

// The TAC exchange in raw C: a frame, then a 2 ms sleep and 2 ms polls of
// the waiting count for up to 200 ms, then the read.
int RawTacExchange(const char* path) {
  static const std::uint8_t kRequest[11] = {'*', '0', '0',  '6', 0x03, '0',
                                            '0', '2', 0x00, '5', '5'};
  const int fd = RawOpen(path);
  tcflush(fd, TCIFLUSH);
  [[maybe_unused]] const ssize_t put = write(fd, kRequest, sizeof(kRequest));
  tcdrain(fd);
  std::this_thread::sleep_for(std::chrono::milliseconds(2));
  const auto start = std::chrono::steady_clock::now();
  int waiting = 0;
  ioctl(fd, FIONREAD, &waiting);
  while (waiting < 11 &&
         std::chrono::steady_clock::now() - start < std::chrono::milliseconds(200)) {
    ioctl(fd, FIONREAD, &waiting);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  std::uint8_t reply[64];
  [[maybe_unused]] const ssize_t got = read(fd, reply, sizeof(reply));
  close(fd);
  return waiting >= 11;
}

// The module loaded through LumoDll alone, one camera on COM1; more
// components of it on request, all with the same host.
class Module {
 public:
  Module() {
    if (!loaded_.Load(hostkit::ModuleBesideProgram())) {
      std::fprintf(stderr, "cannot load the module: %s\n", loaded_.Error().c_str());
      std::exit(1);
    }
    camera_ = AddCamera();
  }
  ~Module() {
    for (IPtzControl* camera : cameras_) {
      camera->DestroyController();
      camera->Release();
    }
  }
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;

  void Camera(std::int32_t type, std::uintptr_t parent = 0x1000) {
    camera_->CreateController(type, reinterpret_cast<HWND>(parent), 0);
    camera_->SetComPort(0);
  }
  void Command(std::int32_t command) { camera_->Command(command); }
  // The host kit keeps every log line; a soak measures the module, not that.
  void ForgetLog() { host_.ClearLines(); }
  // A frame that failed says so only in the log.
  bool Logged() const { return !host_.Lines().empty(); }
  std::vector<std::string> Lines() const { return host_.Lines(); }
  IPtzControl* Control() { return camera_; }
  IPtzControl* AddCamera() {
    IPtzControl* camera = nullptr;
    if (loaded_.CreateCamera(&host_, &camera) != S_OK) std::exit(1);
    cameras_.push_back(camera);
    return camera;
  }

 private:
  hostkit::LoadedModule loaded_;
  hostkit::HostObject host_;
  IPtzControl* camera_ = nullptr;
  std::vector<IPtzControl*> cameras_;
};

struct Row {
  std::string what;
  double ratio;
  std::string target;
  bool met;
};

std::vector<Row> rows;

void Report(const std::string& what, double ratio, double limit) {
  char target[32];
  std::snprintf(target, sizeof(target), "<= %.2fx", limit);
  rows.push_back({what, ratio, target, ratio <= limit});
}

void PrintRows() {
  std::printf("\n%-40s %10s %10s  %s\n", "measure", "value", "target", "");
  for (const Row& row : rows) {
    std::printf("%-40s %10.3f %10s  %s\n", row.what.c_str(), row.ratio, row.target.c_str(),
                row.target == "-" ? "" : (row.met ? "met" : "MISSED"));
  }
}

// Interleaves A and B, `frames` frames each repetition; the median CPU time
// per frame of each and their ratio.
double Ratio(const std::function<void()>& a, const std::function<void()>& b, int framesA,
             int framesB, int calls) {
  std::vector<double> costA;
  std::vector<double> costB;
  for (int r = 0; r < kRepetitions; ++r) {
    costA.push_back(Measure([&] {
                      for (int i = 0; i < calls; ++i) a();
                    }).cpu /
                    (calls * framesA));
    costB.push_back(Measure([&] {
                      for (int i = 0; i < calls; ++i) b();
                    }).cpu /
                    (calls * framesB));
  }
  const double ma = Median(costA);
  const double mb = Median(costB);
  std::printf("  %-44s %8.1f us/frame  vs %8.1f us/frame\n", "", ma, mb);
  return ma / mb;
}

const std::uint8_t kPelcoLeft[7] = {0xFF, 0x01, 0x00, 0x04, 0x20, 0x00, 0x25};

void FrameRatios() {
  Line line(Line::Peer::kDrain);
  setenv("VORNE_COM1", line.Path().c_str(), 1);
  unsetenv("VORNE_TRACE");
  Module module;
  const auto raw = [&] { RawFrame(line.Path().c_str(), kPelcoLeft, 7); };
  const int fd = open(line.Path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  const auto keptOpen = [&] {
    [[maybe_unused]] const ssize_t put = write(fd, kPelcoLeft, 7);
    tcdrain(fd);
  };
  const auto rawReading = [&] { RawFrameReadingAnswers(line.Path().c_str(), kPelcoLeft, 7); };
  struct TypeCase {
    const char* name;
    std::int32_t type;
    int framesPerPair;  // a motion and its stop
    bool readsAnswers;  // after each frame, as the driver must
  };
  const TypeCase types[] = {
      {"PELCO_D", PTZ_TYPE_PELCO_D, 2, false},
      {"EVI_D31", PTZ_TYPE_EVI_D31, 2, false},
      // two preparations, the motion; the stop, the finish
      {"VC_C50i", PTZ_TYPE_VC_C50I, 5, true},
  };
  for (const TypeCase& t : types) {
    module.Camera(t.type);
    const auto pair = [&] {
      module.Command(PTZ_PAN_LEFT);
      module.Command(PTZ_STOP);
    };
    // Warm first: the first frames size the buffers that later ones reuse.
    for (int i = 0; i < 10; ++i) pair();
    const long before = AllocationCount();
    constexpr int kPairs = 500;
    for (int i = 0; i < kPairs; ++i) pair();
    const double perFrame =
        static_cast<double>(AllocationCount() - before) / (kPairs * t.framesPerPair);
    rows.push_back(
        {std::string(t.name) + " heap allocations per frame", perFrame, "0", perFrame == 0});
    if (t.readsAnswers) {
      // The floor of such a frame includes asking for the answers.
      std::printf("%s command vs raw open-write-read-close frame\n", t.name);
      Report(std::string(t.name) + " frame / raw frame reading answers",
             Ratio(pair, rawReading, t.framesPerPair, 1, 50), 1.05);
      std::printf("%s command vs raw open-write-close frame (for information)\n", t.name);
      rows.push_back({std::string(t.name) + " frame / raw frame",
                      Ratio(pair, raw, t.framesPerPair, 1, 50), "-", true});
    } else {
      std::printf("%s command vs raw open-write-close frame\n", t.name);
      Report(std::string(t.name) + " frame / raw frame", Ratio(pair, raw, t.framesPerPair, 1, 50),
             1.05);
    }
    std::printf("%s command vs a write on a port kept open (for information)\n", t.name);
    const double kept = Ratio(pair, keptOpen, t.framesPerPair, 1, 50);
    rows.push_back({std::string(t.name) + " frame / kept-open write", kept, "-", true});
  }
  close(fd);

  char trace[] = "/tmp/vorne-bench-trace-XXXXXX";
  const int traceFd = mkstemp(trace);
  close(traceFd);
  module.Camera(PTZ_TYPE_PELCO_D);
  const auto traced = [&] {
    setenv("VORNE_TRACE", trace, 1);
    module.Command(PTZ_PAN_LEFT);
    module.Command(PTZ_STOP);
  };
  const auto untraced = [&] {
    unsetenv("VORNE_TRACE");
    module.Command(PTZ_PAN_LEFT);
    module.Command(PTZ_STOP);
  };
  std::printf("PELCO_D traced vs untraced\n");
  Report("traced frame / untraced frame", Ratio(traced, untraced, 2, 2, 50), 1.30);
  unsetenv("VORNE_TRACE");
  unlink(trace);
}

void TacRatios() {
  Line line(Line::Peer::kTacAnswers);
  setenv("VORNE_COM1", line.Path().c_str(), 1);
  Module module;
  module.Camera(PTZ_TYPE_TAC);
  std::vector<double> moduleWall;
  std::vector<double> rawWall;
  for (int r = 0; r < kRepetitions; ++r) {
    moduleWall.push_back(Measure([&] { module.Command(PTZ_PAN_LEFT); }).wall);
    module.Command(PTZ_STOP);
    rawWall.push_back(Measure([&] { RawTacExchange(line.Path().c_str()); }).wall);
  }
  std::printf("TAC exchange, instant answer: %.0f us vs raw %.0f us\n", Median(moduleWall),
              Median(rawWall));
  Report("TAC instant exchange / raw", Median(moduleWall) / Median(rawWall), 1.05);

  line.SetPeer(Line::Peer::kTacSilent);
  std::vector<double> wall;
  std::vector<double> share;
  for (int r = 0; r < 5; ++r) {
    const Cost cost = Measure([&] { module.Command(PTZ_ZOOM_IN); });
    module.Command(PTZ_STOP);
    wall.push_back(cost.wall / 1000);
    share.push_back(cost.cpu / cost.wall);
  }
  std::printf("TAC without an answer: %.1f ms, %.2f%% of a core\n", Median(wall),
              100 * Median(share));
  rows.push_back({"TAC no-reply wait (ms)", Median(wall), "200-205",
                  Median(wall) >= 200 && Median(wall) <= 205});
  rows.push_back({"TAC no-reply CPU share (%)", 100 * Median(share), "< 5", Median(share) < 0.05});
}

// In a fresh process: dlopen + LumoDll + CreateInstance + CreateController
// + the first Command, in microseconds on standard output.
int FirstFrame() {
  Line line(Line::Peer::kDrain);
  setenv("VORNE_COM1", line.Path().c_str(), 1);
  const Cost cost = Measure([&] {
    Module module;
    module.Camera(PTZ_TYPE_PELCO_D);
    module.Command(PTZ_PAN_LEFT);
  });
  std::printf("%.1f\n", cost.wall);
  return 0;
}

void LoadRatio(const char* self) {
  std::vector<double> times;
  for (int r = 0; r < kRepetitions; ++r) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return;
    const pid_t child = fork();
    if (child == 0) {
      dup2(pipeFds[1], STDOUT_FILENO);
      execl(self, self, "--first-frame", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(pipeFds[1]);
    char text[64] = {};
    [[maybe_unused]] const ssize_t got = read(pipeFds[0], text, sizeof(text) - 1);
    close(pipeFds[0]);
    waitpid(child, nullptr, 0);
    times.push_back(std::atof(text));
  }
  const double median = Median(times) / 1000;
  std::printf("load to first frame: %.3f ms median\n", median);
  rows.push_back({"load to first frame (ms)", median, "< 1", median < 1.0});
}

int OpenDescriptors() {
  int count = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (readdir(dir) != nullptr) ++count;
    closedir(dir);
  }
  return count - 3;  // ".", ".." and the directory's own
}

long HeapInUse() { return static_cast<long>(mallinfo2().uordblks); }

long RssKiB() {
  long pages = 0;
  long rss = 0;
  if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(statm, "%ld %ld", &pages, &rss) != 2) rss = 0;
    std::fclose(statm);
  }
  return rss * sysconf(_SC_PAGESIZE) / 1024;
}

// Runs `step` `count` times; samples after the first 1,000, in the middle
// and at the end. Growth after the warm-up fails the soak.
bool Soak(const char* name, int count, Module& module, const std::function<void(int)>& step) {
  const int fdStart = OpenDescriptors();
  long heapWarm = 0;
  int fdWarm = 0;
  std::printf("%-28s %8s %8s %10s %8s\n", name, "after", "fds", "heap B", "RSS KiB");
  std::printf("%-28s %8s %8d %10ld %8ld\n", "", "start", fdStart, HeapInUse(), RssKiB());
  for (int i = 0; i < count; ++i) {
    step(i);
    module.ForgetLog();
    if (i + 1 == std::min(1000, count / 2) || i + 1 == count / 2 || i + 1 == count) {
      std::printf("%-28s %8d %8d %10ld %8ld\n", "", i + 1, OpenDescriptors(), HeapInUse(),
                  RssKiB());
      if (i + 1 == std::min(1000, count / 2)) {
        heapWarm = HeapInUse();
        fdWarm = OpenDescriptors();
      }
    }
  }
  const bool flat = OpenDescriptors() <= fdWarm && HeapInUse() <= heapWarm + 4096;
  std::printf("%-28s %s\n", "", flat ? "flat" : "GROWS");
  return flat;
}

int SoakRun() {
  bool flat = true;
  {
    Line line(Line::Peer::kDrain);
    setenv("VORNE_COM1", line.Path().c_str(), 1);
    Module module;
    module.Camera(PTZ_TYPE_PELCO_D);
    flat &= Soak("PELCO_D commands", 100000, module,
                 [&](int i) { module.Command(i % 2 == 0 ? PTZ_PAN_LEFT : PTZ_STOP); });
    flat &= Soak("create/destroy, new parents", 2000, module, [&](int i) {
      module.Camera(PTZ_TYPE_PELCO_D, 0x200000 + static_cast<std::uintptr_t>(i) * 0x10);
      module.Control()->DestroyController();
    });
    setenv("VORNE_COM1", "/nonexistent/vorne-bench", 1);
    module.Camera(PTZ_TYPE_PELCO_D);
    flat &= Soak("failing frames", 20000, module,
                 [&](int i) { module.Command(i % 2 == 0 ? PTZ_PAN_LEFT : PTZ_STOP); });
  }
  {
    Line line(Line::Peer::kTacAnswers);
    setenv("VORNE_COM1", line.Path().c_str(), 1);
    Module module;
    module.Camera(PTZ_TYPE_TAC);
    flat &= Soak("TAC exchanges", 2000, module,
                 [&](int i) { module.Command(i % 2 == 0 ? PTZ_PAN_LEFT : PTZ_STOP); });
  }
  std::printf("soak: %s\n", flat ? "no fd or heap growth after warm-up" : "GROWTH");
  return flat ? 0 : 1;
}

// N frames of one kind and nothing else, for counting system calls.
int Frames(int count, const std::string& what) {
  Line line(Line::Peer::kDrain);
  if (what == "raw") {
    for (int i = 0; i < count; ++i) RawFrame(line.Path().c_str(), kPelcoLeft, 7);
    return 0;
  }
  setenv("VORNE_COM1", line.Path().c_str(), 1);
  Module module;
  module.Camera(PTZ_TYPE_PELCO_D);
  for (int i = 0; i < count; ++i) module.Command(i % 2 == 0 ? PTZ_PAN_LEFT : PTZ_STOP);
  return 0;
}

// ---- cameras on a serial device server ----

constexpr int kNetCameras = 64;
// The serial drivers take COM1 to COM4 only. The cameras share those four
// names; each command first points its camera's name at that camera's
// accepter, as a host mapping names to a device server's lines would.
constexpr int kComPorts = 4;

// Every command is one frame: a stop follows a single motion.
constexpr std::int32_t kCycle[] = {PTZ_PAN_LEFT,  PTZ_STOP, PTZ_TILT_UP,   PTZ_STOP,
                                   PTZ_ZOOM_IN,   PTZ_STOP, PTZ_PAN_RIGHT, PTZ_STOP,
                                   PTZ_TILT_DOWN, PTZ_STOP, PTZ_ZOOM_OUT,  PTZ_STOP};

// A loopback listener that reads each connection to its end, one at a
// time: the one peer of both sides of the raw TCP ratio, so that neither
// pays for a device server's sessions.
class DrainListener {
 public:
  DrainListener() : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in at = vorne_test::Loopback(0);
    socklen_t size = sizeof(at);
    if (fd_ < 0 || bind(fd_, reinterpret_cast<const sockaddr*>(&at), sizeof(at)) != 0 ||
        listen(fd_, 64) != 0 || getsockname(fd_, reinterpret_cast<sockaddr*>(&at), &size) != 0) {
      std::abort();
    }
    port_ = ntohs(at.sin_port);
    thread_ = std::thread([this] { Run(); });
  }
  ~DrainListener() {
    stop_ = true;
    thread_.join();
    close(fd_);
  }
  DrainListener(const DrainListener&) = delete;
  DrainListener& operator=(const DrainListener&) = delete;

  int Port() const { return port_; }

 private:
  void Run() {
    std::uint8_t chunk[512];
    while (!stop_) {
      pollfd wait{fd_, POLLIN, 0};
      if (poll(&wait, 1, 20) <= 0) continue;
      const int client = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) continue;
      while (!stop_) {
        pollfd more{client, POLLIN, 0};
        if (poll(&more, 1, 20) <= 0) continue;
        if (read(client, chunk, sizeof(chunk)) <= 0) break;
      }
      close(client);
    }
  }

  int fd_;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// A frame over raw TCP in plain C: connect, write, close.
void RawTcpFrame(const sockaddr_in& at, const std::uint8_t* bytes, std::size_t count) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (connect(fd, reinterpret_cast<const sockaddr*>(&at), sizeof(at)) != 0) std::abort();
  [[maybe_unused]] const ssize_t put = send(fd, bytes, count, MSG_NOSIGNAL);
  close(fd);
}

// False when a frame of the module failed.
bool NetFrameRatio() {
  DrainListener peer;
  const std::string url =
      "tcp://127.0.0.1:" + std::to_string(peer.Port()) + "?connect_timeout_ms=2000";
  setenv("VORNE_COM1", url.c_str(), 1);
  unsetenv("VORNE_TRACE");
  Module module;
  module.Camera(PTZ_TYPE_PELCO_D);
  const sockaddr_in at = vorne_test::Loopback(peer.Port());
  const auto pair = [&] {
    module.Command(PTZ_PAN_LEFT);
    module.Command(PTZ_STOP);
  };
  const auto raw = [&] { RawTcpFrame(at, kPelcoLeft, 7); };
  std::printf("PELCO_D command over tcp:// vs raw connect-write-close, one loopback listener\n");
  const double ratio = Ratio(pair, raw, 2, 1, 20);
  rows.push_back({"tcp:// frame / raw connect-write-close", ratio, "-", true});
  if (!module.Logged()) return true;
  std::printf("FAILED: frames over tcp:// failed:\n");
  for (const std::string& line : module.Lines()) std::printf("  %s", line.c_str());
  return false;
}

// What a simulated camera saw that it should not have.
struct Tally {
  std::atomic<int> garbage{0};
  std::atomic<int> badChecksums{0};
  std::atomic<int> notActedOn{0};  // another address's frames, or ones it could not apply
};

int NetRun(bool rfc2217, int commands) {
  std::vector<Tally> tallies(kNetCameras);
  std::vector<std::unique_ptr<sim::Runner>> cameras;
  std::vector<vorne_test::Ser2net::Line> lines;
  for (int i = 0; i < kNetCameras; ++i) {
    sim::RunnerOptions options;
    options.address = i + 1;
    options.logLimit = 4;  // the memory measured is the module's, not the cameras' logs
    Tally& tally = tallies[static_cast<std::size_t>(i)];
    options.onEvent = [&tally](const sim::Event& e) {
      if (e.kind == sim::Event::Kind::kGarbage) ++tally.garbage;
      if (e.kind != sim::Event::Kind::kFrame) return;
      if (e.check.verdict == sim::Check::Verdict::kBad) ++tally.badChecksums;
      if (!e.applied) ++tally.notActedOn;
    };
    cameras.push_back(sim::Runner::OnPty(sim::Protocol::kPelcoD, std::move(options)));
    lines.push_back({cameras.back()->Path(), rfc2217});
  }
  vorne_test::Ser2net server(lines, "9600n81");
  if (!server.Error().empty()) {
    std::fprintf(stderr, "%s\n", server.Error().c_str());
    return 1;
  }

  // VORNE_TRACE, when set, traces the run; the ratio below runs untraced.
  Module module;
  std::vector<IPtzControl*> controls;
  std::vector<std::string> names;
  std::vector<std::string> urls;
  for (int i = 0; i < kNetCameras; ++i) {
    IPtzControl* control = i == 0 ? module.Control() : module.AddCamera();
    const auto parent = reinterpret_cast<HWND>(0x1000 + static_cast<std::uintptr_t>(i) * 0x10);
    if (control->CreateController(PTZ_TYPE_PELCO_D, parent, 0) != S_OK ||
        control->SetComPort(i % kComPorts) != S_OK || control->SetAddressCode(i + 1) != S_OK) {
      std::printf("FAILED: camera %d could not be set up\n", i + 1);
      return 1;
    }
    controls.push_back(control);
    names.push_back("VORNE_COM" + std::to_string(i % kComPorts + 1));
    urls.push_back(server.Url(static_cast<std::size_t>(i)) + "?connect_timeout_ms=2000");
  }
  module.ForgetLog();

  std::vector<int> sent(kNetCameras, 0);
  int failed = 0;
  const auto send = [&](int camera, std::int32_t command) {
    const auto at = static_cast<std::size_t>(camera);
    setenv(names[at].c_str(), urls[at].c_str(), 1);
    const double start = Now(CLOCK_MONOTONIC);
    if (controls[at]->Command(command) != S_OK || module.Logged()) ++failed;
    return Now(CLOCK_MONOTONIC) - start;
  };

  std::printf("%d PELCO_D cameras behind one ser2net (%s accepters), %d commands round robin\n",
              kNetCameras, rfc2217 ? "RFC 2217" : "raw TCP", commands);
  // Two rounds first, untimed: each camera's first frames set up what stays
  // (the environment's strings, the simulators' logs, the threads' caches).
  for (int k = 0; k < 2 * kNetCameras; ++k) {
    const int camera = k % kNetCameras;
    send(camera, kCycle[sent[static_cast<std::size_t>(camera)]++ % std::size(kCycle)]);
  }
  std::vector<double> latency;
  latency.reserve(static_cast<std::size_t>(commands));
  const double start = Now(CLOCK_MONOTONIC);
  const bool flat = Soak("64 cameras, round robin", commands, module, [&](int k) {
    const int camera = k % kNetCameras;
    int& count = sent[static_cast<std::size_t>(camera)];
    latency.push_back(send(camera, kCycle[count++ % std::size(kCycle)]));
  });
  const double seconds = (Now(CLOCK_MONOTONIC) - start) / 1e6;
  // A camera still moving gets its stop frame; one already stopped gets none.
  for (int camera = 0; camera < kNetCameras; ++camera) send(camera, PTZ_STOP);

  // Every frame a camera saw must be exactly what it was sent; a frame that
  // never arrived is counted, and is a false success unless a command
  // failed for it.
  bool sound = failed == 0;
  std::uint64_t lost = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  for (int i = 0; i < kNetCameras; ++i) {
    const auto at = static_cast<std::size_t>(i);
    const auto expected = static_cast<std::uint64_t>((sent[at] + 1) / 2 * 2);
    sim::CameraState state = cameras[at]->State();
    while ((state.frames < expected || state.Moving()) &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      state = cameras[at]->State();
    }
    const Tally& tally = tallies[at];
    const bool exact = state.frames == expected && !state.Moving();
    if (state.frames < expected) lost += expected - state.frames;
    if (exact && tally.garbage == 0 && tally.badChecksums == 0 && tally.notActedOn == 0) continue;
    if (state.frames <= expected && tally.garbage == 0 && tally.badChecksums == 0 &&
        tally.notActedOn == 0) {
      continue;  // only lost frames: counted below
    }
    sound = false;
    std::printf(
        "camera %d (%s): %llu frames of %llu, %d garbage, %d bad checksums, %d not acted on; "
        "%s%s\n",
        i + 1, server.Url(at).c_str(), static_cast<unsigned long long>(state.frames),
        static_cast<unsigned long long>(expected), tally.garbage.load(), tally.badChecksums.load(),
        tally.notActedOn.load(), state.Describe().c_str(), state.Moving() ? " (moving)" : "");
  }
  const std::uint64_t frames = [&] {
    std::uint64_t all = 0;
    for (int count : sent) all += static_cast<std::uint64_t>((count + 1) / 2 * 2);
    return all;
  }();

  std::printf(
      "%d commands in %.1f s: %.0f frames/s; per command p50 %.2f ms, p99 %.2f ms, "
      "max %.2f ms\n",
      commands, seconds, commands / seconds, Percentile(latency, 0.5) / 1000,
      Percentile(latency, 0.99) / 1000, Percentile(latency, 1.0) / 1000);
  if (!sound) {
    std::printf("FAILED: %d commands failed or logged, or a camera got what it was not sent\n",
                failed);
  } else if (lost == 0) {
    std::printf("every camera got each of its frames once and ended stopped\n");
  } else {
    std::printf("every frame that arrived was right; the server dropped %llu of %llu frames\n",
                static_cast<unsigned long long>(lost), static_cast<unsigned long long>(frames));
  }
  // Against the frame's own time on the line: 7 bytes of 10 bits at 9600.
  const double lineMs = 7.0 * 10 / 9600 * 1000;
  const double p50 = Percentile(latency, 0.5) / 1000 / lineMs;
  const double p99 = Percentile(latency, 0.99) / 1000 / lineMs;
  // A frame lost while no command of the run failed was reported sent.
  const auto falseSuccesses = static_cast<double>(
      lost > static_cast<std::uint64_t>(failed) ? lost - static_cast<std::uint64_t>(failed) : 0);
  rows.push_back({"64 cameras: frames/s", commands / seconds, "-", true});
  rows.push_back({"64 cameras: command p50 / line time", p50, "<= 1.6", p50 <= 1.6});
  rows.push_back({"64 cameras: command p99 / line time", p99, "<= 3.5", p99 <= 3.5});
  rows.push_back({"64 cameras: commands failed, frames wrong", sound ? 0.0 : 1.0, "none", sound});
  rows.push_back({"64 cameras: frames lost", static_cast<double>(lost), "0", lost == 0});
  rows.push_back({"64 cameras: false successes", falseSuccesses, "0", falseSuccesses == 0});
  rows.push_back({"64 cameras: fd and heap after warm-up", flat ? 0.0 : 1.0, "flat", flat});
  const bool ratioSent = NetFrameRatio();
  PrintRows();
  return sound && lost == 0 && flat && ratioSent ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (!args.empty() && args[0] == "--first-frame") return FirstFrame();
  if (!args.empty() && args[0] == "--soak") return SoakRun();
  if (args.size() == 4 && args[0] == "--frames") return Frames(std::atoi(args[1].c_str()), args[3]);
  if (!args.empty() && args[0] == "--net") {
    // Raw accepters unless told.
    bool rfc2217 = false;
    int commands = 10000;
    for (std::size_t i = 1; i < args.size(); ++i) {
      if (args[i] == "rfc2217") {
        rfc2217 = true;
      } else if (args[i] == "--commands" && i + 1 < args.size()) {
        commands = std::max(1, std::atoi(args[++i].c_str()));
      } else if (args[i] != "tcp") {
        std::fprintf(stderr, "usage: vorne_ratios --net [tcp|rfc2217] [--commands N]\n");
        return 2;
      }
    }
    return NetRun(rfc2217, commands);
  }

  FrameRatios();
  TacRatios();
  LoadRatio(argv[0]);
  PrintRows();
  return 0;
}
