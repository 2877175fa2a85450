// The messages between the ranks of veksieve-mpi and the few MPI calls that
// carry them. Every message is a kind (the MPI tag) and plain bytes; the
// ranks run the same program on machines of one architecture, so plain
// structs travel as they lie in memory.
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <type_traits>
#include <vector>

namespace veksieve {

enum class message_kind : int {
  hello = 1,   // to rank 0: the rank's sequence file read (or why not) and its checksum
  start,       // from rank 0: sieve, with this alpha
  quit,        // from rank 0: the run ends before sieving
  request,     // to rank 0: a worker thread wants a chunk
  chunk,       // from rank 0: the chunk for the oldest open request
  no_chunk,    // from rank 0: none left for it
  result,      // to rank 0: a chunk sieved, with its records
  heartbeat,   // to rank 0: still here
  stop,        // from rank 0: stop sieving and finish
  finished,    // to rank 0: every worker ended and every result was sent
  no_memory,   // to rank 0: a worker could not get its memory
};

struct message {
  int source = 0;
  message_kind kind{};
  std::vector<char> bytes;
};

void send_message(int destination, message_kind kind, std::span<const char> bytes = {});
// The next message from `source` (MPI_ANY_SOURCE for any), if one is there.
std::optional<message> poll_message(int source);
// Waits for the next message from `source`.
message receive_message(int source);

// Plain values and arrays into and out of a message's bytes.
class byte_writer {
 public:
  template <class T>
  byte_writer& put(const T& value) {
    static_assert(std::is_trivially_copyable_v<T>);
    const auto* from = reinterpret_cast<const char*>(&value);
    bytes_.insert(bytes_.end(), from, from + sizeof value);
    return *this;
  }
  template <class T>
  byte_writer& put_all(std::span<const T> values) {
    static_assert(std::is_trivially_copyable_v<T>);
    put(static_cast<uint64_t>(values.size()));
    const auto* from = reinterpret_cast<const char*>(values.data());
    bytes_.insert(bytes_.end(), from, from + values.size_bytes());
    return *this;
  }
  byte_writer& put_text(const std::string& text) { return put_all(std::span<const char>(text)); }
  std::span<const char> bytes() const { return bytes_; }

 private:
  std::vector<char> bytes_;
};

class byte_reader {
 public:
  explicit byte_reader(std::span<const char> bytes) : bytes_(bytes) {}
  // False once a read ran past the end; the values read are then zero.
  bool ok() const { return ok_; }
  template <class T>
  T get() {
    static_assert(std::is_trivially_copyable_v<T>);
    T value{};
    if (take(sizeof value)) std::memcpy(&value, bytes_.data() + at_ - sizeof value, sizeof value);
    return value;
  }
  template <class T>
  std::vector<T> get_all() {
    const auto count = get<uint64_t>();
    std::vector<T> values;
    if (count > (bytes_.size() - at_) / sizeof(T)) {
      ok_ = false;
      return values;
    }
    values.resize(count);
    take(count * sizeof(T));
    std::memcpy(values.data(), bytes_.data() + at_ - count * sizeof(T), count * sizeof(T));
    return values;
  }
  std::string get_text() {
    const std::vector<char> text = get_all<char>();
    return {text.begin(), text.end()};
  }

 private:
  bool take(std::size_t size) {
    if (!ok_ || size > bytes_.size() - at_) return ok_ = false;
    at_ += size;
    return true;
  }
  std::span<const char> bytes_;
  std::size_t at_ = 0;
  bool ok_ = true;
};

}  // namespace veksieve
