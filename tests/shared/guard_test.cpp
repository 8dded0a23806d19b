#include "shared/clientcrypto.h"

#include "common/exceptions.h"
#include "common/wide.h"

#include "support/debugcapture.h"
#include "support/json.h"

#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

// An operation in the shape the client operations take: one required input
// besides the result pointer, the body given by the test.
HRESULT operation(BSTR input, BSTR* result, const std::function<HRESULT(std::string&)>& body) {
  return ClientCrypto::runOperation("ClientCrypto::example", "Invalid argument", {input}, result, body);
}

struct Outcome {
  HRESULT status;
  tvtest::Envelope envelope;
  Lines trace;
};

Outcome run(const std::function<HRESULT(std::string&)>& body) {
  tvtest::DebugCapture capture;
  BSTR input = SysAllocString(WSTR("x"));
  BSTR result = nullptr;
  HRESULT status = operation(input, &result, body);
  Outcome outcome{status, tvtest::parseEnvelope(result), capture.lines()};
  SysFreeString(result);
  SysFreeString(input);
  return outcome;
}

TEST(EdgeGuard, DeliversTheBodysEnvelopeAndStatus) {
  Outcome outcome = run([](std::string& envelope) {
    envelope = ClientCrypto::successWithJson("[]");
    return S_FALSE;
  });
  EXPECT_EQ(outcome.status, S_FALSE);
  EXPECT_EQ(outcome.envelope.text, "{\"success\":true,\"result\":[]}");
  EXPECT_EQ(outcome.trace, Lines{"ClientCrypto::example"});
}

TEST(EdgeGuard, TurnsEveryFailureIntoAnErrorEnvelopeWithSuccessStatus) {
  const std::string osError = Sys::OsError("shared/clientcrypto.cpp", 12, "Certificate wasnt found").what();
  struct Case {
    const char* name;
    std::function<void()> raise;
    std::string result;
    std::string traced;  // the guard's own trace line
  } cases[] = {
      {"OsError", [] { throw Sys::OsError("shared/clientcrypto.cpp", 12, "Certificate wasnt found"); }, osError,
       "Error: " + osError + "\r\n"},
      {"Crypto::Error", [] { throw Crypto::Error(87); }, "The parameter is incorrect.\r\n",
       "Error: The parameter is incorrect.\r\n\r\n"},
      {"AssertionFailed", [] { throw Sys::AssertionFailed("zeros", "f", "g", 1); }, "zeros", "Error: zeros\r\n"},
      {"runtime_error", [] { throw std::runtime_error("Broken stream (1)"); }, "Broken stream (1)",
       "Error: Broken stream (1)\r\n"},
      {"empty message", [] { throw std::invalid_argument(""); }, "Unknown error", "Error: \r\n"},
      {"bad_alloc", [] { throw std::bad_alloc(); }, std::bad_alloc().what(),
       std::string("Error: ") + std::bad_alloc().what() + "\r\n"},
      {"a number", [] { throw 87L; }, "Unspecified error", "Unspecified error"},
      {"framework error", [] { throw ComError(E_OUTOFMEMORY); }, "Unspecified error", "Unspecified error"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Outcome outcome = run([&](std::string& envelope) {
      envelope = ClientCrypto::successWithString("never delivered");
      c.raise();
      return S_OK;
    });
    EXPECT_EQ(outcome.status, S_OK);
    EXPECT_FALSE(outcome.envelope.success);
    EXPECT_EQ(outcome.envelope.result, c.result);
    EXPECT_EQ(outcome.trace, (Lines{"ClientCrypto::example", c.traced, "ClientCrypto::errorWithString"}));
  }
}

TEST(EdgeGuard, MissingPointersAreRefusedBeforeTheBodyRuns) {
  BSTR input = SysAllocString(WSTR("x"));
  BSTR untouched = reinterpret_cast<BSTR>(0x1234);
  bool ran = false;
  auto body = [&](std::string&) {
    ran = true;
    return S_OK;
  };
  tvtest::DebugCapture capture;
  EXPECT_EQ(operation(nullptr, &untouched, body), E_INVALIDARG);
  EXPECT_EQ(untouched, reinterpret_cast<BSTR>(0x1234));
  EXPECT_EQ(operation(input, nullptr, body), E_INVALIDARG);
  EXPECT_FALSE(ran);
  EXPECT_EQ(capture.lines(),
            (Lines{"ClientCrypto::example", "Invalid argument", "ClientCrypto::example", "Invalid argument"}));
  SysFreeString(input);
}

// The caller's previous string is the caller's: the result is written over
// the pointer without releasing it.
TEST(EdgeGuard, LeavesTheCallersPreviousStringAlone) {
  BSTR input = SysAllocString(WSTR("x"));
  BSTR previous = SysAllocString(WSTR("previous"));
  BSTR result = previous;
  ASSERT_EQ(operation(input, &result, [](std::string& envelope) {
              envelope = ClientCrypto::successWithString("new");
              return S_OK;
            }),
            S_OK);
  EXPECT_NE(result, previous);
  EXPECT_EQ(tvtest::bstrToUtf8(previous), "previous");
  SysFreeString(previous);
  SysFreeString(result);
  SysFreeString(input);
}

}  // namespace
