#include "builder/build.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <exception>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <thread>
#include <tuple>

#include "builder/archive_layout.h"
#include "builder/bitmap.h"
#include "builder/bytes.h"
#include "builder/encoder.h"
#include "builder/errors.h"
#include "builder/host_files.h"
#include "builder/output_files.h"
#include "builder/package_fields.h"
#include "builder/package_reader.h"
#include "builder/patch_generator.h"
#include "builder/pe_resources.h"
#include "builder/patch_rebuild.h"
#include "builder/pe_version.h"
#include "builder/progress.h"
#include "builder/project.h"
#include "builder/script_writer.h"
#include "builder/setup_resources.h"
#include "builder/signing.h"
#include "builder/source_files.h"
#include "builder/stream_store.h"
#include "builder/templates.h"
#include "builder/volume_files.h"
#include "decode/checksum.h"

#ifndef PAKWIZ_DEFAULT_STUB
#define PAKWIZ_DEFAULT_STUB ""
#endif
#ifndef PAKWIZ_DEFAULT_UNINSTALLER
#define PAKWIZ_DEFAULT_UNINSTALLER ""
#endif

namespace pakwiz {

namespace fs = std::filesystem;

namespace {

const uint64_t MAX_U32 = 0xFFFFFFFFull;
// Making a patch holds both files in memory: larger files are tried as
// automatic patches no more (patch_from still makes them patches).
const uint64_t AUTO_PATCH_LIMIT = 256ull << 20;

// One distinct source file, read and compressed by one task.
struct Source {
  std::string path;
  SourcePos pos;             // its first use in the project
  bool needs_stream = false; // some entry installs it (not only "not-installed" ones)
  uint32_t size = 0, checksum = 0;
  uint64_t hash = 0;
  bool has_version = false;
  VersionInfo version;
  uint64_t mtime = 0;
  StoredStream stream; // when needs_stream
  int64_t content = NO_CONTENT;
};

// A stored copy in the archive: a stream in the store, or bytes in memory
// (patches and the uninstaller's reserved bytes, which are small).
struct Content {
  const std::vector<uint8_t>* memory = nullptr;
  StoredStream stored;
  uint64_t size() const { return memory ? memory->size() : stored.size; }
};

const uint64_t FNV_OFFSET = 0xcbf29ce484222325ull;

uint64_t fnv1a(uint64_t h, const uint8_t* data, size_t size) {
  for (size_t i = 0; i < size; i++) h = (h ^ data[i]) * 0x100000001b3ull;
  return h;
}

// Reads up to `want` bytes, fewer only at the end of the file.
size_t read_full(HostFile& in, uint8_t* buffer, size_t want) {
  size_t got = 0;
  while (got < want) {
    size_t n = in.read_some(buffer + got, want - got);
    if (n == 0) break;
    got += n;
  }
  return got;
}

// Reads a source once, a piece at a time: its size, checksum, hash and
// version resource, and (when some entry installs it) its stream, appended to
// the task's scratch file. Memory: one piece and the encoder's state.
void process_source(Source& s, int level, StreamStore& store, size_t task, ProgressBar& bar) {
  HostFile in = open_source_file(s.path, s.pos);
  uint64_t expected = in.size();
  if (expected > MAX_U32) fail_at(s.pos, too_large_message(s.path, expected));
  std::vector<uint8_t> piece((size_t)std::min<uint64_t>(expected, ENCODE_PIECE));
  // A large file's version resource is read through a mapping, which brings
  // in only the pages that the walk touches.
  if (expected > ENCODE_PIECE) {
    MappedFile map(in);
    s.has_version = read_pe_version(map.data(), map.size(), &s.version);
  }
  std::unique_ptr<StreamEncoder> encoder;
  if (s.needs_stream) {
    s.stream = StoredStream{task, store.end(task), 0};
    encoder = std::make_unique<StreamEncoder>(
        level, [&store, task](const uint8_t* p, size_t n) { store.append(task, p, n); });
  }
  uint64_t total = 0;
  uint32_t sum = 0;
  uint64_t hash = FNV_OFFSET;
  for (bool first = true;; first = false) {
    size_t want = (size_t)std::min<uint64_t>(expected - total, ENCODE_PIECE);
    size_t n = read_full(in, piece.data(), want);
    total += n;
    // The size read is what counts: a file that shrank ends early (a piece
    // ends the stream then), one that grew is taken as it was.
    bool last = n < want || total >= expected;
    sum = rotate_add(sum, piece.data(), n);
    hash = fnv1a(hash, piece.data(), n);
    if (first && last) s.has_version = read_pe_version(piece.data(), n, &s.version);
    if (encoder) encoder->add(piece.data(), n, last);
    bar.advance(n);
    if (last) break;
  }
  s.size = (uint32_t)total;
  s.checksum = sum;
  s.hash = hash;
  if (encoder) s.stream.size = encoder->written();
  s.mtime = file_modification_filetime(s.path, s.pos);
}

// Reads and compresses every source with `n` tasks, each appending to its
// own scratch file in `store`. A failure of any task is rethrown after all
// have ended (the first by project order, so that the message does not
// depend on timing).
void process_sources(std::vector<Source>& sources, int level, unsigned n, bool progress,
                     StreamStore& store) {
  uint64_t total = 0;
  for (const Source& s : sources) total += source_file_size(s.path, s.pos);
  ProgressBar bar("compressing " + std::to_string(sources.size()) + " files", total, progress);
  std::vector<std::exception_ptr> errors(sources.size());
  std::atomic<size_t> next{0}, finished{0};
  auto worker = [&](size_t task) {
    for (size_t i; (i = next++) < sources.size();) {
      try {
        process_source(sources[i], level, store, task, bar);
      } catch (...) {
        errors[i] = std::current_exception();
      }
      finished++;
    }
  };
  std::vector<std::thread> threads;
  if (progress) {
    // The workers run on their own threads while this one draws.
    for (unsigned t = 0; t < n; t++) threads.emplace_back(worker, t);
    while (finished < sources.size()) {
      bar.draw();
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  } else {
    for (unsigned t = 1; t < n; t++) threads.emplace_back(worker, t);
    worker(0);
  }
  for (std::thread& t : threads) t.join();
  bar.finish();
  for (std::exception_ptr& e : errors)
    if (e) std::rethrow_exception(e);
}

// Tasks for `items` pieces of work: `jobs`, or one per core.
unsigned task_count(unsigned jobs, size_t items) {
  unsigned n = jobs ? jobs : std::max(1u, std::thread::hardware_concurrency());
  return (unsigned)std::min<size_t>(n, std::max<size_t>(1, items));
}

// A patch made for a (base source, target source) pair, and why it cannot be
// used when applying it to the base did not give the target.
struct MadePatch {
  std::vector<uint8_t> bytes;
  std::string problem;
};

// The patch of each (base source, target source) pair, `jobs` at a time,
// each applied to its base through the setup program's reader and compared
// with the target. Both files are read again and must still be what was
// checksummed: the base's stored data and the patch have to agree.
std::vector<MadePatch> make_patches(const std::vector<Source>& sources,
                                    const std::vector<std::pair<size_t, size_t>>& pairs, int level,
                                    unsigned jobs) {
  std::vector<MadePatch> patches(pairs.size());
  std::vector<std::exception_ptr> errors(pairs.size());
  std::atomic<size_t> next{0};
  auto read_again = [](const Source& s) {
    std::vector<uint8_t> data = read_source_file(s.path, s.pos);
    if (data.size() != s.size || rotate_add(0, data.data(), data.size()) != s.checksum)
      fail_at(s.pos, s.path + " changed while the package was being built");
    return data;
  };
  auto worker = [&] {
    for (size_t k; (k = next++) < pairs.size();) {
      try {
        std::vector<uint8_t> base = read_again(sources[pairs[k].first]);
        std::vector<uint8_t> target = read_again(sources[pairs[k].second]);
        patches[k].bytes = make_patch(base, target, level);
        try {
          if (rebuild_patched_file(base, patches[k].bytes) != target)
            patches[k].problem = "the rebuilt file differs";
        } catch (const BuildError& e) {
          patches[k].problem = e.what();
        }
      } catch (...) {
        errors[k] = std::current_exception();
      }
    }
  };
  unsigned n = task_count(jobs, pairs.size());
  std::vector<std::thread> threads;
  for (unsigned t = 1; t < n; t++) threads.emplace_back(worker);
  worker();
  for (std::thread& t : threads) t.join();
  for (std::exception_ptr& e : errors)
    if (e) std::rethrow_exception(e);
  return patches;
}

LanguageFields language_fields(const LanguageSpec& l) {
  LanguageFields f;
  f.flags = (uint16_t)((l.folder_changeable ? LANG_FOLDER_CHANGEABLE : 0) |
                       (l.has_registry && l.store_in_registry ? LANG_STORE_FOLDER_REGISTRY : 0) |
                       (l.has_ini && l.store_in_ini ? LANG_STORE_FOLDER_INI : 0));
  if (!l.uninstall_key.empty()) f.uninstall_key = l.uninstall_key;
  f.name = l.name;
  f.folder = l.folder;
  if (l.has_registry) {
    f.registry_root = l.registry_root;
    f.registry_key = l.registry_key;
    if (!l.registry_value.empty()) f.registry_value = l.registry_value;
  }
  if (l.has_ini) {
    f.ini_file = l.ini_file;
    f.ini_section = l.ini_section;
    f.ini_key = l.ini_key;
  }
  for (size_t t = 0; t < STRING_TABLES; t++)
    if (l.table_present[t]) f.tables[t] = l.tables[t];
  return f;
}

// File entry fields of one spec, without its archive position.
FileEntryFields entry_fields(const FileSpec& f, const Source* s, uint32_t prefix_size,
                             uint32_t reserve_size, uint32_t uninstaller_checksum) {
  FileEntryFields e;
  e.icon = f.menu_icon;
  e.destination = f.destination;
  e.end_action = f.end_action;
  e.shared = f.shared ? 1 : 0;
  e.removal = f.removal;
  e.special = f.special;
  e.strings = {f.target,       f.menu_name.empty() ? std::string() : f.menu_folder,
               f.menu_name,    f.menu_name.empty() ? std::string() : f.menu_args,
               f.desktop_name, f.desktop_name.empty() ? std::string() : f.desktop_args};
  if (f.uninstaller) {
    e.flags = ENTRY_UNINSTALLER;
    e.file_size = prefix_size + reserve_size;
    e.checksum = uninstaller_checksum;
    return e;
  }
  if (!s) return e; // not installed, no source: nothing is known of the file
  e.file_size = s->size;
  e.checksum = s->checksum;
  if (f.removal == REMOVAL_NOT_INSTALLED) return e; // not installed: no test, no times

  std::array<uint32_t, 5> v{};
  bool have_version = s->has_version || f.file_version || f.product_version;
  if (s->has_version)
    v = {s->version.file_ms, s->version.file_ls, s->version.product_ms, s->version.product_ls,
         s->version.language};
  if (f.file_version) {
    v[0] = (*f.file_version)[0];
    v[1] = (*f.file_version)[1];
    if (!s->has_version && !f.product_version) {
      v[2] = v[0];
      v[3] = v[1];
    }
  }
  if (f.product_version) {
    v[2] = (*f.product_version)[0];
    v[3] = (*f.product_version)[1];
  }
  if (f.language_id) v[4] = *f.language_id;
  bool version_test = f.version_test.value_or(s->has_version);
  if (version_test && !have_version)
    fail_at(f.pos, "version_test is set for '" + f.target + "', but " + s->path +
                       " has no version resource; give its version with version = \"a.b.c.d\"");
  if (f.language_test && !s->has_version && !f.language_id)
    fail_at(f.pos, "language_test is set for '" + f.target + "', but " + s->path +
                       " has no version resource; give its language with language_id = ...");
  if (version_test) e.flags |= ENTRY_VERSION_TEST;
  if (f.language_test) e.flags |= ENTRY_LANGUAGE_TEST;
  if (e.flags & (ENTRY_VERSION_TEST | ENTRY_LANGUAGE_TEST)) e.version = v;
  if (f.file_times) {
    uint64_t t = f.file_time.value_or(s->mtime);
    e.flags |= ENTRY_FILE_TIMES;
    e.times = {t, t, t};
  }
  return e;
}

// Writes the archive bytes [from, from + count) of the layout to `out`.
class ArchiveStreamer {
public:
  ArchiveStreamer(const ArchiveLayout& layout, const std::vector<Content>& data, StreamStore& store)
      : layout_(layout), data_(data), store_(store) {}
  // Each byte written also goes into `checksum` and `crc` when given.
  void write(HostFile& out, uint64_t from, uint64_t count, PeChecksum* checksum = nullptr,
             uint32_t* crc = nullptr) {
    while (count > 0) {
      while (piece_ < layout_.pieces.size() &&
             layout_.pieces[piece_].position +
                     data_[(size_t)layout_.pieces[piece_].content].size() <=
                 from)
        piece_++;
      const ArchivePiece& p = layout_.pieces[piece_];
      const Content& c = data_[(size_t)p.content];
      uint64_t offset = from - p.position;
      uint64_t n = std::min<uint64_t>(c.size() - offset, count);
      if (c.memory) {
        out.write(c.memory->data() + offset, (size_t)n);
        if (checksum) checksum->add(c.memory->data() + offset, (size_t)n);
        if (crc) *crc = crc32_update(*crc, c.memory->data() + offset, (size_t)n);
      } else {
        buffer_.resize(1 << 20);
        for (uint64_t done = 0; done < n;) {
          size_t k = (size_t)std::min<uint64_t>(n - done, buffer_.size());
          store_.read(c.stored, offset + done, buffer_.data(), k);
          out.write(buffer_.data(), k);
          if (checksum) checksum->add((const uint8_t*)buffer_.data(), k);
          if (crc) *crc = crc32_update(*crc, (const uint8_t*)buffer_.data(), k);
          done += k;
        }
      }
      from += n;
      count -= n;
    }
  }

private:
  const ArchiveLayout& layout_;
  const std::vector<Content>& data_;
  StreamStore& store_;
  std::vector<uint8_t> buffer_;
  size_t piece_ = 0;
};

} // namespace

// `name` beside the running pakwiz, else in ../share/pakwiz/ from it (an
// installed or unpacked copy), else `built_in`; "" when none exists, with
// the places looked at listed in `tried`.
static std::string beside_or_built_in(const char* name, const std::string& built_in,
                                      std::string* tried) {
  std::string beside = own_executable_dir();
  if (!beside.empty()) {
    for (fs::path p :
         {fs::u8path(beside) / name,
          (fs::u8path(beside) / ".." / "share" / "pakwiz" / name).lexically_normal()}) {
      if (fs::exists(p)) return p.u8string();
      *tried += (tried->empty() ? " " : ", ") + p.u8string();
    }
  }
  if (!built_in.empty()) {
    if (fs::exists(fs::u8path(built_in))) return built_in;
    *tried += (tried->empty() ? " " : ", ") + built_in;
  }
  return "";
}

std::string default_stub_path() {
  std::string tried, found = beside_or_built_in("pakwiz-stub.exe", PAKWIZ_DEFAULT_STUB, &tried);
  if (found.empty())
    fail("no setup program (stub) found; looked for:" + tried +
         "; build it (make stub) or name one with --stub FILE");
  return found;
}

std::string default_uninstaller_path() {
  std::string tried,
      found = beside_or_built_in("pakwiz-uninstall.exe", PAKWIZ_DEFAULT_UNINSTALLER, &tried);
  if (found.empty())
    fail("no uninstaller program found (every language block carries one unless the project "
         "says uninstaller = false); looked for:" +
         tried +
         "; build it (make stub), name one with --uninstaller FILE or [uninstaller] program = "
         "\"...\", or turn it off with uninstaller = false");
  return found;
}

std::vector<uint8_t> prepare_stub(const std::vector<uint8_t>& stub, const std::string& name) {
  std::vector<size_t> markers = find_stub_markers(stub.data(), stub.size());
  if (markers.empty())
    fail(name + ": not a setup program stub (its marker bytes 77 77 67 54 29 48 are missing)");
  if (markers.size() > 1)
    fail(name + ": the stub marker occurs " + std::to_string(markers.size()) +
         " times; a stub must hold exactly one");
  size_t field = markers[0] + STUB_MARKER_SIZE;
  if (field + STUB_LENGTH_FIELD_SIZE > stub.size())
    fail(name + ": the stub ends inside its length field");
  if (read_u32(stub.data() + field) != 0)
    fail(name + ": the stub's length field is not 0: it already carries a package (use the "
                "bare setup program as the stub)");
  if (stub.size() > MAX_U32) fail(name + ": the stub is larger than 4 GiB");
  std::vector<uint8_t> out = stub;
  for (int i = 0; i < 4; i++) out[field + i] = (uint8_t)(stub.size() >> (8 * i));
  return out;
}

BuildSummary build_setup(const BuildOptions& options) {
  int level = options.level < 0 ? default_compression_level() : options.level;
  if (level > max_compression_level())
    fail("--level " + std::to_string(level) + " is above the highest level, " +
         std::to_string(max_compression_level()));
  Project project = load_project(options.project);
  // An uninstaller entry without a project `program`: the one built with pakwiz.
  bool wants_uninstaller = false;
  for (const LanguageSpec& l : project.languages)
    for (const FileSpec& f : l.files) wants_uninstaller = wants_uninstaller || f.uninstaller;
  bool own_uninstaller = wants_uninstaller && project.uninstaller_program.empty();
  if (own_uninstaller)
    project.uninstaller_program =
        options.uninstaller.empty() ? default_uninstaller_path() : options.uninstaller;

  std::string output = options.output;
  if (output.empty()) output = fs::u8path(options.project).stem().u8string() + "-setup.exe";
  std::string stub_path = options.stub.empty() ? default_stub_path() : options.stub;
  // The project's manifest, version resource and icon go into the stub's
  // resources, and the first two into pakwiz's own uninstaller, before the
  // stub's length field is set. A stub that is no Windows program (a test's
  // stand-in) is used as it is.
  BuildSummary summary;
  std::vector<uint8_t> stub = read_source_file(stub_path, SourcePos{});
  summary.resources = is_pe_image(stub);
  if (summary.resources) {
    std::optional<IconResources> icon;
    const ExecutableSpec& exe = project.executable;
    if (!exe.icon.empty())
      icon = icon_resources(read_source_file(exe.icon, exe.icon_pos),
                            exe.icon_pos.str() + ": " + exe.icon);
    stub = apply_setup_resources(stub, exe, icon ? &*icon : nullptr, stub_path);
  }
  stub = prepare_stub(stub, stub_path);

  // Global records.
  std::vector<std::vector<uint8_t>> templates =
      load_templates(project.templates_res, project.templates_pos);
  std::vector<uint8_t> billboard, background, prefix;
  if (!project.billboard.empty())
    billboard = normalize_bitmap(read_source_file(project.billboard, project.billboard_pos),
                                 project.billboard_pos.str() + ": " + project.billboard);
  if (!project.background.empty())
    background = normalize_bitmap(read_source_file(project.background, project.background_pos),
                                  project.background_pos.str() + ": " + project.background);
  bool has_prefix = !project.uninstaller_program.empty();
  if (has_prefix) {
    prefix = read_source_file(project.uninstaller_program, project.uninstaller_pos);
    if (prefix.empty()) fail_at(project.uninstaller_pos, project.uninstaller_program + " is empty");
    // A project's own uninstaller program carries its own resources.
    if (own_uninstaller && is_pe_image(prefix))
      prefix =
          apply_setup_resources(prefix, project.executable, nullptr, project.uninstaller_program);
  }

  // Distinct sources, in order of first use.
  std::vector<Source> sources;
  std::map<std::string, size_t> source_index;
  std::vector<std::vector<int64_t>> entry_source(project.languages.size());
  for (size_t b = 0; b < project.languages.size(); b++) {
    for (const FileSpec& f : project.languages[b].files) {
      if (f.uninstaller || f.source.empty()) {
        entry_source[b].push_back(-1);
        continue;
      }
      std::error_code ec;
      fs::path canonical = fs::weakly_canonical(fs::u8path(f.source), ec);
      std::string key = ec ? f.source : canonical.u8string();
      auto [it, fresh] = source_index.emplace(key, sources.size());
      if (fresh) {
        Source s;
        s.path = f.source;
        s.pos = f.source_pos;
        sources.push_back(s);
      }
      // Patched entries too: a patch is kept only when smaller than the
      // compressed file, and the file is stored in full when it cannot be.
      if (f.removal != REMOVAL_NOT_INSTALLED) sources[it->second].needs_stream = true;
      entry_source[b].push_back((int64_t)it->second);
    }
  }

  // The inputs, which no output may replace. The output's name is checked
  // now, before the long part of the build.
  std::vector<BuildInput> inputs = {{options.project, "the project file"},
                                    {stub_path, "the setup program (--stub)"}};
  auto add_input = [&inputs](const std::string& path, const std::string& what,
                             const SourcePos& pos) {
    if (!path.empty())
      inputs.push_back({path, what + (pos.file.empty() ? "" : " (" + pos.str() + ")")});
  };
  add_input(project.uninstaller_program, "the uninstaller program", project.uninstaller_pos);
  add_input(project.billboard, "the billboard bitmap", project.billboard_pos);
  add_input(project.background, "the background bitmap", project.background_pos);
  add_input(project.templates_res, "the dialog templates", project.templates_pos);
  add_input(project.executable.icon, "the icon", project.executable.icon_pos);
  if (options.sign) {
    add_input(options.sign->certificate, "the signing certificate (--sign)", SourcePos{});
    add_input(options.sign->key, "the signing key (--sign-key)", SourcePos{});
    add_input(options.sign->password_file, "the password file (--sign-password-file)", SourcePos{});
  }
  for (const LanguageSpec& l : project.languages)
    add_input(l.information, "an information file", l.information_pos);
  for (const Source& s : sources) add_input(s.path, "a source file", s.pos);
  OutputFiles outputs(inputs);
  outputs.check(output, "the output");

  // Compressed streams wait in scratch files beside the output.
  unsigned tasks = task_count(options.jobs, sources.size());
  StreamStore store(outputs.prepare_folder(output), tasks);
  process_sources(sources, level, tasks, options.progress, store);

  // Contents: each distinct byte sequence once (equal data gives equal streams).
  std::vector<Content> contents;
  std::map<std::tuple<uint32_t, uint32_t, uint64_t>, std::vector<int64_t>> by_key;
  for (Source& s : sources) {
    if (!s.needs_stream) continue;
    auto& candidates = by_key[{s.size, s.checksum, s.hash}];
    for (int64_t c : candidates)
      if (s.content == NO_CONTENT && store.same(contents[(size_t)c].stored, s.stream))
        s.content = c;
    if (s.content == NO_CONTENT) {
      s.content = (int64_t)contents.size();
      contents.push_back(Content{nullptr, s.stream});
      candidates.push_back(s.content);
    }
  }
  // Each uninstaller entry's own data: the uninstaller's data record (its
  // texts in the block's language), then the 8 bytes that the uninstall
  // log's first record header overwrites.
  std::vector<std::vector<uint8_t>> uninstaller_data(project.languages.size());
  std::vector<std::vector<uint8_t>> uninstaller_streams(project.languages.size());
  std::vector<int64_t> uninstaller_content(project.languages.size(), NO_CONTENT);
  std::vector<uint32_t> uninstaller_checksum(project.languages.size(), 0);
  for (size_t b = 0; b < project.languages.size(); b++) {
    const LanguageSpec& l = project.languages[b];
    bool has_uninstaller = false;
    for (const FileSpec& f : l.files) has_uninstaller = has_uninstaller || f.uninstaller;
    if (!has_uninstaller) continue;
    if (!has_prefix) fail(project.path + ": an uninstaller entry needs the file prefix block");
    ByteWriter body;
    body.u16((uint16_t)l.uninstaller_texts.size());
    for (const std::string& text : l.uninstaller_texts) {
      body.u16((uint16_t)text.size());
      body.append((const uint8_t*)text.data(), text.size());
    }
    ByteWriter record;
    record.u16(UNINSTALLER_DATA_TAG);
    record.u16(0);
    record.u32((uint32_t)body.bytes.size());
    record.append(body.bytes);
    record.zeros(UNINSTALLER_RESERVED_BYTES);
    std::vector<uint8_t>& data = uninstaller_data[b];
    data = record.bytes;
    uninstaller_streams[b] = encode_stream(data.data(), data.size(), level);
    uninstaller_content[b] = (int64_t)contents.size();
    contents.push_back(Content{&uninstaller_streams[b], {}});
    std::vector<uint8_t> whole = prefix;
    whole.insert(whole.end(), data.begin(), data.end());
    uninstaller_checksum[b] = rotate_add(0, whole.data(), whole.size());
    if (whole.size() > MAX_U32) fail(project.uninstaller_program + " is too large");
  }

  // Patched entries. An entry is a patch of its base when the project says
  // so (patch_from), or, with automatic patches, when an entry of the same
  // target name in an earlier language block gives a patch clearly smaller
  // than the entry's compressed data. Bases are stored in full: an entry
  // named as a base never becomes a patch itself.
  const size_t blocks = project.languages.size();
  std::vector<std::vector<EntryRef>> entry_base(blocks);
  std::set<std::pair<int, int>> named_bases;
  std::map<int64_t, size_t> content_users;
  for (size_t b = 0; b < blocks; b++) {
    entry_base[b].assign(project.languages[b].files.size(), EntryRef{});
    for (size_t i = 0; i < project.languages[b].files.size(); i++) {
      const FileSpec& f = project.languages[b].files[i];
      if (f.patch_of) named_bases.insert({f.patch_of->block, f.patch_of->entry});
      if (!f.uninstaller && f.removal != REMOVAL_NOT_INSTALLED && entry_source[b][i] >= 0)
        content_users[sources[(size_t)entry_source[b][i]].content]++;
    }
  }
  auto source_of = [&](size_t b, size_t i) -> Source& {
    return sources[(size_t)entry_source[b][i]];
  };
  auto can_be_base = [&](size_t b, size_t i) {
    const FileSpec& f = project.languages[b].files[i];
    return i <= 255 && !f.uninstaller && f.removal != REMOVAL_NOT_INSTALLED &&
           entry_source[b][i] >= 0 && !f.patch_of && source_of(b, i).size <= AUTO_PATCH_LIMIT;
  };
  auto may_become_patch = [&](size_t b, size_t i) {
    const FileSpec& f = project.languages[b].files[i];
    if (f.uninstaller || f.removal == REMOVAL_NOT_INSTALLED || entry_source[b][i] < 0 ||
        named_bases.count({(int)b, (int)i}))
      return false;
    // Contents that several entries install are stored once already.
    const Source& s = source_of(b, i);
    return s.size > 0 && s.size <= AUTO_PATCH_LIMIT && content_users[s.content] == 1;
  };
  auto lower = [](std::string s) {
    for (char& c : s) c = (char)std::tolower((unsigned char)c);
    return s;
  };

  // The patches to make: one per (base source, target source) pair.
  std::vector<std::pair<size_t, size_t>> patch_pairs;
  std::map<std::pair<size_t, size_t>, size_t> patch_index;
  auto pair_for = [&](size_t bb, size_t be, size_t b, size_t i) {
    std::pair<size_t, size_t> key{(size_t)entry_source[bb][be], (size_t)entry_source[b][i]};
    auto [it, fresh] = patch_index.emplace(key, patch_pairs.size());
    if (fresh) patch_pairs.push_back(key);
    return it->second;
  };
  // Per entry: the candidate bases and their pairs. The bases that
  // automatic patches may use, by target name: the entries of the blocks
  // before the current one.
  std::vector<std::vector<std::vector<std::pair<EntryRef, size_t>>>> candidates(blocks);
  std::map<std::string, std::vector<EntryRef>> bases_by_name;
  for (size_t b = 0; b < blocks; b++) {
    const std::vector<FileSpec>& files = project.languages[b].files;
    candidates[b].resize(files.size());
    for (size_t i = 0; i < files.size(); i++) {
      const FileSpec& f = files[i];
      if (f.patch_of) {
        size_t bb = (size_t)f.patch_of->block, be = (size_t)f.patch_of->entry;
        candidates[b][i].push_back({EntryRef{(int)bb, (int)be}, pair_for(bb, be, b, i)});
        continue;
      }
      if (!options.auto_patches || !may_become_patch(b, i)) continue;
      auto named = bases_by_name.find(lower(f.target));
      if (named == bases_by_name.end()) continue;
      for (const EntryRef& r : named->second)
        if (source_of((size_t)r.block, (size_t)r.entry).content != source_of(b, i).content)
          candidates[b][i].push_back({r, pair_for((size_t)r.block, (size_t)r.entry, b, i)});
    }
    for (size_t i = 0; i < files.size(); i++)
      if (can_be_base(b, i)) bases_by_name[lower(files[i].target)].push_back({(int)b, (int)i});
  }
  std::vector<MadePatch> patches = make_patches(sources, patch_pairs, level, options.jobs);

  auto entry_name = [&](size_t b, size_t i) {
    return "'" + project.languages[b].files[i].target + "' of language block " + std::to_string(b);
  };
  // Decided block by block, so that the base of an automatic patch is
  // known to stay whole.
  std::vector<std::vector<int64_t>> entry_patch(blocks);
  for (size_t b = 0; b < blocks; b++) {
    const std::vector<FileSpec>& files = project.languages[b].files;
    entry_patch[b].assign(files.size(), -1);
    for (size_t i = 0; i < files.size(); i++) {
      const FileSpec& f = files[i];
      if (f.patch_of) {
        const MadePatch& p = patches[candidates[b][i][0].second];
        if (!p.problem.empty())
          fail_at(f.pos, entry_name(b, i) + ": the patch made for it does not rebuild the file (" +
                             p.problem + "); build with it stored in full (no patch_from)");
        entry_base[b][i] = candidates[b][i][0].first;
        entry_patch[b][i] = (int64_t)candidates[b][i][0].second;
        continue;
      }
      int64_t best = -1;
      EntryRef best_base;
      for (const auto& [base, k] : candidates[b][i]) {
        if (entry_patch[(size_t)base.block][(size_t)base.entry] >= 0) continue;
        if (!patches[k].problem.empty()) {
          summary.notes.push_back(entry_name(b, i) + " is not made a patch of " +
                                  entry_name((size_t)base.block, (size_t)base.entry) +
                                  ": the patch does not rebuild the file (" + patches[k].problem +
                                  ")");
          continue;
        }
        if (best < 0 || patches[k].bytes.size() < patches[(size_t)best].bytes.size()) {
          best = (int64_t)k;
          best_base = base;
        }
      }
      // Clearly smaller: at most nine tenths of the compressed file.
      if (best >= 0 &&
          (uint64_t)patches[(size_t)best].bytes.size() * 10 <= source_of(b, i).stream.size * 9) {
        entry_base[b][i] = best_base;
        entry_patch[b][i] = best;
      }
    }
  }
  std::vector<int64_t> patch_content(patches.size(), NO_CONTENT);
  for (size_t b = 0; b < blocks; b++)
    for (int64_t k : entry_patch[b])
      if (k >= 0 && patch_content[(size_t)k] == NO_CONTENT) {
        patch_content[(size_t)k] = (int64_t)contents.size();
        contents.push_back(Content{&patches[(size_t)k].bytes, {}});
      }

  // Entry fields (without positions) and the content each entry reads.
  std::vector<std::vector<FileEntryFields>> entries(blocks);
  std::vector<std::vector<int64_t>> entry_content(blocks);
  for (size_t b = 0; b < blocks; b++) {
    const LanguageSpec& l = project.languages[b];
    for (size_t i = 0; i < l.files.size(); i++) {
      const FileSpec& f = l.files[i];
      const Source* s = entry_source[b][i] >= 0 ? &sources[(size_t)entry_source[b][i]] : nullptr;
      entries[b].push_back(entry_fields(f, s, (uint32_t)prefix.size(),
                                        (uint32_t)uninstaller_data[b].size(),
                                        uninstaller_checksum[b]));
      int64_t content = NO_CONTENT;
      if (f.uninstaller) {
        content = uninstaller_content[b];
      } else if (entry_patch[b][i] >= 0) {
        FileEntryFields& e = entries[b].back();
        e.flags |= ENTRY_PATCH;
        e.base_block = (uint8_t)entry_base[b][i].block;
        e.base_entry = (uint8_t)entry_base[b][i].entry;
        content = patch_content[(size_t)entry_patch[b][i]];
      } else if (s && f.removal != REMOVAL_NOT_INSTALLED) {
        content = s->content;
      }
      entry_content[b].push_back(content);
      summary.source_bytes += entries[b].back().file_size;
      summary.entries++;
    }
  }
  std::vector<uint64_t> packed;
  for (const Content& c : contents) packed.push_back(c.size());

  // A patched entry whose base (or whose own patch) the setup program
  // could reach only by going back a volume is stored in full instead.
  auto store_in_full = [&](size_t b, size_t i, const std::string& why) {
    FileEntryFields& e = entries[b][i];
    e.flags = (uint16_t)(e.flags & ~ENTRY_PATCH);
    e.base_block = e.base_entry = 0;
    entry_base[b][i] = EntryRef{};
    entry_content[b][i] = source_of(b, i).content;
    summary.notes.push_back(entry_name(b, i) + " is stored in full, not as a patch: " + why);
  };
  auto volume_name = [](uint32_t v) {
    return v == 0 ? std::string("the setup file") : "volume " + std::to_string(v);
  };
  // The uninstallers' small data (one per block, their texts differ) come
  // first, as a list of their own: every block's walk then starts in the
  // setup file and can still share the contents stored for earlier blocks.
  auto lay_out = [&](const VolumePlan& plan) {
    for (;;) {
      std::vector<std::vector<int64_t>> walks(1);
      std::vector<std::vector<EntryRef>> walk_bases(1);
      for (int64_t u : uninstaller_content)
        if (u != NO_CONTENT) walks[0].push_back(u);
      walk_bases[0].resize(walks[0].size());
      walks.insert(walks.end(), entry_content.begin(), entry_content.end());
      for (std::vector<EntryRef> bases : entry_base) {
        for (EntryRef& r : bases)
          if (r.valid()) r.block++;
        walk_bases.push_back(bases);
      }
      ArchiveLayout l = lay_out_archive(walks, packed, plan, walk_bases);
      l.positions.erase(l.positions.begin());
      if (!l.conflict) return l;
      if (l.conflict->block == 0)
        fail(project.path + ": the uninstallers' data do not fit the setup file");
      l.conflict->block--;
      const LayoutConflict& c = *l.conflict;
      std::string why = "the setup program reads language block " + std::to_string(c.block) +
                        "'s files forward and is at " + volume_name(c.reader_volume) +
                        " by then, but the base's data lie in " + volume_name(c.volume);
      size_t changed = 0;
      for (size_t b = 0; b < blocks; b++)
        for (size_t i = 0; i < entry_base[b].size(); i++) {
          const EntryRef& r = entry_base[b][i];
          bool hit = c.base ? (b == c.block && i == c.entry)
                            : ((size_t)r.block == c.block && (size_t)r.entry == c.entry);
          if (r.valid() && hit) {
            store_in_full(b, i, why);
            changed++;
          }
        }
      if (!changed) fail("internal error: the archive layout has a conflict without a patch");
    }
  };

  auto count_volumes = [&](const VolumePlan& plan, uint64_t archive_bytes) {
    uint32_t volumes = plan.volume_count(archive_bytes);
    if (volumes > 1000)
      fail("--volume-size " + with_commas(options.volume_size) + " would need " +
           with_commas(volumes - 1) + " volume files; make the volumes larger");
    return volumes;
  };
  // Script records for a layout, the integrity record last: the script's
  // CRC-32 and the volume sizes; the archive's checksums are filled in as
  // the archive is written.
  auto build_script = [&](const ArchiveLayout& layout, const VolumePlan& plan) {
    std::vector<uint8_t> script;
    ByteWriter flags;
    flags.u32(project.setup_flags);
    append_record(script, REC_SETUP_FLAGS, flags.bytes, false, level);
    if (project.start_page != WHOLE_WIZARD || project.start_language != 0) {
      // Only when needed: with a start record the setup program skips its
      // check that the package file is complete.
      ByteWriter start;
      start.u16(project.start_page);
      start.u16(project.start_language);
      append_record(script, REC_START, start.bytes, false, level);
    }
    append_record(script, REC_TEMPLATES, build_template_record(templates), true, level);
    if (!billboard.empty()) append_record(script, REC_BILLBOARD, billboard, true, level);
    if (!background.empty()) append_record(script, REC_BACKGROUND, background, true, level);
    if (project.has_title) {
      std::vector<uint8_t> title(project.title.begin(), project.title.end());
      title.push_back(0);
      append_record(script, REC_TITLE, title, true, level);
      append_record(script, REC_TITLE_FONT, logfont_record(project.title_font), true, level);
    }
    if (has_prefix) append_record(script, REC_PREFIX, prefix, true, level);
    for (size_t b = 0; b < project.languages.size(); b++) {
      const LanguageSpec& l = project.languages[b];
      append_record(script, REC_LANGUAGE, language_payload(language_fields(l)), true, level);
      std::vector<FileEntryFields> list = entries[b];
      for (size_t i = 0; i < list.size(); i++) {
        if (entry_content[b][i] == NO_CONTENT) continue;
        list[i].position = (uint32_t)layout.positions[b][i];
        list[i].packed_size = (uint32_t)packed[(size_t)entry_content[b][i]];
      }
      append_record(script, REC_FILE_LIST, file_list_payload(list), true, level);
      if (!l.ini.empty()) {
        std::vector<IniEntryFields> ini;
        for (const IniSpec& e : l.ini)
          ini.push_back({(uint8_t)(e.only_if_absent ? 1 : 0), e.file, e.section, e.key, e.value});
        append_record(script, REC_INI_LIST, ini_list_payload(ini), true, level);
      }
      if (!l.registry.empty()) {
        std::vector<RegistryEntryFields> reg;
        for (const RegistrySpec& e : l.registry)
          reg.push_back({e.root, (uint8_t)(e.only_if_absent ? 1 : 0), e.key, e.name, e.value});
        append_record(script, REC_REGISTRY_LIST, registry_list_payload(reg), true, level);
      }
      if (!l.patches.empty()) {
        std::vector<PatchEntryFields> patches;
        for (const PatchSpec& e : l.patches) {
          PatchEntryFields p;
          p.position = e.position;
          p.file = e.file;
          p.text = e.text;
          p.pattern = e.pattern;
          patches.push_back(p);
        }
        append_record(script, REC_PATCH_LIST, patch_list_payload(patches), true, level);
      }
    }
    uint32_t volumes = count_volumes(plan, layout.size);
    ByteWriter integrity;
    integrity.u32(crc32_update(0, script.data(), script.size()));
    integrity.u32((uint32_t)plan.volume_bytes(0, layout.size));
    integrity.u32(0);
    integrity.u32(volumes - 1);
    for (uint32_t v = 1; v < volumes; v++) {
      integrity.u32((uint32_t)plan.volume_bytes(v, layout.size));
      integrity.u32(0);
    }
    append_record(script, REC_INTEGRITY, integrity.bytes, false, level);
    return script;
  };

  // Layout. With volumes the package file's share of the archive depends on
  // the script's size, which depends on the positions: shrink the share
  // until stub, script and share fit the volume size.
  VolumePlan plan;
  ArchiveLayout layout;
  std::vector<uint8_t> script;
  const uint64_t fixed = stub.size() + 12; // stub, end marker, size word
  if (options.volume_size) {
    if (options.volume_size < 5 || options.volume_size > MAX_U32)
      fail("--volume-size must be from 5 bytes to 4 GiB");
    plan.each = options.volume_size - 4;
    if (fixed > options.volume_size)
      fail("--volume-size " + with_commas(options.volume_size) +
           " is smaller than the setup "
           "program alone (" +
           with_commas(stub.size()) + " bytes)");
    plan.first = options.volume_size - fixed;
    for (int round = 0;; round++) {
      layout = lay_out(plan);
      script = build_script(layout, plan);
      uint64_t header = fixed + script.size();
      if (header + std::min(plan.first, layout.size) <= options.volume_size) break;
      if (header > options.volume_size)
        fail("--volume-size " + with_commas(options.volume_size) +
             " is smaller than the setup "
             "program and its script (" +
             with_commas(header) + " bytes)");
      uint64_t next = options.volume_size - header;
      if (round > 8) next = next > 4096 ? next - 4096 : 0; // converge quickly
      plan.first = std::min(next, plan.first - 1);
    }
  } else {
    layout = lay_out(plan);
    script = build_script(layout, plan);
  }
  if (layout.size > MAX_U32)
    fail("the archive would hold " + with_commas(layout.size) +
         " bytes; a package addresses at "
         "most 4,294,967,295 bytes (32-bit positions)");
  uint32_t volumes = count_volumes(plan, layout.size);
  uint64_t first_bytes = plan.volume_bytes(0, layout.size);
  uint64_t package_bytes = stub.size() + script.size() + 12 + first_bytes;
  if (package_bytes > MAX_U32)
    fail("the setup file would be " + with_commas(package_bytes) +
         " bytes; the setup program "
         "reads at most 4 GiB (use --volume-size)");

  // Write everything under temporary names, then rename.
  ArchiveStreamer streamer(layout, contents, store);
  HostFile& package = outputs.create(output, "the output");
  summary.script_bytes = script.size();
  // The integrity record's CRC-32 fields, filled in below (the script holds
  // zeros there meanwhile, which the PE checksum counts as nothing).
  const size_t integrity_at =
      stub.size() + script.size() - (INTEGRITY_FIXED_SIZE + INTEGRITY_VOLUME_SIZE * (volumes - 1));
  append_end_marker(script, (uint32_t)first_bytes, END_INTEGRITY);
  // The PE checksum covers the whole setup file, package included.
  size_t checksum_at = summary.resources ? pe_checksum_offset(stub) : 0;
  if (checksum_at) std::fill(stub.begin() + checksum_at, stub.begin() + checksum_at + 4, 0);
  PeChecksum checksum;
  checksum.add(stub.data(), stub.size());
  checksum.add(script.data(), script.size());
  package.write(stub.data(), stub.size());
  package.write(script.data(), script.size());
  uint32_t crc = 0;
  streamer.write(package, 0, first_bytes, &checksum, &crc);
  auto fill_in = [&](size_t offset, uint32_t value) {
    ByteWriter w;
    w.u32(value);
    package.write_at(offset, w.bytes.data(), 4);
    checksum.add_at(offset, w.bytes.data(), 4);
  };
  fill_in(integrity_at + 8, crc);
  uint64_t done = first_bytes;
  for (uint32_t v = 1; v < volumes; v++) {
    std::string path = volume_file_path(output, v);
    HostFile& out = outputs.create(path, "volume file " + std::to_string(v));
    uint64_t n = plan.volume_bytes(v, layout.size);
    ByteWriter size;
    size.u32((uint32_t)n);
    out.write(size.bytes.data(), 4);
    crc = crc32_update(0, size.bytes.data(), 4);
    streamer.write(out, done, n, nullptr, &crc);
    fill_in(integrity_at + INTEGRITY_FIXED_SIZE + INTEGRITY_VOLUME_SIZE * (v - 1) + 4, crc);
    done += n;
    summary.volumes.push_back(path);
  }
  if (checksum_at) {
    ByteWriter sum;
    sum.u32(checksum.finish());
    package.write_at(checksum_at, sum.bytes.data(), 4);
  }
  // Volume files of an earlier build of this output beyond the new count go.
  for (uint32_t v = volumes; v < 10000; v++) {
    std::string path = volume_file_path(output, v);
    if (probe_path(path).kind == PathKind::MISSING || !outputs.remove_at_commit(path)) break;
  }
  // Signing happens on the finished setup file before it takes its name;
  // volume files need no signature.
  outputs.commit([&](const std::string& setup_file) {
    if (options.sign) sign_file(setup_file, *options.sign, project.executable.description);
  });
  summary.signed_output = options.sign.has_value();

  summary.output = output;
  summary.stub_bytes = stub.size();
  summary.archive_bytes = layout.size;
  summary.package_bytes = package_bytes;
  summary.stored = layout.pieces.size();
  summary.languages = project.languages.size();
  for (const std::vector<FileEntryFields>& list : entries)
    for (const FileEntryFields& e : list)
      if (e.flags & ENTRY_PATCH) summary.patched++;
  return summary;
}

} // namespace pakwiz
