// The files a build writes, and what it may never overwrite.
//
// An output name must not hold a folder, a device, a FIFO or a socket, nor
// name one of the build's inputs (the project file, the stub, a source file,
// ... by the same name, or by another name of the same file). Each output
// is written to a temporary file made exclusively in its folder and renamed
// over its name only when the whole build has succeeded; the names are
// checked again just before. A link at an output's name is replaced, not
// followed.
#pragma once
#include <stdint.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "builder/host_files.h"

namespace pakwiz {

// An input of the build, described for messages ("the project file",
// "a source file (project.toml:3:10)").
struct BuildInput {
  std::string path;
  std::string what;
};

class OutputFiles {
public:
  explicit OutputFiles(const std::vector<BuildInput>& inputs);
  // Removes the temporary files of a build that did not commit, and the
  // folders it created for them when they are empty.
  ~OutputFiles();

  // Throws BuildError, naming `path` and what it holds, when it may not be
  // replaced. `role` says what the file was to be ("the output", "volume
  // file 2").
  void check(const std::string& path, const std::string& role) const;

  // The folder that will hold `path`, created (with its parents) when
  // missing; such folders are removed again if the build fails.
  std::string prepare_folder(const std::string& path);

  // Checks `final_path` and opens a temporary file beside it.
  HostFile& create(const std::string& final_path, const std::string& role);

  // `path` is a volume file of an earlier build of the same output (its size
  // word matches its length), a regular file or a link that no input is:
  // it is removed by commit(). Returns false (and leaves it) otherwise.
  bool remove_at_commit(const std::string& path);

  // Closes every file, lets `finish` work on the first one by its temporary
  // name (signing the setup file), checks each name again, renames the
  // temporary files over their names and removes the earlier build's extra
  // volume files.
  void commit(const std::function<void(const std::string&)>& finish = nullptr);

private:
  struct Input {
    std::string normal; // absolute, normalised (lower case on Windows)
    std::string what;
    bool has_identity = false;
    FileIdentity identity;
  };
  struct Pending {
    std::string temp, final_path, role;
    HostFile file;
  };
  std::vector<Input> inputs_;
  std::vector<std::unique_ptr<Pending>> pending_;
  std::vector<std::string> created_folders_; // outermost first
  std::vector<std::string> stale_;
  bool committed_ = false;
};

} // namespace pakwiz
