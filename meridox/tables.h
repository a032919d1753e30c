// The results of meridox as CSV tables: components.csv, correlations.csv, problems.csv
// and, with the genetic parameters, genetics.csv.
#pragma once

#include <filesystem>

#include "meridox/results.h"
#include "records/csv.h"
#include "records/io.h"

namespace meridox {

// The tables of a run, filled problem by problem and written at its end.
class CsvTables {
 public:
  explicit CsvTables(bool genetics);

  // Adds the rows of one problem (its problems.csv row only, when it has no results).
  void add(const ProblemResult& res);
  bool empty() const { return problems_.rows() == 0; }

  // Writes the tables into `dir` (which exists), each whole or not at all. Throws
  // rec::RunError when a file cannot be written, or when one is an input of the run.
  void write(rec::Io& io, const std::filesystem::path& dir) const;

 private:
  bool genetics_;
  rec::csv::Table components_, correlations_, problems_, genetic_;
};

}  // namespace meridox
