// The option scan: backwards, so the first occurrence wins; the letter is
// case-blind; each rejected "-a=" prints the alpha message once.
#include "control/options.hpp"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace veksieve {
namespace {

constexpr const char* alpha_message = "Invalid alpha - using the default (2.5)\n";

struct scanned {
  double alpha;
  std::string status_file;
  std::string out;
};

scanned scan(std::vector<const char*> args) {
  args.insert(args.begin(), "veksieve");
  sieve_job job;
  job.alpha = -1;  // the scan must set the defaults itself
  std::ostringstream out;
  scan_options(static_cast<int>(args.size()), args.data(), job, out);
  return {job.alpha, job.status_file, out.str()};
}

std::string repeated(const char* text, int times) {
  std::string all;
  for (int i = 0; i < times; ++i) all += text;
  return all;
}

TEST(options, defaults_without_arguments) {
  const scanned s = scan({});
  EXPECT_EQ(s.alpha, 2.5);
  EXPECT_EQ(s.status_file, "VekStatus.dat");
  EXPECT_EQ(s.out, "");
}

TEST(options, alpha_values_accepted_and_rejected) {
  struct alpha_case {
    const char* arg;
    double alpha;
    bool rejected;
  };
  const alpha_case cases[] = {
      {"-a=0.1", 0.1, false},   {"-a=105", 105.0, false}, {"-a=105.0", 105.0, false},
      {"-a=3.5x", 3.5, false},  {"-a= 4", 4.0, false},    {"-a=+4", 4.0, false},
      {"-a=1e1", 10.0, false},  {"-A=3.5", 3.5, false},   {"-a=0.09", 2.5, true},
      {"-a=105.5", 2.5, true},  {"-a=x", 2.5, true},      {"-a=", 2.5, true},
      {"-a=-3", 2.5, true},     {"-a=nan", 2.5, true},    {"-a=inf", 2.5, true},
      {"-a=0x10", 2.5, true},   {"-a=+-3", 2.5, true},    {"-a=1e999", 2.5, true},
  };
  for (const alpha_case& c : cases) {
    const scanned s = scan({c.arg});
    EXPECT_EQ(s.alpha, c.alpha) << c.arg;
    EXPECT_EQ(s.out, c.rejected ? alpha_message : "") << c.arg;
  }
}

TEST(options, malformed_and_unknown_arguments_are_ignored) {
  for (const char* arg : {"-a3.5", "-alpha=3", "x-a=3", "-", "-a", "a=3", "-b=3", "-o", "--a=3", ""}) {
    const scanned s = scan({arg});
    EXPECT_EQ(s.alpha, 2.5) << arg;
    EXPECT_EQ(s.status_file, "VekStatus.dat") << arg;
    EXPECT_EQ(s.out, "") << arg;
  }
}

TEST(options, first_occurrence_wins_and_each_rejection_prints_once) {
  EXPECT_EQ(scan({"-a=3", "-a=4"}).alpha, 3.0);

  scanned s = scan({"-a=3", "-a=500"});
  EXPECT_EQ(s.alpha, 3.0);
  EXPECT_EQ(s.out, alpha_message);

  // The rejection, examined last, resets the value the later argument set.
  s = scan({"-a=500", "-a=3"});
  EXPECT_EQ(s.alpha, 2.5);
  EXPECT_EQ(s.out, alpha_message);

  s = scan({"-a=0", "-A=x", "-a=200", "-a=7"});
  EXPECT_EQ(s.alpha, 2.5);
  EXPECT_EQ(s.out, repeated(alpha_message, 3));

  EXPECT_EQ(scan({"-o=a.txt", "-o=b.txt"}).status_file, "a.txt");
  EXPECT_EQ(scan({"-O=dir/run 1.dat"}).status_file, "dir/run 1.dat");

  s = scan({"-o=x.dat", "-a=2", "junk", "-a=9"});
  EXPECT_EQ(s.alpha, 2.0);
  EXPECT_EQ(s.status_file, "x.dat");
}

}  // namespace
}  // namespace veksieve
