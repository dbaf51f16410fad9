#!/bin/sh
# pkg_config_consumer.sh PKGCONFIG_DIR SOURCE OUTPUT CXX [CXXFLAGS]: builds the
# consumer with plain compiler lines and the flags `pkg-config` gives for
# dense, then runs it. Compiling and linking are two steps, as in a makefile,
# so each of --cflags and --libs must be complete on its own.
set -eu
PKG_CONFIG_PATH=$1
export PKG_CONFIG_PATH
cflags=$(pkg-config --cflags dense)
libs=$(pkg-config --libs dense)
# Word splitting of the flags is wanted: each is one argument of the compiler.
# shellcheck disable=SC2086
"$4" ${5:-} $cflags -c "$2" -o "$3.o"
# shellcheck disable=SC2086
"$4" ${5:-} "$3.o" $libs -o "$3"
exec "$3"
