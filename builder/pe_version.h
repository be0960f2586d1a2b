// Version information of Windows executables, read straight from the PE
// image: the section table maps the resource directory, whose first RT_VERSION
// resource holds a VS_VERSIONINFO with the VS_FIXEDFILEINFO and, under
// \VarFileInfo\Translation, the language. No Windows API is involved.
#pragma once
#include <stddef.h>
#include <stdint.h>

namespace pakwiz {

struct VersionInfo {
  uint32_t file_ms = 0, file_ls = 0;       // file version, most/least significant
  uint32_t product_ms = 0, product_ls = 0; // product version
  uint16_t language = 0;                   // first Translation entry, 0 when none
};

// Reads the version resource of the PE image in data[0..size). Returns false
// (and leaves *out alone) when the data is not a PE image, has no version
// resource, or any structure on the way lies outside the data or is
// malformed; never reads outside the data.
bool read_pe_version(const uint8_t* data, size_t size, VersionInfo* out);

} // namespace pakwiz
