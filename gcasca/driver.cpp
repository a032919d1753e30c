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

// The problem of the run: the design, the normal equations of the data pass and the
// context of the report.
struct Problem {
  Design d;
  korbal::NormalEquations p;
  ReportContext ctx;
};

// The predictions of every trait with meridox's components.
int predict(rec::Io& io, Problem& pb, const std::vector<ComponentRow>& components,
            const RunOptions& opt) {
  const Design& d = pb.d;
  const korbal::NormalEquations& p = pb.p;
  ReportContext& ctx = pb.ctx;
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
  return status;
}

// The variance components of every trait by REML, then the predictions with them.
int reml(rec::Io& io, Problem& pb, const RunOptions& opt) {
  const Design& d = pb.d;
  const korbal::NormalEquations& p = pb.p;
  ReportContext& ctx = pb.ctx;
  const std::vector<char> keep = accepted_columns(p, ctx);
  write_problem(io, ctx, p.NV);
  const Moments moments = moment_components(d, p);
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
    fits.push_back(reml_trait(ctx.ids, p.XPX.data(), xpy, p.YPY[yy], p.NOBS, keep,
                              moments.components[static_cast<std::size_t>(v)], moments.no_df));
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
  return status;
}

// Every effect fixed: the least-squares estimates with their SEs and the tests of the
// differences of two lines, from korbal's reduction of the same normal equations.
int estimate(rec::Io& io, Problem& pb, const RunOptions& opt) {
  const Design& d = pb.d;
  const korbal::NormalEquations& p = pb.p;
  ReportContext& ctx = pb.ctx;
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
  if (opt.csv_dir) {
    io.add_table(*opt.csv_dir / "effects.csv", effects_table(ctx, results));
    io.add_table(*opt.csv_dir / "differences.csv", differences_table(results));
    io.say({"Written: effects.csv, differences.csv"});
  }
  return 0;
}

// The run of every mode: the files (the components only for the predictions with
// meridox's components), korbal's control records, the data pass, then the mode's own
// analysis and the closing line.
int run_mode(rec::Io& io, korbal::Clock& clock, const RunOptions& opt) {
  static const char* const kGreeting[] = {
      "gcasca: predicted effects of the parents and crosses of a diallel",
      "gcasca --fixed: least-squares estimates of the effects of the parents and crosses",
      "gcasca --reml: variance components by REML and predicted effects of a diallel"};
  const bool fixed = opt.mode == Mode::Fixed;
  io.say({kGreeting[static_cast<int>(opt.mode)]});
  io.say({">> Control file (korbal's)"});
  io.open(kControlUnit, "", rec::OpenMode::Input);
  io.say({">> Data file"});
  io.open(kDataUnit, "", rec::OpenMode::Input);
  std::string comp_name;
  if (opt.mode == Mode::Predict) {
    io.say({">> Variance components (components.csv of meridox --csv)"});
    comp_name = io.open(kComponentsUnit, "", rec::OpenMode::Input);
  }
  io.say({">> Report file"});
  io.open(kReportUnit, "", rec::OpenMode::Output);
  std::vector<ComponentRow> components;
  if (opt.mode == Mode::Predict)
    components = parse_components(
        io.read_rest(kComponentsUnit, kMaxComponentsBytes, kMaxComponentsLine), comp_name);

  Problem pb;
  const ControlOutcome outcome = read_control(io, pb.d, opt.selfs);
  if (outcome != ControlOutcome::Ok) {
    write_closing(io, fixed);
    return outcome == ControlOutcome::Refused ? 1 : 0;
  }
  write_heading(io, pb.d.title, opt.mode);
  io.say({"Reading the data"});
  pb.p = data_pass(io, clock, pb.d);
  if (pb.p.pass.bad_lines > 0 || pb.p.NOBS == 0) {  // the data pass said why on the report
    write_closing(io, fixed);
    return 1;
  }
  pb.ctx = context_of(pb.d, pb.p);
  int status = 0;
  switch (opt.mode) {
    case Mode::Fixed: status = estimate(io, pb, opt); break;
    case Mode::Reml: status = reml(io, pb, opt); break;
    default: status = predict(io, pb, components, opt);
  }
  write_closing(io, fixed);
  return status;
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
        return run_mode(io, clock, opt);
      },
      true);
}

}  // namespace gcasca
