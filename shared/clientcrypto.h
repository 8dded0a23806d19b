// The client operations behind the scripting object, and the frame they share:
// the result envelope, the edge guard, and the conversions between 8-bit text,
// automation strings and UTF-8.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include "common/trace.h"

#include <exception>
#include <initializer_list>
#include <string>
#include <vector>

// The automation framework's error object: a failed conversion or allocation
// at the automation boundary. It stands outside the std::exception family, so
// the edge guard reports it as "Unspecified error".
class ComError {
 public:
  explicit ComError(HRESULT code) : code_(code) {}
  HRESULT code() const { return code_; }

 private:
  HRESULT code_;
};

// A new automation string, owned by the caller, from a text in the thread's
// ANSI code page. Raises ComError when the text cannot be converted or stored.
BSTR toBstr(const std::string& text);
// The text of an automation string up to its first zero character, in the
// thread's ANSI code page (unmappable characters become the code page's
// default character); a null string gives the empty text. Raises ComError
// when the platform refuses the conversion.
std::string fromBstr(BSTR value);

class ClientCrypto {
 public:
  // The operations. Each returns E_INVALIDARG for a missing required pointer
  // and otherwise stores one result envelope through its last argument.
  HRESULT getCertListAsJson(BSTR pin, BSTR* rv);
  HRESULT signHash(BSTR encodedHash, BSTR certThumb, BSTR pinCode, BSTR* encodedSignature);
  HRESULT signString(BSTR astr, BSTR certThumb, BSTR pinCode, BSTR* encodedSignature);

  // The text between quotation marks, escaped as a JSON string.
  static std::string quoteString(const std::string& text);
  // {"success":true,"result":<value>} with the JSON value unchanged.
  static std::string successWithJson(const std::string& value);
  // {"success":true,"result":"<text>"}.
  static std::string successWithString(const std::string& text);
  // {"success":false,"result":"<message>"}; an empty message reads "Unknown error".
  static std::string errorWithString(const std::string& message);
  // The UTF-8 bytes of a zero-terminated UTF-16 text, without a terminator.
  // OsError "Invalid pointer" for null; OsError with the platform's code when
  // the platform refuses (the empty text among others).
  static std::vector<BYTE> toUtf8(const WCHAR* text);

  // The frame of every operation: writes the entry trace line; when result or
  // any of the required pointers is null, writes invalidArgumentTrace and
  // returns E_INVALIDARG without touching result. Otherwise runs
  // body(std::string& envelope) -> HRESULT, which builds the envelope and
  // returns the success code; the envelope then goes to *result as a new
  // automation string. Whatever the body throws becomes an error envelope in
  // *result with S_OK: an exception's what() text, anything else
  // "Unspecified error".
  template <class Body>
  static HRESULT runOperation(const char* name, const char* invalidArgumentTrace,
                              std::initializer_list<const void*> required, BSTR* result, Body body);

 private:
  static bool present(BSTR* result, std::initializer_list<const void*> required);
  // The edge guard's handlers: trace the failure, store the error envelope.
  // what is null for a throw of anything that is not a std::exception.
  static HRESULT reportFailure(BSTR* result, const char* what) noexcept;
};

template <class Body>
HRESULT ClientCrypto::runOperation(const char* name, const char* invalidArgumentTrace,
                                   std::initializer_list<const void*> required, BSTR* result, Body body) {
  Sys::trace(name);
  if (!present(result, required)) {
    Sys::trace(invalidArgumentTrace);
    return E_INVALIDARG;
  }
  try {
    std::string envelope;
    HRESULT status = body(envelope);
    *result = toBstr(envelope);
    return status;
  } catch (const std::exception& error) {
    return reportFailure(result, error.what());
  } catch (...) {
    return reportFailure(result, nullptr);
  }
}
