// Process plumbing for compare_products: standard descriptors, folders, PATH search, gnuplot.
#pragma once

#include <string>

namespace compare_tool {

// Opens /dev/null on whichever of descriptors 0, 1 and 2 is closed, so that
// a file opened later never lands on one of them (a table printed "to
// stdout" would otherwise go into that file).
void open_standard_descriptors();

// mkdir -p: true when `dir` exists as a directory we can write into; errno
// says why not.
bool make_directory(const std::string& dir);

// The full path of `program` on PATH, or empty.
std::string find_on_path(const std::string& program);

// Runs the program at `gnuplot` on `script` with its standard output on
// `png_fd`. True when it ran and exited with status 0.
bool run_gnuplot(const std::string& gnuplot, const std::string& script, int png_fd);

}  // namespace compare_tool
