// The example run on pseudo-terminals of 80 and 40 columns: every rewrite of
// the status line must stay narrower than the terminal, or it wraps and '\r'
// no longer returns to its start.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/program_process.hpp"
#include "tests/support/temp_dir.hpp"

namespace veksieve {
namespace {

// The pieces of terminal output between carriage returns and line feeds,
// with the escape code that clears the rest of a line taken out.
std::vector<std::string> rows_written(const std::string& output) {
  std::vector<std::string> rows;
  std::string row;
  for (std::size_t i = 0; i <= output.size(); ++i) {
    if (i == output.size() || output[i] == '\r' || output[i] == '\n') {
      if (!row.empty()) rows.push_back(row);
      row.clear();
    } else if (output.compare(i, 3, "\x1b[K") == 0) {
      i += 2;
    } else {
      row += output[i];
    }
  }
  return rows;
}

// The share done a live row shows ("...; 51.2% done..."), or -1 without one.
double share_done(const std::string& row) {
  const std::size_t done = row.find("% done");
  if (done == std::string::npos) return -1;
  const std::size_t from = row.rfind("; ", done);
  return from == std::string::npos ? -1 : std::stod(row.substr(from + 2, done - from - 2));
}

TEST(live_line, rewrites_fit_terminals_of_80_and_40_columns) {
  struct terminal {
    unsigned short columns;
    std::string extra_status;  // appended to the example's status file
    double least_share;        // the share done every rewrite shows at least
    bool rate_shown;           // the rate and time left still fit
  };
  // At 80 columns the prime in words gives way to the rest when need be; at
  // 40 the rate and the time left follow it. A resumed run counts its share
  // from the range's start, as its "Resuming" line does (half of 1 to 50
  // million).
  const terminal terminals[] = {{80, "", 0, true}, {40, "pmin=25500000\n", 50, false}};
  for (const terminal& t : terminals) {
    testing::temp_dir dir;
    std::filesystem::copy_file(VEKSIEVE_EXAMPLES "/Vek.dat", dir.file("Vek.dat"));
    std::filesystem::copy_file(VEKSIEVE_EXAMPLES "/start-status.dat", dir.file("VekStatus.dat"));
    if (!t.extra_status.empty()) dir.write("VekStatus.dat", dir.read("VekStatus.dat") + t.extra_status);

    testing::program_process run(dir.path().string(), {"-t=1"}, "", {}, t.columns);
    const testing::program_end end = run.finish();
    ASSERT_EQ(end.exit_status, 0) << end.output;

    int live_rows = 0;
    for (const std::string& row : rows_written(end.output)) {
      if (row.rfind("Sieved up to", 0) != 0) continue;
      EXPECT_LT(row.size(), t.columns) << row;
      EXPECT_GE(share_done(row), t.least_share) << t.columns << " columns: " << row;
      if (!t.rate_shown) {
        EXPECT_EQ(row.find("rate"), std::string::npos) << row;
      }
      ++live_rows;
    }
    EXPECT_GT(live_rows, 10) << end.output;
    if (t.columns == 80) {
      EXPECT_NE(end.output.find(" left"), std::string::npos) << "the rate was never known";
    }
    EXPECT_EQ(end.output.substr(end.output.size() - 6), "Done\r\n");
  }
}

}  // namespace
}  // namespace veksieve
