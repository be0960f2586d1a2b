// The setup executable's own resources, made from the project's
// [executable] table: the application manifest, the version resource and
// the icon. The builder writes them into the stub (and the manifest and the
// version resource into pakwiz's own uninstaller) when it builds; `pakwiz
// list` reads them back.
#pragma once
#include <stdint.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "builder/pe_resources.h"
#include "builder/project.h"

namespace pakwiz {

// The application manifest: the requested execution level, common controls
// version 6 (visual styles) and the Windows versions the program is known
// to run on (Vista to 11).
std::string manifest_xml(const ExecutableSpec& spec);

// A VS_VERSIONINFO resource: fixed file and product versions, and the texts
// (ProductName, ProductVersion, FileVersion, CompanyName, FileDescription,
// LegalCopyright; empty ones left out) in a U.S. English, Unicode string
// table.
std::vector<uint8_t> version_resource(const ExecutableSpec& spec);

// The images of an .ico file as RT_ICON resources numbered from 1, and the
// RT_GROUP_ICON resource naming them. Throws BuildError(what + problem) when
// the file is not an icon file or an image lies outside it.
struct IconResources {
  std::vector<uint8_t> group;
  std::vector<std::vector<uint8_t>> images;
};
IconResources icon_resources(const std::vector<uint8_t>& ico, const std::string& what);

// The program with the manifest and the version resource of `spec` in place
// of its own, and, when `icon` is given, that icon in place of its icons
// (under the name of its first icon group, which the program loads).
// Throws BuildError naming `what` when the program's layout does not allow
// it (pe_resources.h).
std::vector<uint8_t> apply_setup_resources(const std::vector<uint8_t>& program,
                                           const ExecutableSpec& spec, const IconResources* icon,
                                           const std::string& what);

// What a program's resources say, for listings.
struct ProgramResourcesInfo {
  std::optional<std::string> execution_level; // from the manifest
  bool has_manifest = false;
  bool common_controls_6 = false, dpi_aware = false;
  size_t supported_os = 0;                                          // supportedOS entries
  std::vector<std::pair<std::string, std::string>> version_strings; // UTF-8, in order
  std::optional<std::string> file_version, product_version;         // fixed, "a.b.c.d"
  std::vector<std::string> icon_sizes;                              // "32x32, 8 bits" per image
};
// Throws BuildError(what + ...) for a damaged resource directory.
ProgramResourcesInfo describe_program_resources(const std::vector<uint8_t>& program,
                                                const std::string& what);

} // namespace pakwiz
