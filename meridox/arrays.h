// Fixed-size arrays of meridox, shared by its routines.
#pragma once

#include <array>
#include <string>

namespace meridox {

inline constexpr int kMaxComp = 20;  // components: at most 19 effects and the error
inline constexpr int kMaxAnal = 55;  // analyses: NV(NV+1)/2 with NV = 10

// CMAT: the coefficient matrix augmented by its work space (rows = components).
using CMat = std::array<std::array<double, 2 * kMaxComp>, kMaxComp>;
// CNAT and the inverse R: square matrices of the components in natural order.
using NatMat = std::array<std::array<double, kMaxComp>, kMaxComp>;
// One value per component.
using CompVec = std::array<double, kMaxComp>;
using CompInts = std::array<int, kMaxComp>;
using CompNames = std::array<std::string, kMaxComp>;

}  // namespace meridox
