// The exceptions of the system and the checks that turn a failed platform call
// into one. Callers pass __FILE__ and __LINE__ as the position of the throw.
#pragma once

#include <windows.h>

#include <exception>
#include <string>

namespace Sys {

// A platform failure or a refusal of the common runtime or the client
// operations. Its text names the source position of the throw and ends with
// the error text: "Exception has been thrown in file '<file>' at line <line>.
// The text is: <error text>".
class OsError : public std::exception {
 public:
  // The text is the platform's message for the code.
  OsError(DWORD code, const char* file, int line);
  // The code is the calling thread's last error, read before anything else.
  OsError(const char* file, int line);
  // The code is 0 and the text is the given one, unchanged.
  OsError(const char* file, int line, const std::string& text);
  ~OsError() override;

  const char* what() const noexcept override;
  DWORD code() const { return code_; }

 private:
  std::string systemMessage() const;
  void compose(const char* file, int line, const std::string& text);

  std::string message_;
  DWORD code_;
};

// A failed internal consistency check. Only the check's message is the text;
// the position is kept apart for whoever inspects the object.
class AssertionFailed : public std::exception {
 public:
  AssertionFailed(const char* message, const char* file, const char* function, int line);
  ~AssertionFailed() override;

  const char* what() const noexcept override;
  const std::string& file() const { return file_; }
  const std::string& function() const { return function_; }
  int line() const { return line_; }

 private:
  std::string message_;
  std::string file_;
  std::string function_;
  int line_;
};

// Throws OsError with the last error when value is 0 (a failed platform call,
// or the caller's own comparison that came out false).
void checkWin32(DWORD value, const char* file, int line);
// Throws OsError with the last error when the handle is INVALID_HANDLE_VALUE.
void checkWin32Handle(HANDLE value, const char* file, int line);
// Throws OsError for the given code when it is not 0.
void checkWin32Code(DWORD code, const char* file, int line);

}  // namespace Sys

namespace Crypto {

// A platform failure inside the crypto toolkit. The text is the platform's
// English message for the code and nothing else.
class Error : public std::exception {
 public:
  // The code is the calling thread's last error, read before anything else.
  Error();
  explicit Error(DWORD code);
  ~Error() override;

  const char* what() const noexcept override;
  DWORD code() const { return code_; }

 private:
  std::string systemMessage() const;

  DWORD code_;
  std::string message_;
};

// Throws Error with the last error when value is 0.
void check(DWORD value);

}  // namespace Crypto
