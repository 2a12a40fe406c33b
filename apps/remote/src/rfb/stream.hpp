#pragma once
// The byte streams every handshake step and decoder works on: one small input
// interface with a memory and a socket implementation (socket.hpp), and a sink
// for what the client writes.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "apps/remote/src/rfb/error.hpp"

namespace remote::rfb {

class InputStream {
 public:
  virtual ~InputStream() = default;

  // The next n bytes, blocking until they are there; fails with EndOfStream
  // when the stream ends first. The view stays valid until the next call on
  // the stream. Callers bound n before asking.
  virtual Result<std::span<const std::uint8_t>> read_view(std::size_t n) = 0;

  // Discards n bytes without holding more than one chunk of them.
  virtual Result<void> skip(std::uint64_t n);

  Result<void> read_exact(std::span<std::uint8_t> out);
  Result<std::uint8_t> read_u8();
  Result<std::uint16_t> read_u16();
  Result<std::uint32_t> read_u32();
  Result<std::int32_t> read_i32();
};

class OutputSink {
 public:
  virtual ~OutputSink() = default;
  // Writes every byte or fails.
  virtual Result<void> write_all(std::span<const std::uint8_t> bytes) = 0;
};

// Reads from bytes it does not own.
class MemoryStream final : public InputStream {
 public:
  explicit MemoryStream(std::span<const std::uint8_t> data) : data_(data) {}
  Result<std::span<const std::uint8_t>> read_view(std::size_t n) override;
  Result<void> skip(std::uint64_t n) override;
  std::size_t remaining() const { return data_.size() - pos_; }

 private:
  std::span<const std::uint8_t> data_;
  std::size_t pos_ = 0;
};

class MemorySink final : public OutputSink {
 public:
  Result<void> write_all(std::span<const std::uint8_t> bytes) override {
    data.insert(data.end(), bytes.begin(), bytes.end());
    return {};
  }
  std::vector<std::uint8_t> data;
};

Error end_of_stream();

}  // namespace remote::rfb
