// A program interrupted (Ctrl-C, SIGTERM, a closed terminal, a reader of its output gone) gives
// back what it claimed before it ends, so it never leaves half-made outputs behind.
#pragma once

namespace tool_common {

// From now on SIGINT, SIGTERM, SIGHUP and SIGPIPE run `first` (null: none;
// it may call only what a signal handler may: kill, waitpid, unlink, ...),
// then give_back_every_claim() (outputs.hpp), then end the process of the
// same signal, as it would have ended without the handler. SIGXFSZ is
// ignored, so a write past the file-size limit fails and is reported
// instead of ending the run.
void give_back_claims_on_signals(void (*first)());

}  // namespace tool_common
