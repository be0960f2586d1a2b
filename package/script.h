// Lookups on the loaded script: texts by string table and number, message
// boxes made from them, dialog template copies, and the current language block.
#pragma once
#include <stdint.h>

#include "common/state.h"
#include "package/package.h"

// String k of table t of the current language block; never null: the empty
// string when t >= 11, the table is absent or k is not below its count.
const char* get_string(unsigned table, unsigned number);

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
