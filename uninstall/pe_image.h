// Where the uninstaller's own image ends inside its file, and so where the
// uninstall log begins. Portable code: tested natively and under Wine.
//
// The installed uninstaller file is the program's image as the linker wrote
// it, followed by the log; the log's first record header overwrote the 8
// bytes that the package reserves behind the image. The image ends behind
// the furthest of: the headers, the raw data of each section, a COFF symbol
// table with its string table (an unstripped build), and an attribute
// certificate table (a signed build). None of these depends on the file's
// size, so the end is found the same way whatever is appended.
#pragma once
#include <stdint.h>

// The image's end within file[0, size): 0 when the bytes are not a PE image
// or any part of it lies beyond `size`.
uint32_t pe_image_end(const uint8_t* file, uint32_t size);

// The offset of the uninstall log in an uninstaller file: the image end, or
// the end of the uninstaller's data record lying there, when the header of a
// file log record (tag 0x1235, flags 0) lies there. 0 when there is no log (a
// freshly built uninstaller, a damaged file).
uint32_t find_uninstall_log(const uint8_t* file, uint32_t size);
// The body of the uninstaller's data record behind the image (tag
// UNINSTALLER_DATA_TAG, flags 0, within the file): its offset, and its length
// in *length; 0 when there is none.
uint32_t find_uninstaller_data(const uint8_t* file, uint32_t size, uint32_t* length);
