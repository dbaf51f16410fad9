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

// The exported functions of `path` that a missing symbol may have meant:
// every C name (none of the toolchain's, which start with '_'), and, shown
// demangled and first, every C++ name whose parameter list is `parameters`
// (as the demangler writes it: "(int const*, int)"), a function that lacks
// extern "C".
std::vector<std::string> functions_one_may_mean(const std::string& path,
                                                const std::string& parameters);

}  // namespace tool_common
