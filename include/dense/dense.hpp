// dense.hpp: every module of libdense in one include.
#pragma once

#include <dense/block_kernel.hpp>
#include <dense/dense_arith.hpp>
#include <dense/dense_core.hpp>
#include <dense/team_kernel.hpp>
#include <dense/team_rows.hpp>
#include <dense/textio.hpp>
#include <dense/workers_cyclic.hpp>
#include <dense/workers_ranges.hpp>
