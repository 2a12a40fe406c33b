#include "apps/remote/src/rfb/stream.hpp"

#include <algorithm>
#include <cstring>

namespace remote::rfb {

namespace {
// Large skips (cut text, reasons, colour maps) go in chunks of this size.
constexpr std::size_t kSkipChunk = 64 * 1024;
}  // namespace

Error end_of_stream() { return Error{ErrorKind::EndOfStream, "failed to fill whole buffer"}; }

Result<void> InputStream::skip(std::uint64_t n) {
  while (n > 0) {
    const std::size_t chunk = static_cast<std::size_t>(std::min<std::uint64_t>(n, kSkipChunk));
    auto view = read_view(chunk);
    if (!view) return std::unexpected(view.error());
    n -= chunk;
  }
  return {};
}

Result<void> InputStream::read_exact(std::span<std::uint8_t> out) {
  auto view = read_view(out.size());
  if (!view) return std::unexpected(view.error());
  if (!out.empty()) std::memcpy(out.data(), view->data(), out.size());
  return {};
}

Result<std::uint8_t> InputStream::read_u8() {
  auto v = read_view(1);
  if (!v) return std::unexpected(v.error());
  return (*v)[0];
}

Result<std::uint16_t> InputStream::read_u16() {
  auto v = read_view(2);
  if (!v) return std::unexpected(v.error());
  return static_cast<std::uint16_t>(((*v)[0] << 8) | (*v)[1]);
}

Result<std::uint32_t> InputStream::read_u32() {
  auto v = read_view(4);
  if (!v) return std::unexpected(v.error());
  return (std::uint32_t{(*v)[0]} << 24) | (std::uint32_t{(*v)[1]} << 16) | (std::uint32_t{(*v)[2]} << 8) |
         std::uint32_t{(*v)[3]};
}

Result<std::int32_t> InputStream::read_i32() {
  auto v = read_u32();
  if (!v) return std::unexpected(v.error());
  return static_cast<std::int32_t>(*v);
}

Result<std::span<const std::uint8_t>> MemoryStream::read_view(std::size_t n) {
  if (n > data_.size() - pos_) {
    pos_ = data_.size();
    return std::unexpected(end_of_stream());
  }
  auto view = data_.subspan(pos_, n);
  pos_ += n;
  return view;
}

Result<void> MemoryStream::skip(std::uint64_t n) {
  if (n > data_.size() - pos_) {
    pos_ = data_.size();
    return std::unexpected(end_of_stream());
  }
  pos_ += static_cast<std::size_t>(n);
  return {};
}

}  // namespace remote::rfb
