// The native messaging framing as a browser's pipe delivers it: in pieces of
// any size, with messages too large, zero-length or cut off.
#include "framing.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

using bridge::FrameStatus;

std::string header(std::uint32_t length) {
  std::string bytes(4, '\0');
  std::memcpy(bytes.data(), &length, 4);
  return bytes;
}

std::string framed(const std::string& body) { return header(static_cast<std::uint32_t>(body.size())) + body; }

// Reads every frame of the input, delivered `piece` bytes at a time, with a
// request limit of 16 bytes; stops after the first frame that ends the input.
std::vector<bridge::Frame> readAll(const std::string& input, std::size_t piece) {
  std::size_t offset = 0;
  bridge::FrameReader reader(
      [&](char* buffer, std::size_t size) {
        std::size_t count = std::min({size, piece, input.size() - offset});
        std::memcpy(buffer, input.data() + offset, count);
        offset += count;
        return count;
      },
      16);
  std::vector<bridge::Frame> frames;
  do frames.push_back(reader.next());
  while (frames.back().status == FrameStatus::Message || frames.back().status == FrameStatus::TooLarge);
  return frames;
}

struct Case {
  const char* name;
  std::string input;
  std::vector<FrameStatus> statuses;
  std::vector<std::string> bodies;  // of the Message frames, in order
};

TEST(FrameReader, ReadsMessagesWhateverPiecesTheyArriveIn) {
  const std::string oversized(17, 'x');
  using S = FrameStatus;
  const Case cases[] = {
      {"two messages", framed("{\"a\":1}") + framed("[]"), {S::Message, S::Message, S::End}, {"{\"a\":1}", "[]"}},
      {"zero-length", framed("") + framed("1"), {S::Message, S::Message, S::End}, {"", "1"}},
      {"oversized is skipped whole", framed(oversized) + framed("ok"), {S::TooLarge, S::Message, S::End}, {"ok"}},
      {"exactly the request limit", framed(std::string(16, 'y')), {S::Message, S::End}, {std::string(16, 'y')}},
      {"beyond the protocol", header(bridge::kProtocolLimit + 1) + "xx", {S::Excessive}, {}},
      {"at the protocol's limit, cut off", header(bridge::kProtocolLimit) + "xx", {S::Torn}, {}},
      {"torn header", framed("1") + "\x05\x00", {S::Message, S::Torn}, {"1"}},
      {"torn body", header(10) + "12345", {S::Torn}, {}},
      {"torn oversized body", header(100) + oversized, {S::Torn}, {}},
      {"nothing", "", {S::End}, {}},
  };
  for (const Case& c : cases) {
    for (std::size_t piece : {1, 3, 4096}) {
      std::vector<bridge::Frame> frames = readAll(c.input, piece);
      std::vector<FrameStatus> statuses;
      std::vector<std::string> bodies;
      for (const bridge::Frame& frame : frames) {
        statuses.push_back(frame.status);
        if (frame.status == FrameStatus::Message) bodies.push_back(frame.body);
      }
      EXPECT_EQ(statuses, c.statuses) << c.name << ", pieces of " << piece;
      EXPECT_EQ(bodies, c.bodies) << c.name << ", pieces of " << piece;
    }
  }
}

TEST(FrameReader, RepliesStayWithinWhatABrowserAccepts) {
  EXPECT_EQ(bridge::encodeFrame("{}"), header(2) + "{}");
  EXPECT_EQ(bridge::encodeFrame(std::string(bridge::kReplyLimit, ' ')).size(), bridge::kReplyLimit + 4);
  EXPECT_THROW(bridge::encodeFrame(std::string(bridge::kReplyLimit + 1, ' ')), std::length_error);
}

}  // namespace
