#pragma once
// Replacing an output file safely. The new file is written under a hidden temporary name
// beside the output (beside the file a symbolic link leads to: the link stays) and takes
// the output's name only once it is finished and on disk, so a crash, a kill or a full disk
// never leaves a truncated file in place of the previous one, and no temporary file stays.
#include <cstdint>
#include <string>

namespace chronoreel {

class OutputReplacement {
 public:
  OutputReplacement() = default;
  ~OutputReplacement() { Discard(); }  // an unfinished temporary file goes
  OutputReplacement(const OutputReplacement&) = delete;
  OutputReplacement& operator=(const OutputReplacement&) = delete;

  // Creates the temporary file, named after the output and ending in `suffix`, with the
  // permissions the output has (a new file's when there is none). `output_locked`: the
  // caller holds the output's lock (OutputLock), so the temporary files that dead runs of
  // this output left go at once, not after a minute. False with "cannot open output
  // <path>: <reason>" in Error(); an output that exists and may not be replaced fails too.
  bool Open(const std::string& output_path, const std::string& suffix, bool output_locked);

  // The file's contents, as write(2) and lseek(2) would have them; false or a negative
  // result with errno set.
  bool Write(const uint8_t* data, int size);
  int64_t Seek(int64_t offset, int whence);
  int64_t Size() const;

  // Puts the file on disk, closes it and renames it over the output. False with the
  // reason in Error(); the temporary file is then removed and the output stays as it was.
  bool Commit();

  // Removes the temporary file; the output stays as it was.
  void Discard() noexcept;

  bool IsOpen() const { return !temp_path_.empty(); }
  const std::string& Path() const { return temp_path_; }  // the temporary file
  const std::string& Error() const { return error_; }

 private:
  bool Fail(std::string message);
  bool CloseFile();
  void ReleaseLock() noexcept;

  std::string output_path_;
  std::string target_path_;  // what the output's links lead to
  std::string temp_path_;
  std::string error_;
  int fd_ = -1;    // the temporary file, written through
  int lock_ = -1;  // open on the temporary file with an flock: a living run's file
  int64_t position_ = 0;
  int64_t started_ = 0;  // where the range not yet handed to the disk begins
};

}  // namespace chronoreel
