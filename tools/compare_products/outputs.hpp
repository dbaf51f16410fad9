// The places a run writes to after its work (--csv, --plot, --save), claimed before the work
// starts so that a bad path is refused first, and never damaged by a run that does not finish.
//
// Claiming a file opens it for writing without truncating it; only a run
// that finishes replaces its contents. A file or folder that the claim
// created is removed again when the run is refused or ends early; one that
// was there before is left exactly as it was (its bytes, its kind: a device
// node stays a device node).
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace compare_products {

// One file the run will write.
class output_file {
 public:
  output_file() = default;
  output_file(const output_file&) = delete;
  output_file& operator=(const output_file&) = delete;
  ~output_file();

  // Opens `path` for writing, creating it if missing but leaving its bytes
  // alone; "-" (when `dash_is_stdout`) means standard output. Returns empty,
  // or why it cannot be written (strerror's text).
  std::string claim(const std::string& path, bool dash_is_stdout);
  bool claimed() const { return fd_ >= 0; }
  bool is_stdout() const { return fd_ == 1; }
  const std::string& path() const { return path_; }

  // Replaces the file's contents with `bytes` (a regular file is truncated
  // first) and closes it. False when any byte could not be written.
  bool commit(const std::string& bytes);

  // Closes the file unwritten; removes it if claim() created it.
  void abandon();

 private:
  std::string path_;
  int fd_ = -1;
  bool created_ = false;
};

// mkdir -p that remembers which folders it made, so that a refused run can
// take them away again.
class output_folder {
 public:
  // True when `dir` exists as a folder we can write into, made here if
  // missing; errno says why not.
  bool claim(const std::string& dir);
  // Removes the folders claim() made (only if still empty), deepest first.
  void abandon();
  // Keeps whatever was made.
  void keep() { made_.clear(); }

 private:
  std::vector<std::string> made_;
};

}  // namespace compare_products
