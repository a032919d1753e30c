// The effects model of korbal: which effects the control record switches on, how
// many columns of X each gets, where each block stands, the label of every column
// and the slots through which the data pass enters one data line.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "korbal/clock.h"
#include "korbal/korbal.h"
#include "records/io.h"

namespace korbal {

// One effect block: columns first..last (1-based, inclusive); empty when last < first.
struct EffectBlock {
  const char* label = "    ";
  std::int64_t first = 1, last = 0;
  std::int64_t size() const { return last - first + 1; }
};

// Number of effects of the model (MEAN included), present or not.
inline constexpr std::size_t kEffects = 17;

// Result of the column allocation. Block bounds follow the convention "a block with
// offset B and last column E holds columns B+1..E". Everything is a pure function of
// the control items.
struct Model {
  // Control values after the adjustment of the model (a count of 1 becomes 0).
  std::int32_t NLOC = 0, NREP = 0;

  // Number of columns (64-bit: formed before the limit is checked) and effects.
  std::int64_t SDFL64 = 1;
  int SDFL = 1;  // valid only when fits()
  int NE = 1;

  // Effects present (and therefore given a slot by the data pass).
  bool has_loc = false, has_rep = false, has_self = false, has_matr = false,
       has_recp = false, has_gxl = false, has_sxl = false, has_mxl = false, has_rxl = false,
       has_fxl = false, has_clon = false, has_cxl = false, has_rxf = false;

  // Whether self lines are analysed (Control::selfs): a self line then selects the self
  // column of its parent, at SLFBAS + the line (the SELF block, or the head of SCA).
  bool selfs = false;

  // Where the data pass finds the blocks (the last column of each is in `blocks`).
  std::int64_t LOCEND = 1, REPBAS = 0, SETBAS = 0, GCABAS = 0, SCABAS = 0, SCAEND = 0,
               RECBAS = 0, GXLBAS = 0, SXLBAS = 0, MXLBAS = 0, RXLBAS = 0, FXLBAS = 0,
               CLNBAS = 0, CXLBAS = 0, RXFBAS = 0, SLFBAS = 0;

  // Slot numbers (1-based); KRXF is the number of slots every data line fills. KMAT,
  // KGXL and KMXL are the second of their effect's two slots.
  int KREP = 1, KSET = 2, KGCA = 3, KSCA = 5, KMAT = 5, KREC = 5, KGXL = 5, KSXL = 5,
      KMXL = 5, KRXL = 5, KFXL = 5, KCLN = 5, KCXL = 5, KRXF = 5;

  // The blocks in model order (MEAN first); absent effects have size 0.
  std::array<EffectBlock, kEffects> blocks{};

  // The column limit: MAXCOL, or kMaxColByLocation for a model with an effect by location.
  int limit() const { return has_gxl || has_sxl || has_mxl || has_rxl ? kMaxColByLocation : MAXCOL; }
  bool fits() const { return SDFL64 <= limit(); }

  // The effects of the model in model order: the blocks that have columns. They are
  // contiguous from column 1 to SDFL.
  std::vector<EffectBlock> effects() const;
};

// Column allocation: numbers the columns of the model for the control items `c`.
// Pure; negative counts must have been rejected before.
Model allocate_columns(const Control& c);

// Fills ENAME(1..SDFL) with the labels of the model's columns and blanks above (ENAME
// grows to SDFL labels when it is shorter).
void label_columns(const Model& m, std::vector<std::string>& ENAME);

// Who refuses a model beyond the column limit, and so in which words.
enum class LimitWording {
  Run,     // korbal's run: its own message, on the report and the console
  Reader,  // a program reading korbal's equations (gcasca): the plain count, on its report
};

// Checks the model `m` against its column limit (Model::limit). Returns true when it fits;
// otherwise writes the "JOB TERMINATED" line in the words of `w` and returns false.
bool check_column_limit(rec::Io& io, const Model& m, LimitWording w);

// Effects model and initialization of the run (for a normalised control record):
// allocation, column-limit check, effect list and total on the report, variable
// names, clearing of the accumulators and the "Initialization completed" line.
// Returns no model after the column-limit message (the run goes to its closing).
std::optional<Model> initialise(rec::Io& io, Clock& clock, const Control& c, Arrays& a);

}  // namespace korbal
