#include "shared/clientcrypto.h"

#include "common/exceptions.h"
#include "common/wide.h"

#include "support/debugcapture.h"
#include "support/json.h"
#include "support/threadlocale.h"
#include "support/thrown.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;
using Body = std::function<HRESULT(std::string&)>;

// An operation shaped like the client operations: one required input besides
// the result pointer.
HRESULT operation(BSTR input, BSTR* result, const Body& body) {
  return ClientCrypto::runOperation("ClientCrypto::example", "Invalid argument", {input}, result, body);
}

struct Outcome {
  HRESULT status;
  tvtest::Envelope envelope;
  Lines trace;
};

Outcome run(const Body& body) {
  tvtest::DebugCapture capture;
  BSTR input = SysAllocString(WSTR("x"));
  BSTR result = nullptr;
  HRESULT status = operation(input, &result, body);
  Outcome outcome{status, tvtest::parseEnvelope(result), capture.lines()};
  SysFreeString(result);
  SysFreeString(input);
  return outcome;
}

const std::string kRaisedHere = "Exception has been thrown in file 'shared/clientcrypto.cpp' at line #. The text is: ";

// A std::exception's text (an empty one reads "Unknown error"), anything else
// "Unspecified error"; the body's own envelope is never delivered.
TEST(EdgeGuard, TurnsEveryFailureIntoAnErrorEnvelopeWithSuccessStatus) {
  const std::string notFound = Sys::OsError("shared/clientcrypto.cpp", 12, "Certificate wasnt found").what();
  const struct {
    std::function<void()> raise;
    std::string result, traced;  // the envelope's result, the guard's trace line
  } cases[] = {
      {[] { throw Sys::OsError("shared/clientcrypto.cpp", 12, "Certificate wasnt found"); }, notFound,
       "Error: " + notFound + "\r\n"},
      {[] { throw std::invalid_argument(""); }, "Unknown error", "Error: \r\n"},
      {[] { throw ComError(E_OUTOFMEMORY); }, "Unspecified error", "Unspecified error"},
  };
  for (const auto& c : cases) {
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

TEST(EdgeGuard, MissingPointersAreRefusedBeforeTheBodyRunsAndTheOutputIsLeftAlone) {
  BSTR input = SysAllocString(WSTR("x"));
  BSTR previous = SysAllocString(WSTR("previous"));
  BSTR result = previous;
  int runs = 0;
  auto body = [&](std::string& envelope) {
    ++runs;
    envelope = ClientCrypto::successWithString("new");
    return S_OK;
  };
  tvtest::DebugCapture capture;
  EXPECT_EQ(operation(nullptr, &result, body), E_INVALIDARG);
  EXPECT_EQ(operation(input, nullptr, body), E_INVALIDARG);
  EXPECT_EQ(result, previous);
  EXPECT_EQ(capture.lines(), (Lines{"ClientCrypto::example", "Invalid argument", "ClientCrypto::example", "Invalid argument"}));
  // The caller's previous string stays the caller's to release.
  EXPECT_EQ(operation(input, &result, body), S_OK);
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(tvtest::bstrToUtf8(previous), "previous");
  for (BSTR s : {input, previous, result}) SysFreeString(s);
}

TEST(Bstr, TextsTravelInTheThreadsCodePage) {
  const std::pair<const char*, std::string> locales[] = {
      {"ru_RU.UTF-8", "Привет"},
      {"ru_RU.CP1251", "\xCF\xF0\xE8\xE2\xE5\xF2"},
  };
  for (const auto& [locale, privet] : locales) {
    tvtest::ThreadLocale thread(locale);
    std::string text, utf8;
    for (int i = 0; i < 300; ++i) text += privet, utf8 += "Привет";  // longer than a first guess of room
    BSTR wide = toBstr(text);
    EXPECT_EQ(tvtest::bstrToUtf8(wide), utf8) << locale;
    EXPECT_EQ(fromBstr(wide), text) << locale;
    SysFreeString(wide);
  }
  BSTR empty = toBstr("");  // a string, not null
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(SysStringLen(empty), 0u);
  SysFreeString(empty);
  EXPECT_EQ(fromBstr(nullptr), "");
  tvtest::ThreadLocale cp1251("ru_RU.CP1251");
  BSTR unmappable = SysAllocStringLen(u"a中b\0cd", 6);
  EXPECT_EQ(fromBstr(unmappable), "a?b");  // the default character, then cut at the zero
  SysFreeString(unmappable);
}

// The conversion itself is the platform's (tested there); here its edges.
TEST(ToUtf8, GivesTheUtf8BytesWithoutTerminatorAndRefusesNullAndEmpty) {
  EXPECT_EQ(ClientCrypto::toUtf8(u"Пр"), (std::vector<BYTE>{0xD0, 0x9F, 0xD1, 0x80}));
  for (const auto& [text, refusal] : {std::pair{static_cast<const WCHAR*>(nullptr), "Invalid pointer"},
                                      std::pair{u"", "The parameter is incorrect.\r\n"}}) {
    EXPECT_EQ(tvtest::lineless(tvtest::thrownText([&] { ClientCrypto::toUtf8(text); })), kRaisedHere + refusal);
  }
}

}  // namespace
