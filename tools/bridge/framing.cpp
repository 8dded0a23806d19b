#include "framing.h"

#include <cstring>
#include <stdexcept>

namespace bridge {

std::size_t FrameReader::fill(char* buffer, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    std::size_t got = source_(buffer + done, size - done);
    if (got == 0) break;
    done += got;
  }
  return done;
}

bool FrameReader::skip(std::size_t size) {
  char scratch[8192];
  while (size > 0) {
    std::size_t step = size < sizeof scratch ? size : sizeof scratch;
    if (fill(scratch, step) != step) return false;
    size -= step;
  }
  return true;
}

Frame FrameReader::next() {
  char header[sizeof(std::uint32_t)];
  std::size_t got = fill(header, sizeof header);
  if (got == 0) return {FrameStatus::End, {}};
  if (got != sizeof header) return {FrameStatus::Torn, {}};
  std::uint32_t length;
  std::memcpy(&length, header, sizeof length);
  if (length > kProtocolLimit) return {FrameStatus::Excessive, {}};
  if (length > requestLimit_) return {skip(length) ? FrameStatus::TooLarge : FrameStatus::Torn, {}};
  std::string body(length, '\0');
  if (fill(body.data(), length) != length) return {FrameStatus::Torn, {}};
  return {FrameStatus::Message, std::move(body)};
}

std::string encodeFrame(std::string_view body) {
  if (body.size() > kReplyLimit) throw std::length_error("A message to the browser is limited to 1 MiB");
  auto length = static_cast<std::uint32_t>(body.size());
  std::string frame(sizeof length, '\0');
  std::memcpy(frame.data(), &length, sizeof length);
  frame.append(body);
  return frame;
}

}  // namespace bridge
