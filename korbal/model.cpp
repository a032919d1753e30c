// Effects model: column allocation, labels, effect list, interchange header,
// variable names and the clearing of the accumulators.
#include "korbal/model.h"

#include <algorithm>
#include <array>

#include "korbal/control.h"
#include "records/format.h"

namespace korbal {

namespace {

// One effect of the model, in model order: its code, whether the control record
// switches it on, its number of columns, and how many slots of a data line it fills
// (the columns a line selects in it; self columns are selected only by a self line,
// through the SCA slot, so the SELF block has none).
struct EffectRow {
  const char* label;
  bool present;
  std::int64_t columns;
  int slots;
};

// The seventeen effects of the model for the control items `c`. Adding an effect is one
// row here, its selection rule in select_columns and its meaning in columns().
std::array<EffectRow, kEffects> effect_rows(const Control& c) {
  const std::int64_t p = c.NLINES, s = c.NSETS, nclon = c.NCLON;
  const std::int64_t nloc = c.NLOC == 1 ? 0 : c.NLOC, nrep = c.NREP == 1 ? 0 : c.NREP;
  const std::int64_t pairs = s * (p * (p - 1) / 2);  // unordered crosses of all sets
  // Families of all sets: the ordered crosses, and the selfs when they are analysed.
  const std::int64_t families = s * (p * (p - 1) + (c.selfs ? p : 0));
  // With ISELF = 0 the self columns stand at the head of the SCA block.
  const std::int64_t head = c.ISELF == 0 ? p * s : 0;
  const bool fxl = c.IFXL > 0 && nloc >= 2, cxl = c.ICXL != 0 && nloc >= 2 && nclon >= 2,
             rxf = c.IRXF != 0 && nloc >= 2 && nrep >= 2;
  // The genetic effects by location (check_dimensions refuses them without locations
  // or, for MXL and RXL, without the effect they split).
  const bool gxl = c.IGXL >= 1 && nloc >= 2, sxl = c.ISXL >= 1 && nloc >= 2,
             mxl = c.IMXL >= 1 && nloc >= 2 && c.IMATR >= 1,
             rxl = c.IRXL >= 1 && nloc >= 2 && c.IRECP >= 1;
  return {{
      {"MEAN", true, 1, 1},
      {"LOC ", c.NLOC >= 2, c.NLOC, 1},
      // Replications within locations when there are several.
      {"REPS", c.NREP >= 2, nloc >= 2 ? std::int64_t{c.NREP} * nloc : c.NREP, 1},
      {"SETS", true, s, 1},
      {"GCA ", true, p * s, 2},  // the female's and the male's
      {"SELF", c.ISELF >= 1, p * s, 0},
      {"SCA ", true, head + pairs, 1},
      {"MATR", c.IMATR != 0, p * s, 2},  // +1 and -1 for the two parents
      {"RECP", c.IRECP > 0, pairs, 1},
      // By location, each laid out as its effect's block once per location.
      {"GXL ", gxl, nloc * p * s, 2},
      {"SXL ", sxl, nloc * (head + pairs), 1},
      {"MXL ", mxl, nloc * p * s, 2},
      {"RXL ", rxl, nloc * pairs, 1},
      {"FXL ", fxl, nloc * families, 1},
      {"CLON", c.NCLON != 0, families * nclon, 1},
      {"CXL ", cxl, nloc * families * nclon, 1},
      {"RXF ", rxf, nloc * nrep * families, 1},
  }};
}

}  // namespace

Model allocate_columns(const Control& c) {
  Model m;
  m.NLOC = c.NLOC == 1 ? 0 : c.NLOC;
  m.NREP = c.NREP == 1 ? 0 : c.NREP;
  // The blocks one after the other, and after each the number of slots so far.
  const std::array<EffectRow, kEffects> rows = effect_rows(c);
  std::array<int, kEffects> slots_through{};
  std::int64_t K = 0;
  int slots = 0;
  for (std::size_t e = 0; e < rows.size(); ++e) {
    const EffectRow& r = rows[e];
    m.blocks[e] = r.present ? EffectBlock{r.label, K + 1, K + r.columns} : EffectBlock{"    ", 1, 0};
    if (r.present) {
      K += r.columns;
      slots += r.slots;
    }
    slots_through[e] = slots;
  }
  // The names the data pass uses: whether each effect is present, the offset of its
  // block (its first column is the offset + 1) and its last slot.
  auto base = [&](std::size_t e) { return m.blocks[e].first - 1; };
  m.has_loc = rows[1].present;
  m.has_rep = rows[2].present;
  m.has_self = rows[5].present;
  m.has_matr = rows[7].present;
  m.has_recp = rows[8].present;
  m.has_gxl = rows[9].present;
  m.has_sxl = rows[10].present;
  m.has_mxl = rows[11].present;
  m.has_rxl = rows[12].present;
  m.has_fxl = rows[13].present;
  m.has_clon = rows[14].present;
  m.has_cxl = rows[15].present;
  m.has_rxf = rows[16].present;
  if (m.has_loc) m.LOCEND = m.blocks[1].last;
  if (m.has_rep) m.REPBAS = base(2);
  m.SETBAS = base(3);
  m.GCABAS = base(4);
  m.SCABAS = base(6) + (c.ISELF == 0 ? std::int64_t{c.NLINES} * c.NSETS : 0);
  m.SCAEND = m.blocks[6].last;
  m.selfs = c.selfs;
  m.SLFBAS = m.has_self ? base(5) : base(6);
  if (m.has_recp) m.RECBAS = base(8);
  if (m.has_gxl) m.GXLBAS = base(9);
  if (m.has_sxl) m.SXLBAS = base(10);
  if (m.has_mxl) m.MXLBAS = base(11);
  if (m.has_rxl) m.RXLBAS = base(12);
  if (m.has_fxl) m.FXLBAS = base(13);
  if (m.has_clon) m.CLNBAS = base(14);
  if (m.has_cxl) m.CXLBAS = base(15);
  if (m.has_rxf) m.RXFBAS = base(16);
  m.KREP = slots_through[2];
  m.KSET = slots_through[3];
  m.KGCA = slots_through[3] + 1;  // the first of the two GCA slots
  m.KSCA = slots_through[6];
  m.KMAT = slots_through[7];
  m.KREC = slots_through[8];
  m.KGXL = slots_through[9];
  m.KSXL = slots_through[10];
  m.KMXL = slots_through[11];
  m.KRXL = slots_through[12];
  m.KFXL = slots_through[13];
  m.KCLN = slots_through[14];
  m.KCXL = slots_through[15];
  m.KRXF = slots_through[16];

  m.SDFL64 = K;
  m.SDFL = m.fits() ? static_cast<int>(K) : m.limit();
  m.NE = 0;
  for (const EffectBlock& b : m.blocks)
    if (b.size() > 0) ++m.NE;
  return m;
}

void label_columns(const Model& m, std::vector<std::string>& ENAME) {
  std::fill(ENAME.begin(), ENAME.end(), std::string("    "));
  if (!m.fits()) return;  // no label is ever stored beyond the limit
  if (ENAME.size() < static_cast<std::size_t>(m.SDFL)) ENAME.resize(static_cast<std::size_t>(m.SDFL), "    ");
  for (const EffectBlock& b : m.blocks)
    for (std::int64_t col = b.first; col <= b.last; ++col)
      ENAME[static_cast<std::size_t>(col - 1)] = b.label;
}

std::vector<EffectBlock> Model::effects() const {
  std::vector<EffectBlock> e;
  if (!fits()) return e;
  for (const EffectBlock& b : blocks)
    if (b.size() > 0) e.push_back(b);
  return e;
}

bool check_column_limit(rec::Io& io, const Model& m, LimitWording w) {
  // Two wordings: korbal's report and console keep korbal's own line (SDFL in I4);
  // gcasca's report says it in plain words, with a field (I11) wide enough for any
  // count of columns.
  static const rec::Format kRunLimit = rec::Format::compile(
      "('0 More effects are initialized then provided for in the  dimension statements, "
      "SDFL =  ',I4,' , and should be <=',I4,' , JOB TERMINATED')");
  static const rec::Format kReaderLimit = rec::Format::compile(
      "('0 The model has',I11,' columns; at most',I4,' are provided for ,JOB TERMINATED')");
  if (m.fits()) return true;
  const int shown = rec::clamped_int(m.SDFL64);
  if (w == LimitWording::Run)
    report_and_console(io, kRunLimit, {shown, m.limit()});
  else
    io.write(kReportUnit, kReaderLimit, {shown, m.limit()});
  return false;
}

std::optional<Model> initialise(rec::Io& io, Clock& clock, const Control& c, Arrays& a) {
  static const rec::Format kEffect = rec::Format::compile("(' ',T72,A4)");
  static const rec::Format kTotal =
      rec::Format::compile("('0',T42,' Total number of effects =',T70,I6)");
  static const rec::Format kVariables =
      rec::Format::compile("('0',T42,' Variables analyzed are : ',(T69,2A8))");
  static const rec::Format kStars = rec::Format::compile("('0',T20,23A4)");
  static const rec::Format kDone = rec::Format::compile(
      "(' Initialization completed  ',2(I2.2,':'),I2.2,'.',I2.2)");

  const Model m = allocate_columns(c);
  if (!check_column_limit(io, m, LimitWording::Run)) return std::nullopt;

  for (const EffectBlock& b : m.effects()) io.write(kReportUnit, kEffect, {b.label});
  io.write(kReportUnit, kTotal, {m.SDFL});

  // Variable names, printed as their two 8-character halves.
  const std::vector<std::string> names = read_variable_names(io, c.NV);
  std::vector<rec::Item> items;
  items.reserve(2 * names.size());
  for (int v = 0; v < c.NV; ++v) {
    a.VNAME[v] = names[static_cast<std::size_t>(v)];
    const std::string_view name = a.VNAME[v];
    items.emplace_back(name.substr(0, 8));
    items.emplace_back(name.substr(8, 8));
  }
  io.write(kReportUnit, kVariables, items);
  io.write(kReportUnit, kStars, star_items());

  // A model beyond the original arrays (one with an effect by location) grows them, once.
  const auto n = static_cast<std::size_t>(m.SDFL);
  if (a.XPX.size() < n * (n + 1) / 2) a.XPX.resize(n * (n + 1) / 2);
  if (a.XPY.size() < n * MAXY) a.XPY.resize(n * MAXY);
  a.NOBS = 0;
  std::fill_n(a.XPY.begin(), static_cast<std::size_t>(m.SDFL) * c.NV, 0.0);
  std::fill_n(a.YPY.begin(), static_cast<std::size_t>(c.NV) * (c.NV + 1) / 2, 0.0);
  std::fill_n(a.XPX.begin(), static_cast<std::size_t>(m.SDFL) * (m.SDFL + 1) / 2, 0.0);

  stamp(io, clock, kDone);
  return m;
}

}  // namespace korbal
