# One place that sets up every target of the kit the same way.

# The warning set every source of the kit compiles cleanly with, students' products included.
set(DENSE_WARNINGS -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion)

# dense_set_warnings(target): that warning set on one target.
function(dense_set_warnings target)
  target_compile_options(${target} PRIVATE ${DENSE_WARNINGS})
endfunction()

# dense_add_program(name source...): a program of the kit, written to <build>/bin.
function(dense_add_program name)
  add_executable(${name} ${ARGN})
  dense_set_warnings(${name})
endfunction()

# dense_add_student_product(name dir source...): a product for compare_products --add, built as a
# student builds one: a shared object NAME.so in `dir`, compiled against the kit's headers with
# OpenMP and the warning set, and linked with no library at all (the worker that loads it
# provides libdense and the OpenMP runtime).
function(dense_add_student_product name dir)
  add_library(${name} MODULE ${ARGN})
  set_target_properties(${name} PROPERTIES PREFIX "" LIBRARY_OUTPUT_DIRECTORY ${dir})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/include)
  # Release builds for this machine, as `make try` compiles (exercises/CMakeLists.txt). Never
  # with a sanitizer build's checks: a student's code is built without them, and its faults
  # (a write through a null pointer) must reach the worker as the crash they are.
  target_compile_options(${name} PRIVATE ${OpenMP_CXX_FLAGS}
    $<$<AND:$<CONFIG:Release>,$<BOOL:${DENSE_NATIVE}>>:-march=native> -fno-sanitize=all)
  target_link_options(${name} PRIVATE -fno-sanitize=all)
  dense_set_warnings(${name})
endfunction()
