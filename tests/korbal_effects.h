// Effect blocks of a model given as one label per column (the columns of an effect
// contiguous), for tests that build reduced equations by hand.
#pragma once

#include <string>
#include <vector>

#include "korbal/model.h"

namespace testsupport {

// The blocks point into `ename`, which must outlive them.
inline std::vector<korbal::EffectBlock> effects_of(const std::vector<std::string>& ename) {
  std::vector<korbal::EffectBlock> e;
  for (std::size_t i = 0; i < ename.size(); ++i) {
    const std::int64_t col = static_cast<std::int64_t>(i) + 1;
    if (i == 0 || ename[i] != ename[i - 1])
      e.push_back({ename[i].c_str(), col, col});
    else
      e.back().last = col;
  }
  return e;
}

}  // namespace testsupport
