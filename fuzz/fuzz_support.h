// Helpers for the fuzz targets: a private scratch directory per process.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string_view>
#include <vector>

namespace fuzzsupport {

// The scratch directory of this process (created on first use, emptied by clear()).
const std::filesystem::path& scratch();
void clear();
void write(const std::filesystem::path& p, std::string_view content);

// Splits the fuzzer's input at the first `parts - 1` occurrences of "\n%%\n".
std::vector<std::string_view> split(const std::uint8_t* data, std::size_t size, int parts);

}  // namespace fuzzsupport
