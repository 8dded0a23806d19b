#include "common/trace.h"

#include "support/debugcapture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

TEST(Trace, HandsEachTextOverUnchangedAsOneString) {
  tvtest::DebugCapture capture;
  Sys::trace("ClientCrypto::signHash");
  Sys::trace("");
  Sys::trace("two\r\nlines\r\n");
  Sys::trace(std::string("[{\"a\":1},{\"b\":2}]"));
  EXPECT_EQ(capture.lines(), (Lines{"ClientCrypto::signHash", "", "two\r\nlines\r\n", "[{\"a\":1},{\"b\":2}]"}));
}

TEST(TraceFormat, FormatsAndEndsTheLineWithCarriageReturnAndLineFeed) {
  tvtest::DebugCapture capture;
  Sys::traceFormat("Error: %s", "Broken stream (1)");
  Sys::traceFormat("%d-%u-%x", -5, 7u, 255u);
  // A text that brings its own line break gets a second one; its % stays.
  Sys::traceFormat("Error: %s", "100% sure\r\n");
  EXPECT_EQ(capture.lines(), (Lines{"Error: Broken stream (1)\r\n", "-5-7-ff\r\n", "Error: 100% sure\r\n\r\n"}));
}

TEST(TraceFormat, LongTextsArriveWhole) {
  tvtest::DebugCapture capture;
  std::string json(100000, 'x');
  Sys::traceFormat("Error: %s", json.c_str());
  ASSERT_EQ(capture.lines().size(), 1u);
  EXPECT_EQ(capture.lines()[0], "Error: " + json + "\r\n");
}

}  // namespace
