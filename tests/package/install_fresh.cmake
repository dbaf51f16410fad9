# cmake -DBUILD=<build dir> -DPREFIX=<dir> -P install_fresh.cmake: the kit's
# install into an emptied prefix, so no file of an earlier install can stand in
# for one this install forgot.
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD}" --prefix "${PREFIX}"
                COMMAND_ERROR_IS_FATAL ANY)
