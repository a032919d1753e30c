// Control records: the dimension record and its checks, the title, the banner and the
// problem description.
#include "korbal/control.h"

#include <algorithm>
#include <vector>

#include "records/format.h"

namespace korbal {

void normalise(Control& c) {
  c.NLOC_READ = c.NLOC;
  c.NREP_READ = c.NREP;
  c.LAYOUT = layout_of(c.NLOC, c.NREP);
  if (c.NLOC == 1) c.NLOC = 0;
  if (c.NREP == 1) c.NREP = 0;
  if (c.IDATA < 1) c.IDATA = 1;
}

void report_and_console(rec::Io& io, const rec::Format& fmt,
                        std::initializer_list<rec::Item> items) {
  io.write(kReportUnit, fmt, items);
  io.write(rec::kConsole, fmt, items);
}

bool read_dimensions(rec::Io& io, Control& c) {
  // A record of 45 columns (the original fifteen items) leaves the four switches 0.
  static const rec::Format kDims = rec::Format::compile("(19I3)");
  return io.read(kControlUnit, kDims,
                 {rec::Target::of(c.NLINES), rec::Target::of(c.NV), rec::Target::of(c.CROSS),
                  rec::Target::of(c.ISELF), rec::Target::of(c.IMATR), rec::Target::of(c.IRECP),
                  rec::Target::of(c.NREP), rec::Target::of(c.NLOC), rec::Target::of(c.IFXL),
                  rec::Target::of(c.IDATA), rec::Target::of(c.IPRINT), rec::Target::of(c.NSETS),
                  rec::Target::of(c.NCLON), rec::Target::of(c.ICXL), rec::Target::of(c.IRXF),
                  rec::Target::of(c.IGXL), rec::Target::of(c.ISXL), rec::Target::of(c.IMXL),
                  rec::Target::of(c.IRXL)},
                 true);
}

void read_title(rec::Io& io, std::string& TITLE) {
  static const rec::Format kTitle = rec::Format::compile("(20A4)");
  std::string piece[20];
  std::vector<rec::Target> targets;
  for (std::string& s : piece) targets.push_back(rec::Target::of(s, 4));
  io.read(kControlUnit, kTitle, targets, false);
  TITLE.clear();
  for (const std::string& s : piece) TITLE += s;
}

std::vector<std::string> read_variable_names(rec::Io& io, int NV) {
  static const rec::Format kNames = rec::Format::compile("(4(2A8,4X))");
  std::vector<std::string> halves(2 * static_cast<std::size_t>(NV));
  std::vector<rec::Target> targets;
  targets.reserve(halves.size());
  for (std::string& h : halves) targets.push_back(rec::Target::of(h, 8));
  io.read(kControlUnit, kNames, targets, false);
  std::vector<std::string> names;
  names.reserve(static_cast<std::size_t>(NV));
  for (std::size_t v = 0; v < static_cast<std::size_t>(NV); ++v)
    names.push_back(halves[2 * v] + halves[2 * v + 1]);
  return names;
}

void check_selfs(const Control& c) {
  if (c.selfs && c.ISELF < 0)
    throw rec::RunError(rec::ErrorSite{}, "--selfs: self lines need ISELF 0 or more (ISELF is " +
                                              std::to_string(c.ISELF) + ")");
}

bool check_dimensions(rec::Io& io, const Control& c) {
  static const rec::Format kTooMany = rec::Format::compile(
      "('0The no. of response variables specified,',I4,' ,is greater than the dimension of Y, "
      "which is',I4,' ,JOB TERMINATED')");
  static const rec::Format kNegative = rec::Format::compile(
      "('0The value of ',A,' specified,',I4,' ,is negative, which is not allowed ,"
      "JOB TERMINATED')");
  static const rec::Format kUnit = rec::Format::compile(
      "('0The data unit specified, IDATA =',I4,' ,is already in use for the report or the "
      "MERIDOX file ,JOB TERMINATED')");
  if (c.NV > MAXY) {
    report_and_console(io, kTooMany, {c.NV, MAXY});
    return false;
  }
  const struct {
    const char* name;
    std::int32_t value;
  } counts[] = {{"NLINES", c.NLINES}, {"NV", c.NV},     {"NSETS", c.NSETS},
                {"NLOC", c.NLOC},     {"NREP", c.NREP}, {"NCLON", c.NCLON}};
  for (const auto& k : counts) {
    if (k.value < 0) {
      report_and_console(io, kNegative, {k.name, k.value});
      return false;
    }
  }
  // The effects by location need locations, and MXL and RXL the effect they split.
  static const rec::Format kNeeds = rec::Format::compile(
      "('0The switch ',A,' =',I4,' asks for the effect ',A,', which needs ',A,' ,"
      "JOB TERMINATED')");
  const struct {
    const char* name;
    std::int32_t value;
    const char* code;
    bool parent;  // the effect it interacts with is in the model
    const char* parent_text;
  } by_location[] = {
      {"IGXL", c.IGXL, "GXL", true, ""},
      {"ISXL", c.ISXL, "SXL", true, ""},
      {"IMXL", c.IMXL, "MXL", c.IMATR >= 1, "maternal effects (IMATR >= 1)"},
      {"IRXL", c.IRXL, "RXL", c.IRECP >= 1, "reciprocal effects (IRECP >= 1)"},
  };
  for (const auto& k : by_location) {
    if (k.value < 1) continue;
    if (c.NLOC < 2) {
      report_and_console(io, kNeeds, {k.name, k.value, k.code, "two locations or more (NLOC >= 2)"});
      return false;
    }
    if (!k.parent) {
      report_and_console(io, kNeeds, {k.name, k.value, k.code, k.parent_text});
      return false;
    }
  }
  // The data file is opened last, on a unit of its own: the interchange file and the
  // report are still being written when it is read.
  if (c.IDATA == kInterchangeUnit || c.IDATA == kReportUnit) {
    report_and_console(io, kUnit, {c.IDATA});
    return false;
  }
  return true;
}

std::vector<rec::Item> title_items(std::string_view title) {
  std::vector<rec::Item> items;
  items.reserve(20);
  for (std::size_t k = 0; k < 20; ++k)
    items.emplace_back(title.substr(std::min(title.size(), 4 * k), 4));
  return items;
}

std::span<const rec::Item> star_items() {
  static const std::vector<rec::Item> stars(23, rec::Item(" * *"));
  return stars;
}

void print_banner(rec::Io& io) {
  static const rec::Format kBanner = rec::Format::compile(
      "('1',/,/,' ',T21,'* * * *  G E N E R A L  L E A S T  S Q U A R E S  D I A L L E L  "
      "A N A L Y S I S  * * * *',"
      "/,'0',T30,'KORBAL - least squares analysis of diallel mating experiments',"
      "/,' ',T30,'general and specific combining ability, maternal and reciprocal effects',"
      "/,' ',T30,'estimated from unbalanced data through the normal equations',"
      "/,/,' ',T29,' * * * * * WITH DISCONNECTED DIALLEL SETS AND CLONAL REPLICATES * * * * *',"
      "'\t',"
      "/,'0',T30,'The model may hold locations, replications and disconnected sets,',"
      "/,' ',T30,'selfs, family by location, clones, clones by location',"
      "/,' ',T30,'and replications by family, as the control record selects.',"
      "/,' ',T30,'Every data line enters the normal equations directly;',"
      "/,' ',T30,'the design matrix itself is never stored.',"
      "/,' ',T30,'The report gives the coefficients of the expected mean squares and',"
      "/,' ',T30,'one analysis of variance per response variable, with analyses of',"
      "/,' ',T30,'cross products for every pair of variables on request.',"
      "/,' ',T30,'Mean squares and coefficients are written to MERIDOX_IN.DAT.',"
      "/,'0',T20,23A4,/)");
  io.write(kReportUnit, kBanner, star_items());
}

const char* cross_answer(int CROSS) { return CROSS >= 1 ? " YES" : "  NO"; }

Layout layout_of(int NLOC, int NREP) {
  Layout layout = Layout::LocRep;
  if (NLOC < 1) layout = Layout::Rep;
  if (NREP < 1) {
    layout = Layout::Loc;
    if (NLOC == 0 && NREP == 0) layout = Layout::Neither;
  }
  return layout;
}

void describe_problem(rec::Io& io, const Control& c, const std::string& TITLE) {
  static const rec::Format kTitle = rec::Format::compile("(' ',T42,' Title:   ',20A4,/)");
  static const rec::Format kLocations =
      rec::Format::compile("(' ',T42,' Number of locations                    = ',I4)");
  static const rec::Format kReplications =
      rec::Format::compile("(' ',T42,' Number of replications                 = ',I4)");
  static const rec::Format kCounts = rec::Format::compile(
      "(' ',T42,' Maximum number of male - female lines  = ',I4,/,"
      "' ',T42,' Number of diallel sets                 = ',I4,/,"
      "' ',T42,' Number of clones per cross             = ',I4,/,"
      "' ',T42,' Number of response variables           = ',I4,/,"
      "' ',T42,' Analysis of crossproducts desired      - ',A4,/,"
      "' ',T42,' Effects accounted for are : ')");

  const char* answer = cross_answer(c.CROSS);
  io.write(kReportUnit, kTitle, title_items(TITLE));
  if (c.NLOC_READ >= 1) io.write(kReportUnit, kLocations, {c.NLOC_READ});
  if (c.NREP_READ >= 1) io.write(kReportUnit, kReplications, {c.NREP_READ});
  io.write(kReportUnit, kCounts, {c.NLINES, c.NSETS, c.NCLON, c.NV, answer});
}

}  // namespace korbal
