// The uninstaller's few texts. They are written in Windows-1252, the
// character set of the ANSI calls that show them.
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
};

const char* const* g_texts = ENGLISH;

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

const char* text(TextId id) {
  return id < TEXT_COUNT ? g_texts[id] : "";
}
