// The counting stand-ins for the MPI calls of the products (see mpi_compare_count.hpp).
#include "count.hpp"

#include <mpi.h>

namespace mpi_compare {
namespace {

// One rank's counters: each process of the job has its own.
struct counters {
  bool on = false;
  traffic t;
};
counters g_count;

uint64_t bytes(int count, MPI_Datatype type) {
  int size = 0;
  PMPI_Type_size(type, &size);
  return static_cast<uint64_t>(count) * static_cast<uint64_t>(size);
}

int rank_in(MPI_Comm comm) {
  int r = 0;
  PMPI_Comm_rank(comm, &r);
  return r;
}

int size_of(MPI_Comm comm) {
  int s = 0;
  PMPI_Comm_size(comm, &s);
  return s;
}

}  // namespace

void start_counting() {
  g_count.t = traffic{};
  g_count.on = true;
}

traffic stop_counting() {
  g_count.on = false;
  return g_count.t;
}

}  // namespace mpi_compare

using mpi_compare::g_count;

extern "C" {

int MPI_Bcast(void* buffer, int count, MPI_Datatype type, int root, MPI_Comm comm) {
  if (g_count.on) {
    const uint64_t b = mpi_compare::bytes(count, type);
    if (mpi_compare::rank_in(comm) == root) {
      g_count.t.sent += b * static_cast<uint64_t>(mpi_compare::size_of(comm) - 1);
    } else {
      g_count.t.received += b;
    }
  }
  return PMPI_Bcast(buffer, count, type, root, comm);
}

int MPI_Scatterv(const void* sendbuf, const int sendcounts[], const int displs[],
                 MPI_Datatype sendtype, void* recvbuf, int recvcount, MPI_Datatype recvtype,
                 int root, MPI_Comm comm) {
  if (g_count.on) {
    const int me = mpi_compare::rank_in(comm);
    if (me == root) {
      for (int r = 0; r < mpi_compare::size_of(comm); ++r) {
        g_count.t.sent += r == root ? 0 : mpi_compare::bytes(sendcounts[r], sendtype);
      }
    } else {
      g_count.t.received += mpi_compare::bytes(recvcount, recvtype);
    }
  }
  return PMPI_Scatterv(sendbuf, sendcounts, displs, sendtype, recvbuf, recvcount, recvtype, root,
                       comm);
}

int MPI_Gatherv(const void* sendbuf, int sendcount, MPI_Datatype sendtype, void* recvbuf,
                const int recvcounts[], const int displs[], MPI_Datatype recvtype, int root,
                MPI_Comm comm) {
  if (g_count.on) {
    const int me = mpi_compare::rank_in(comm);
    if (me == root) {
      for (int r = 0; r < mpi_compare::size_of(comm); ++r) {
        g_count.t.received += r == root ? 0 : mpi_compare::bytes(recvcounts[r], recvtype);
      }
    } else {
      g_count.t.sent += mpi_compare::bytes(sendcount, sendtype);
    }
  }
  return PMPI_Gatherv(sendbuf, sendcount, sendtype, recvbuf, recvcounts, displs, recvtype, root,
                      comm);
}

int MPI_Send(const void* buf, int count, MPI_Datatype type, int dest, int tag, MPI_Comm comm) {
  if (g_count.on && dest != mpi_compare::rank_in(comm)) {
    g_count.t.sent += mpi_compare::bytes(count, type);
  }
  return PMPI_Send(buf, count, type, dest, tag, comm);
}

int MPI_Recv(void* buf, int count, MPI_Datatype type, int source, int tag, MPI_Comm comm,
             MPI_Status* status) {
  MPI_Status own{};
  MPI_Status* st = status == MPI_STATUS_IGNORE ? &own : status;
  const int rc = PMPI_Recv(buf, count, type, source, tag, comm, st);
  if (g_count.on && rc == MPI_SUCCESS && st->MPI_SOURCE != mpi_compare::rank_in(comm)) {
    int got = 0;
    PMPI_Get_count(st, type, &got);
    g_count.t.received += mpi_compare::bytes(got, type);
  }
  return rc;
}

int MPI_Allreduce(const void* sendbuf, void* recvbuf, int count, MPI_Datatype type, MPI_Op op,
                  MPI_Comm comm) {
  if (g_count.on && mpi_compare::size_of(comm) > 1) {
    g_count.t.sent += mpi_compare::bytes(count, type);
    g_count.t.received += mpi_compare::bytes(count, type);
  }
  return PMPI_Allreduce(sendbuf, recvbuf, count, type, op, comm);
}

// The non-blocking calls the products post: counted when posted, with the
// count posted (the products always receive exactly what was sent).
int MPI_Ibcast(void* buffer, int count, MPI_Datatype type, int root, MPI_Comm comm,
               MPI_Request* request) {
  if (g_count.on) {
    const uint64_t b = mpi_compare::bytes(count, type);
    if (mpi_compare::rank_in(comm) == root) {
      g_count.t.sent += b * static_cast<uint64_t>(mpi_compare::size_of(comm) - 1);
    } else {
      g_count.t.received += b;
    }
  }
  return PMPI_Ibcast(buffer, count, type, root, comm, request);
}

int MPI_Isend(const void* buf, int count, MPI_Datatype type, int dest, int tag, MPI_Comm comm,
              MPI_Request* request) {
  if (g_count.on && dest != mpi_compare::rank_in(comm)) {
    g_count.t.sent += mpi_compare::bytes(count, type);
  }
  return PMPI_Isend(buf, count, type, dest, tag, comm, request);
}

int MPI_Irecv(void* buf, int count, MPI_Datatype type, int source, int tag, MPI_Comm comm,
              MPI_Request* request) {
  if (g_count.on && source != mpi_compare::rank_in(comm)) {
    g_count.t.received += mpi_compare::bytes(count, type);
  }
  return PMPI_Irecv(buf, count, type, source, tag, comm, request);
}

}  // extern "C"
