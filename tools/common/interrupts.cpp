// The signal handler that gives back a program's claims.
#include "tools/common/interrupts.hpp"

#include <csignal>

#include "tools/common/outputs.hpp"

namespace tool_common {
namespace {

// Set once, before the handler is installed; read only by the handler.
void (*g_first)() = nullptr;

void give_back_and_end(int sig) {
  if (g_first != nullptr) {
    g_first();
  }
  give_back_every_claim();
  signal(sig, SIG_DFL);
  raise(sig);
}

}  // namespace

void give_back_claims_on_signals(void (*first)()) {
  g_first = first;
  struct sigaction act {};
  act.sa_handler = give_back_and_end;
  // No second signal runs the handler again while it works.
  sigfillset(&act.sa_mask);
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
    sigaction(sig, &act, nullptr);
  }
  signal(SIGXFSZ, SIG_IGN);
}

}  // namespace tool_common
