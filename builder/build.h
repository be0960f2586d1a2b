// `pakwiz build`: project file in, setup executable (and volume files) out.
//
// Steps: read the project; read, checksum and compress every distinct source
// file in parallel (one task per file); share identical contents as the
// archive layout allows (archive_layout.h); build the script records; write
// the stub with the project's manifest, version resource and icon in its
// resources and its length field set, the records, the end marker, the
// archive size word and the archive, cut into volumes when asked, with the
// PE checksum covering the whole setup file; sign that file when asked. Every
// output is written under a temporary name and renamed at the end, so a
// failure leaves no partial file behind. The same input gives the same bytes.
#pragma once
#include <stdint.h>

#include <optional>
#include <string>
#include <vector>

#include "builder/signing.h"

namespace pakwiz {

struct BuildOptions {
  std::string project;
  std::string output;       // "" = <project name>-setup.exe in the current folder
  std::string stub;         // "" = default_stub_path()
  std::string uninstaller;  // for [uninstaller] without `program`; "" = default_uninstaller_path()
  uint64_t volume_size = 0; // 0 = everything in one file; else the most bytes per file
  int level = -1;           // -1 = the encoder's default
  unsigned jobs = 0;        // 0 = one per core
  bool progress = false;    // draw a progress bar on stderr (a terminal)
  std::optional<SignOptions> sign; // sign the setup file (not the volume files)
  // Store a file as a patch of the same-named file of an earlier language
  // block when that is clearly smaller (--patches auto, the default).
  bool auto_patches = true;
};

struct BuildSummary {
  std::string output;
  std::vector<std::string> volumes; // .D01, ... in order
  uint64_t stub_bytes = 0, script_bytes = 0, archive_bytes = 0, package_bytes = 0;
  uint64_t source_bytes = 0; // sum of the installed files' sizes
  size_t entries = 0;        // file entries over all language blocks
  size_t stored = 0;         // copies stored in the archive
  size_t languages = 0;
  bool resources = false;         // the project's manifest, version and icon went into the stub
  bool signed_output = false;     // the setup file was signed
  size_t patched = 0;             // entries stored as patches
  std::vector<std::string> notes; // patched files stored in full after all, and why
};

// The setup program used when --stub is not given: pakwiz-stub.exe beside
// the running pakwiz, else the compiled-in default of the source tree.
// Throws BuildError listing the places looked at when neither exists.
std::string default_stub_path();
// The uninstaller program for [uninstaller] without `program`:
// pakwiz-uninstall.exe beside the running pakwiz, else the compiled-in
// default of the source tree (the i686 release build). Throws BuildError
// listing the places looked at when neither exists.
std::string default_uninstaller_path();

// Checks a stub (exactly one marker, length field 0) and returns a copy with
// the field set to the stub's size. Throws BuildError naming `name`.
std::vector<uint8_t> prepare_stub(const std::vector<uint8_t>& stub, const std::string& name);

// Runs the build. Throws BuildError for every problem, having written nothing.
BuildSummary build_setup(const BuildOptions& options);

} // namespace pakwiz
