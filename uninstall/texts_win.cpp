// The uninstaller's few texts: those the builder put into its data record,
// else the built-in ones below. They are written in Windows-1252, the
// character set of the ANSI calls that show them.
#include "common/heap.h"
#include "uninstall/pe_image.h"
#include "uninstall/uninstall.h"

namespace {

const char* const ENGLISH[TEXT_COUNT] = {
    "Uninstall",
    "Do you want to remove %s and all of its files from this computer?",
    "%s has been removed from this computer.",
    "Some files are in use. They will be removed when Windows restarts.",
    "Some files could not be removed.",
    "This uninstaller carries no valid uninstall information, so it cannot remove "
    "anything. Run the uninstaller that the installation placed in the program's folder.",
    "Removing %s ...",
};

const char* const GERMAN[TEXT_COUNT] = {
    "Deinstallation",
    "M\xF6"
    "chten Sie %s mit allen zugeh\xF6rigen Dateien von diesem Computer entfernen?",
    "%s wurde von diesem Computer entfernt.",
    "Einige Dateien werden gerade verwendet. Sie werden beim n\xE4"
    "chsten Start von Windows entfernt.",
    "Einige Dateien konnten nicht entfernt werden.",
    "Dieses Deinstallationsprogramm enth\xE4lt keine g\xFCltigen Deinstallationsdaten und kann "
    "nichts entfernen. Starten Sie das Deinstallationsprogramm, das die Installation im Ordner "
    "des Programms abgelegt hat.",
    "%s wird entfernt ...",
};

const char* const* g_texts = ENGLISH;
// The data record's texts, each a heap copy with its NUL; null: built-in.
char* g_data_texts[TEXT_COUNT];

} // namespace

void choose_texts() {
  // GetUserDefaultUILanguage exists from Windows 2000 on; older systems have
  // one language for the user and the interface.
  typedef LANGID(WINAPI * UiLanguage)();
  UiLanguage ui_language = (UiLanguage)(void*)GetProcAddress(GetModuleHandleA("kernel32.dll"),
                                                             "GetUserDefaultUILanguage");
  LANGID language = ui_language ? ui_language() : GetUserDefaultLangID();
  g_texts = PRIMARYLANGID(language) == LANG_GERMAN ? GERMAN : ENGLISH;
}

void use_data_texts(const uint8_t* file, uint32_t size) {
  uint32_t length = 0;
  uint32_t at = find_uninstaller_data(file, size, &length);
  LogText texts[TEXT_COUNT];
  if (!at || !read_uninstaller_texts(file + at, length, texts)) return;
  for (int i = 0; i < TEXT_COUNT; i++) {
    if (!texts[i].text || g_data_texts[i]) continue;
    char* copy = (char*)heap_alloc((size_t)texts[i].length + 1);
    if (!copy) continue;
    for (uint16_t k = 0; k < texts[i].length; k++) copy[k] = texts[i].text[k];
    copy[texts[i].length] = 0;
    g_data_texts[i] = copy;
  }
}

const char* text(TextId id) {
  if (id >= TEXT_COUNT) return "";
  return g_data_texts[id] ? g_data_texts[id] : g_texts[id];
}
