// The names of the package format: what the builder writes, the setup
// program reads, the inspectors list and the uninstaller reads back. Names
// and numbers only, with no dependency beyond <stdint.h>, so that every
// layer of the setup program (the archive reader in decode/ names volumes
// and reads packed blobs), the builder, the uninstaller and the tests share
// this one definition. Layouts are little-endian, without padding.
//
// Setup executable:
//   [stub][records ...][integrity record][end marker: header with tag
//   TAG_END, flags END_INTEGRITY, length 4][u32 archive bytes A held in this
//   file][A archive bytes]
// and the archive continued in volume files (VOLUME_EXTENSION_FORMAT). A
// package built without the integrity record has end-marker flags 0.
#pragma once
#include <stdint.h>

// ---------------------------------------------------------------------------
// The stub

// Six marker bytes in the stub's initialised data, followed directly by the
// u32 stub-length field: the offset of the first record, written by the
// builder (0 in a stub without a package). The builder refuses a stub that
// holds the bytes more than once, so they are given as an initializer list,
// for the one array that holds them in each program, not as an array here
// (which a build without optimisation would put into every object file).
#define STUB_MARKER_BYTES 0x77, 0x77, 0x67, 0x54, 0x29, 0x48
enum { STUB_MARKER_SIZE = 6, STUB_LENGTH_FIELD_SIZE = 4 };

// ---------------------------------------------------------------------------
// Records

// Record header: u16 tag, u16 flags, u32 length of the payload behind it. A
// compressed payload is a u32 unpacked size followed by one compressed stream.
enum { RECORD_HEADER_SIZE = 8 };
static const uint16_t TAG_BASE = 0x1234;       // the tag of record type t is TAG_BASE + t
static const uint16_t TAG_END = 0x7F7F;        // end marker
static const uint16_t RECORD_COMPRESSED = 0x1; // record flags
static const uint16_t END_INTEGRITY = 0x1;     // end-marker flags: an integrity record precedes it

enum RecordType {
  REC_SETUP_FLAGS = 0,    // u32 setup flags; never compressed
  REC_BILLBOARD = 1,      // BMP file image
  REC_BACKGROUND = 2,     // BMP file image
  REC_TITLE = 3,          // NUL-terminated text
  REC_TEMPLATES = 5,      // dialog templates: TEMPLATE_COUNT offsets, then the templates
  REC_FILE_LIST = 6,      // u32 count, file entries (per language block)
  REC_START = 7,          // u16 start page, u16 start language block; never compressed
  REC_TITLE_FONT = 9,     // LOGFONTA, 60 bytes
  REC_LANGUAGE = 10,      // language record: starts a language block
  REC_PREFIX = 11,        // the uninstaller program (file prefix block)
  REC_INI_LIST = 12,      // u16 count, INI entries (per language block)
  REC_REGISTRY_LIST = 13, // u16 count, registry entries (per language block)
  REC_PATCH_LIST = 14,    // u16 count, file patch entries (per language block)
  REC_INTEGRITY = 15,     // checksums of the script and the archive; never compressed
};

// Integrity record (REC_INTEGRITY), the last record before the end marker:
//   u32 CRC-32 of the script: every byte from the stub length to this
//       record's header
//   u32 archive bytes A in the setup file (as in the end marker)
//   u32 CRC-32 of those A bytes
//   u32 volume file count V
//   V x (u32 data bytes of volume n, u32 CRC-32 of the whole volume file,
//        its size word included)
// The stub and anything behind the archive (a signature's certificate
// table) are not covered. Readers that do not know the record pass over it.
enum { INTEGRITY_FIXED_SIZE = 16, INTEGRITY_VOLUME_SIZE = 8 };

// Setup flags (REC_SETUP_FLAGS).
enum { SETUP_FULL_SCREEN = 0x1, SETUP_REMOVE_PREVIOUS = 0x10 };

// Start record (REC_START): a start page of WHOLE_WIZARD runs every page;
// any other value runs that one page slot.
static const uint16_t WHOLE_WIZARD = 0xFFFF;

// Dialog template record: the offsets of template indexes 0 to 8.
enum { TEMPLATE_COUNT = 9 };

// ---------------------------------------------------------------------------
// Language blocks

// A language record, then that block's lists; at most MAX_BLOCKS blocks.
// The record's LANGUAGE_FIXED_SIZE bytes: u16 flags, 2 bytes unused, u32
// offsets of the uninstall key, name and default folder, u32 registry root
// index, u32 offsets of the registry key and value and of the INI file,
// section and key, then STRING_TABLES u32 offsets of string tables (u16
// count, then the NUL-terminated strings). Texts and tables follow; an
// offset of 0 means absent.
enum { MAX_BLOCKS = 6, STRING_TABLES = 11, LANGUAGE_FIXED_SIZE = 84 };
enum {
  LANG_FOLDER_CHANGEABLE = 0x2,     // the destination page lets the user change the folder
  LANG_STORE_FOLDER_REGISTRY = 0x4, // the install folder is stored in the registry value
  LANG_STORE_FOLDER_INI = 0x8,      // the install folder is stored in the INI entry
};

// File entry (layout in package/file_entry.h).
enum {
  ENTRY_FIXED_SIZE = 30,
  VERSION_BLOCK_SIZE = 20,
  FILE_TIMES_SIZE = 24,
  ENTRY_STRINGS = 6,
};
enum EntryFlags {
  ENTRY_UNINSTALLER = 0x01,   // the uninstaller: the prefix block and this entry's data
  ENTRY_VERSION_TEST = 0x02,  // a version block follows; replace only an older version
  ENTRY_LANGUAGE_TEST = 0x04, // a version block follows; its language must match
  ENTRY_FILE_TIMES = 0x08,    // file times follow
  ENTRY_PATCH = 0x10,         // rebuilt from its base entry and a patch
};
enum DestinationKind {
  DEST_INSTALL_FOLDER = 0,
  DEST_WINDOWS = 1,
  DEST_SHARED_SYSTEM = 2,
  DEST_FONT = 3,
};
enum EndAction { END_NONE = 0, END_OPEN_DOCUMENT = 1, END_START_PROGRAM = 2 };
enum RemovalMode { REMOVAL_KEEP = 0, REMOVAL_REMOVE = 1, REMOVAL_NOT_INSTALLED = 2 };
enum SpecialHandling { SPECIAL_NONE = 0, SPECIAL_SCREEN_SAVER = 1, SPECIAL_SELF_REGISTER = 2 };

// The uninstaller entry's data ends with this many reserved bytes, which the
// uninstall log's first record header overwrites when the log is appended.
enum { UNINSTALLER_RESERVED_BYTES = RECORD_HEADER_SIZE };

// INI and registry entries: flags.
enum { ONLY_IF_ABSENT = 0x01 };
// File patch entry: the position that means "behind the first match of the
// pattern".
static const int32_t PATCH_SEARCH = -1;

// ---------------------------------------------------------------------------
// The archive

// Volume n >= 1 is the package file's path with its extension replaced by
// this (formatted with n: .D01, .D02, ..., .D100) and begins with a u32 size
// of the archive bytes it holds.
#define VOLUME_EXTENSION_FORMAT ".D%2.2d"

// A packed blob (the two halves of a patch): u8 flags, a size field (2 or 4
// bytes), when compressed a packed-size field (2 or 4 bytes), then the
// content or its compressed stream.
enum {
  BLOB_COMPRESSED = 0x1,
  BLOB_WIDE_SIZE = 0x2,        // the size field has 4 bytes
  BLOB_WIDE_PACKED_SIZE = 0x4, // the packed-size field has 4 bytes
};

// ---------------------------------------------------------------------------
// The uninstall log, appended to the installed uninstaller

// Records with the package's record header (flags 0):
//   LOG_TAG_FILES      u32 count, count x (folder, name, u8 LOGGED_* flags); first, always
//   LOG_TAG_SHORTCUTS  u32 count, count x (folder, name)                   optional
//   LOG_TAG_KEY        u32 LOG_KEY_ROOT, key path                           optional
//   LOG_TAG_VALUES     u32 count, count x value entry                       optional
//   LOG_TAG_END        no body
// A value entry is a u8 LOGGED_VALUE_* kind and then, by kind:
//   LOGGED_VALUE_REGISTRY   u32 root (HKEY handle value), key path, value name ("" = default)
//   LOGGED_VALUE_KEY        u32 root, key path            (a key the installation created)
//   LOGGED_VALUE_INI        INI file, section, key
//   LOGGED_VALUE_INI_FILE   INI file                      (a file the installation created)
// The value record lists only what did not exist before the installation
// wrote it; created keys come parent first.
// A log string is a u16 character count and that many 8-bit characters.
enum : uint16_t {
  LOG_TAG_FILES = 0x1235,
  LOG_TAG_SHORTCUTS = 0x1236,
  LOG_TAG_KEY = 0x1238,
  LOG_TAG_VALUES = 0x1239,
  LOG_TAG_END = 0x7F7F,
};
enum : uint8_t {
  LOGGED_SHARED = 0x01,        // a SharedDLLs usage count was kept for the file
  LOGGED_FONT = 0x02,          // a font added with AddFontResourceA
  LOGGED_SELF_REGISTER = 0x04, // DllRegisterServer was called
};
enum : uint8_t {
  LOGGED_VALUE_REGISTRY = 1,
  LOGGED_VALUE_KEY = 2,
  LOGGED_VALUE_INI = 3,
  LOGGED_VALUE_INI_FILE = 4,
};
// The roots a value entry may name: HKEY_CLASSES_ROOT to HKEY_USERS.
static const uint32_t LOG_FIRST_ROOT = 0x80000000u, LOG_LAST_ROOT = 0x80000003u;
// The uninstaller's data: the builder puts it at the start of the uninstaller
// entry's own data, before the reserved bytes, so that it lies between the
// program's image and the log. A record with the tag below (flags 0) whose
// body is a u16 count and that many log strings: the uninstaller's texts in
// the language block's language, numbered as UninstallerText. A text missing
// from the end of the list takes the uninstaller's built-in one.
enum : uint16_t { UNINSTALLER_DATA_TAG = 0x1240 };
enum UninstallerText {
  UNINSTALL_TEXT_CAPTION,  // the title of its windows
  UNINSTALL_TEXT_ASK,      // the question; %s: the product
  UNINSTALL_TEXT_DONE,     // the report; %s: the product
  UNINSTALL_TEXT_RESTART,  // files in use go at the next start of Windows
  UNINSTALL_TEXT_FAILED,   // something could not be removed
  UNINSTALL_TEXT_NO_LOG,   // no valid uninstall log
  UNINSTALL_TEXT_PROGRESS, // the progress window's line; %s: the product
  UNINSTALL_TEXT_COUNT
};
// The longest text the uninstaller takes from its data.
enum { UNINSTALL_TEXT_MAX = 1023 };
// The root key of the key log record: HKEY_LOCAL_MACHINE as its handle value.
static const uint32_t LOG_KEY_ROOT = 0x80000002u;
// The key path of a key log record: this prefix and the uninstall key name.
static const char UNINSTALL_KEY_PREFIX[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
