# What dense::mpi needs from the system: MPI for C++ (Debian: libopenmpi-dev).
include(CMakeFindDependencyMacro)
find_dependency(MPI COMPONENTS CXX)
