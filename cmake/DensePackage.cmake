# libdense as a package: `cmake --install` writes the headers to <prefix>/include/dense,
# the library, a CMake package (find_package(dense)) and a pkg-config file (dense.pc).
include(CMakePackageConfigHelpers)

set(DENSE_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/dense)

install(TARGETS dense EXPORT dense-targets ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(DIRECTORY include/dense DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
        FILES_MATCHING PATTERN "*.hpp")
install(EXPORT dense-targets NAMESPACE dense:: DESTINATION ${DENSE_CMAKE_DIR})

configure_package_config_file(cmake/dense-config.cmake.in
  ${PROJECT_BINARY_DIR}/dense-config.cmake INSTALL_DESTINATION ${DENSE_CMAKE_DIR})
# 0.x releases keep their interface within one major version, as 1.x will.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/dense-config-version.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/dense-config.cmake
              ${PROJECT_BINARY_DIR}/dense-config-version.cmake
        DESTINATION ${DENSE_CMAKE_DIR})

# dense.pc finds its prefix from its own place (${pcfiledir}), so an install
# moved elsewhere, or made with `cmake --install --prefix`, stays correct.
# OpenMP's flag is the one this compiler found (-fopenmp for g++).
function(dense_pc_path out dir)
  if(IS_ABSOLUTE "${dir}")
    set(${out} "${dir}" PARENT_SCOPE)
  else()
    set(${out} "\${prefix}/${dir}" PARENT_SCOPE)
  endif()
endfunction()
file(RELATIVE_PATH DENSE_PC_UP "/p/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/p")
string(REGEX REPLACE "/$" "" DENSE_PC_UP "${DENSE_PC_UP}")
dense_pc_path(DENSE_PC_LIBDIR "${CMAKE_INSTALL_LIBDIR}")
dense_pc_path(DENSE_PC_INCLUDEDIR "${CMAKE_INSTALL_INCLUDEDIR}")
string(REPLACE ";" " " DENSE_PC_OPENMP "${OpenMP_CXX_FLAGS}")
configure_file(cmake/dense.pc.in ${PROJECT_BINARY_DIR}/dense.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/dense.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
