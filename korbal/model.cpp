// Effects model: column allocation, labels, effect list, interchange header,
// variable names and the clearing of the accumulators.
#include "korbal/model.h"

#include <algorithm>

#include "korbal/control.h"
#include "records/format.h"

namespace korbal {

namespace {

// Appends a block of `n` columns after column K and returns it; K moves to its end.
EffectBlock take(const char* label, std::int64_t& K, std::int64_t n) {
  EffectBlock b{label, K + 1, K + n};
  K += n;
  return b;
}

// The design blocks: MEAN, locations, replications (within locations when there are
// several) and sets; the slots of replications and sets.
void design_blocks(Model& m, const Control& c, std::int64_t& K) {
  m.blocks[0] = EffectBlock{"MEAN", 1, 1};
  m.KREP = 1;
  m.has_loc = c.NLOC >= 2;
  if (m.has_loc) {
    m.LOCEND = std::int64_t{c.NLOC} + 1;
    m.blocks[1] = EffectBlock{"LOC ", 2, m.LOCEND};
    m.KREP = 2;
  }
  m.NLOC = c.NLOC == 1 ? 0 : c.NLOC;
  K = std::int64_t{m.NLOC} + 1;
  const std::int64_t nloc = m.NLOC;

  m.has_rep = c.NREP >= 2;
  if (m.has_rep) {
    m.REPBAS = K;
    m.blocks[2] = take("REPS", K, nloc >= 2 ? std::int64_t{c.NREP} * nloc : c.NREP);
    m.KREP += 1;
  }
  m.NREP = c.NREP == 1 ? 0 : c.NREP;

  m.SETBAS = K;
  m.blocks[3] = take("SETS", K, c.NSETS);
  m.KSET = m.KREP + 1;
}

// The genetic blocks of the parents and crosses of every set: GCA, selfs, SCA (with the
// self columns at its head when selfs are no effect of their own), maternal and
// reciprocal effects.
void genetic_blocks(Model& m, const Control& c, std::int64_t& K) {
  const std::int64_t p = c.NLINES, s = c.NSETS;
  const std::int64_t pairs = s * (p * (p - 1) / 2);  // unordered crosses of all sets
  m.KGCA = m.KSET + 1;
  m.GCABAS = K;
  m.blocks[4] = take("GCA ", K, p * s);

  m.has_self = c.ISELF >= 1;
  if (m.has_self) m.blocks[5] = take("SELF", K, p * s);

  // With ISELF = 0 the self columns stand at the head of the SCA block.
  const std::int64_t head = c.ISELF == 0 ? p * s : 0;
  m.SCABAS = K + head;
  m.blocks[6] = take("SCA ", K, head + pairs);
  m.SCAEND = K;
  m.KSCA = m.KGCA + 2;
  m.KMAT = m.KSCA;

  m.has_matr = c.IMATR != 0;
  if (m.has_matr) {
    m.blocks[7] = take("MATR", K, p * s);
    m.KMAT += 2;
  }

  m.KREC = m.KMAT;
  m.has_recp = c.IRECP > 0;
  if (m.has_recp) {
    m.RECBAS = K;
    m.blocks[8] = take("RECP", K, pairs);
    m.KREC += 1;
  }
}

// The blocks of the families (ordered crosses of all sets): family by location, clones,
// clones by location and replications by family.
void family_blocks(Model& m, const Control& c, std::int64_t& K) {
  const std::int64_t p = c.NLINES, s = c.NSETS, nclon = c.NCLON;
  const std::int64_t families = s * p * (p - 1);  // ordered crosses of all sets
  const std::int64_t nloc = m.NLOC, nrep = m.NREP;
  m.KFXL = m.KREC;
  m.has_fxl = c.IFXL > 0 && nloc >= 2;
  if (m.has_fxl) {
    m.FXLBAS = K;
    m.blocks[9] = take("FXL ", K, nloc * families);
    m.KFXL += 1;
  }

  m.KCLN = m.KFXL;
  m.has_clon = c.NCLON != 0;
  if (m.has_clon) {
    m.CLNBAS = K;
    m.blocks[10] = take("CLON", K, families * nclon);
    m.KCLN += 1;
  }

  m.KCXL = m.KCLN;
  m.has_cxl = c.ICXL != 0 && nloc >= 2 && nclon >= 2;
  if (m.has_cxl) {
    m.CXLBAS = K;
    m.blocks[11] = take("CXL ", K, nloc * families * nclon);
    m.KCXL += 1;
  }

  m.KRXF = m.KCXL;
  m.has_rxf = c.IRXF != 0 && nloc >= 2 && nrep >= 2;
  if (m.has_rxf) {
    m.RXFBAS = K;
    m.blocks[12] = take("RXF ", K, nloc * nrep * families);
    m.KRXF += 1;
  }
}

}  // namespace

Model allocate_columns(const Control& c) {
  Model m;
  for (std::size_t e = 1; e < m.blocks.size(); ++e) m.blocks[e] = EffectBlock{"    ", 1, 0};
  std::int64_t K = 1;
  design_blocks(m, c, K);
  genetic_blocks(m, c, K);
  family_blocks(m, c, K);

  m.SDFL64 = K;
  m.SDFL = m.fits() ? static_cast<int>(K) : MAXCOL;
  m.NE = 0;
  for (const EffectBlock& b : m.blocks)
    if (b.size() > 0) ++m.NE;
  return m;
}

void label_columns(const Model& m, std::vector<std::string>& ENAME) {
  std::fill(ENAME.begin(), ENAME.end(), std::string("    "));
  if (!m.fits()) return;  // no label is ever stored beyond the limit
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
    report_and_console(io, kRunLimit, {shown, MAXCOL});
  else
    io.write(kReportUnit, kReaderLimit, {shown, MAXCOL});
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

  a.NOBS = 0;
  std::fill_n(a.XPY.begin(), static_cast<std::size_t>(m.SDFL) * c.NV, 0.0);
  std::fill_n(a.YPY.begin(), static_cast<std::size_t>(c.NV) * (c.NV + 1) / 2, 0.0);
  std::fill_n(a.XPX.begin(), static_cast<std::size_t>(m.SDFL) * (m.SDFL + 1) / 2, 0.0);

  stamp(io, clock, kDone);
  return m;
}

}  // namespace korbal
