// Process plumbing for compare_products: standard descriptors, PATH search, gnuplot.
#pragma once

#include <string>

namespace compare_products {

// Opens /dev/null on whichever of descriptors 0, 1 and 2 is closed, so that
// a file opened later never lands on one of them (a table printed "to
// stdout" would otherwise go into that file).
void open_standard_descriptors();

// The full path of `program` on PATH, or empty.
std::string find_on_path(const std::string& program);

// `text` as a string in a gnuplot script: between double quotes, with its
// quotes and backslashes escaped, so a title or a name cannot end the string
// and write script of its own.
std::string gnuplot_quoted(const std::string& text);

// Runs the program at `gnuplot` on `script` and returns in *png what it
// wrote on its standard output. True when it ran and exited with status 0.
bool run_gnuplot(const std::string& gnuplot, const std::string& script, std::string* png);

}  // namespace compare_products
