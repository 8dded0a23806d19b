#include "common/exceptions.h"

#include <locale>
#include <sstream>

namespace {

const char kNoMessage[] = "Unable to find a message text";

// One look-up in the system message table. The system allocates the buffer;
// this object gives it back.
class SystemMessage {
 public:
  SystemMessage(DWORD code, DWORD language) {
    length_ = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM, nullptr,
        code, language, reinterpret_cast<LPSTR>(&buffer_), 0, nullptr);
  }
  ~SystemMessage() {
    if (buffer_ != nullptr) LocalFree(buffer_);
  }
  SystemMessage(const SystemMessage&) = delete;
  SystemMessage& operator=(const SystemMessage&) = delete;

  DWORD length() const { return length_; }
  const char* buffer() const { return buffer_; }

 private:
  DWORD length_ = 0;
  char* buffer_ = nullptr;
};

}  // namespace

namespace Sys {

OsError::OsError(DWORD code, const char* file, int line) : code_(code) {
  compose(file, line, systemMessage());
}

OsError::OsError(const char* file, int line) : code_(GetLastError()) {
  compose(file, line, systemMessage());
}

OsError::OsError(const char* file, int line, const std::string& text) : code_(0) {
  compose(file, line, text);
}

OsError::~OsError() = default;

const char* OsError::what() const noexcept { return message_.c_str(); }

// The user's default language; a code without a text gets the fixed fallback.
std::string OsError::systemMessage() const {
  SystemMessage message(code_, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT));
  if (message.length() == 0 || message.buffer() == nullptr) return kNoMessage;
  return message.buffer();
}

void OsError::compose(const char* file, int line, const std::string& text) {
  // The classic locale keeps the line number free of digit grouping whatever
  // global locale the host has set.
  std::ostringstream out;
  out.imbue(std::locale::classic());
  out << "Exception has been thrown in file '" << file << "' at line " << line << ". The text is: " << text;
  message_ = out.str();
}

AssertionFailed::AssertionFailed(const char* message, const char* file, const char* function, int line)
    : message_(message), file_(file), function_(function), line_(line) {}

AssertionFailed::~AssertionFailed() = default;

const char* AssertionFailed::what() const noexcept { return message_.c_str(); }

void checkWin32(DWORD value, const char* file, int line) {
  if (value == 0) throw OsError(file, line);
}

void checkWin32Handle(HANDLE value, const char* file, int line) {
  if (value == INVALID_HANDLE_VALUE) throw OsError(file, line);
}

void checkWin32Code(DWORD code, const char* file, int line) {
  if (code != 0) throw OsError(code, file, line);
}

}  // namespace Sys

namespace Crypto {

Error::Error() : code_(GetLastError()), message_(systemMessage()) {}

Error::Error(DWORD code) : code_(code), message_(systemMessage()) {}

Error::~Error() = default;

const char* Error::what() const noexcept { return message_.c_str(); }

// Always English, whatever the user's language.
std::string Error::systemMessage() const {
  SystemMessage message(code_, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
  if (message.buffer() == nullptr) return kNoMessage;
  return message.buffer();
}

void check(DWORD value) {
  if (value == 0) throw Error();
}

}  // namespace Crypto
