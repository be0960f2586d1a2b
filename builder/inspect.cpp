#include "builder/inspect.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <tuple>

#include "builder/ansi.h"
#include "builder/bitmap.h"
#include "builder/bytes.h"
#include "builder/errors.h"
#include "builder/host_files.h"
#include "builder/package_reader.h"
#include "builder/patch_rebuild.h"
#include "builder/setup_resources.h"
#include "builder/signing.h"
#include "builder/terminal_text.h"
#include "builder/volume_files.h"
#include "decode/checksum.h"
#include "decode/stream_decoder.h"

namespace pakwiz {

namespace fs = std::filesystem;

namespace {

// Names of the stored codes, indexed by DestinationKind, EndAction,
// RemovalMode and SpecialHandling.
const char* const DESTINATIONS[] = {"install folder", "Windows folder", "system folder",
                                    "fonts folder"};
const char* const END_ACTIONS[] = {"none", "open", "start"};
const char* const REMOVALS[] = {"keep", "remove", "not-installed"};
const char* const SPECIALS[] = {"none", "screensaver", "selfregister"};
static_assert(DEST_FONT == 3 && END_START_PROGRAM == 2 && REMOVAL_NOT_INSTALLED == 2 &&
                  SPECIAL_SELF_REGISTER == 2,
              "the name tables follow the stored codes");
const char* const ROOTS[] = {"HKCR", "HKCU", "HKLM", "HKU"};

template <size_t N> std::string name_of(const char* const (&names)[N], unsigned v) {
  return v < N ? names[v] : "unknown (" + std::to_string(v) + ")";
}

std::string hex(uint32_t v, int digits = 8) {
  char buf[16];
  snprintf(buf, sizeof buf, "0x%0*X", digits, (unsigned)v);
  return buf;
}

// A name or text of the package as it may be printed.
std::string shown(const std::string& ansi) {
  return printable(ansi_to_utf8(ansi));
}

std::string quoted(const std::string& ansi) {
  return "\"" + shown(ansi) + "\"";
}

std::string version_text(uint32_t ms, uint32_t ls) {
  return std::to_string(ms >> 16) + "." + std::to_string(ms & 0xFFFF) + "." +
         std::to_string(ls >> 16) + "." + std::to_string(ls & 0xFFFF);
}

std::string root_name(uint32_t root) {
  if (root >= 16) return "HKCU";
  return root < 4 ? ROOTS[root] : "root " + std::to_string(root);
}

std::string filetime_text(uint64_t ft) {
  int64_t seconds = (int64_t)(ft / 10000000ull) - 11644473600ll;
  int64_t days = seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400;
  int64_t rest = seconds - days * 86400;
  // civil_from_days
  int64_t z = days + 719468, era = (z >= 0 ? z : z - 146096) / 146097;
  int64_t doe = z - era * 146097, yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t y = yoe + era * 400, doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  int64_t mp = (5 * doy + 2) / 153, d = doy - (153 * mp + 2) / 5 + 1, m = mp + (mp < 10 ? 3 : -9);
  char buf[80];
  snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d UTC", (int)(y + (m <= 2)), (int)m,
           (int)d, (int)(rest / 3600), (int)(rest / 60 % 60), (int)(rest % 60));
  return buf;
}

std::string flags_text(uint8_t flags) {
  std::string s;
  auto add = [&](const char* w) { s += (s.empty() ? "" : ", ") + std::string(w); };
  if (flags & ENTRY_UNINSTALLER) add("uninstaller");
  if (flags & ENTRY_VERSION_TEST) add("version test");
  if (flags & ENTRY_LANGUAGE_TEST) add("language test");
  if (flags & ENTRY_FILE_TIMES) add("file times");
  if (flags & ENTRY_PATCH) add("patch");
  return s.empty() ? "none" : s;
}

std::string entry_name(size_t block, size_t index, const FileEntryFields& e) {
  return "block " + std::to_string(block) + " entry " + std::to_string(index) + " (" +
         shown(e.strings[0]) + ")";
}

// Size of the archive data an entry's decoded data has: the uninstaller's
// file is the prefix block followed by its data.
uint32_t data_size(const FileEntryFields& e, const PackageInfo& info) {
  if (!(e.flags & ENTRY_UNINSTALLER)) return e.file_size;
  uint32_t prefix = info.prefix ? (uint32_t)info.prefix->size() : 0;
  return e.file_size >= prefix ? e.file_size - prefix : 0;
}

bool has_data(const FileEntryFields& e) {
  return e.removal != REMOVAL_NOT_INSTALLED;
}

// The archive bytes [position, end) as the decoder's input: read on demand,
// a chunk at a time, from whatever volumes hold them. A failed read (a
// missing or short volume) ends the decode; error() tells why.
class ArchiveRange : public InputSource {
public:
  ArchiveRange(ArchiveFiles& archive, uint64_t position, uint64_t count)
      : archive_(archive), at_(position), end_(position + count) {}
  int IsReady() override { return 1; }
  bool Read(uint8_t* buffer, uint32_t count, uint32_t* got) override {
    uint64_t n = end_ - at_ < count ? end_ - at_ : count;
    *got = 0;
    if (n == 0) return true;
    try {
      archive_.read_into(at_, buffer, n);
    } catch (const BuildError& err) {
      error_ = err.what();
      return false;
    }
    at_ += n;
    *got = (uint32_t)n;
    return true;
  }
  void Unread(uint32_t count) override { at_ -= count; }
  const std::string& error() const { return error_; }

private:
  ArchiveFiles& archive_;
  uint64_t at_, end_;
  std::string error_;
};

// Where an entry's file goes while it is checked: into the checksum, and
// also into an open file or a buffer when one is given.
struct EntryOutput {
  HostFile* file = nullptr;
  std::vector<uint8_t>* keep = nullptr;
  ::RunningChecksum sum;
  uint64_t size = 0;
  void put(const uint8_t* data, size_t n) {
    sum.Add(data, n);
    if (file) file->write(data, n);
    if (keep) keep->insert(keep->end(), data, data + n);
    size += n;
  }
};

// Takes decoded bytes into an EntryOutput, refusing any beyond `limit`.
class EntrySink : public OutputSink {
public:
  EntrySink(EntryOutput& out, uint64_t limit) : out_(out), limit_(limit) {}
  int IsReady() override { return 1; }
  bool Write(const uint8_t* data, uint16_t count) override {
    if (count > limit_ - produced_) {
      too_long_ = true;
      return false;
    }
    produced_ += count;
    out_.put(data, count);
    return true;
  }
  uint64_t produced() const { return produced_; }
  bool too_long() const { return too_long_; }

private:
  EntryOutput& out_;
  uint64_t limit_;
  uint64_t produced_ = 0;
  bool too_long_ = false;
};

void entry_data(ArchiveFiles& archive, const PackageInfo& info, const FileEntryFields& e,
                EntryOutput& out);

// A patched entry's file: its base entry decoded and checked, then the patch
// applied by the setup program's own applier (patch_rebuild.h). The base
// and the result are held in memory, each at most what its stream can
// decode to.
std::vector<uint8_t> patched_contents(ArchiveFiles& archive, const PackageInfo& info,
                                      const FileEntryFields& e) {
  std::string base_name =
      "block " + std::to_string(e.base_block) + " entry " + std::to_string(e.base_entry);
  if (e.base_block >= info.blocks.size() || !info.blocks[e.base_block].files ||
      e.base_entry >= info.blocks[e.base_block].files->size())
    fail("its base entry, " + base_name + ", does not exist");
  const FileEntryFields& base = (*info.blocks[e.base_block].files)[e.base_entry];
  if (base.flags & (ENTRY_PATCH | ENTRY_UNINSTALLER))
    fail("its base entry, " + base_name + ", is " +
         ((base.flags & ENTRY_PATCH) ? "itself a patch" : "the uninstaller"));
  if (base.removal == REMOVAL_NOT_INSTALLED)
    fail("its base entry, " + base_name + ", holds no data");
  std::vector<uint8_t> base_data;
  try {
    EntryOutput kept;
    kept.keep = &base_data;
    entry_data(archive, info, base, kept);
  } catch (const BuildError& err) {
    fail("its base entry, " + base_name + ": " + err.what());
  }
  std::vector<uint8_t> data =
      rebuild_patched_file(base_data, archive.read(e.position, e.packed_size));
  if (data.size() != e.file_size)
    fail("the patched file's size " + with_commas(data.size()) + " is not its " +
         with_commas(e.file_size));
  return data;
}

// Decodes and checks one entry, streaming its file (with the prefix block
// for the uninstaller, rebuilt for a patched file) into `out`; throws
// BuildError with the problem. A stream is decoded a chunk at a time: no
// entry is held whole in memory (but a patched file and its base).
void entry_data(ArchiveFiles& archive, const PackageInfo& info, const FileEntryFields& e,
                EntryOutput& out) {
  if (e.flags & ENTRY_PATCH) {
    std::vector<uint8_t> data = patched_contents(archive, info, e);
    out.put(data.data(), data.size());
  } else {
    if (e.flags & ENTRY_UNINSTALLER) {
      if (!info.prefix) fail("uninstaller entry, but the package has no file prefix block");
      if (e.file_size < info.prefix->size() + UNINSTALLER_RESERVED_BYTES)
        fail("uninstaller entry's data is shorter than the 8 bytes the uninstall log overwrites");
    }
    uint32_t expected = data_size(e, info);
    std::string where = "its data at archive position " + with_commas(e.position) + " (" +
                        with_commas(e.packed_size) + " bytes)";
    if (expected > max_unpacked_size(e.packed_size))
      fail(where + " cannot decode to its " + with_commas(expected) + " bytes");
    if (e.flags & ENTRY_UNINSTALLER) out.put(info.prefix->data(), info.prefix->size());
    ArchiveRange input(archive, e.position, e.packed_size);
    EntrySink sink(out, expected);
    StreamDecoder decoder;
    int status = decoder.Decode(&sink, &input, 0);
    if (!input.error().empty()) fail(input.error());
    if (status != DECODE_OK || sink.produced() != expected)
      fail(where + (sink.too_long() ? " decodes to more than" : " does not decode to") + " its " +
           with_commas(expected) + " bytes");
  }
  uint32_t sum = out.sum.Value();
  if (sum != e.checksum)
    fail(std::string((e.flags & ENTRY_PATCH) ? "the patched file's checksum " : "checksum ") +
         hex(sum) + " differs from the entry's " + hex(e.checksum));
}

// The setup program installs one language block by walking its file list
// and reading each entry's data forward through the archive: it can go back
// within the file it is reading but never to an earlier volume. A patched
// entry reads its base entry's data first, then its patch. Returns one
// problem for each entry whose data (or base's data) lie in an earlier file
// than the walk of its block has reached by then.
std::vector<std::string> walk_problems(ArchiveFiles& archive, const PackageInfo& info) {
  auto file_name = [](uint32_t v) {
    return v == 0 ? std::string("the setup file") : "volume " + std::to_string(v);
  };
  std::vector<std::string> problems;
  for (size_t b = 0; b < info.blocks.size(); b++) {
    if (!info.blocks[b].files) continue;
    const std::vector<FileEntryFields>& files = *info.blocks[b].files;
    uint32_t reader = 0; // the file where the reads so far have ended
    for (size_t i = 0; i < files.size(); i++) {
      const FileEntryFields& e = files[i];
      if (!has_data(e)) continue;
      // Reads the data of `d` (the entry itself or its base) forward.
      auto read = [&](const FileEntryFields& d, const std::string& whose) {
        uint32_t first = archive.volume_of(d.position);
        if (first < reader) {
          problems.push_back(entry_name(b, i, e) + ": " + whose + " lie in " + file_name(first) +
                             ", but the setup program reads block " + std::to_string(b) +
                             "'s files forward and is at " + file_name(reader) + " by then");
          return false;
        }
        uint64_t end = d.packed_size ? d.position + d.packed_size - 1 : d.position;
        reader = std::max(reader, archive.volume_of(end));
        return true;
      };
      try {
        if (e.flags & ENTRY_PATCH) {
          // A base that does not exist is reported elsewhere.
          if (e.base_block >= info.blocks.size() || !info.blocks[e.base_block].files ||
              e.base_entry >= info.blocks[e.base_block].files->size())
            continue;
          const FileEntryFields& base = (*info.blocks[e.base_block].files)[e.base_entry];
          if (!read(base, "its base's data (block " + std::to_string(e.base_block) + " entry " +
                              std::to_string(e.base_entry) + ")"))
            continue;
          read(e, "its patch's data");
        } else {
          read(e, "its data");
        }
      } catch (const BuildError&) {
        // A missing volume: the entries' own checks report it.
        break;
      }
    }
  }
  return problems;
}

uint64_t archive_end(const PackageInfo& info) {
  return info.has_archive ? info.archive_offset + 4 + info.archive_size : info.file_length;
}

// The setup program's manifest, version resource and icon.
void list_program_resources(const PackageInfo& info, std::ostream& out) {
  std::vector<uint8_t> stub(info.stub_length);
  HostFile::open_read(info.path).read_at(0, stub.data(), stub.size());
  if (!is_pe_image(stub)) return;
  ProgramResourcesInfo r = describe_program_resources(stub, info.path + " (setup program)");
  if (r.has_manifest)
    out << "  manifest: execution level " << printable(r.execution_level.value_or("(none)"))
        << (r.common_controls_6 ? ", common controls 6" : "") << (r.dpi_aware ? ", DPI aware" : "")
        << ", " << r.supported_os << " supported Windows versions\n";
  else
    out << "  manifest: none\n";
  if (r.file_version) {
    out << "  version: file " << *r.file_version << ", product " << *r.product_version << "\n";
    for (auto& [key, value] : r.version_strings)
      out << "    " << printable(key) << ": \"" << printable(value) << "\"\n";
  } else {
    out << "  version: none\n";
  }
  std::string icons;
  for (const std::string& size : r.icon_sizes) icons += (icons.empty() ? "" : ", ") + size;
  out << "  icon: " << (icons.empty() ? "none" : icons) << "\n";
}

std::string signature_text(const CertificateTable& t) {
  if (!t.named) return "not signed";
  if (!t.behind_archive)
    return "names a certificate table at " + with_commas(t.offset) + " (" + with_commas(t.size) +
           " bytes) that is not what a signing tool leaves behind the package";
  return "signed (a certificate table of " + with_commas(t.size) + " bytes follows the package)";
}

// The CRC-32 of `count` bytes of `file` from `offset`.
uint32_t range_crc(HostFile& file, uint64_t offset, uint64_t count) {
  std::vector<uint8_t> chunk((size_t)std::min<uint64_t>(count, 1 << 20));
  uint32_t crc = 0;
  for (uint64_t done = 0; done < count;) {
    size_t n = (size_t)std::min<uint64_t>(count - done, chunk.size());
    file.read_at(offset + done, chunk.data(), n);
    crc = crc32_update(crc, chunk.data(), n);
    done += n;
  }
  return crc;
}

// Compares the package file and its volume files with the integrity record:
// one problem for each part that differs.
std::vector<std::string> integrity_problems(const PackageInfo& info) {
  const IntegrityInfo& rec = *info.integrity;
  std::vector<std::string> problems;
  auto differs = [&](const std::string& part, uint32_t crc, uint32_t recorded) {
    if (crc != recorded)
      problems.push_back(part + ": CRC-32 " + hex(crc) + " differs from the integrity record's " +
                         hex(recorded));
  };
  try {
    HostFile file = HostFile::open_read(info.path);
    differs("the script", range_crc(file, info.stub_length, rec.offset - info.stub_length),
            rec.script_crc);
    if (!info.has_archive || rec.archive_bytes != info.archive_size)
      problems.push_back("the integrity record counts " + with_commas(rec.archive_bytes) +
                         " archive bytes in the setup file, the end marker " +
                         with_commas(info.archive_size));
    else if (info.archive_offset + 4 + rec.archive_bytes > info.file_length)
      problems.push_back("the archive ends behind the end of the file (truncated?)");
    else
      differs("the archive in the setup file",
              range_crc(file, info.archive_offset + 4, rec.archive_bytes), rec.archive_crc);
  } catch (const BuildError& e) {
    problems.push_back(e.what());
  }
  for (size_t v = 0; v < rec.volumes.size(); v++) {
    std::string path = volume_file_path(info.path, (uint32_t)(v + 1));
    try {
      HostFile file = HostFile::open_read(path);
      uint64_t expected = 4ull + rec.volumes[v].data_bytes;
      if (file.size() != expected)
        problems.push_back(path + ": " + with_commas(file.size()) +
                           " bytes, the integrity record says " + with_commas(expected));
      else
        differs(path, range_crc(file, 0, expected), rec.volumes[v].crc);
    } catch (const BuildError& e) {
      problems.push_back(e.what());
    }
  }
  return problems;
}

std::string integrity_text(const IntegrityInfo& rec) {
  std::string text = "script CRC-32 " + hex(rec.script_crc) + ", archive " +
                     with_commas(rec.archive_bytes) + " bytes CRC-32 " + hex(rec.archive_crc);
  if (!rec.volumes.empty()) text += ", " + std::to_string(rec.volumes.size()) + " volume files";
  return text;
}

} // namespace

std::vector<std::string> package_problems(const PackageInfo& info) {
  std::vector<std::string> problems = info.problems;
  for (size_t b = 0; b < info.blocks.size(); b++) {
    if (!info.blocks[b].files) continue;
    const std::vector<FileEntryFields>& files = *info.blocks[b].files;
    for (size_t i = 0; i < files.size(); i++) {
      const FileEntryFields& e = files[i];
      auto bad = [&](const std::string& text) {
        problems.push_back(entry_name(b, i, e) + ": " + text);
      };
      auto code = [&](const char* what, unsigned value, unsigned last) {
        if (value > last) bad("unknown " + std::string(what) + " code " + std::to_string(value));
      };
      code("destination", e.destination, DEST_FONT);
      code("end action", e.end_action, END_START_PROGRAM);
      code("removal", e.removal, REMOVAL_NOT_INSTALLED);
      code("special handling", e.special, SPECIAL_SELF_REGISTER);
      if (!has_data(e)) continue;
      if (safe_extract_path(e.strings[0], e.destination).empty())
        bad("the target name cannot be written safely (a \"..\" part, a control character or "
            "no name)");
      if ((e.flags & ENTRY_UNINSTALLER) && !info.prefix)
        bad("uninstaller entry, but the package has no file prefix block");
      if (e.flags & ENTRY_PATCH) {
        bool exists = e.base_block < info.blocks.size() && info.blocks[e.base_block].files &&
                      e.base_entry < info.blocks[e.base_block].files->size();
        if (!exists)
          bad("its base entry, block " + std::to_string(e.base_block) + " entry " +
              std::to_string(e.base_entry) + ", does not exist");
      } else if (data_size(e, info) > max_unpacked_size(e.packed_size)) {
        bad("its " + with_commas(e.packed_size) + " packed bytes cannot decode to its " +
            with_commas(data_size(e, info)) + " bytes");
      }
    }
  }
  return problems;
}

std::string safe_extract_path(const std::string& target, uint8_t destination) {
  std::string t = target;
  for (char& c : t)
    if (c == '\\') c = '/';
  if (t.size() >= 2 && t[1] == ':') t.erase(0, 2);
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= t.size()) {
    size_t end = t.find('/', start);
    if (end == std::string::npos) end = t.size();
    std::string part = t.substr(start, end - start);
    if (part == "..") return "";
    for (unsigned char c : part)
      if (c < 0x20 || c == 0x7F) return ""; // no Windows name holds a control character
    if (!part.empty() && part != ".") parts.push_back(part);
    start = end + 1;
  }
  if (parts.empty()) return "";
  // Only the file name counts in the shared system folder.
  if (destination == DEST_SHARED_SYSTEM) parts.erase(parts.begin(), parts.end() - 1);
  std::string out = destination == DEST_WINDOWS         ? "Windows/"
                    : destination == DEST_SHARED_SYSTEM ? "System/"
                    : destination == DEST_FONT          ? "Fonts/"
                                                        : "";
  for (size_t i = 0; i < parts.size(); i++) out += (i ? "/" : "") + ansi_to_utf8(parts[i]);
  return out;
}

void list_package(const std::string& path, std::ostream& out) {
  PackageInfo info = read_package(path);
  out << printable(path) << "\n";
  out << "  stub: " << with_commas(info.stub_length) << " bytes (length field at offset "
      << with_commas(info.marker_offset + 6) << ")\n";
  list_program_resources(info, out);
  out << "  signature: " << signature_text(find_certificate_table(path, archive_end(info))) << "\n";
  uint64_t script_end = info.has_archive ? info.archive_offset - 8 : info.file_length;
  out << "  script: " << with_commas(script_end - info.stub_length) << " bytes in "
      << info.records.size() << " records\n";
  if (info.has_archive)
    out << "  archive: " << with_commas(info.archive_size) << " bytes in this file\n";
  else
    out << "  archive: none (end marker without size word)\n";
  if (info.integrity) {
    out << "  integrity: " << integrity_text(*info.integrity) << "\n";
    for (size_t v = 0; v < info.integrity->volumes.size(); v++)
      out << "    volume " << v + 1 << ": " << with_commas(info.integrity->volumes[v].data_bytes)
          << " bytes, CRC-32 " << hex(info.integrity->volumes[v].crc) << "\n";
  } else {
    out << "  integrity: no record (the script and archive are not checked as a whole)\n";
  }
  out << "  setup flags: " << hex(info.setup_flags) << " ("
      << ((info.setup_flags & SETUP_FULL_SCREEN) ? "full screen" : "windowed")
      << ((info.setup_flags & SETUP_REMOVE_PREVIOUS) ? ", remove earlier installations" : "")
      << ")\n";
  out << "  start: "
      << (info.start_page == WHOLE_WIZARD ? std::string("whole wizard")
                                          : "page " + std::to_string(info.start_page) + " only")
      << ", language block " << info.start_language
      << (info.has_start ? " (start record)" : " (no start record)") << "\n";
  if (info.templates) {
    out << "  dialog templates: " << with_commas(info.templates->size()) << " bytes, offsets";
    for (uint32_t k = 0; k < 9 && info.templates->size() >= 4 * (k + 1); k++)
      out << " " << read_u32(info.templates->data() + 4 * k);
    out << "\n";
  }
  for (auto [name, bmp] : {std::make_pair("billboard", &info.billboard),
                           std::make_pair("background", &info.background)}) {
    BitmapInfo b;
    if (*bmp && bitmap_info(**bmp, &b))
      out << "  " << name << ": " << b.width << " x " << b.height << " x " << b.bit_count
          << " bits, " << with_commas((*bmp)->size()) << " bytes\n";
  }
  if (info.title) {
    std::string t((const char*)info.title->data(),
                  strnlen((const char*)info.title->data(), info.title->size()));
    out << "  background title: " << quoted(t);
    if (info.title_font && info.title_font->size() >= 60) {
      const uint8_t* f = info.title_font->data();
      std::string face((const char*)f + 28, strnlen((const char*)f + 28, 32));
      out << " in " << quoted(face) << ", height " << -(int32_t)read_u32(f) << ", weight "
          << read_u32(f + 16) << (f[20] ? ", italic" : "");
    }
    out << "\n";
  }
  if (info.prefix)
    out << "  uninstaller prefix block: " << with_commas(info.prefix->size()) << " bytes\n";

  for (size_t b = 0; b < info.blocks.size(); b++) {
    const BlockInfo& block = info.blocks[b];
    const LanguageFields& l = block.language;
    out << "language block " << b << ": " << (l.name ? quoted(*l.name) : "(no name)") << "\n";
    std::string flags;
    if (l.flags & LANG_FOLDER_CHANGEABLE) flags += "folder changeable";
    if (l.flags & LANG_STORE_FOLDER_REGISTRY)
      flags += std::string(flags.empty() ? "" : ", ") + "store folder in registry";
    if (l.flags & LANG_STORE_FOLDER_INI)
      flags += std::string(flags.empty() ? "" : ", ") + "store folder in INI";
    out << "  flags: " << hex(l.flags, 4) << (flags.empty() ? "" : " (" + flags + ")") << "\n";
    if (l.folder) out << "  default folder: " << quoted(*l.folder) << "\n";
    if (l.registry_key)
      out << "  folder registry value: " << root_name(l.registry_root) << "\\"
          << shown(*l.registry_key) << " "
          << (l.registry_value ? quoted(*l.registry_value) : "(default value)") << "\n";
    if (l.ini_file)
      out << "  folder INI entry: " << quoted(*l.ini_file) << " ["
          << shown(l.ini_section.value_or("")) << "] " << shown(l.ini_key.value_or("")) << "\n";
    if (l.uninstall_key) out << "  uninstall key: " << quoted(*l.uninstall_key) << "\n";
    std::string tables;
    for (size_t t = 0; t < STRING_TABLES; t++)
      if (l.tables[t])
        tables += (tables.empty() ? "" : ", ") + std::to_string(t) + ":" +
                  std::to_string(l.tables[t]->size());
    out << "  string tables (table:strings): " << (tables.empty() ? "none" : tables) << "\n";
    if (l.tables[6] && !l.tables[6]->empty())
      out << "  frame title: " << quoted((*l.tables[6])[0]) << "\n";

    const std::vector<FileEntryFields> no_files;
    const std::vector<FileEntryFields>& files = block.files ? *block.files : no_files;
    out << "  files: " << files.size() << "\n";
    for (size_t i = 0; i < files.size(); i++) {
      const FileEntryFields& e = files[i];
      out << "    [" << i << "] " << shown(e.strings[0]) << " -> "
          << name_of(DESTINATIONS, e.destination) << "\n";
      out << "        size " << with_commas(e.file_size) << ", packed "
          << with_commas(e.packed_size) << " at " << with_commas(e.position) << ", checksum "
          << hex(e.checksum) << "\n";
      out << "        flags: " << flags_text(e.flags) << "; end action "
          << name_of(END_ACTIONS, e.end_action) << "; removal " << name_of(REMOVALS, e.removal)
          << "; special " << name_of(SPECIALS, e.special) << (e.shared ? "; shared count" : "")
          << "\n";
      if (e.flags & (ENTRY_VERSION_TEST | ENTRY_LANGUAGE_TEST))
        out << "        version " << version_text(e.version[0], e.version[1]) << ", product "
            << version_text(e.version[2], e.version[3]) << ", language " << hex(e.version[4], 4)
            << "\n";
      if (e.flags & ENTRY_FILE_TIMES)
        out << "        modified " << filetime_text(e.times[2]) << "\n";
      if (e.flags & ENTRY_PATCH) {
        out << "        patch of block " << (int)e.base_block << " entry " << (int)e.base_entry;
        if (e.base_block < info.blocks.size() && info.blocks[e.base_block].files &&
            e.base_entry < info.blocks[e.base_block].files->size())
          out << " (" << shown((*info.blocks[e.base_block].files)[e.base_entry].strings[0]) << ")";
        else
          out << " (missing)";
        out << "\n";
      }
      if (!e.strings[2].empty())
        out << "        Start menu: "
            << quoted(e.strings[1] + (e.strings[1].empty() ? "" : "\\") + e.strings[2])
            << (e.strings[3].empty() ? "" : " " + quoted(e.strings[3]))
            << (e.icon ? ", icon " + std::to_string(e.icon) : "") << "\n";
      if (!e.strings[4].empty())
        out << "        desktop: " << quoted(e.strings[4])
            << (e.strings[5].empty() ? "" : " " + quoted(e.strings[5])) << "\n";
    }
    if (block.ini) {
      out << "  INI entries: " << block.ini->size() << "\n";
      for (const IniEntryFields& e : *block.ini)
        out << "    " << quoted(e.file) << " [" << shown(e.section) << "] " << shown(e.key) << " = "
            << quoted(e.value) << ((e.flags & ONLY_IF_ABSENT) ? " (only if absent)" : "") << "\n";
    }
    if (block.registry) {
      out << "  registry entries: " << block.registry->size() << "\n";
      for (const RegistryEntryFields& e : *block.registry)
        out << "    " << root_name(e.root) << "\\" << shown(e.key) << " "
            << (e.name.empty() ? "(default)" : quoted(e.name)) << " = " << quoted(e.value)
            << ((e.flags & ONLY_IF_ABSENT) ? " (only if absent)" : "") << "\n";
    }
    if (block.patches) {
      out << "  file patches: " << block.patches->size() << "\n";
      for (const PatchEntryFields& e : *block.patches) {
        out << "    " << quoted(e.file) << " ";
        if (e.position >= 0)
          out << "at " << e.position;
        else
          out << "behind a " << e.pattern.size() << "-byte pattern";
        out << ": " << quoted(e.text) << "\n";
      }
    }
  }
  for (const std::string& p : package_problems(info)) out << "problem: " << printable(p) << "\n";
}

bool verify_package(const std::string& path, std::ostream& out) {
  PackageInfo info;
  try {
    info = read_package(path);
  } catch (const BuildError& e) {
    out << "damaged: " << printable(e.what()) << "\n";
    return false;
  }
  size_t problems = 0, checked = 0, skipped = 0;
  for (const std::string& p : package_problems(info)) {
    out << "damaged: " << printable(path) << ": " << printable(p) << "\n";
    problems++;
  }
  CertificateTable signature = find_certificate_table(path, archive_end(info));
  out << printable(path) << ": " << signature_text(signature) << "\n";
  if (signature.named && !signature.behind_archive) problems++;
  if (info.integrity) {
    std::vector<std::string> damage = integrity_problems(info);
    for (const std::string& p : damage)
      out << "damaged: " << printable(path) << ": " << printable(p) << "\n";
    if (damage.empty())
      out << printable(path) << ": integrity record matches (" << integrity_text(*info.integrity)
          << ")\n";
    problems += damage.size();
  } else {
    out << "note: " << printable(path)
        << " has no integrity record; only each entry's checksum is checked\n";
  }
  if (!info.has_archive) {
    out << "note: " << printable(path) << " has no archive size word (script only)\n";
  } else {
    std::unique_ptr<ArchiveFiles> files;
    try {
      files = std::make_unique<ArchiveFiles>(path, info.archive_offset, info.archive_size);
    } catch (const BuildError& e) {
      out << "damaged: " << printable(e.what()) << "\n";
      return false;
    }
    ArchiveFiles& archive = *files;
    std::string length = archive.check_package_length(
        signature.behind_archive ? info.file_length - archive_end(info) : 0);
    if (!length.empty()) {
      out << "damaged: " << printable(path) << ": " << length << "\n";
      problems++;
    }
    for (const std::string& p : walk_problems(archive, info)) {
      out << "damaged: " << printable(p) << "\n";
      problems++;
    }
    // Entries sharing one stored copy (and claiming the same size) are
    // decoded once.
    std::map<std::tuple<uint32_t, uint32_t, uint32_t, uint32_t, uint8_t, uint32_t>, std::string>
        done;
    for (size_t b = 0; b < info.blocks.size(); b++) {
      if (!info.blocks[b].files) continue;
      const std::vector<FileEntryFields>& files = *info.blocks[b].files;
      for (size_t i = 0; i < files.size(); i++) {
        const FileEntryFields& e = files[i];
        if (!has_data(e)) {
          skipped++;
          continue;
        }
        // A patched entry's result also depends on its base.
        uint32_t base = (e.flags & ENTRY_PATCH) ? 0x10000u | (e.base_block << 8) | e.base_entry : 0;
        auto key = std::make_tuple(e.position, e.packed_size, e.file_size, e.checksum,
                                   (uint8_t)(e.flags & (ENTRY_PATCH | ENTRY_UNINSTALLER)), base);
        auto it = done.find(key);
        std::string problem;
        if (it != done.end()) {
          problem = it->second;
        } else {
          try {
            EntryOutput checked;
            entry_data(archive, info, e, checked);
          } catch (const BuildError& err) {
            problem = err.what();
          }
          done[key] = problem;
        }
        checked++;
        if (!problem.empty()) {
          out << "damaged: " << entry_name(b, i, e) << ": " << printable(problem) << "\n";
          problems++;
        }
      }
    }
  }
  out << printable(path) << ": " << checked << " entries checked";
  if (skipped) out << ", " << skipped << " without data (not installed)";
  out << ", "
      << (problems == 0   ? std::string("all good")
          : problems == 1 ? std::string("1 problem")
                          : std::to_string(problems) + " problems")
      << "\n";
  return problems == 0;
}

void extract_package(const std::string& path, const std::string& dir, std::optional<int> language,
                     std::ostream& out) {
  PackageInfo info = read_package(path);
  int block = language ? *language : info.start_language;
  if (block < 0 || (size_t)block >= info.blocks.size())
    fail(path + ": there is no language block " + std::to_string(block) + " (the package has " +
         std::to_string(info.blocks.size()) + ")");
  if (!info.has_archive) fail(path + ": the package has no archive");
  ArchiveFiles archive(path, info.archive_offset, info.archive_size);
  const BlockInfo& b = info.blocks[(size_t)block];
  if (!b.files) {
    out << "language block " << block << " has no files\n";
    return;
  }
  size_t written = 0;
  for (size_t i = 0; i < b.files->size(); i++) {
    const FileEntryFields& e = (*b.files)[i];
    std::string name = entry_name((size_t)block, i, e);
    if (!has_data(e)) {
      out << "skipped " << name << ": not installed (its file lies beside the setup program)\n";
      continue;
    }
    std::string rel = safe_extract_path(e.strings[0], e.destination);
    if (rel.empty()) fail(path + ": " + name + ": the target name is not safe to extract");
    std::vector<std::string> parts;
    for (size_t at = 0, slash; at <= rel.size(); at = slash + 1) {
      slash = rel.find('/', at);
      if (slash == std::string::npos) slash = rel.size();
      parts.push_back(rel.substr(at, slash - at));
    }
    std::optional<uint64_t> time;
    if (e.flags & ENTRY_FILE_TIMES) time = e.times[2];
    // The file is decoded straight into its temporary file, which becomes
    // the file only when the whole entry decoded and checked.
    uint64_t size = 0;
    std::string written_path = write_file_beneath(
        dir, parts,
        [&](HostFile& file) {
          EntryOutput output;
          output.file = &file;
          try {
            entry_data(archive, info, e, output);
          } catch (const BuildError& err) {
            fail(path + ": " + name + ": " + err.what());
          }
          size = output.size;
        },
        time);
    out << "extracted " << printable(written_path) << " (" << with_commas(size) << " bytes)\n";
    written++;
  }
  out << written << " files written to " << printable(dir) << "\n";
}

} // namespace pakwiz
