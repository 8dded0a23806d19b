// The message box: a host's hook, a desktop dialog, the terminal, or nothing.
#include <windows.h>
#include <tvplatform.h>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

#include "support/scopedenv.h"
#include "support/tempprefix.h"

namespace {

using tvtest::ScopedEnv;

// Runs body in a child process of its own session (so without a controlling
// terminal unless body opens one); its exit status, or -1 if it hung.
int inChild(const std::function<int()>& body, int terminal = -1) {
  pid_t child = fork();
  if (child == 0) {
    setsid();
    if (terminal >= 0) {
      // Opening a terminal in a new session makes it the controlling one.
      int tty = open(ptsname(terminal), O_RDWR);
      if (tty < 0) _exit(90);
    }
    alarm(20);
    _exit(body());
  }
  for (int waited = 0; waited < 200; ++waited) {
    int status = 0;
    if (waitpid(child, &status, WNOHANG) == child) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  return -1;
}

// A pseudo-terminal whose far end a child process takes as its own.
class Terminal {
 public:
  Terminal() : master_(posix_openpt(O_RDWR | O_NOCTTY)) {
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) ADD_FAILURE() << "no pseudo-terminal";
  }
  ~Terminal() {
    if (master_ >= 0) close(master_);
  }
  int master() const { return master_; }
  // What the child wrote (the terminal turns each "\n" into "\r\n").
  std::string written() {
    char buffer[256];
    ssize_t n = read(master_, buffer, sizeof buffer);
    return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
  }

 private:
  int master_;
};

struct Seen {
  std::u16string text, caption;
  UINT type = 0;
  HWND owner = nullptr;
};

int recordingHook(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type, void* context) {
  auto* seen = static_cast<Seen*>(context);
  *seen = Seen{text, caption, type, owner};
  return IDCANCEL;
}

TEST(MessageBox, HookShowsEveryBoxAndGivesItsResult) {
  Seen seen;
  TvSetMessageBoxHook(recordingHook, &seen);
  EXPECT_EQ(MessageBoxW(reinterpret_cast<HWND>(0x42), u"Текст", u"Tellvane", MB_OKCANCEL | MB_ICONINFORMATION),
            IDCANCEL);
  EXPECT_EQ(seen.text + u"|" + seen.caption, u"Текст|Tellvane");
  EXPECT_EQ(seen.type, static_cast<UINT>(MB_OKCANCEL | MB_ICONINFORMATION));
  EXPECT_EQ(seen.owner, reinterpret_cast<HWND>(0x42));
  // A box without text or caption: an empty text, titled "Error".
  MessageBoxW(nullptr, nullptr, nullptr, MB_OK);
  EXPECT_EQ(seen.text + u"|" + seen.caption, u"|Error");
  TvSetMessageBoxHook(nullptr, nullptr);
}

// A stand-in for zenity that records its arguments and exits as told.
class Desktop : public ::testing::Test {
 protected:
  void SetUp() override {
    tvtest::writeFile(prefix_ / "bin/zenity",
                      "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$FAKE_ZENITY_ARGS\"\n"
                      "[ -n \"$FAKE_ZENITY_ERROR\" ] && echo \"$FAKE_ZENITY_ERROR\" >&2\n"
                      "exit \"$FAKE_ZENITY_EXIT\"\n");
    chmod((prefix_ / "bin/zenity").c_str(), 0700);
  }
  std::string arguments() { return tvtest::readFile(prefix_ / "args"); }

  tvtest::TempPrefix prefix_;
  ScopedEnv path_{"PATH", (prefix_.path() + "/bin:" + std::getenv("PATH")).c_str()};
  ScopedEnv display_{"DISPLAY", ":77"};
  ScopedEnv wayland_{"WAYLAND_DISPLAY", nullptr};
  ScopedEnv args_{"FAKE_ZENITY_ARGS", (prefix_.path() + "/args").c_str()};
};

TEST_F(Desktop, ShowsADialogAndWaitsForItsButton) {
  struct Case {
    UINT type;
    const char* exit;
    int result;
    const char* kind;
  } cases[] = {
      {MB_OK | MB_ICONINFORMATION, "1", IDOK, "--info\n"},  // closing an OK-only box is OK
      {MB_OK | MB_ICONERROR, "0", IDOK, "--error\n"},
      {MB_OK | MB_ICONWARNING, "0", IDOK, "--warning\n"},
      {MB_OKCANCEL, "1", IDCANCEL, "--question\n--ok-label=OK\n--cancel-label=Cancel\n"},
      {MB_YESNO, "0", IDYES, "--ok-label=Yes\n--cancel-label=No\n"},
  };
  for (const Case& c : cases) {
    ScopedEnv exit("FAKE_ZENITY_EXIT", c.exit);
    EXPECT_EQ(MessageBoxW(nullptr, u"Text with <b>markup</b>", u"Подпись", c.type), c.result) << c.type;
    std::string args = arguments();
    EXPECT_NE(args.find(c.kind), std::string::npos) << args;
    EXPECT_NE(args.find("--no-markup\n--title=Подпись\n--text=Text with <b>markup</b>\n"), std::string::npos)
        << args;
  }
}

TEST_F(Desktop, FallsBackToTheTerminalWhenNoDialogCanBeShown) {
  // No display at all, or zenity fails, on its own or for want of a display
  // it can reach: the box goes to the terminal.
  struct Case {
    const char* display;
    const char* exit;
    const char* error;
  } cases[] = {{nullptr, "0", ""},
               {":77", "255", ""},
               {":77", "1", "(zenity:1): Gtk-WARNING **: cannot open display: :77"}};
  for (const Case& c : cases) {
    ScopedEnv display("DISPLAY", c.display);
    ScopedEnv exit("FAKE_ZENITY_EXIT", c.exit);
    ScopedEnv error("FAKE_ZENITY_ERROR", c.error);
    Terminal terminal;
    EXPECT_EQ(inChild([] { return MessageBoxW(nullptr, u"Подписать?", u"Title", MB_YESNO); }, terminal.master()),
              IDYES);
    EXPECT_EQ(terminal.written(), "[Title]\r\nПодписать?\r\n");
  }
}

TEST(MessageBox, WithNoTerminalAndNoDesktopReturnsAtOnce) {
  ScopedEnv display("DISPLAY", nullptr);
  ScopedEnv wayland("WAYLAND_DISPLAY", nullptr);
  struct Case {
    UINT type;
    int result;
  } cases[] = {
      {MB_OK, IDOK},
      {MB_YESNO | MB_DEFBUTTON2, IDNO},
      {MB_YESNOCANCEL | MB_DEFBUTTON3, IDCANCEL},
      {MB_OKCANCEL | MB_DEFBUTTON4, IDOK},  // no fourth button: the first
  };
  for (const Case& c : cases)
    EXPECT_EQ(inChild([&] { return MessageBoxW(nullptr, u"text", u"caption", c.type); }), c.result) << c.type;
  SetLastError(0);
  EXPECT_EQ(MessageBoxW(nullptr, u"text", u"caption", 7), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

}  // namespace
