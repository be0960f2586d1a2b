// Walks an in-memory dialog template (DLGTEMPLATE or DLGTEMPLATEEX with its
// items) to find where it ends, so that a template from a package is known to
// lie wholly inside its buffer before a dialog is created from it.
#pragma once
#include <stdint.h>

// Byte length of the template at p (which must start 4-byte aligned relative
// to the template record), or 0 when it is malformed or runs past `available`.
uint32_t dialog_template_size(const uint8_t* p, uint32_t available);
