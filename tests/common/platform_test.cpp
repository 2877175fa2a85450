// The platform seam on the system it was built for (Linux natively, Windows
// under wine): the status file's durable writes with this system's line end,
// read back together with lines another system wrote; the machine queries.
#include "common/platform.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "report/status_file.hpp"

namespace veksieve {
namespace {

namespace fs = std::filesystem;

std::string file_bytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A file of its own in the temporary directory, which other builds share.
struct scratch_file {
  fs::path path = fs::temp_directory_path() / ("veksieve-platform-" + std::to_string(std::random_device{}()));
  ~scratch_file() { fs::remove(path); }
};

TEST(platform, durable_writes_use_the_system_line_end_and_continue_a_file_from_the_other_system) {
  scratch_file file;
  const std::string eol(native_line_end);
  ASSERT_EQ(write_durably(file.path.string(), range_lines(1000000, 5000000000), write_mode::replace), 0);
  ASSERT_EQ(write_durably(file.path.string(), factor_text({1136609, 1013, 10953}) + "\n"), 0);
  EXPECT_EQ(file_bytes(file.path), "pmax=5000000000" + eol + "pmin=1000000" + eol + "1136609 | 1013*2^10953+1" + eol);

  // A file the other system started: its lines keep their ends, ours get ours.
  const std::string other_eol = eol == "\n" ? "\r\n" : "\n";
  const std::string started = "pmax=50000000" + other_eol + "pmin=1000000" + other_eol + "1136609 | 1013*2^10953+1" +
                              other_eol + "pmin=1198402" + other_eol;
  std::ofstream(file.path, std::ios::binary | std::ios::trunc) << started;
  ASSERT_EQ(write_durably(file.path.string(), "1269337 | 2293*2^10284+1\npmin=1300000\n"), 0);
  EXPECT_EQ(file_bytes(file.path), started + "1269337 | 2293*2^10284+1" + eol + "pmin=1300000" + eol);

  std::ifstream in(file.path, std::ios::binary);
  const status_reading reading = read_status(in, [] { return false; });
  EXPECT_EQ(reading.problem, status_problem::none);
  EXPECT_EQ(reading.contents.pmax, 50000000);
  EXPECT_EQ(reading.contents.pmin, 1300000);
  EXPECT_EQ(reading.contents.factors,
            (std::vector<factor_line>{{1136609, 1013, 10953}, {1269337, 2293, 10284}}));
}

TEST(platform, a_file_that_cannot_be_opened_is_reported_as_such) {
  const fs::path missing = fs::temp_directory_path() / "veksieve-no-such-directory" / "VekStatus.dat";
  bool opened = true;
  EXPECT_EQ(write_durably(missing.string(), "Done\n", write_mode::append, &opened), ENOENT);
  EXPECT_FALSE(opened);
}

TEST(platform, the_machine_has_processors_and_memory) {
  EXPECT_GE(usable_cpu_count(), 1);
  EXPECT_GT(physical_memory_bytes(), int64_t{1} << 24);
}

}  // namespace
}  // namespace veksieve
