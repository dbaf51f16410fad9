// Descriptors 0, 1 and 2 kept open, so that a program's own files never take their place.
#pragma once

namespace tool_common {

// Opens /dev/null on whichever of descriptors 0, 1 and 2 is closed, so that
// a file opened later never lands on one of them (a table printed "to
// stdout" would otherwise go into that file).
void open_standard_descriptors();

}  // namespace tool_common
