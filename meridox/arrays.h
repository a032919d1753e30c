// Fixed-size arrays of meridox, shared by its routines.
#pragma once

#include <array>
#include <string>

namespace meridox {

inline constexpr int kMaxComp = 20;  // components: at most 19 effects and the error
inline constexpr int kMaxAnal = 55;  // analyses: NV(NV+1)/2 with NV = 10

// The coefficient matrix, its inverse and the covariance of the components: square
// matrices of the components in natural order (error last).
using NatMat = std::array<std::array<double, kMaxComp>, kMaxComp>;
// One value per component.
using CompVec = std::array<double, kMaxComp>;
using CompInts = std::array<int, kMaxComp>;
using CompNames = std::array<std::string, kMaxComp>;

}  // namespace meridox
