// Process plumbing for compare_products: standard descriptors (gnuplot is in
// tools/common/gnuplot.hpp).
#pragma once

namespace compare_products {

// Opens /dev/null on whichever of descriptors 0, 1 and 2 is closed, so that
// a file opened later never lands on one of them (a table printed "to
// stdout" would otherwise go into that file).
void open_standard_descriptors();

}  // namespace compare_products
