// A signed setup file: signing tools append an attribute certificate table
// behind everything else in the file (here: behind the archive), at the next
// multiple of 8 with zero bytes in between, and name its file offset and
// size in the PE security directory. The package is unchanged by this, so
// the loader accepts exactly such a table behind the archive, and the
// temporary copy of the stub drops the directory entry, whose table it does
// not carry.
#pragma once
#include <stdint.h>

#include "common/file.h"

// File offset of the security directory entry (u32 table offset, u32 table
// size) within the PE headers held in headers[0, size), or 0 when they are
// not the headers of a PE32 or PE32+ image or the entry lies beyond `size`.
uint32_t security_directory_entry(const uint8_t* headers, uint32_t size);

// Whether the bytes of `file` from `archive_end` on are exactly the padding
// and the certificate table that its security directory names: the table
// starts at the first multiple of 8 from `archive_end`, the padding is zero,
// the table runs to `file_length` and begins with a WIN_CERTIFICATE header
// (length within the table, revision 2.0, PKCS#7 signed data). False when
// nothing follows the archive. The file position is left anywhere.
bool certificate_table_follows(FileHandle file, uint32_t archive_end, uint32_t file_length);
