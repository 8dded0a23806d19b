#include "common/trace.h"

#include "support/debugcapture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(Trace, HandsEachTextOverAsOneStringAndFormattedLinesEndInCrLf) {
  tvtest::DebugCapture capture;
  const std::string longText(100000, 'x');
  Sys::trace("ClientCrypto::signHash");
  Sys::trace("");
  Sys::trace("two\r\nlines");
  Sys::traceFormat("Error: %s", "Broken stream (1)");
  Sys::traceFormat("Error: %s", "100% sure\r\n");  // its own line break, then the added one
  Sys::traceFormat("%d %s", -5, longText.c_str());
  EXPECT_EQ(capture.lines(), (std::vector<std::string>{"ClientCrypto::signHash", "", "two\r\nlines",
                                                       "Error: Broken stream (1)\r\n", "Error: 100% sure\r\n\r\n",
                                                       "-5 " + longText + "\r\n"}));
}

}  // namespace
