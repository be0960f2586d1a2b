// The setup program's own blob reader takes the two blobs straight from the
// patch bytes in memory: a blob whose content runs past the patch's end fails
// as a damaged one. The base and the result go through temporary files,
// since the command interpreter reads and writes files.
#include "builder/patch_rebuild.h"

#include <filesystem>
#include <fstream>
#include <string>

#include "builder/errors.h"
#include "builder/host_files.h"
#include "common/file.h"
#include "common/heap.h"
#include "decode/patch.h"
#include "decode/stream_decoder.h"

namespace pakwiz {

namespace fs = std::filesystem;

namespace {

// Temporary files removed when the rebuild ends, however it ends.
class TempFiles {
public:
  ~TempFiles() {
    for (const std::string& p : paths_) {
      std::error_code ec;
      fs::remove(fs::u8path(p), ec);
    }
  }
  // A new file in the temporary folder, made exclusively under an
  // unpredictable name (a name planted in a shared folder is never opened).
  std::string add(const std::vector<uint8_t>* content) {
    std::string p;
    HostFile f =
        HostFile::create_temporary(fs::temp_directory_path().u8string(), "pakwiz-patch", &p);
    paths_.push_back(p);
    if (content) f.write(content->data(), content->size());
    f.close();
    return p;
  }

private:
  std::vector<std::string> paths_;
};

struct Blobs {
  uint8_t* commands = nullptr;
  uint8_t* data = nullptr;
  uint32_t command_size = 0, data_size = 0;
  ~Blobs() {
    free_and_clear(commands);
    free_and_clear(data);
  }
};

std::string blob_problem(int err, const char* which) {
  if (err == PATCH_ERR_NO_MEMORY) return std::string("no memory for the ") + which + " stream";
  return std::string("the ") + which +
         " blob is damaged (it does not decode to its stated size, or it runs past the "
         "entry's data)";
}

} // namespace

std::vector<uint8_t> rebuild_patched_file(const std::vector<uint8_t>& base,
                                          const std::vector<uint8_t>& patch) {
  if (patch.size() > 0xFFFFFFFBull) fail("the patch is larger than an archive can hold");
  if (patch.empty()) fail("the entry has no data");
  Blobs blobs;
  MemorySource input(patch.data(), (uint32_t)patch.size());
  // The entry's bytes bound what either blob can claim.
  int err = read_packed_blob(&input, &blobs.commands, &blobs.command_size, (uint32_t)patch.size());
  if (err) fail(blob_problem(err, "command"));
  err = read_packed_blob(&input, &blobs.data, &blobs.data_size,
                         (uint32_t)patch.size() - input.position());
  if (err) fail(blob_problem(err, "data"));

  TempFiles temps;
  std::string base_path = temps.add(&base);
  std::string out_path = temps.add(nullptr);

  FileHandle b = file_open(base_path.c_str(), FILE_READ);
  FileHandle o = file_open(out_path.c_str(), FILE_WRITE);
  if (b == INVALID_FILE || o == INVALID_FILE) {
    std::string reason = last_error_text();
    file_close(b);
    file_close(o);
    fail("cannot open the temporary files in " + fs::temp_directory_path().string() + ": " +
         reason);
  }
  PatchStreams streams = {blobs.commands, blobs.command_size, blobs.data, blobs.data_size};
  err = run_patch(streams, b, o, PatchProgress{0, 0, 0, nullptr});
  file_close(b);
  file_close(o);
  switch (err) {
  case PATCH_OK:
    break;
  case PATCH_ERR_NO_MEMORY:
    fail("no memory to apply the patch");
  case PATCH_ERR_READ:
    fail("the patch's commands are malformed (a command that runs past the end of its stream, "
         "an insert beyond the data stream, or a copy from outside the base file)");
  case PATCH_ERR_WRITE:
    if (!blobs.data) fail("the patch inserts bytes but has no data stream");
    fail("cannot write a temporary file in " + fs::temp_directory_path().string());
  default:
    fail("cannot write a temporary file in " + fs::temp_directory_path().string());
  }

  std::ifstream in(fs::u8path(out_path), std::ios::binary);
  std::vector<uint8_t> result((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
  if (in.bad()) fail("cannot read the temporary file " + out_path);
  return result;
}

} // namespace pakwiz
