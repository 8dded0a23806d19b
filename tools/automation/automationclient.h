// An automation client, as a script host is one: it creates an object by
// ProgID through the registry and calls its methods by name through
// IDispatch, with texts for arguments and result. The tellvane command and
// the browser bridge reach the component only this way.
#pragma once

#include <objbase.h>
#include <oleauto.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace automation {

// A COM call that failed: what was being done, the HRESULT and its system
// text, on one line ("creating Tellvane.Signer32: 0x80040154 Class not
// registered").
class ComError : public std::runtime_error {
 public:
  ComError(const std::string& doing, HRESULT code);
  HRESULT code() const noexcept { return code_; }

 private:
  HRESULT code_;
};

// "0x80070057 The parameter is incorrect.": the code in hexadecimal and the
// system's text for it, without the line end.
std::string hresultText(HRESULT code);

// Texts in the system's UTF-16 unit (wchar_t on Windows).
using WideString = std::basic_string<WCHAR>;

// UTF-8 <-> UTF-16 at the edge; invalid UTF-8 is refused with
// std::invalid_argument rather than replaced.
WideString toUtf16(const std::string& utf8);
std::string toUtf8(const WCHAR* text, size_t length);

// One method argument: a text, or nullopt for a null string.
using Argument = std::optional<std::string>;

// Looks the method up by name and invokes it with the arguments as strings,
// first to last; returns its value as UTF-8 text (empty when it returns
// nothing; a number is written as text). Throws ComError when the name is
// unknown or the call fails, with the method's own error code for an
// exception it raised.
std::string invokeByName(IDispatch* object, const std::string& method, const std::vector<Argument>& arguments);

// COM initialised on the calling thread (single-threaded apartment) and one
// object created by ProgID, released in reverse order with the client. Use
// it on the thread that made it.
class AutomationClient {
 public:
  explicit AutomationClient(const std::string& progId);
  ~AutomationClient();
  AutomationClient(const AutomationClient&) = delete;
  AutomationClient& operator=(const AutomationClient&) = delete;

  IDispatch* object() const { return object_; }
  std::string call(const std::string& method, const std::vector<Argument>& arguments) {
    return invokeByName(object_, method, arguments);
  }

 private:
  // Initialises COM before the object is made and uninitialises it after the
  // object is released, also when the constructor throws.
  class Apartment {
   public:
    Apartment();
    ~Apartment();
    Apartment(const Apartment&) = delete;
    Apartment& operator=(const Apartment&) = delete;
  };

  Apartment apartment_;
  IDispatch* object_ = nullptr;
};

}  // namespace automation
