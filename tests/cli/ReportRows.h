// render's note report as the tests read it: the rows of its table.
#pragma once

#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace report_rows {

struct Row {
  double start, end, hz;  // seconds, seconds, the reading
  std::string text;       // the whole row
};

// The rows after the table's heading, up to the first that is not one.
inline std::vector<Row> Rows(const std::string& out) {
  std::vector<Row> rows;
  const size_t heading = out.find("Start (s)");
  if (heading == std::string::npos) return rows;
  std::istringstream lines(out.substr(out.find('\n', heading) + 1));
  for (std::string line; std::getline(lines, line);) {
    Row row{0, 0, 0, line};
    if (std::sscanf(line.c_str(), "%lf %lf %lf", &row.start, &row.end, &row.hz) != 3) break;
    rows.push_back(row);
  }
  return rows;
}

inline double CentsOff(double hz, double reference) { return 1200 * std::log2(hz / reference); }

}  // namespace report_rows
