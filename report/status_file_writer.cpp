// Durable appends to the status file, with a bounded retry. The file is the
// run's results log: a factor reported as saved must survive a crash, and a
// disk that stays full or read-only must end the run rather than hang it.
#include "report/status_file_writer.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <thread>

namespace veksieve {

namespace {

int write_all(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t written = ::write(fd, data.data(), data.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    data.remove_prefix(static_cast<std::size_t>(written));
  }
  return 0;
}

// A device or pipe named as status file cannot be synced; what it was given
// is as saved as it will ever be.
bool sync_unsupported(int error) { return error == EINVAL || error == ENOTSUP || error == EROFS; }

}  // namespace

int append_line_once(const std::string& path, std::string_view line) {
  int fd;
  do {
    fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return errno;

  struct stat before;
  const bool sized = ::fstat(fd, &before) == 0;
  int error = write_all(fd, line);
  if (error != 0) {
    if (sized && S_ISREG(before.st_mode)) {
      [[maybe_unused]] int ignored = ::ftruncate(fd, before.st_size);
    }
  } else if (::fsync(fd) != 0 && !sync_unsupported(errno)) {
    error = errno;
  }
  if (::close(fd) != 0 && error == 0 && errno != EINTR) error = errno;
  return error;
}

status_file_writer::status_file_writer(std::string path, console_channel& channel, retry_policy policy,
                                       const std::atomic<bool>* interrupted)
    : path_(std::move(path)), channel_(channel), policy_(policy), interrupted_(interrupted) {}

bool status_file_writer::append(std::string_view line) {
  if (gave_up_) {
    unsaved_.emplace_back(line);
    return false;
  }
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    const int error = append_line_once(path_, line);
    if (error == 0) {
      if (failing_) channel_.print_messagef("The status file '%s' can be written again", path_.c_str());
      failing_ = false;
      return true;
    }
    if (!failing_) {
      channel_.print_messagef("The status file '%s' cannot be written: %s - trying again for up to %lld seconds",
                              path_.c_str(), std::strerror(error),
                              static_cast<long long>((policy_.give_up_after.count() + 999) / 1000));
      failing_ = true;
    }
    const bool out_of_time = std::chrono::steady_clock::now() - start >= policy_.give_up_after;
    const bool stopping = interrupted_ != nullptr && interrupted_->load(std::memory_order_relaxed);
    if (out_of_time || stopping) break;
    std::this_thread::sleep_for(policy_.pause);
  }
  channel_.print_messagef("Giving up on the status file '%s'", path_.c_str());
  gave_up_ = true;
  unsaved_.emplace_back(line);
  return false;
}

}  // namespace veksieve
