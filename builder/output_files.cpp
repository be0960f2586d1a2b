#include "builder/output_files.h"

#include <filesystem>

#include "builder/bytes.h"
#include "builder/errors.h"

namespace pakwiz {

namespace fs = std::filesystem;

namespace {

// The name as an absolute, normalised path, to compare names without
// touching the file system (a link at the last component is not followed).
std::string normalized(const std::string& path) {
  std::error_code ec;
  fs::path p = fs::absolute(fs::u8path(path), ec);
  if (ec) p = fs::u8path(path);
  std::string s = p.lexically_normal().u8string();
#ifdef _WIN32
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = (char)(c + 32);
    if (c == '/') c = '\\';
  }
#endif
  return s;
}

} // namespace

OutputFiles::OutputFiles(const std::vector<BuildInput>& inputs) {
  for (const BuildInput& in : inputs) {
    Input i;
    i.normal = normalized(in.path);
    i.what = in.what;
    if (std::optional<FileIdentity> id = identity_of(in.path)) {
      i.has_identity = true;
      i.identity = *id;
    }
    inputs_.push_back(i);
  }
}

OutputFiles::~OutputFiles() {
  if (committed_) return;
  for (auto& p : pending_) {
    p->file = HostFile(); // closed without caring for errors
    remove_file(p->temp);
  }
  for (auto it = created_folders_.rbegin(); it != created_folders_.rend(); ++it) {
    std::error_code ec;
    fs::remove(fs::u8path(*it), ec); // only when empty
  }
}

void OutputFiles::check(const std::string& path, const std::string& role) const {
  PathInfo info = probe_path(path);
  if (info.kind != PathKind::MISSING && info.kind != PathKind::REGULAR &&
      info.kind != PathKind::LINK)
    fail("cannot write " + role + " to " + path + ": it is " + path_kind_text(info.kind) +
         "; name a file");
  std::string normal = normalized(path);
  for (const Input& in : inputs_) {
    bool same = in.normal == normal;
    if (!same && info.kind == PathKind::REGULAR && in.has_identity)
      same = in.identity == info.identity;
    if (same)
      fail("cannot write " + role + " to " + path + ": it is " + in.what +
           ", and a build never replaces its inputs; name another file");
  }
}

std::string OutputFiles::prepare_folder(const std::string& path) {
  fs::path folder = fs::u8path(path).parent_path();
  if (folder.empty()) return "";
  std::vector<std::string> missing;
  std::error_code ec;
  for (fs::path f = folder; !f.empty() && !fs::exists(f, ec); f = f.parent_path()) {
    missing.insert(missing.begin(), f.u8string());
    if (f == f.parent_path()) break;
  }
  create_folders(folder.u8string());
  for (const std::string& m : missing) created_folders_.push_back(m);
  return folder.u8string();
}

HostFile& OutputFiles::create(const std::string& final_path, const std::string& role) {
  check(final_path, role);
  std::string folder = prepare_folder(final_path);
  auto p = std::make_unique<Pending>();
  p->final_path = final_path;
  p->role = role;
  p->file =
      HostFile::create_temporary(folder, fs::u8path(final_path).filename().u8string(), &p->temp);
  pending_.push_back(std::move(p));
  return pending_.back()->file;
}

bool OutputFiles::remove_at_commit(const std::string& path) {
  PathInfo info = probe_path(path);
  if (info.kind != PathKind::REGULAR) return false;
  std::string normal = normalized(path);
  for (const Input& in : inputs_)
    if (in.normal == normal || (in.has_identity && in.identity == info.identity)) return false;
  // A volume file begins with the count of archive bytes it holds.
  try {
    HostFile f = HostFile::open_read(path);
    uint8_t word[4];
    if (f.size() < 4) return false;
    f.read_at(0, word, 4);
    if (f.size() != (uint64_t)read_u32(word) + 4) return false;
  } catch (const BuildError&) {
    return false;
  }
  stale_.push_back(path);
  return true;
}

void OutputFiles::commit(const std::function<void(const std::string&)>& finish) {
  for (auto& p : pending_) p->file.close();
  if (finish && !pending_.empty()) finish(pending_[0]->temp);
  // Checked again: a name may have changed while the build ran.
  for (auto& p : pending_) check(p->final_path, p->role);
  for (auto& p : pending_) rename_over(p->temp, p->final_path);
  committed_ = true;
  for (const std::string& s : stale_)
    if (!remove_file(s))
      fail("the build was written, but " + s +
           ", a volume file of an earlier build, cannot be removed: " + last_error_text());
}

} // namespace pakwiz
