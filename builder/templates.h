// Dialog templates of a package: the built-in set (resources/templates.rc,
// compiled by windres at build time and embedded) and templates taken from a
// project's own .res file, assembled into the dialog template record.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

#include "builder/errors.h"

namespace pakwiz {

enum { TEMPLATE_SLOTS = 9, TEMPLATE_LIMIT = 16384 };

// The embedded .res image of the built-in templates.
const std::vector<uint8_t>& default_templates_res();

// Templates 0..8: the built-in ones, each replaced by the dialog of the same
// resource ID (0..8) from `custom_res` when that path is not empty. Each
// template is trimmed to its walked length. Throws BuildError (at `pos`) when
// the file cannot be read or holds no dialog 0..8, and for a template that is
// malformed or longer than the 16,384 bytes the setup program copies.
std::vector<std::vector<uint8_t>> load_templates(const std::string& custom_res,
                                                 const SourcePos& pos);

// The template record: nine u32 offsets from the record's start, then the
// templates, each starting 4-byte aligned.
std::vector<uint8_t> build_template_record(const std::vector<std::vector<uint8_t>>& templates);

} // namespace pakwiz
