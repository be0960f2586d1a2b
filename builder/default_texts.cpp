// The built-in English and German texts.
//
// Page texts: string 0 of a page's table is its heading, strings 1 to 4 go to
// the page's controls 1000 to 1003. Table 6 holds the messages, table 7 the
// button labels. The Cancel button of the main dialog is labelled "Exit": the
// same button closes the finish page, where nothing is cancelled any more.
#include "builder/default_texts.h"

#include <algorithm>
#include <cctype>

namespace pakwiz {

namespace {

TextSet english() {
  TextSet s;
  s.code = "en";
  s.name = "English";
  s.tables[0] = {"Welcome", "Welcome to the {product} Setup Wizard",
                 "This wizard will install {product} on your computer.",
                 "It is recommended that you close all other applications before you continue.",
                 "Click Next to continue, or Exit to leave Setup."};
  s.tables[1] = {"Information", "", "Please read the following information before you continue.",
                 "When you are ready to continue, click Next.", ""};
  s.tables[2] = {"Choose Install Location",
                 "Setup will install {product} in the following folder.",
                 "To install in a different folder, type its path or click the button beside "
                 "it to choose one.",
                 "",
                 "Click Next to continue.",
                 "Space required:",
                 "Space available:",
                 "%d MB"};
  s.tables[3] = {"Ready to Install", "Setup is now ready to install {product} on your computer.",
                 "The program files will be installed in this folder:\n%s",
                 "Click Install to begin the installation, or Back to change the folder.", ""};
  s.tables[4] = {"Installing", "Please wait while Setup installs {product} on your computer.",
                 "Installing:", "", ""};
  s.tables[5] = {"Setup Finished",
                 "Setup has finished installing {product} on your computer.",
                 "",
                 "Click Exit to close Setup.",
                 "The installation of {product} could not be completed.\n\n%s",
                 "View Readme",
                 "Start {product} now",
                 "Windows must be restarted to complete the installation. Click Restart Now to "
                 "restart, or Exit to restart later."};
  s.tables[6] = {
      "{product} Setup",
      "Choose Folder",
      "Folder:",
      "Drives:",
      "Checking the folder and the available disk space...",
      "The folder could not be created. Please choose another folder.",
      "The folder does not exist. Do you want Setup to create it?",
      "Some files that Setup will replace are read-only. Do you want to replace them anyway?",
      "Setup cannot install {product} in this folder.",
      "The file %s is write-protected and cannot be replaced.",
      "\"%s\" is not a valid folder. Type a full path such as C:\\Programs\\{product}, "
      "without the characters < > : \" | ? * and without device names such as CON or NUL.",
      "There is not enough free disk space in this folder. Do you want to install anyway?",
      "There is not enough memory to complete the installation.",
      "Do you really want to stop the installation?",
      "Setup is not complete. Do you want to exit Setup?",
      "Setup was cancelled. You can run Setup again at any time to install {product}.",
      "The file %s could not be opened.",
      "The file %s could not be created. Please check that you may write to its folder.",
      "Setup could not read %s. The file is missing or damaged.",
      "An error occurred while writing %s.",
      "The disk is full. Please free some disk space and run Setup again.",
      "The file %s was not installed correctly: its contents do not match the setup package.",
      "The file %s is in use and cannot be replaced.\n\nClose all programs that may be using "
      "it and click Retry, click Ignore to keep the existing file, or click Abort to stop the "
      "installation.",
      "",
      "",
      "",
      "",
      "",
      "Please insert disk %d and click OK.",
      "A newer version of %s is already installed.\n\nDo you want to replace it with the older "
      "version from this package?",
      "The existing file %s is meant for a different language.\n\nDo you want to replace it?",
      "The setup package is damaged or incomplete. Please obtain a new copy of Setup."};
  s.tables[7] = {"< &Back", "&Next >", "Exit", "&Install", "OK", "Cancel", "&Restart Now"};
  s.tables[9] = {"Choose Language", "Please select the language to use during the installation.",
                 "", "", "Click Next to continue."};
  return s;
}

TextSet german() {
  TextSet s;
  s.code = "de";
  s.name = "Deutsch";
  s.tables[0] = {"Willkommen", "Willkommen beim Setup-Assistenten für {product}",
                 "Dieser Assistent installiert {product} auf Ihrem Computer.",
                 "Es wird empfohlen, alle anderen Anwendungen zu schließen, bevor Sie fortfahren.",
                 "Klicken Sie auf „Weiter“, um fortzufahren, oder auf „Beenden“, um das Setup zu "
                 "verlassen."};
  s.tables[1] = {"Informationen", "",
                 "Bitte lesen Sie die folgenden Informationen, bevor Sie fortfahren.",
                 "Klicken Sie auf „Weiter“, wenn Sie bereit sind fortzufahren.", ""};
  s.tables[2] = {"Zielordner wählen",
                 "Das Setup installiert {product} in den folgenden Ordner.",
                 "Um einen anderen Ordner zu wählen, geben Sie seinen Pfad ein oder klicken Sie "
                 "auf die Schaltfläche daneben.",
                 "",
                 "Klicken Sie auf „Weiter“, um fortzufahren.",
                 "Benötigter Speicherplatz:",
                 "Verfügbarer Speicherplatz:",
                 "%d MB"};
  s.tables[3] = {"Bereit zur Installation",
                 "Das Setup ist bereit, {product} auf Ihrem Computer zu installieren.",
                 "Die Programmdateien werden in diesem Ordner installiert:\n%s",
                 "Klicken Sie auf „Installieren“, um die Installation zu starten, oder auf "
                 "„Zurück“, um den Ordner zu ändern.",
                 ""};
  s.tables[4] = {"Installation läuft",
                 "Bitte warten Sie, während das Setup {product} auf Ihrem Computer installiert.",
                 "Installiere:", "", ""};
  s.tables[5] = {"Setup abgeschlossen",
                 "Das Setup hat die Installation von {product} abgeschlossen.",
                 "",
                 "Klicken Sie auf „Beenden“, um das Setup zu schließen.",
                 "Die Installation von {product} konnte nicht abgeschlossen werden.\n\n%s",
                 "Liesmich anzeigen",
                 "{product} jetzt starten",
                 "Windows muss neu gestartet werden, um die Installation abzuschließen. Klicken "
                 "Sie auf „Jetzt neu starten“, oder auf „Beenden“, um später neu zu starten."};
  s.tables[6] = {
      "{product} Setup",
      "Ordner wählen",
      "Ordner:",
      "Laufwerke:",
      "Der Ordner und der verfügbare Speicherplatz werden geprüft...",
      "Der Ordner konnte nicht erstellt werden. Bitte wählen Sie einen anderen Ordner.",
      "Der Ordner existiert nicht. Soll das Setup ihn erstellen?",
      "Einige Dateien, die das Setup ersetzen wird, sind schreibgeschützt. Möchten Sie sie "
      "trotzdem ersetzen?",
      "Das Setup kann {product} nicht in diesem Ordner installieren.",
      "Die Datei %s ist schreibgeschützt und kann nicht ersetzt werden.",
      "„%s“ ist kein gültiger Ordner. Geben Sie einen vollständigen Pfad wie "
      "C:\\Programme\\{product} ein, ohne die Zeichen < > : \" | ? * und ohne Gerätenamen wie "
      "CON oder NUL.",
      "In diesem Ordner ist nicht genügend freier Speicherplatz vorhanden. Möchten Sie "
      "trotzdem installieren?",
      "Es ist nicht genügend Arbeitsspeicher vorhanden, um die Installation abzuschließen.",
      "Möchten Sie die Installation wirklich abbrechen?",
      "Das Setup ist noch nicht abgeschlossen. Möchten Sie das Setup beenden?",
      "Das Setup wurde abgebrochen. Sie können es jederzeit erneut ausführen, um {product} zu "
      "installieren.",
      "Die Datei %s konnte nicht geöffnet werden.",
      "Die Datei %s konnte nicht erstellt werden. Bitte prüfen Sie, ob Sie in ihrem Ordner "
      "schreiben dürfen.",
      "Das Setup konnte %s nicht lesen. Die Datei fehlt oder ist beschädigt.",
      "Beim Schreiben von %s ist ein Fehler aufgetreten.",
      "Der Datenträger ist voll. Bitte geben Sie Speicherplatz frei und starten Sie das Setup "
      "erneut.",
      "Die Datei %s wurde nicht korrekt installiert: Ihr Inhalt stimmt nicht mit dem "
      "Setup-Paket überein.",
      "Die Datei %s wird verwendet und kann nicht ersetzt werden.\n\nSchließen Sie alle "
      "Programme, die sie verwenden könnten, und klicken Sie auf „Wiederholen“, auf "
      "„Ignorieren“, um die vorhandene Datei zu behalten, oder auf „Abbrechen“, um die "
      "Installation zu beenden.",
      "",
      "",
      "",
      "",
      "",
      "Bitte legen Sie Datenträger %d ein und klicken Sie auf „OK“.",
      "Eine neuere Version von %s ist bereits installiert.\n\nMöchten Sie sie durch die ältere "
      "Version aus diesem Paket ersetzen?",
      "Die vorhandene Datei %s ist für eine andere Sprache bestimmt.\n\nMöchten Sie sie "
      "ersetzen?",
      "Das Setup-Paket ist beschädigt oder unvollständig. Bitte besorgen Sie sich eine neue "
      "Kopie des Setups."};
  s.tables[7] = {"< &Zurück", "&Weiter >", "Beenden",           "&Installieren",
                 "OK",        "Abbrechen", "&Jetzt neu starten"};
  s.tables[9] = {"Sprache wählen",
                 "Bitte wählen Sie die Sprache, in der die Installation durchgeführt werden soll.",
                 "", "", "Klicken Sie auf „Weiter“, um fortzufahren."};
  return s;
}

const std::vector<TextSet>& all_sets() {
  static const std::vector<TextSet> sets = [] {
    std::vector<TextSet> v{english(), german()};
    for (TextSet& s : v)
      for (int t = 0; t < TEXT_TABLES; t++) s.present[t] = !s.tables[t].empty();
    return v;
  }();
  return sets;
}

std::string lower(std::string s) {
  for (char& c : s) c = (char)std::tolower((unsigned char)c);
  return s;
}

} // namespace

const char* const UNINSTALLER_TEXT_NAMES[UNINSTALLER_TEXTS] = {
    "caption", "ask", "done", "restart", "failed", "no_log", "progress"};
const bool UNINSTALLER_TEXT_FORMATTED[UNINSTALLER_TEXTS] = {false, true,  true, false,
                                                            false, false, true};

const std::vector<std::string>& uninstaller_texts(const std::string& code) {
  static const std::vector<std::string> english = {
      "Uninstall {product}",
      "Do you want to remove %s and all of its files from this computer?",
      "%s has been removed from this computer.",
      "Some files are in use. They will be removed when Windows restarts.",
      "Some files could not be removed.",
      "This uninstaller carries no valid uninstall information, so it cannot remove anything. "
      "Run the uninstaller that the installation placed in the program's folder.",
      "Removing %s ...",
  };
  static const std::vector<std::string> german = {
      "{product} deinstallieren",
      "Möchten Sie %s mit allen zugehörigen Dateien von diesem Computer entfernen?",
      "%s wurde von diesem Computer entfernt.",
      "Einige Dateien werden gerade verwendet. Sie werden beim nächsten Start von Windows "
      "entfernt.",
      "Einige Dateien konnten nicht entfernt werden.",
      "Dieses Deinstallationsprogramm enthält keine gültigen Deinstallationsdaten und "
      "kann nichts entfernen. Starten Sie das Deinstallationsprogramm, das die Installation im "
      "Ordner des Programms abgelegt hat.",
      "%s wird entfernt ...",
  };
  const TextSet* set = find_text_set(code);
  return set && std::string(set->code) == "de" ? german : english;
}

const TextSet* find_text_set(const std::string& code) {
  std::string c = lower(code);
  if (c == "english") c = "en";
  if (c == "german" || c == "deutsch") c = "de";
  for (const TextSet& s : all_sets())
    if (c == s.code) return &s;
  return nullptr;
}

std::vector<std::string> text_set_codes() {
  std::vector<std::string> codes;
  for (const TextSet& s : all_sets()) codes.push_back(s.code);
  return codes;
}

char expected_conversion(unsigned table, unsigned number) {
  if (table == 2 && number == 7) return 'd';                    // space needed / free, in MB
  if (table == 3 && number == 2) return 's';                    // ready page: the install folder
  if (table == 5 && number == 4) return 's';                    // finish page: the error message
  if (table == 6 && number == 28) return 'd';                   // disk prompt: the disk number
  if (table == 6 && (number == 29 || number == 30)) return 's'; // version questions
  // Messages shown through the error-file-name formatter.
  if (table == 6 && (number == 9 || number == 10 || number == 12 || (number >= 15 && number <= 22)))
    return 'S';
  return 0;
}

std::string check_conversion(const std::string& text, char expected) {
  if (expected == 0) return "";
  bool formatted = expected != 'S' || text.find("%s") != std::string::npos;
  if (!formatted) return "";
  char kind = expected == 'S' ? 's' : expected;
  int conversions = 0;
  for (size_t i = 0; i < text.size(); i++) {
    if (text[i] != '%') continue;
    size_t j = i + 1;
    if (j < text.size() && text[j] == '%') {
      i = j;
      continue;
    }
    while (j < text.size() && (text[j] == '-' || text[j] == '0' || text[j] == '#')) j++;
    while (j < text.size() && (std::isdigit((unsigned char)text[j]) || text[j] == '.')) j++;
    if (j < text.size() && text[j] == 'l') j++;
    if (j >= text.size()) return "it ends with an unfinished '%' (write '%%' for a percent sign)";
    char c = text[j];
    bool number = c == 'd' || c == 'i' || c == 'u' || c == 'x' || c == 'X' || c == 'c';
    bool string = c == 's';
    if (!number && !string)
      return std::string("it holds the unknown conversion '%") + c +
             "' (write '%%' for a percent sign)";
    if ((kind == 's') != string)
      return std::string("the program formats it with ") +
             (kind == 's' ? "a text (%s)" : "a number (%d)") + ", not with '%" + c + "'";
    conversions++;
    i = j;
  }
  if (conversions > 1) return "it holds more than one conversion; the program passes one argument";
  return "";
}

} // namespace pakwiz
