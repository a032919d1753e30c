// The run of gcasca: files, korbal's control records and data pass, the components,
// one prediction per trait, the report and effects.csv.
#include "gcasca/gcasca.h"
#include "gcasca/korbal_adapter.h"
#include "records/csv.h"
#include "records/format.h"
#include "records/program.h"

namespace gcasca {

namespace {

namespace fs = std::filesystem;

// Bounds of the components file: meridox writes a few kilobytes for ten traits.
constexpr std::size_t kMaxComponentsBytes = std::size_t{16} << 20;  // 16 MiB
constexpr std::size_t kMaxComponentsLine = rec::kMaxRecordLength;   // 65536

int predict(rec::Io& io, korbal::Clock& clock, const std::optional<fs::path>& csv_dir,
            bool selfs) {
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
  const ControlOutcome outcome = read_control(io, d, selfs);
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
  int nfixed = 0;
  while (nfixed < p.SDFL && ctx.ids[static_cast<std::size_t>(nfixed)].fixed) ++nfixed;
  const std::vector<char> keep = accepted_fixed(p.XPX, p.SDFL, nfixed);
  for (char k : keep) ctx.dropped += k ? 0 : 1;
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
  if (csv_dir) {
    io.add_table(*csv_dir / "effects.csv", effects_table(ctx, results));
    io.say({"Written: effects.csv"});
  }
  write_closing(io);
  return status;
}

}  // namespace

int run(rec::Io& io, korbal::Clock& clock, const std::optional<fs::path>& csv_dir, bool selfs) {
  return rec::run_to_stop(
      io,
      [&] {
        if (csv_dir) rec::csv::prepare_tables(io, *csv_dir, {"effects.csv"});
        return predict(io, clock, csv_dir, selfs);
      },
      true);
}

}  // namespace gcasca
