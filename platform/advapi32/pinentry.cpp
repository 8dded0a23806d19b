#include "advapi32/pinentry.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "internal/hex.h"

extern char** environ;

namespace tv {

namespace {

// Assuan lines are at most 1000 bytes; a longer one is a broken peer.
constexpr size_t kMaxLine = 1000;

// A program that does not answer within this time (a person typing a PIN
// included) is taken to have failed; one that has not gone a moment after
// BYE is killed, so that a stuck program never holds up signing.
constexpr int kAnswerTimeoutMs = 5 * 60 * 1000;
constexpr auto kExitGrace = std::chrono::seconds(2);

std::string percentEscape(const std::string& text) {
  std::string escaped;
  for (unsigned char c : text) {
    if (c == '%' || c < 0x20) {
      escaped += '%';
      escaped += hexDigit(c >> 4);
      escaped += hexDigit(c);
    } else {
      escaped += static_cast<char>(c);
    }
  }
  return escaped;
}

std::string percentUnescape(const std::string& text) {
  std::string plain;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 && hexValue(text[i + 2]) >= 0) {
      plain += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
      i += 2;
    } else {
      plain += text[i];
    }
  }
  return plain;
}

void wipe(std::string& secret) {
  if (!secret.empty()) explicit_bzero(&secret[0], secret.size());
  secret.clear();
}

// One running pinentry program, spoken to over a socket pair (a socket, so
// that writing to a program that has gone away fails instead of raising
// SIGPIPE).
class PinentrySession {
 public:
  explicit PinentrySession(const std::string& program) {
    int sockets[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, sockets[1], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, sockets[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
    const int spawned = posix_spawnp(&pid_, program.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(sockets[1]);
    if (spawned != 0) {
      close(sockets[0]);
      pid_ = -1;
      return;
    }
    fd_ = sockets[0];
  }

  ~PinentrySession() {
    if (fd_ >= 0) {
      send("BYE");
      close(fd_);
    }
    if (pid_ > 0) reap();
    wipe(buffer_);
  }

  PinentrySession(const PinentrySession&) = delete;
  PinentrySession& operator=(const PinentrySession&) = delete;

  bool running() const { return fd_ >= 0; }

  // The greeting: the program's first answer must be OK.
  bool greeted() { return finish(nullptr); }

  // Sends one command and reads its answer; data receives the D lines.
  bool command(const std::string& line, std::string* data = nullptr) { return send(line) && finish(data); }

 private:
  void reap() {
    const auto deadline = std::chrono::steady_clock::now() + kExitGrace;
    int status;
    for (;;) {
      const pid_t done = waitpid(pid_, &status, WNOHANG);
      if (done == pid_ || (done < 0 && errno != EINTR)) return;
      if (std::chrono::steady_clock::now() >= deadline) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid_, SIGKILL);
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
  }

  bool send(const std::string& line) {
    const std::string text = line + "\n";
    size_t done = 0;
    while (done < text.size()) {
      const ssize_t sent = ::send(fd_, text.data() + done, text.size() - done, MSG_NOSIGNAL);
      if (sent < 0 && errno == EINTR) continue;
      if (sent <= 0) return false;
      done += static_cast<size_t>(sent);
    }
    return true;
  }

  bool readLine(std::string& line) {
    for (;;) {
      const size_t end = buffer_.find('\n');
      if (end != std::string::npos) {
        line.assign(buffer_, 0, end);
        buffer_.erase(0, end + 1);
        return true;
      }
      if (buffer_.size() > kMaxLine) return false;
      pollfd ready{fd_, POLLIN, 0};
      const int polled = poll(&ready, 1, kAnswerTimeoutMs);
      if (polled < 0 && errno == EINTR) continue;
      if (polled <= 0) return false;
      char chunk[256];
      const ssize_t got = recv(fd_, chunk, sizeof chunk, 0);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return false;
      buffer_.append(chunk, static_cast<size_t>(got));
      explicit_bzero(chunk, sizeof chunk);
    }
  }

  // Reads answer lines up to OK (true) or ERR (false).
  bool finish(std::string* data) {
    std::string line;
    bool ok = false;
    while (readLine(line)) {
      if (line == "OK" || line.compare(0, 3, "OK ") == 0) {
        ok = true;
        break;
      }
      if (line == "ERR" || line.compare(0, 4, "ERR ") == 0) break;
      if (line.compare(0, 2, "D ") == 0 && data != nullptr) {
        std::string part = percentUnescape(line.substr(2));
        data->append(part);
        wipe(part);
        if (data->size() > kMaxLine) break;  // no PIN is that long
      } else if (line.compare(0, 8, "INQUIRE ") == 0 && !send("CAN")) {
        break;
      }
      // Status ("S ") and comment ("#") lines carry nothing we need.
    }
    wipe(line);
    return ok;
  }

  int fd_ = -1;
  pid_t pid_ = -1;
  std::string buffer_;
};

bool haveTerminalOrDisplay() {
  const char* display = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return isatty(STDIN_FILENO) || (display != nullptr && *display != '\0') || (wayland != nullptr && *wayland != '\0');
}

}  // namespace

std::string pinentryProgram() {
  if (const char* named = std::getenv("TELLVANE_PINENTRY")) return named;
  return haveTerminalOrDisplay() ? "pinentry" : "";
}

std::optional<std::string> askPin(const std::string& description) {
  const std::string program = pinentryProgram();
  if (program.empty()) return std::nullopt;
  PinentrySession session(program);
  if (!session.running() || !session.greeted()) return std::nullopt;
  if (isatty(STDIN_FILENO)) {
    if (const char* tty = ttyname(STDIN_FILENO)) session.command(std::string("OPTION ttyname=") + tty);
    if (const char* type = std::getenv("TERM")) session.command(std::string("OPTION ttytype=") + type);
  }
  // A program that signs on another's behalf (the browser bridge) says who asks first.
  const char* purpose = std::getenv("TELLVANE_PIN_PURPOSE");
  const std::string text = purpose != nullptr && *purpose != '\0' ? purpose + std::string("\n") + description : description;
  if (!session.command("SETTITLE Tellvane") || !session.command("SETDESC " + percentEscape(text)) ||
      !session.command("SETPROMPT PIN:"))
    return std::nullopt;
  std::string pin;
  if (!session.command("GETPIN", &pin)) {
    wipe(pin);
    return std::nullopt;
  }
  return pin;
}

}  // namespace tv
