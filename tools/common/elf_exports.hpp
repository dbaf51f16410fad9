// The functions a shared object exports, read from its file's dynamic symbol table without
// loading it: loading runs the object's constructors, which are not the reader's to run.
#pragma once

#include <string>
#include <vector>

namespace tool_common {

// The names of the functions the 64-bit ELF object at `path` defines and
// exports, as the dynamic linker sees them (C++ names mangled), in its
// table's order; empty when the file cannot be read or is no such object.
std::vector<std::string> exported_functions(const std::string& path);

}  // namespace tool_common
