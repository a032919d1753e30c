// The run of meridox: files, banner, and the loop over the problems of the input file.
// Each problem is read, solved into its results, and then written: to the report as it
// goes, and into the CSV tables at the end of the run.
#include <array>
#include <cstdint>
#include <set>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <sys/stat.h>

#include "meridox/arrays.h"
#include "meridox/error_file.h"
#include "meridox/meridox.h"
#include "meridox/problem.h"
#include "meridox/results.h"
#include "meridox/tables.h"
#include "records/csv.h"
#include "records/format.h"
#include "records/interchange.h"
#include "records/io.h"
#include "records/program.h"

namespace meridox {

namespace {

constexpr int kIn = kInputUnit;
constexpr int kOut = kReportUnit;
const std::span<const rec::Item> kNoItems{};

void write_banner(rec::Io& io) {
  static const rec::Format kBanner = rec::Format::compile(
      "('1',/,/,' ',T21,' * * * * * * * * E S T I M A T E D    V A R I A N C E   "
      "C O M P O N E N T S  * * * * * * * *',/,/,"
      "' ',T40,'Components, standard deviations, F tests and correlations',/,/,"
      "' ',T46,'by the method of moments for diallels.',/,/,"
      "' ',T21,46(' *'),/,/)");
  io.write(kOut, kBanner, kNoItems);
}

// A problem that ends the run: its "JOB TERMINATED" message goes to the report and the
// console, and its status and message to the problems table.
struct Stop {
  ProblemStatus status;
  std::string note;
};

// Reports a count outside what the arrays hold, or that cannot be a count, in one line;
// the caller ends the run.
Stop reject(rec::Io& io, std::string_view what, long long value, std::string_view limit) {
  static const rec::Format kLimit =
      rec::Format::compile("('1 ',A,' ',A,'; ',A,'.   JOB TERMINATED')");
  static const rec::Format kConsoleLine =
      rec::Format::compile("(' ',A,' ',A,'; ',A,'.   JOB TERMINATED')");
  const std::string v = std::to_string(value);
  io.write(kOut, kLimit, {what, v, limit});
  io.write(rec::kConsole, kConsoleLine, {what, v, limit});
  return {ProblemStatus::Rejected, std::string(what) + " " + v + "; " + std::string(limit)};
}

// Reads one problem after its header. Returns the stop (after its message) when the
// error degrees of freedom of an analysis differ from those of the first, or when
// degrees of freedom are negative.
std::optional<Stop> read_problem(rec::Io& io, Problem& pb) {
  namespace ic = rec::interchange;
  const int ne = pb.ne;
  for (int e = 0; e < ne; ++e) {
    std::string code;
    std::int32_t df = 0;
    std::array<double, kMaxComp> coef{};
    ic::read_coefficients(io, kIn, code, df, std::span<double>(coef.data(), ne));
    code.resize(4, ' ');
    pb.cname[e] = code;
    pb.idf[e] = df;
    if (df < 0) {
      return reject(io, "THE DEGREES OF FREEDOM OF " + std::string(rec::csv::trimmed(code)) + " ARE",
                    df, "THEY MUST BE AT LEAST 0");
    }
    enter_coefficients(pb, e, std::span<const double>(coef.data(), ne));
  }
  for (int k = 0; k < pb.nanal; ++k) {
    std::string label;
    ic::read_label(io, kIn, label);
    label.resize(40, ' ');
    pb.alabel[k] = label;
    ic::read_mean_squares(io, kIn, std::span<double>(pb.xms[k].data(), ne));
    std::int32_t df = 0;
    double ms = 0.0;
    ic::read_error(io, kIn, df, ms);
    pb.idf[ne] = df;
    pb.xms[k][ne] = ms;
    if (df < 0) return reject(io, "THE ERROR DEGREES OF FREEDOM ARE", df, "THEY MUST BE AT LEAST 0");
    if (k == 0) {
      pb.lastdf = df;
    } else if (df != pb.lastdf) {
      static const rec::Format kMismatch = rec::Format::compile(
          "('1 ERROR DEGREES OF FREEDOM ARE NOT THE SAME; LAST ANALYSIS HAD ',I4,"
          "' D.F. AND THIS ONE,',/,'0',20X,5A8,', HAS ',I4,' D.F.;',/,"
          "'0 JOB TERMINATED; CHECK ANALYSES GIVEN BY KORBAL')");
      static const rec::Format kConsoleLines = rec::Format::compile(
          "(' ERROR DEGREES OF FREEDOM ARE NOT THE SAME; LAST ANALYSIS HAD ',I4,"
          "' D.F. AND THIS ONE,',/,' ',20X,5A8,', HAS ',I4,' D.F.;',/,"
          "' JOB TERMINATED; CHECK ANALYSES GIVEN BY KORBAL')");
      const std::string_view l(pb.alabel[k]);
      const std::initializer_list<rec::Item> items = {
          pb.lastdf,        l.substr(0, 8),  l.substr(8, 8), l.substr(16, 8),
          l.substr(24, 8), l.substr(32, 8), df};
      io.write(kOut, kMismatch, items);
      io.write(rec::kConsole, kConsoleLines, items);
      return Stop{ProblemStatus::ErrorDf,
                  "ERROR DEGREES OF FREEDOM ARE NOT THE SAME; LAST ANALYSIS HAD " +
                      std::to_string(pb.lastdf) + " D.F. AND THIS ONE, " +
                      std::string(rec::csv::trimmed(l)) + ", HAS " + std::to_string(df) +
                      " D.F."};
    }
  }
  return std::nullopt;
}

// An end of file where a read statement does not expect one, as the record library
// words it.
bool is_end_of_file(const rec::RunError& e) { return e.cause == rec::RunError::Cause::EndOfFile; }

// The input ends before its first problem is complete: korbal stopped before it had
// written one, and its report says why.
[[noreturn]] void no_complete_problem(rec::Io& io, const std::string& detail) {
  io.say({"The file '" + io.file_name(kIn) +
          "' holds no complete problem: look at korbal's report for the reason."});
  throw rec::RunError(detail);
}

// A row of the error file that no analysis of the run used names traits the interchange
// file does not have (or misspells them): a run-time error, as it would be at the start.
void refuse_unused_rows(const rec::Io& io, const ErrorFile& file, const std::set<int>& used) {
  for (const ExternalError& e : file.rows) {
    if (used.count(e.record)) continue;
    rec::ErrorSite at{"READ", 0, "", e.record};
    at.subject = "of the error file '" + file.name + "' (option --error)";
    throw rec::RunError(at, "fields 1 and 2: no analysis of " + e.trait_1 + " and " + e.trait_2 +
                                " in '" + io.file_name(kIn) + "'");
  }
}

// Refuses tables that would replace the error file; the run then writes nothing.
void refuse_error_file_as_table(const ErrorFile& file, const std::filesystem::path& dir) {
  for (const char* name : {"components.csv", "correlations.csv", "problems.csv", "genetics.csv"}) {
    struct stat st {};
    if (::stat((dir / name).c_str(), &st) == 0 && st.st_dev == file.dev && st.st_ino == file.ino) {
      throw rec::RunError(rec::ErrorSite{}, "the table '" + (dir / name).string() +
                          "' is the error file '" + file.name + "'; it is left as it is");
    }
  }
}

int run_problems(rec::Io& io, SolveSettings settings, CsvTables* tables) {
  static const rec::Format kPrompt1 = rec::Format::compile(
      "(' ',' Calculation of variance components and their standard deviation',/,/,"
      "' Please enter input control file, e.g., MERIDOX_IN.dat',/)");
  static const rec::Format kPrompt2 =
      rec::Format::compile("(' ',' Please enter output file name',/)");
  static const rec::Format kDone =
      rec::Format::compile("('1',/,/,/,'     * * * AND ALL IS DONE * * *')");

  io.write(rec::kConsole, kPrompt1, kNoItems);
  io.open(kIn, "", rec::OpenMode::Input);
  io.require_line_ends(kIn);  // a file cut short while korbal wrote it is refused
  settings.interchange_name = io.file_name(kIn);
  io.write(rec::kConsole, kPrompt2, kNoItems);
  io.open(kOut, "", rec::OpenMode::Output);
  write_banner(io);

  auto pb = std::make_unique<Problem>();
  bool abandoned = false;
  std::set<int> used;  // records of the error file that replaced an error
  for (int number = 1;; ++number) {
    // Ends the run at a problem that cannot be used.
    auto stop = [&](const Stop& s) {
      ProblemResult r;
      r.number = number;
      r.status = s.status;
      r.note = s.note;
      if (tables) tables->add(r);
      return 1;
    };
    std::int32_t head[4] = {0, 0, 0, 0};
    std::int32_t* targets[4] = {&head[0], &head[1], &head[2], &head[3]};
    bool more = false;
    try {
      more = io.read_list(kIn, targets, true);
    } catch (const rec::RunError& e) {
      if (number == 1 && is_end_of_file(e)) no_complete_problem(io, e.what());
      throw;
    }
    if (!more) {
      if (number == 1) {
        no_complete_problem(io, rec::format_error({"READ", kIn, io.file_name(kIn)},
                                                  "end of file where the first problem is due"));
      }
      break;
    }
    pb->nv = head[0];
    pb->cross = head[1];
    pb->ne = head[2];
    pb->itest = head[3] >= 1;

    if (pb->nv < 1) return stop(reject(io, "THE NUMBER OF VARIABLES IS", pb->nv, "IT MUST BE AT LEAST 1"));
    if (pb->ne < 1 || pb->ne > kMaxComp - 1) {
      return stop(reject(io, "THE NUMBER OF EFFECTS IS", pb->ne,
                         pb->ne < 1 ? "IT MUST BE AT LEAST 1" : "THE LIMIT IS 19"));
    }
    const long long nv = pb->nv;
    const long long nanal = pb->cross > 0 ? nv * (nv + 1) / 2 : nv;
    if (nanal > kMaxAnal) return stop(reject(io, "THE NUMBER OF ANALYSES IS", nanal, "THE LIMIT IS 55"));
    pb->ncomp = pb->ne + 1;
    pb->nanal = static_cast<int>(nanal);
    start_problem(*pb);
    std::optional<Stop> bad;
    try {
      bad = read_problem(io, *pb);
    } catch (const rec::RunError& e) {
      if (number == 1 && is_end_of_file(e)) no_complete_problem(io, e.what());
      throw;
    }
    if (bad) return stop(*bad);
    finish_matrix(*pb);
    const ProblemResult res = solve(*pb, number, settings);
    for (const AnalysisResult& an : res.analyses)
      if (an.external) used.insert(an.external->record);
    print_problem(io, kOut, res);
    if (tables) tables->add(res);
    if (res.status != ProblemStatus::Ok) abandoned = true;
  }
  if (settings.error_file) refuse_unused_rows(io, *settings.error_file, used);
  io.write(kOut, kDone, kNoItems);
  return abandoned ? 1 : 0;
}

}  // namespace

int run(rec::Io& io, const Options& options) {
  return rec::run_to_stop(io, [&] {
    if (!options.error.empty()) throw rec::RunError(rec::ErrorSite{}, options.error);
    // The error file is an input: read whole before any output exists.
    std::optional<ErrorFile> error_file;
    if (options.error_file) error_file = read_error_file(io.dir(), *options.error_file);
    std::optional<CsvTables> tables;
    if (options.csv_dir) {
      if (error_file) refuse_error_file_as_table(*error_file, io.resolve(*options.csv_dir));
      rec::csv::prepare_tables(io, *options.csv_dir,
                               {"components.csv", "correlations.csv", "problems.csv"});
      if (options.inbreeding) rec::csv::prepare_tables(io, *options.csv_dir, {"genetics.csv"});
      tables.emplace(options.inbreeding.has_value());
    }
    SolveSettings settings{options.inbreeding, error_file ? &*error_file : nullptr, ""};
    const int status = run_problems(io, settings, tables ? &*tables : nullptr);
    if (tables) tables->write(io, *options.csv_dir);
    return status;
  });
}

}  // namespace meridox
