// What every column of korbal's model stands for, and the numbering of the columns that
// the data pass and every reader of the columns share.
//
// The data pass (select_columns) selects the columns of a data line with pair_index and
// family_index; columns() lists the meaning of each column with the same functions, so
// that a program reading korbal's normal equations (gcasca, the CSV tables) never
// numbers the columns itself.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "korbal/korbal.h"
#include "korbal/model.h"

namespace korbal {

// Identifiers of one data line; fields the layout does not carry stay 0.
struct Ids {
  std::int32_t ILOC = 0, IREP = 0, ISET = 0, IFEM = 0, IMALE = 0, ICLONE = 0;
};

// The identifiers a data line may carry, in the order of a fixed-column data line and
// of the CSV record, and the order of every table indexed by identifier.
enum Factor { kLocation, kReplication, kSet, kFemale, kMale, kClone };

struct Identifier {
  const char* code;              // the item's name in messages and the CSV record
  const char* name;              // the factor's name in tables
  std::int32_t Ids::*member;     // where a data line holds it
};
inline constexpr Identifier kIdentifiers[6] = {
    {"ILOC", "location", &Ids::ILOC},  {"IREP", "replication", &Ids::IREP},
    {"ISET", "set", &Ids::ISET},       {"IFEM", "female", &Ids::IFEM},
    {"IMALE", "male", &Ids::IMALE},    {"ICLONE", "clone", &Ids::ICLONE}};

// Whether the data lines of `layout` carry identifier `f`: every layout carries
// the set, the two parents and the clone; locations and replications by the layout.
bool carries(Layout layout, Factor f);

// Number of levels of each identifier the layout reads (0 for one it does not read).
std::array<std::int32_t, 6> level_counts(const Control& c);

// The levels a column stands for; 0 where the effect has no such factor.
struct Column {
  const char* effect = "MEAN";  // effect code without trailing blanks
  std::int32_t loc = 0, rep = 0, set = 0;
  std::int32_t line_1 = 0, line_2 = 0;  // a parent; a cross (female, male) or pair (low, high)
  std::int32_t clone = 0;
};

// Position (1-based, over all sets) of the unordered pair low < high of `set` among the
// pairs of a set of `p` lines: (1,2), (1,3), ..., (1,p), (2,3), ...
inline std::int32_t pair_index(std::int32_t p, std::int32_t set, std::int32_t low,
                               std::int32_t high) {
  return (set - 1) * (p * (p - 1) / 2) + low * p - p + high - (low * low + low) / 2;
}

// Families of a set of `p` lines: its ordered crosses, and when self lines are analysed
// (`selfs`) the p self families after them.
inline std::int32_t families_per_set(std::int32_t p, bool selfs) {
  return p * (p - 1) + (selfs ? p : 0);
}

// Position (1-based, over all sets) of the family fem x male of `set` among the
// families of a set of `p` lines: the ordered crosses (fem != male) by female, then
// male; with `selfs` the self family of fem (fem == male) after them.
inline std::int32_t family_index(std::int32_t p, std::int32_t set, std::int32_t fem,
                                 std::int32_t male, bool selfs = false) {
  const std::int32_t first = (set - 1) * families_per_set(p, selfs);
  if (fem == male) return first + p * (p - 1) + fem;
  return first + (fem - 1) * (p - 1) + (male > fem ? male - 1 : male);
}

// The meaning of columns 1..SDFL of the model `m` of the normalised control record `c`
// (which must fit the column limit), in column order.
std::vector<Column> columns(const Control& c, const Model& m);

// The pivot tolerance of the reduction of the normal equations: SDFL x XPX(1,1) x 1.0E-11,
// with XPX(1,1) the number of observations before the reduction.
inline double pivot_tolerance(int SDFL, double xpx11) {
  return static_cast<double>(SDFL) * xpx11 * 1.0E-11;
}

}  // namespace korbal
