// The run of gcasca: files, korbal's control records and data pass, the components,
// one prediction per trait (or, every effect fixed, the least-squares estimates), the
// report, effects.csv and differences.csv.
#include "gcasca/gcasca.h"
#include "gcasca/korbal_adapter.h"
#include "gcasca/reml.h"
#include "records/csv.h"
#include "records/format.h"
#include "records/program.h"

namespace gcasca {

namespace {

namespace fs = std::filesystem;

// Bounds of the components file: meridox writes a few kilobytes for ten traits.
constexpr std::size_t kMaxComponentsBytes = std::size_t{16} << 20;  // 16 MiB
constexpr std::size_t kMaxComponentsLine = rec::kMaxRecordLength;   // 65536

// The context of the report: counts, column identities and the data lines behind each
// column.
ReportContext context_of(const Design& d, const korbal::NormalEquations& p) {
  ReportContext ctx;
  ctx.title = d.title;
  ctx.nobs = p.NOBS;
  ctx.columns = p.SDFL;
  ctx.ids = identify_columns(d);
  ctx.level_names = p.pass.level_names;
  for (int i = 1; i <= p.SDFL; ++i)
    ctx.lines.push_back(static_cast<std::int64_t>(p.XPX[static_cast<std::size_t>(korbal::packed(i, i) - 1)]));
  // A self line puts 2 in the GCA column of its parent, 4 on the diagonal: 3 too many.
  const std::int64_t nl = d.c.NLINES;
  if (d.c.selfs && !p.pass.cross_lines.empty())
    for (std::size_t j = 0; j < ctx.ids.size(); ++j) {
      const ColumnId& id = ctx.ids[j];
      if (id.effect != "GCA") continue;
      const std::int64_t self = ((id.set - 1) * nl + id.line_1 - 1) * nl + id.line_1 - 1;
      ctx.lines[j] -= 3 * p.pass.cross_lines[static_cast<std::size_t>(self)];
    }
  return ctx;
}

// The fixed columns korbal's reduction accepts; counted as dropped in `ctx`.
std::vector<char> accepted_columns(const korbal::NormalEquations& p, ReportContext& ctx) {
  int nfixed = 0;
  while (nfixed < p.SDFL && ctx.ids[static_cast<std::size_t>(nfixed)].fixed) ++nfixed;
  std::vector<char> keep = accepted_fixed(p.XPX, p.SDFL, nfixed);
  for (char k : keep) ctx.dropped += k ? 0 : 1;
  return keep;
}

int predict(rec::Io& io, korbal::Clock& clock, const RunOptions& opt) {
  io.say({"gcasca: predicted effects of the parents and crosses of a diallel"});
  io.say({">> Control file (korbal's)"});
  io.open(kControlUnit, "", rec::OpenMode::Input);
  io.say({">> Data file"});
  io.open(kDataUnit, "", rec::OpenMode::Input);
  io.say({">> Variance components (components.csv of meridox --csv)"});
  const std::string comp_name = io.open(kComponentsUnit, "", rec::OpenMode::Input);
  io.say({">> Report file"});
  io.open(kReportUnit, "", rec::OpenMode::Output);
  const std::vector<ComponentRow> components =
      parse_components(io.read_rest(kComponentsUnit, kMaxComponentsBytes, kMaxComponentsLine),
                       comp_name);

  Design d;
  const ControlOutcome outcome = read_control(io, d, opt.selfs);
  if (outcome != ControlOutcome::Ok) {
    write_closing(io);
    return outcome == ControlOutcome::Refused ? 1 : 0;
  }
  write_heading(io, d.title);
  io.say({"Reading the data"});
  const korbal::NormalEquations p = data_pass(io, clock, d);
  if (p.pass.bad_lines > 0 || p.NOBS == 0) {  // the data pass said why on the report
    write_closing(io);
    return 1;
  }
  ReportContext ctx = context_of(d, p);
  const std::vector<char> keep = accepted_columns(p, ctx);
  write_problem(io, ctx, p.NV);

  int status = 0;
  std::vector<TraitResult> results;
  for (int v = 0; v < p.NV; ++v) {
    const std::string& name = d.traits[static_cast<std::size_t>(v)];
    io.say({"Predicting " + std::string(rec::csv::trimmed(name))});
    results.push_back(predict_trait(name, ctx.ids, p.XPX.data(),
                                    p.XPY.data() + static_cast<std::ptrdiff_t>(v) * p.SDFL, keep,
                                    components_of(components, name)));
    const TraitResult& r = results.back();
    write_trait(io, ctx, r);
    if (!r.predicted) {
      io.say({std::string(rec::csv::trimmed(name)) + " is not predicted: " + r.reason});
      status = 1;
    }
  }
  if (opt.csv_dir) {
    io.add_table(*opt.csv_dir / "effects.csv", effects_table(ctx, results));
    io.add_table(*opt.csv_dir / "differences.csv", differences_table(results));
    io.say({"Written: effects.csv, differences.csv"});
  }
  write_closing(io);
  return status;
}

// The variance components of every trait by REML, then the predictions with them.
int reml(rec::Io& io, korbal::Clock& clock, const RunOptions& opt) {
  io.say({"gcasca --reml: variance components by REML and predicted effects of a diallel"});
  io.say({">> Control file (korbal's)"});
  io.open(kControlUnit, "", rec::OpenMode::Input);
  io.say({">> Data file"});
  io.open(kDataUnit, "", rec::OpenMode::Input);
  io.say({">> Report file"});
  io.open(kReportUnit, "", rec::OpenMode::Output);
  Design d;
  const ControlOutcome outcome = read_control(io, d, opt.selfs);
  if (outcome != ControlOutcome::Ok) {
    write_closing(io);
    return outcome == ControlOutcome::Refused ? 1 : 0;
  }
  write_heading(io, d.title, Mode::Reml);
  io.say({"Reading the data"});
  const korbal::NormalEquations p = data_pass(io, clock, d);
  if (p.pass.bad_lines > 0 || p.NOBS == 0) {
    write_closing(io);
    return 1;
  }
  ReportContext ctx = context_of(d, p);
  const std::vector<char> keep = accepted_columns(p, ctx);
  write_problem(io, ctx, p.NV);

  int status = 0;
  std::vector<TraitResult> results;
  std::vector<RemlResult> fits;
  for (int v = 0; v < p.NV; ++v) {
    const std::string& name = d.traits[static_cast<std::size_t>(v)];
    const std::string trimmed(rec::csv::trimmed(name));
    io.say({"REML of " + trimmed});
    const double* xpy = p.XPY.data() + static_cast<std::ptrdiff_t>(v) * p.SDFL;
    // y'y of the trait: with cross products the responses' sums stand in analysis order
    // (1,1), (1,2), ..., (1,NV), (2,2), ...
    const std::size_t yy = d.c.CROSS > 0 ? static_cast<std::size_t>(v * p.NV - v * (v - 1) / 2)
                                         : static_cast<std::size_t>(v);
    fits.push_back(reml_trait(ctx.ids, p.XPX.data(), xpy, p.YPY[yy], p.NOBS, keep));
    const RemlResult& f = fits.back();
    write_reml(io, name, f);
    if (!f.converged) {
      io.say({trimmed + ": REML " + (f.reason.empty() ? "failed" : f.reason)});
      status = 1;
      continue;
    }
    results.push_back(predict_trait(name, ctx.ids, p.XPX.data(), xpy, keep, reml_components(f)));
    const TraitResult& r = results.back();
    write_trait(io, ctx, r);
    if (!r.predicted) {
      io.say({trimmed + " is not predicted: " + r.reason});
      status = 1;
    }
  }
  if (opt.csv_dir) {
    io.add_table(*opt.csv_dir / "effects.csv", effects_table(ctx, results));
    io.add_table(*opt.csv_dir / "differences.csv", differences_table(results));
    io.add_table(*opt.csv_dir / "components.csv", reml_components_table(d.traits, fits));
    io.add_table(*opt.csv_dir / "reml.csv", reml_history_table(d.traits, fits));
    io.say({"Written: effects.csv, differences.csv, components.csv, reml.csv"});
  }
  write_closing(io);
  return status;
}

// Every effect fixed: the least-squares estimates with their SEs and the tests of the
// differences of two lines, from korbal's reduction of the same normal equations.
int estimate(rec::Io& io, korbal::Clock& clock, const RunOptions& opt) {
  const std::optional<fs::path>& csv_dir = opt.csv_dir;
  io.say({"gcasca --fixed: least-squares estimates of the effects of the parents and crosses"});
  io.say({">> Control file (korbal's)"});
  io.open(kControlUnit, "", rec::OpenMode::Input);
  io.say({">> Data file"});
  io.open(kDataUnit, "", rec::OpenMode::Input);
  io.say({">> Report file"});
  io.open(kReportUnit, "", rec::OpenMode::Output);

  Design d;
  const ControlOutcome outcome = read_control(io, d, opt.selfs);
  if (outcome != ControlOutcome::Ok) {
    write_closing(io, true);
    return outcome == ControlOutcome::Refused ? 1 : 0;
  }
  write_heading(io, d.title, Mode::Fixed);
  io.say({"Reading the data"});
  const korbal::NormalEquations p = data_pass(io, clock, d);
  if (p.pass.bad_lines > 0 || p.NOBS == 0) {
    write_closing(io, true);
    return 1;
  }
  ReportContext ctx;
  ctx.title = d.title;
  ctx.nobs = p.NOBS;
  ctx.columns = p.SDFL;
  ctx.ids = identify_columns(d);
  ctx.level_names = p.pass.level_names;
  const Reduction red = reduce(d, p);
  for (int i = 0; i < p.SDFL; ++i)
    if (ctx.ids[static_cast<std::size_t>(i)].fixed && !red.accepted[static_cast<std::size_t>(i)])
      ++ctx.dropped;
  write_problem(io, ctx, p.NV);

  io.say({"Estimating"});
  FixedFit fit;
  if (!fixed_fit(ctx.ids, red.XPX.data(), red.accepted, fit))
    throw rec::RunError(rec::ErrorSite{}, "the restricted least-squares system is singular");
  std::vector<FixedResult> results;
  for (int v = 0; v < p.NV; ++v) {
    const korbal::ErrorLine& e = red.errors[static_cast<std::size_t>(v)];
    results.push_back(fixed_trait(d.traits[static_cast<std::size_t>(v)], ctx.ids, fit,
                                  red.XPY.data() + static_cast<std::ptrdiff_t>(v) * p.SDFL,
                                  e.df, e.mean));
    write_fixed_trait(io, ctx, results.back());
  }
  if (!results.empty() && results.front().error_df == 0)
    io.say({"No error degrees of freedom: the standard errors and tests are not defined"});
  if (csv_dir) {
    io.add_table(*csv_dir / "effects.csv", effects_table(ctx, results));
    io.add_table(*csv_dir / "differences.csv", differences_table(results));
    io.say({"Written: effects.csv, differences.csv"});
  }
  write_closing(io, true);
  return 0;
}

}  // namespace

int run(rec::Io& io, korbal::Clock& clock, const RunOptions& opt) {
  return rec::run_to_stop(
      io,
      [&] {
        if (opt.csv_dir) {
          if (opt.mode == Mode::Reml)
            rec::csv::prepare_tables(io, *opt.csv_dir,
                                     {"effects.csv", "differences.csv", "components.csv", "reml.csv"});
          else
            rec::csv::prepare_tables(io, *opt.csv_dir, {"effects.csv", "differences.csv"});
        }
        switch (opt.mode) {
          case Mode::Fixed: return estimate(io, clock, opt);
          case Mode::Reml: return reml(io, clock, opt);
          default: return predict(io, clock, opt);
        }
      },
      true);
}

}  // namespace gcasca
