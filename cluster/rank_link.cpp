// Point-to-point messages over MPI_COMM_WORLD. Receiving probes first, so a
// message of any length is taken whole; errors come back as return codes
// (the program sets MPI_ERRORS_RETURN), and a failed call reads as no message.
#include "cluster/rank_link.hpp"

#include <mpi.h>

namespace veksieve {

void send_message(int destination, message_kind kind, std::span<const char> bytes) {
  MPI_Send(bytes.data(), static_cast<int>(bytes.size()), MPI_BYTE, destination, static_cast<int>(kind),
           MPI_COMM_WORLD);
}

namespace {

message take_probed(const MPI_Status& status) {
  int count = 0;
  MPI_Get_count(&status, MPI_BYTE, &count);
  message m;
  m.source = status.MPI_SOURCE;
  m.kind = static_cast<message_kind>(status.MPI_TAG);
  m.bytes.resize(static_cast<std::size_t>(count));
  MPI_Recv(m.bytes.data(), count, MPI_BYTE, status.MPI_SOURCE, status.MPI_TAG, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
  return m;
}

}  // namespace

std::optional<message> poll_message(int source) {
  int flag = 0;
  MPI_Status status;
  if (MPI_Iprobe(source, MPI_ANY_TAG, MPI_COMM_WORLD, &flag, &status) != MPI_SUCCESS || flag == 0) return std::nullopt;
  return take_probed(status);
}

message receive_message(int source) {
  MPI_Status status;
  MPI_Probe(source, MPI_ANY_TAG, MPI_COMM_WORLD, &status);
  return take_probed(status);
}

}  // namespace veksieve
