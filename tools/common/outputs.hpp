// The places a program writes to after its work (--csv, --raw, --plot, --save, ...), claimed
// before the work starts so that a bad path is refused first, and never damaged by a run that does
// not finish or a write that fails.
//
// A file is written one of two ways, chosen when it is claimed:
//   replaced  a regular file reached by its name (links followed to the
//             file they name, existing or not): the new contents go into a
//             temporary file in the same folder, renamed over the file only
//             once every byte is written, so a write that fails (a full
//             disk) leaves the old file as it was;
//   streamed  "-", a device, a pipe, or a file this process already has open
//             for writing (/dev/stdout, /dev/fd/N reach such a descriptor):
//             the bytes are written through that descriptor where it stands,
//             nothing is truncated (`--csv /dev/stdout >> runs.log` appends).
// A file or folder that a claim created is removed again when the run is
// refused, ends early or is interrupted (give_back_every_claim); one that was
// there before is left exactly as it was.
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace tool_common {

// One file the run will write.
class output_file {
 public:
  output_file() = default;
  output_file(const output_file&) = delete;
  output_file& operator=(const output_file&) = delete;
  ~output_file();

  // Claims `path`: "-" (when `dash_is_stdout`) is standard output. Returns
  // empty, or why it cannot be written (strerror's text).
  std::string claim(const std::string& path, bool dash_is_stdout);
  bool claimed() const { return mode_ != mode::none; }
  // Written through descriptor 1: "-", /dev/stdout, /dev/fd/1.
  bool is_stdout() const { return fd_ == 1; }
  // Whether both are claimed on one file and writing one would destroy the
  // other: the same file (device and inode, so links count), replaced by at
  // least one of them. Streams into one device or pipe take turns harmlessly.
  bool clashes_with(const output_file& other) const;

  // Writes the file's new contents through `write` and closes it. False when
  // any byte could not be written; a replaced file then keeps its old bytes.
  bool commit_with(const std::function<bool(FILE*)>& write);
  bool commit(const std::string& bytes);

  // Gives the file back unwritten; removes it if claim() created it.
  void abandon();

  // Removes what this claim made (its new file, its temporary file) with
  // nothing but unlink: safe in a signal handler.
  void undo_at_signal() const;

 private:
  enum class mode { none, replaced, streamed };
  bool write_through(int fd, const std::function<bool(FILE*)>& write, bool sync);
  bool commit_replaced(const std::function<bool(FILE*)>& write);

  mode mode_ = mode::none;
  std::string path_;  // replaced: the file itself, links followed
  int fd_ = -1;       // streamed: where the bytes go (1 for stdout, never closed)
  dev_t dev_ = 0;
  ino_t ino_ = 0;
  mode_t file_mode_ = 0;  // replaced: the permissions the new file gets
  bool created_ = false;  // replaced: claim() made the file (empty until committed)
  std::string temp_;      // replaced, during commit: the temporary file
};

// mkdir -p that remembers which folders it made, so that a refused run can
// take them away again.
class output_folder {
 public:
  output_folder();
  output_folder(const output_folder&) = delete;
  output_folder& operator=(const output_folder&) = delete;
  ~output_folder();

  // True when `dir` exists as a folder we can write into, made here if
  // missing; errno says why not.
  bool claim(const std::string& dir);
  // Removes the folders claim() made (only if still empty), deepest first.
  void abandon();
  // Keeps whatever was made.
  void keep() { made_.clear(); }
  // abandon() with nothing but rmdir: safe in a signal handler.
  void undo_at_signal() const;

 private:
  std::vector<std::string> made_;
};

// Every claim not yet committed or given back, undone: created files,
// temporary files and made folders removed. Only unlink and rmdir, so a
// SIGINT or SIGTERM handler may call it.
void give_back_every_claim();

}  // namespace tool_common
