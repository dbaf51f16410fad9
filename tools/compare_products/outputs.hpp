// compare_products' outputs after the run: one table of entries (--csv, --raw, --save's three
// files, --plot, --trace, --timeline), each claimed before the work and written after it through
// tool_common::output_file (tools/common/outputs.hpp). A new output format is one entry.
#pragma once

#include <cstdio>
#include <string>

#include "options.hpp"
#include "run.hpp"

namespace compare_products {

// Every output a run asks for: claimed, then written or given back.
class run_outputs {
 public:
  run_outputs();
  run_outputs(const run_outputs&) = delete;
  run_outputs& operator=(const run_outputs&) = delete;
  ~run_outputs();

  // Claims every output `o` asks for, in the table's order. Empty, or the
  // refusal (one line, no program name): a path that cannot be written,
  // "--raw: 'x' is also the file of --csv; give each output a file of its
  // own". After a refusal, give_back() undoes the claims made.
  std::string claim(const options& o);

  // Where the table goes: stdout, stderr when an output takes stdout, null with --quiet.
  FILE* table() const { return table_; }

  // Writes each claimed output, saying on stderr why one is not written;
  // `status`, or kExitWriteFailed when it was kExitOk and a write failed.
  int write(const options& o, const run_result& run, int status);

  // Whatever was claimed and not yet written goes back as it was.
  void give_back();

 private:
  struct claims;
  std::string claim_one(const options& o, size_t i);
  bool write_one(const options& o, const run_result& run, size_t i);

  claims* claims_;
  FILE* table_ = stdout;
};

}  // namespace compare_products
