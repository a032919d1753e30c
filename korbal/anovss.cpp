// ANOVSS: sequential sums of squares (products) of one analysis.
//
// After the reduction the reduced right-hand sides of the columns are orthogonal
// contributions, so an effect's sum is the sum over its columns of the product of
// the two variables' reduced values. Columns in which either value is exactly zero
// (dependencies) count neither in the sum nor in the degrees of freedom.
#include <cmath>

#include "korbal/analysis.h"
#include "records/format.h"
#include "records/interchange.h"

namespace korbal {

AnovaResult anova_sums(const double* XPY, int first, int second,
                       const std::vector<std::string>& ENAME, int SDFL, double TOL) {
  AnovaResult res;
  int i = 0;
  while (i < SDFL) {
    AnovaLine line;
    line.code = ENAME[i];
    do {
      const double za = XPY[first + i];
      const double zb = XPY[second + i];
      if (za != 0.0 && zb != 0.0) {
        line.sum += za * zb;
        ++line.df;
      }
      ++i;
    } while (i < SDFL && ENAME[i] == line.code);
    if (line.df > 0) {
      if (std::fabs(line.sum) <= TOL) line.sum = 0.0;
      line.mean = line.sum / line.df;
    }
    res.df += line.df;
    res.accounted += line.sum;
    res.lines.push_back(std::move(line));
  }
  res.dependencies = SDFL - res.df;
  return res;
}

void ANOVSS(rec::Io& io, Clock& clock, const std::vector<double>& XPY, int first, int second,
            const std::vector<std::string>& ENAME, int SDFL, double& SS, int& IDF, int& NDEP,
            double TOL) {
  static const rec::Format effect_line = rec::Format::compile("(39X,A5,2X,I5,4X,2G20.12)");
  static const rec::Format done =
      rec::Format::compile("(' ANOVA table completed     ',2(I2.2,':'),I2.2,'.',I2.2)");

  io.say({});
  io.say({"Calculating the ANOVA table . . ."});
  const AnovaResult res = anova_sums(XPY.data(), first, second, ENAME, SDFL, TOL);
  std::vector<double> means;
  means.reserve(res.lines.size());
  for (const AnovaLine& l : res.lines) {
    io.write(kReportUnit, effect_line, {std::string_view(l.code), l.df, l.sum, l.mean});
    means.push_back(l.mean);
  }
  rec::interchange::write_mean_squares(io, kInterchangeUnit, first, second, means);
  SS = res.accounted;
  IDF = res.df;
  NDEP = res.dependencies;
  stamp_line(io, clock, done);
}

}  // namespace korbal
