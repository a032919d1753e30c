// The results of meridox as CSV tables: components.csv, correlations.csv, problems.csv
// and, with the genetic parameters, genetics.csv.
#pragma once

#include <filesystem>
#include <span>
#include <string>

#include "meridox/results.h"

namespace meridox {

std::string components_csv(std::span<const ProblemResult> results);
std::string correlations_csv(std::span<const ProblemResult> results);
std::string problems_csv(std::span<const ProblemResult> results);
std::string genetics_csv(std::span<const ProblemResult> results);

// Writes the tables into `dir` (which exists), each whole or not at all; genetics.csv
// only when `genetics` is set. Throws rec::RunError when a file cannot be written.
void write_tables(const std::filesystem::path& dir, std::span<const ProblemResult> results,
                  bool genetics);

}  // namespace meridox
