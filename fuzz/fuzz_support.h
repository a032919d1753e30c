// Helpers for the fuzz targets: a private scratch directory per process.
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "records/io.h"

namespace fuzzsupport {

// The scratch directory of this process (created on first use, emptied by clear()).
const std::filesystem::path& scratch();
void clear();
void write(const std::filesystem::path& p, std::string_view content);

// Splits the fuzzer's input at the first `parts - 1` occurrences of "\n%%\n".
std::vector<std::string_view> split(const std::uint8_t* data, std::size_t size, int parts);

// Console lines for the pauses: a command (never run), a line longer than a pause
// line, a blank one.
inline const std::string kPauseLines =
    "touch fuzz-ran\n" + std::string(300, 'y') + "\n\n";

// Runs `program` on `io` as the program's main does: the inputs opened first, the report
// checked, outputs replaced at close, pauses at an interactive console. Returns the exit
// status.
int run_as_program(rec::Io& io, std::initializer_list<rec::Io::InputArgument> inputs,
                   int report_unit, const std::function<int()>& program);

}  // namespace fuzzsupport
