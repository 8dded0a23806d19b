// The native messaging framing that Chromium and Firefox use: each message
// is a 32-bit length in the machine's byte order followed by that many bytes
// of UTF-8 JSON. Reading is a plain object over a byte source, so tests and
// fuzzers drive it without a process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace bridge {

// A browser never sends a message above 64 MiB: a longer length means the
// stream is not this protocol (or is out of step), and the connection ends.
constexpr std::uint32_t kProtocolLimit = 64u << 20;
// The largest request the host reads; a longer one is skipped and refused.
constexpr std::uint32_t kRequestLimit = 8u << 20;
// A browser drops the connection on a message from the host above 1 MiB.
constexpr std::size_t kReplyLimit = 1u << 20;

enum class FrameStatus {
  Message,   // body holds a whole message
  TooLarge,  // a message above the request limit, skipped whole
  End,       // the input ended between messages
  Torn,      // the input ended inside a message
  Excessive  // a length above the protocol's limit
};

struct Frame {
  FrameStatus status;
  std::string body;
};

class FrameReader {
 public:
  // Reads up to size bytes into buffer; returns how many, 0 at the end.
  using Source = std::function<std::size_t(char* buffer, std::size_t size)>;

  explicit FrameReader(Source source, std::uint32_t requestLimit = kRequestLimit)
      : source_(std::move(source)), requestLimit_(requestLimit) {}

  Frame next();

 private:
  // How many of size bytes arrived before the input ended.
  std::size_t fill(char* buffer, std::size_t size);
  bool skip(std::size_t size);

  Source source_;
  std::uint32_t requestLimit_;
};

// The length prefix and the body; the body must be at most kReplyLimit bytes.
std::string encodeFrame(std::string_view body);

}  // namespace bridge
