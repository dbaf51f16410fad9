// dense.hpp: every module of libdense in one include.
#pragma once

#include "block_kernel.hpp"
#include "dense_arith.hpp"
#include "dense_core.hpp"
#include "team_rows.hpp"
#include "textio.hpp"
#include "workers_cyclic.hpp"
#include "workers_ranges.hpp"
