// user32 MessageBoxW. Where a desktop is there (DISPLAY or WAYLAND_DISPLAY
// set, zenity installed) the box is a zenity dialog, started and waited for,
// so that the call blocks as a modal box does. Otherwise the caption and the
// text are written to the controlling terminal, and without a terminal they
// go nowhere; those two ways return at once with the box's default button
// (IDOK for an OK-only box, the common case). A host or a test may take over
// every box with TvSetMessageBoxHook.
#include <tvplatform.h>

#include "internal/utf.h"
#include "internal/win32call.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

extern char** environ;

namespace tv {

namespace {

std::mutex hookMutex;
TvMessageBoxHook installedHook = nullptr;
void* installedContext = nullptr;

// The buttons of each kind of box, left to right.
const std::vector<int>& buttons(UINT kind) {
  static const std::vector<int> table[] = {
      {IDOK},
      {IDOK, IDCANCEL},
      {IDABORT, IDRETRY, IDIGNORE},
      {IDYES, IDNO, IDCANCEL},
      {IDYES, IDNO},
      {IDRETRY, IDCANCEL},
      {IDCANCEL, IDTRYAGAIN, IDCONTINUE},
  };
  return table[kind];
}

int defaultButton(UINT type) {
  const std::vector<int>& row = buttons(type & MB_TYPEMASK);
  size_t index = (type & MB_DEFMASK) >> 8;
  return row[index < row.size() ? index : 0];
}

std::optional<std::string> findProgram(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string folders = path != nullptr ? path : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= folders.size()) {
    size_t end = folders.find(':', start);
    if (end == std::string::npos) end = folders.size();
    std::string candidate = (end > start ? folders.substr(start, end - start) : ".") + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return std::nullopt;
}

bool desktopPresent() {
  auto set = [](const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != 0;
  };
  return set("DISPLAY") || set("WAYLAND_DISPLAY");
}

struct Finished {
  int status;
  std::string errors;  // what it wrote to its standard error
};

// Runs the program and waits for it; its exit status and error output, or
// nothing when it could not run or did not finish normally. The error
// output goes to a memory file, not a pipe: a helper the program leaves
// running (a session bus, say) would keep a pipe open, and us waiting.
std::optional<Finished> runAndWait(const std::string& program, const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  int errors = memfd_create("messagebox-errors", MFD_CLOEXEC);
  if (errors < 0) return std::nullopt;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, errors, 2);
  pid_t child = 0;
  int rc = posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  std::optional<Finished> finished;
  if (rc == 0) {
    int status = 0;
    pid_t waited;
    do waited = waitpid(child, &status, 0);
    while (waited < 0 && errno == EINTR);
    if (waited == child && WIFEXITED(status)) {
      finished = Finished{WEXITSTATUS(status), {}};
      char buffer[4096];
      ssize_t n = pread(errors, buffer, sizeof buffer, 0);
      if (n > 0) finished->errors.assign(buffer, static_cast<size_t>(n));
    }
  }
  close(errors);
  return finished;
}

// The box as a zenity dialog; nothing when zenity could not show it.
std::optional<int> showOnDesktop(const std::string& text, const std::string& caption, UINT type) {
  if (!desktopPresent()) return std::nullopt;
  std::optional<std::string> zenity = findProgram("zenity");
  if (!zenity) return std::nullopt;
  UINT kind = type & MB_TYPEMASK;
  UINT icon = type & MB_ICONMASK;
  std::vector<std::string> args = {"zenity"};
  struct Labels {
    const char* ok;
    const char* cancel;
  };
  std::optional<Labels> question;
  if (kind == MB_OKCANCEL) question = Labels{"OK", "Cancel"};
  if (kind == MB_YESNO) question = Labels{"Yes", "No"};
  if (kind == MB_RETRYCANCEL) question = Labels{"Retry", "Cancel"};
  if (question) {
    args.insert(args.end(), {"--question", std::string("--ok-label=") + question->ok,
                             std::string("--cancel-label=") + question->cancel});
  } else {
    args.push_back(icon == MB_ICONHAND ? "--error" : icon == MB_ICONEXCLAMATION ? "--warning" : "--info");
  }
  args.insert(args.end(), {"--no-markup", "--title=" + caption, "--text=" + text});
  std::optional<Finished> finished = runAndWait(*zenity, args);
  // 0 and 1 are the two buttons (1 also when the window is closed); any
  // other status is zenity's own failure. The toolkit also exits with 1
  // when it cannot open the display, which it says on its error output.
  if (!finished || (finished->status != 0 && finished->status != 1) ||
      (finished->status == 1 && finished->errors.find("open display") != std::string::npos))
    return std::nullopt;
  if (!question) return kind == MB_OK ? IDOK : defaultButton(type);
  const std::vector<int>& row = buttons(kind);
  return finished->status == 0 ? row[0] : row[1];
}

// The box written to the controlling terminal; false when there is none.
bool showOnTerminal(const std::string& text, const std::string& caption) {
  int tty = open("/dev/tty", O_WRONLY | O_NOCTTY | O_CLOEXEC);
  if (tty < 0) return false;
  std::string out = "[" + caption + "]\n" + text + "\n";
  size_t done = 0;
  while (done < out.size()) {
    ssize_t n = write(tty, out.data() + done, out.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  close(tty);
  return true;
}

}  // namespace

}  // namespace tv

using namespace tv;

void WINAPI TvSetMessageBoxHook(TvMessageBoxHook hook, void* context) {
  std::lock_guard<std::mutex> guard(hookMutex);
  installedHook = hook;
  installedContext = hook != nullptr ? context : nullptr;
}

void WINAPI TvGetMessageBoxHook(TvMessageBoxHook* hook, void** context) {
  std::lock_guard<std::mutex> guard(hookMutex);
  if (hook != nullptr) *hook = installedHook;
  if (context != nullptr) *context = installedContext;
}

int WINAPI MessageBoxW(HWND hWnd, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType) {
  return win32Value<int>(0, [&] {
    require((uType & MB_TYPEMASK) <= MB_CANCELTRYCONTINUE);
    // Windows titles a box without a caption "Error".
    LPCWSTR text = lpText != nullptr ? lpText : u"";
    LPCWSTR caption = lpCaption != nullptr ? lpCaption : u"Error";
    TvMessageBoxHook hook;
    void* context;
    TvGetMessageBoxHook(&hook, &context);
    if (hook != nullptr) return hook(hWnd, text, caption, uType, context);

    std::string text8 = toUtf8(text, wideLength(text));
    std::string caption8 = toUtf8(caption, wideLength(caption));
    if (std::optional<int> result = showOnDesktop(text8, caption8, uType)) return *result;
    showOnTerminal(text8, caption8);
    return defaultButton(uType);
  });
}
