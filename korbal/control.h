// Control records of korbal: the dimension record, its checks, the banner and the
// problem description.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "korbal/korbal.h"
#include "records/io.h"

namespace korbal {

// Reads the dimension record "(15I3)" from the control file. False at its end.
bool read_dimensions(rec::Io& io, Control& c);

// Reads the title record "(20A4)" (no end-of-file branch).
void read_title(rec::Io& io, std::string& TITLE);

// Reads the variable names "(4(2A8,4X))" from the control file: four names a record,
// each of two 8-character halves. Returns the NV names of 16 characters.
std::vector<std::string> read_variable_names(rec::Io& io, int NV);

// Checks the dimension record before anything is printed: too many variables,
// negative counts, an effect by location without locations or without the effect it
// splits, a data unit that is already in use. Writes the one
// "JOB TERMINATED" line on the report and the console and returns false when the
// record is refused.
bool check_dimensions(rec::Io& io, const Control& c);

// Self lines (c.selfs, the option --selfs) need self columns in the model: with ISELF < 0
// a run-time error (rec::RunError), before any output is written.
void check_selfs(const Control& c);

// The banner: title page of the report.
void print_banner(rec::Io& io);

// The problem description: title, counts (as given) and switches.
void describe_problem(rec::Io& io, const Control& c, const std::string& TITLE);

// Cross-products answer of the problem description: " YES" or "  NO".
const char* cross_answer(int CROSS);

// Design layout of the data lines for the counts as read (before a count of 1
// becomes 0): a location field when NLOC >= 1, a replication field when NREP >= 1.
Layout layout_of(int NLOC, int NREP);

// The title of a report as the 20 items of "20A4": four characters each, views into
// `title` (which outlives the write); pieces beyond a shorter title are short or empty.
std::vector<rec::Item> title_items(std::string_view title);

// The row of stars of the banners and the effect list: the 23 items " * *" of "23A4".
std::span<const rec::Item> star_items();

// A message line on the report and the console alike (the "JOB TERMINATED" lines and
// the lines about bad data).
void report_and_console(rec::Io& io, const rec::Format& fmt, std::initializer_list<rec::Item> items);

}  // namespace korbal
