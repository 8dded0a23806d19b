// The debug output reaches the in-process hook and a viewer's datagram
// socket unchanged, one string each; without listeners it is dropped and
// never blocks the caller.
#include <windows.h>

#include <tvplatform.h>

#include "support/debugcapture.h"
#include "support/scopedenv.h"
#include "support/tempprefix.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace {

using tvtest::DebugCapture;
using Lines = std::vector<std::string>;

TEST(DebugHook, ReceivesEachStringUnchangedAndInOrderLeavingTheLastError) {
  DebugCapture capture;
  SetLastError(ERROR_SHARING_VIOLATION);
  OutputDebugStringA("ClientCrypto::signHash");
  OutputDebugStringA("");
  OutputDebugStringA("Error: The parameter is incorrect.\r\n\r\n");
  OutputDebugStringA(nullptr);  // nothing to write
  OutputDebugStringW(u"wide \u00E9");  // through the thread's code page (Windows-1252 in the C locale)
  EXPECT_EQ(capture.lines(),
            (Lines{"ClientCrypto::signHash", "", "Error: The parameter is incorrect.\r\n\r\n", "wide \xE9"}));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
}

// A viewer: binds the debug socket in a private runtime folder of its own.
class DebugSocketTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = temporary_.path();
    runtimeDir_.emplace("XDG_RUNTIME_DIR", folder_.c_str());
  }

  void TearDown() override {
    if (viewer_ >= 0) close(viewer_);
    runtimeDir_.reset();
  }

  // Binds the viewer's socket at path, by default where writers send.
  void bindViewer(std::string path = {}) {
    if (path.empty()) {
      ASSERT_NE(TvDebugOutputSocketPath(), nullptr);
      path = TvDebugOutputSocketPath();
      ASSERT_EQ(path, folder_ + "/tellvane-debug.sock");
    }
    viewer_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof(address.sun_path), "%s", path.c_str());
    ASSERT_EQ(bind(viewer_, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  }

  // The next datagram, or "<none>" when none arrives soon.
  std::string receive() {
    timeval timeout{0, 200000};
    setsockopt(viewer_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
    std::string buffer(256 * 1024, '\0');
    const ssize_t n = recv(viewer_, buffer.data(), buffer.size(), 0);
    return n < 0 ? "<none>" : buffer.substr(0, static_cast<size_t>(n));
  }

  tvtest::TempFolder temporary_{"tellvane-debug-test"};
  std::string folder_;
  std::optional<tvtest::ScopedEnv> runtimeDir_;
  int viewer_ = -1;
};

TEST_F(DebugSocketTest, ViewerReceivesEachStringAsOneDatagramAndALongOneWhole) {
  bindViewer();
  const std::string longText(100000, 'x');
  for (const std::string& text : {std::string("CspContext::~CspContext"), std::string(), longText}) {
    OutputDebugStringA(text.c_str());
    std::string received = receive();
    for (std::string piece; received.size() < text.size() && (piece = receive()) != "<none>";) received += piece;
    EXPECT_EQ(received, text);
  }
  EXPECT_EQ(receive(), "<none>");
}

TEST_F(DebugSocketTest, WriterNeverBlocksOnAViewerThatDoesNotRead) {
  bindViewer();
  const auto start = std::chrono::steady_clock::now();
  const std::string text(1000, 'y');
  for (int i = 0; i < 20000; ++i) OutputDebugStringA(text.c_str());  // far more than the socket queue holds
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(receive(), text);
}

// Without a viewer, writers stop trying for a moment; a viewer that starts
// still gets everything written from 50 ms after it started.
TEST_F(DebugSocketTest, ViewerThatStartsReceivesEveryLineFrom50MsOnInOrder) {
  for (int i = 0; i < 1000; ++i) OutputDebugStringA("before the viewer");
  bindViewer();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  for (int i = 0; i < 100; ++i) {
    OutputDebugStringA(std::to_string(i).c_str());
    ASSERT_EQ(receive(), std::to_string(i));
  }
}

TEST_F(DebugSocketTest, WithoutRuntimeFolderSocketLivesInAPrivateTmpFolder) {
  unsetenv("XDG_RUNTIME_DIR");
  const char* path = TvDebugOutputSocketPath();
  ASSERT_NE(path, nullptr);
  const std::string folder = std::string(P_tmpdir) + "/tellvane-" + std::to_string(getuid());
  EXPECT_EQ(std::string(path), folder + "/debug.sock");
  struct stat info;
  ASSERT_EQ(lstat(folder.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & (S_IFMT | 0777), S_IFDIR | 0700u);
  EXPECT_EQ(info.st_uid, getuid());
}

TEST_F(DebugSocketTest, FolderWritableByOthersGetsNoOutput) {
  chmod(folder_.c_str(), 0777);
  EXPECT_EQ(TvDebugOutputSocketPath(), nullptr);
  // A socket that someone else could have bound there is never sent to.
  bindViewer(folder_ + "/tellvane-debug.sock");
  OutputDebugStringA("secret");
  EXPECT_EQ(receive(), "<none>");
}

}  // namespace
