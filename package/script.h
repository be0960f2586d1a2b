// Lookups on the loaded script: texts by string table and number, message
// boxes made from them, dialog template copies, and the current language block.
#pragma once
#include <stdint.h>

#include "common/state.h"
#include "package/package.h"

// The string tables of a language record: one per page (string 0 the
// heading, 1 to 4 the page's standard texts, then its own), the messages and
// the button labels.
enum StringTable : unsigned {
  TABLE_WELCOME = 0,
  TABLE_INFORMATION = 1,
  TABLE_DESTINATION = 2,
  TABLE_READY = 3,
  TABLE_PROGRESS = 4,
  TABLE_FINISH = 5,
  TABLE_MESSAGES = 6,
  TABLE_BUTTONS = 7,
  TABLE_LANGUAGE = 9,
};

// Messages: strings of table 6. The install errors (12, 15 to 22, 31) are
// these numbers too; format_message fills in their "%s".
enum Message : unsigned {
  MESSAGE_TITLE = 0, // the frame's title and every message box's caption
  MESSAGE_BROWSER_TITLE = 1,
  MESSAGE_BROWSER_FOLDER = 2,
  MESSAGE_BROWSER_DRIVES = 3,
  MESSAGE_CHECKING_FOLDER = 4,
  MESSAGE_FOLDER_NOT_CREATED = 5,
  MESSAGE_CREATE_FOLDER = 6,
  MESSAGE_REPLACE_READ_ONLY = 7,
  MESSAGE_CANNOT_INSTALL_HERE = 8,
  MESSAGE_WRITE_PROTECTED = 9,
  MESSAGE_LOW_SPACE = 11,
  MESSAGE_NO_MEMORY = 12,
  MESSAGE_STOP_INSTALLATION = 13,
  MESSAGE_EXIT_SETUP = 14,
  MESSAGE_CANCELLED = 15,
  MESSAGE_CANNOT_OPEN = 16,
  MESSAGE_CANNOT_CREATE = 17,
  MESSAGE_CANNOT_READ = 18,
  MESSAGE_WRITE_FAILED = 19,
  MESSAGE_DISK_FULL = 20,
  MESSAGE_DAMAGED_FILE = 21,
  MESSAGE_IN_USE = 22,
  MESSAGE_INSERT_DISK = 28,
  MESSAGE_NEWER_ON_DISK = 29,
  MESSAGE_OTHER_LANGUAGE = 30,
  MESSAGE_DAMAGED_PACKAGE = 31,
};

// String k of table t of the current language block; never null: the empty
// string when t >= 11, the table is absent or k is not below its count.
const char* get_string(unsigned table, unsigned number);
// Message `number` (string table 6).
inline const char* get_message(Message number) {
  return get_string(TABLE_MESSAGES, number);
}

// Message box owned by the window that the message owner names (the user
// interface installs it: the main dialog, else the frame window), captioned
// with string 0 of table 6. Returns the MessageBoxA result (IDOK, IDYES, ...).
int show_message(const char* text, unsigned style);

// The window that owns message boxes (null: none), asked at each message.
typedef WindowHandle (*MessageOwner)();
void set_message_owner(MessageOwner owner);

// Test seam: when an answerer is installed, show_message hands it the text and
// style instead of showing a box, and returns its answer.
typedef int (*MessageAnswerer)(const char* text, unsigned style, void* context);
void set_message_answerer(MessageAnswerer answerer, void* context);

// String `number` of table 6 into out (capacity cap): formatted with the error
// file name when it contains "%s", otherwise copied unchanged.
void format_message(char* out, unsigned cap, unsigned number);

// A 16,384-byte zero-filled copy of dialog template k (everything from its
// offset to the end of the template record), or null. Free it with
// free_dialog_template.
void* copy_dialog_template(unsigned index);
void free_dialog_template(void* copy);

// Makes block i current: saves the install folder into the folder slot of the
// block being left and loads block i's folder slot into the install folder.
void select_language_block(int index);

// Standard Windows message box styles and answers, for portable code.
enum {
  MSG_OK = 0x0,
  MSG_OKCANCEL = 0x1,
  MSG_ABORTRETRYIGNORE = 0x2,
  MSG_YESNO = 0x4,
  MSG_ICONQUESTION = 0x20,
  MSG_ICONINFORMATION = 0x40,
  MSG_DEFBUTTON2 = 0x100,
};
enum {
  ANSWER_OK = 1,
  ANSWER_CANCEL = 2,
  ANSWER_ABORT = 3,
  ANSWER_RETRY = 4,
  ANSWER_IGNORE = 5,
  ANSWER_YES = 6,
  ANSWER_NO = 7
};
