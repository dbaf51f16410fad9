# One place that sets up every target of the kit the same way.

# dense_set_warnings(target): the warning set every source of the kit compiles cleanly with.
function(dense_set_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion)
endfunction()

# dense_add_program(name source...): a program of the kit, written to <build>/bin.
function(dense_add_program name)
  add_executable(${name} ${ARGN})
  dense_set_warnings(${name})
endfunction()
