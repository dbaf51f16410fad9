# How the kit's tests start programs under mpirun: DENSE_MPIEXEC (empty when there is no
# mpirun) and DENSE_MPI_ENV, the environment every such test runs with. Included by the
# folders whose tests start ranks.
include_guard(DIRECTORY)
find_program(DENSE_MPIEXEC NAMES mpirun mpiexec HINTS ${MPIEXEC_EXECUTABLE})
if(NOT DENSE_MPIEXEC)
  message(WARNING "MPI found but no mpirun: the MPI tests are left out (Debian: openmpi-bin)")
endif()
set(DENSE_MPI_ENV
  # Four ranks on two cores: threads that spin while waiting would starve the other ranks.
  OMP_WAIT_POLICY=passive
  OMPI_MCA_mpi_yield_when_idle=1)
execute_process(COMMAND id -u OUTPUT_VARIABLE dense_uid OUTPUT_STRIP_TRAILING_WHITESPACE)
if(dense_uid STREQUAL "0")
  # Open MPI refuses to start as root unless told twice.
  list(APPEND DENSE_MPI_ENV OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1)
endif()

