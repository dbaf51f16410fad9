// The phases the MPI products mark on the kit's per-thread recorder (common/trace.hpp), for
// mpi_compare's --trace and --timeline: what a rank is doing, named once.
//
// A span costs one relaxed load and a branch while nobody records, so the
// products mark their phases unconditionally. The team kernel marks its own
// phases (packing, multiplying, waiting) on each thread of its team inside
// "compute".
#pragma once

#include "common/trace.hpp"

namespace mpi_detail::phases {

using dense_detail::trace::span;

inline constexpr char kAgree[] = "agree on shape";  // the collective check of the factors
inline constexpr char kMakeGrid[] = "make grid";  // the grid's communicators (collective: may wait)
inline constexpr char kMakeBuffers[] = "make buffers";   // a rank's blocks and panels
inline constexpr char kDealA[] = "deal a";               // rank 0 packs and posts the others' a
inline constexpr char kDealB[] = "deal b";               // rank 0 packs and posts the others' b
inline constexpr char kMakeResult[] = "make result";     // rank 0 allocates the whole c
inline constexpr char kReceiveAB[] = "receive a and b";  // rows: a rank's rows of a and all of b
inline constexpr char kReceiveA[] = "receive a";         // summa: waits for its dealt block of a
inline constexpr char kReceiveB[] = "receive b";         // summa: waits for its dealt block of b
inline constexpr char kBroadcastPanel[] = "broadcast panel";  // copy and post a panel's Ibcasts
inline constexpr char kWaitPanel[] = "wait for panel";        // the panel to multiply has not come
inline constexpr char kCompute[] = "compute";                 // the team kernel on local blocks
inline constexpr char kCollectC[] = "collect c";              // rank 0 receives the others' c
inline constexpr char kSendC[] = "send c";                    // a rank sends its c to rank 0
inline constexpr char kWaitSends[] = "wait for sends";        // rank 0: its dealt blocks are gone

// The products mark phases on the calling thread only: its lane is the rank's.
inline constexpr int32_t kCaller = -1;

}  // namespace mpi_detail::phases
