// The run of meridox: files, banner, and the loop over the problems of the input file.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "meridox/arrays.h"
#include "meridox/components.h"
#include "meridox/ftest.h"
#include "meridox/matinv.h"
#include "meridox/meridox.h"
#include "meridox/problem.h"
#include "records/format.h"
#include "records/interchange.h"
#include "records/io.h"

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

// Reports a count outside what the arrays hold, or that cannot be a count, in one line;
// the caller ends the run.
void reject(rec::Io& io, std::string_view what, long long value, std::string_view limit) {
  static const rec::Format kLimit =
      rec::Format::compile("('1 ',A,' ',A,'; ',A,'.   JOB TERMINATED')");
  const std::string v = std::to_string(value);
  io.write(kOut, kLimit, {what, v, limit});
}

// Reads one problem after its header. Returns false (after the message) when the error
// degrees of freedom of an analysis differ from those of the first, or when degrees of
// freedom are negative.
bool read_problem(rec::Io& io, Problem& pb) {
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
      reject(io, "THE DEGREES OF FREEDOM OF " + code.substr(0, code.find_last_not_of(' ') + 1) + " ARE", df, "THEY MUST BE AT LEAST 0");
      return false;
    }
    for (int j = 0; j < ne; ++j) pb.cmat[e][j + 1] = coef[j];
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
    if (df < 0) {
      reject(io, "THE ERROR DEGREES OF FREEDOM ARE", df, "THEY MUST BE AT LEAST 0");
      return false;
    }
    if (k == 0) {
      pb.lastdf = df;
    } else if (df != pb.lastdf) {
      static const rec::Format kMismatch = rec::Format::compile(
          "('1 ERROR DEGREES OF FREEDOM ARE NOT THE SAME; LAST ANALYSIS HAD ',I4,"
          "' D.F. AND THIS ONE,',/,'0',20X,5A8,', HAS ',I4,' D.F.;',/,"
          "'0 JOB TERMINATED; CHECK ANALYSES GIVEN BY KORBAL')");
      const std::string_view l(pb.alabel[k]);
      io.write(kOut, kMismatch,
               {pb.lastdf, l.substr(0, 8), l.substr(8, 8), l.substr(16, 8), l.substr(24, 8),
                l.substr(32, 8), df});
      return false;
    }
  }
  return true;
}

// One problem after it has been read. Returns false when its matrix could not be inverted.
bool solve_problem(rec::Io& io, Problem& pb, bool itest) {
  static const rec::Format kLeftOut = rec::Format::compile(
      "('0 ',A4,' HAS NO DEGREES OF FREEDOM; ITS COMPONENT IS NOT ESTIMABLE AND IS LEFT OUT')");
  for (const std::string& name : leave_out_inestimable(pb)) io.write(kOut, kLeftOut, {name});

  if (!MATINV(io, kOut, pb.cmat, pb.ncomp, pb.cname,
              std::span<const int>(pb.file_row.data(), pb.ncomp))) {
    return false;
  }
  const int n = pb.ncomp;
  NatMat r{};
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) r[i][j] = pb.cmat[i][j];
  const std::span<const int> idf(pb.idf.data(), n);
  for (int k = 0; k < pb.nanal; ++k) {
    const std::span<const double> ms(pb.xms[k].data(), n);
    VARCMP(io, kOut, n, pb.cname, r, ms, idf, pb.alabel[k], pb.vc[k]);
    if (itest) FTEST(io, kOut, n, pb.cname, pb.cnat, r, ms, idf, pb.vc[k]);
  }
  if (pb.cross > 0) {
    CORREL(io, kOut, pb.nv, n, pb.cname, std::span<const CompVec>(pb.vc.data(), pb.nanal),
           std::span<const std::string>(pb.alabel.data(), pb.nanal));
  }
  return true;
}

int run_problems(rec::Io& io) {
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
  io.write(rec::kConsole, kPrompt2, kNoItems);
  io.open(kOut, "", rec::OpenMode::Output);
  write_banner(io);

  auto pb = std::make_unique<Problem>();
  bool abandoned = false;
  for (;;) {
    std::int32_t head[4] = {0, 0, 0, 0};
    std::int32_t* targets[4] = {&head[0], &head[1], &head[2], &head[3]};
    if (!io.read_list(kIn, targets, true)) break;
    pb->nv = head[0];
    pb->cross = head[1];
    pb->ne = head[2];
    const bool itest = head[3] >= 1;

    if (pb->nv < 1) {
      reject(io, "THE NUMBER OF VARIABLES IS", pb->nv, "IT MUST BE AT LEAST 1");
      io.stop();
      return 1;
    }
    if (pb->ne < 1 || pb->ne > kMaxComp - 1) {
      reject(io, "THE NUMBER OF EFFECTS IS", pb->ne,
             pb->ne < 1 ? "IT MUST BE AT LEAST 1" : "THE LIMIT IS 19");
      io.stop();
      return 1;
    }
    const long long nv = pb->nv;
    const long long nanal = pb->cross > 0 ? nv * (nv + 1) / 2 : nv;
    if (nanal > kMaxAnal) {
      reject(io, "THE NUMBER OF ANALYSES IS", nanal, "THE LIMIT IS 55");
      io.stop();
      return 1;
    }
    pb->ncomp = pb->ne + 1;
    pb->nanal = static_cast<int>(nanal);
    start_problem(*pb);
    if (!read_problem(io, *pb)) {
      io.stop();
      return 1;
    }
    finish_matrix(*pb);
    if (!solve_problem(io, *pb, itest)) abandoned = true;
  }
  io.write(kOut, kDone, kNoItems);
  io.stop();
  return abandoned ? 1 : 0;
}

}  // namespace

int run(rec::Io& io) {
  try {
    return run_problems(io);
  } catch (const rec::RunError& e) {
    io.say({e.what()});
  } catch (const rec::FormatError& e) {
    io.say({e.what()});
  }
  // The console's records end before their text; end the last line for the shell.
  io.console_out() << '\n';
  io.flush();
  return 2;
}

}  // namespace meridox
