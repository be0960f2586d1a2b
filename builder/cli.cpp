#include "builder/cli.h"

#include <cctype>
#include <optional>
#include <string>
#include <vector>

#include "builder/build.h"
#include "builder/encoder.h"
#include "builder/errors.h"
#include "builder/inspect.h"
#include "builder/source_files.h"
#include "builder/terminal_text.h"
#include "builder/try_run.h"

namespace pakwiz {

namespace {

const char* const MAIN_HELP =
    "pakwiz: builds and inspects self-extracting setup programs\n"
    "\n"
    "usage: pakwiz COMMAND [ARGUMENTS]\n"
    "\n"
    "commands:\n"
    "  build PROJECT.toml   build a setup executable from a project file\n"
    "  list SETUP.exe       show what a setup package holds\n"
    "  verify SETUP.exe     decode and check every file of a package\n"
    "  extract SETUP.exe    write the files of a language block to a folder\n"
    "  try SETUP.exe        install and uninstall it under Wine, with a report\n"
    "\n"
    "`pakwiz COMMAND --help` explains one command; docs/project-file.md the project file.\n";

const char* const BUILD_HELP =
    "usage: pakwiz build PROJECT.toml [-o SETUP.exe] [--volume-size SIZE] [--stub FILE]\n"
    "                    [--uninstaller FILE] [--level N] [-j N] [--patches auto|off]\n"
    "                    [--sign FILE [--sign-key FILE] [--sign-password-file FILE]\n"
    "                     [--timestamp URL]]\n"
    "\n"
    "Builds the setup executable that the project file describes.\n"
    "\n"
    "  -o, --output FILE    the setup executable to write (default: PROJECT-setup.exe in the\n"
    "                       current folder, named after the project file)\n"
    "  --volume-size SIZE   split the archive so that no file exceeds SIZE bytes; the rest goes\n"
    "                       into FILE.D01, FILE.D02, ... (suffixes K, M, G: 1024-based)\n"
    "  --stub FILE          the setup program to put in front of the package (default:\n"
    "                       pakwiz-stub.exe beside pakwiz, then the release stub of the\n"
    "                       source tree)\n"
    "  --uninstaller FILE   the uninstaller program that every language block carries unless\n"
    "                       the project says uninstaller = false or names its own program\n"
    "                       (default: pakwiz-uninstall.exe beside pakwiz, then the release\n"
    "                       uninstaller of the source tree)\n"
    "  --level N            compression level, 0 (store) to the encoder's highest;\n"
    "                       default: the highest ratio\n"
    "  -j, --jobs N         compress at most N files at a time (default: one per core)\n"
    "  --sign FILE          sign the setup executable with osslsigncode: FILE is a PKCS#12\n"
    "                       file, or with --sign-key the certificate (PEM or DER)\n"
    "  --sign-key FILE      the private key belonging to the --sign certificate\n"
    "  --sign-password-file FILE\n"
    "                       a file holding the password of the key or PKCS#12 file\n"
    "  --timestamp URL      have the signature time-stamped by this RFC 3161 server\n"
    "  --patches auto|off   auto (the default): store a file as a patch of the file of the\n"
    "                       same target name in an earlier language block when the patch\n"
    "                       is clearly smaller than the compressed file; off: only the\n"
    "                       patches that the project asks for (patch_from)\n"
    "\n"
    "Nothing is written unless the whole build succeeds.\n";

const char* const LIST_HELP =
    "usage: pakwiz list SETUP.exe\n"
    "\n"
    "Prints the setup program's manifest, version resource, icon and signature, the\n"
    "package's setup flags, start record, language blocks, and every file entry (target,\n"
    "destination, sizes, flags, end action, shortcuts), INI, registry and file patch entry.\n";

const char* const VERIFY_HELP =
    "usage: pakwiz verify SETUP.exe\n"
    "\n"
    "Decodes every file of every language block, reading volume files (.D01, ...) as\n"
    "needed, and checks sizes and checksums, and that the setup program, which reads each\n"
    "language block's files forward and never goes back to an earlier volume, can reach\n"
    "every entry's data (for a patched file its base's data, then the patch). Says\n"
    "whether the setup file is signed (a certificate table behind the package;\n"
    "osslsigncode verify checks the signature itself).\n"
    "Exits with 1 and names each damaged entry when anything is wrong.\n";

const char* const EXTRACT_HELP =
    "usage: pakwiz extract SETUP.exe -d DIR [--language N]\n"
    "\n"
    "Writes the files of language block N (default: the package's start language block)\n"
    "under DIR. Files bound for the Windows, system and fonts folders go to DIR/Windows,\n"
    "DIR/System and DIR/Fonts; target names are kept inside DIR.\n"
    "\n"
    "  -d, --dir DIR        the folder to write to (created when missing)\n"
    "  --language N         the language block, counted from 0\n";

const char* const TRY_HELP =
    "usage: pakwiz try SETUP.exe [--steps FILE | --quiet] [--language N] [--folder DIR]\n"
    "                  [--keep] [--json FILE] [--html FILE] [--allow-leftovers]\n"
    "                  [--driver FILE] [--no-prefix-cache]\n"
    "\n"
    "Installs the setup program in a fresh Wine prefix (in a temporary folder, on a\n"
    "private Xvfb display when there is no DISPLAY), walking its wizard like a user who\n"
    "accepts every default, then uninstalls it through its registered UninstallString,\n"
    "answering Yes and OK. Reports what the run did to the prefix: files created or\n"
    "changed (and whether each equals the package's file), registry values, INI entries,\n"
    "shortcuts, the Add/Remove Programs entry, a restart request, exit codes, times,\n"
    "and every leftover after uninstalling. Needs Wine and, without a display, Xvfb.\n"
    "\n"
    "  --steps FILE         install with these steps of the driver's step language\n"
    "                       (docs/try.md) instead of the default walk\n"
    "  --quiet              install with /Q and uninstall with /Q: no wizard, no walk\n"
    "  --language N         pick language block N (from 0) on the language page (/L=N)\n"
    "  --folder DIR         type DIR (a Windows path) on the destination page (/D=DIR)\n"
    "  --keep               keep the temporary folder: prefix, screenshots, logs\n"
    "  --json FILE          also write the report as JSON\n"
    "  --html FILE          also write the report as one HTML page with the screenshots\n"
    "  --allow-leftovers    pass even when uninstalling leaves something behind\n"
    "  --driver FILE        the driver program (default: pakwiz-e2e-driver.exe beside\n"
    "                       pakwiz, then in ../share/pakwiz/, then the source tree's build)\n"
    "  --no-prefix-cache    make the prefix with wineboot instead of copying the one kept\n"
    "                       in ~/.cache/pakwiz (made by the first trial)\n"
    "\n"
    "Exit code 0 only when the wizard reached its finish page (with --quiet: the setup\n"
    "ended with 0 or 3010), every installed file equals\n"
    "the package's and nothing is left over; 1 otherwise, with the reason on the last line;\n"
    "2 for wrong usage; 3 when the trial could not run (no Wine, no display, no driver).\n";

struct Usage {
  std::string message;
};

bool parse_number(const std::string& text, uint64_t* value) {
  if (text.empty() || text.size() > 12) return false;
  uint64_t v = 0;
  for (char c : text) {
    if (!std::isdigit((unsigned char)c)) return false;
    v = v * 10 + (uint64_t)(c - '0');
  }
  *value = v;
  return true;
}

uint64_t parse_size(const std::string& text) {
  std::string digits = text;
  uint64_t unit = 1;
  if (!digits.empty()) {
    char last = (char)std::toupper((unsigned char)digits.back());
    if (last == 'K' || last == 'M' || last == 'G') {
      unit = last == 'K' ? 1024ull : last == 'M' ? 1024ull * 1024 : 1024ull * 1024 * 1024;
      digits.pop_back();
    }
  }
  uint64_t n;
  if (!parse_number(digits, &n) || n == 0)
    throw Usage{"--volume-size needs a size in bytes, such as 1457664 or 700M, not '" + text + "'"};
  return n * unit;
}

int parse_int(const std::string& option, const std::string& text, int lo, int hi) {
  uint64_t n;
  if (!parse_number(text, &n) || n < (uint64_t)lo || n > (uint64_t)hi)
    throw Usage{option + " needs a number from " + std::to_string(lo) + " to " +
                std::to_string(hi) + ", not '" + text + "'"};
  return (int)n;
}

bool is_help(const std::string& a) {
  return a == "-h" || a == "--help";
}

// Walks the arguments of one command: options with values and positionals.
struct Args {
  std::vector<std::string> items;
  size_t at = 0;
  bool done() const { return at >= items.size(); }
  std::string next() { return items[at++]; }
  std::string value(const std::string& option) {
    if (done()) throw Usage{option + " needs a value"};
    return next();
  }
};

} // namespace

int run_cli(int argc, char** argv, std::ostream& out, std::ostream& err) {
  std::vector<std::string> all(argv + 1, argv + argc);
  if (all.empty()) {
    err << MAIN_HELP;
    return 2;
  }
  std::string command = all[0];
  Args args{std::vector<std::string>(all.begin() + 1, all.end())};
  const char* help = command == "build"     ? BUILD_HELP
                     : command == "list"    ? LIST_HELP
                     : command == "verify"  ? VERIFY_HELP
                     : command == "extract" ? EXTRACT_HELP
                     : command == "try"     ? TRY_HELP
                                            : nullptr;
  try {
    if (is_help(command) || command == "help") {
      const std::string topic = args.done() ? "" : args.next();
      out << (topic == "build"     ? BUILD_HELP
              : topic == "list"    ? LIST_HELP
              : topic == "verify"  ? VERIFY_HELP
              : topic == "extract" ? EXTRACT_HELP
              : topic == "try"     ? TRY_HELP
                                   : MAIN_HELP);
      return 0;
    }
    if (command == "--version") {
      out << "pakwiz 0.1.0\n";
      return 0;
    }
    if (!help) throw Usage{"unknown command '" + command + "'"};
    for (const std::string& a : args.items)
      if (is_help(a)) {
        out << help;
        return 0;
      }

    if (command == "build") {
      BuildOptions options;
      SignOptions sign;
      while (!args.done()) {
        std::string a = args.next();
        if (a == "-o" || a == "--output")
          options.output = args.value(a);
        else if (a == "--volume-size")
          options.volume_size = parse_size(args.value(a));
        else if (a == "--stub")
          options.stub = args.value(a);
        else if (a == "--uninstaller")
          options.uninstaller = args.value(a);
        else if (a == "--level")
          options.level = parse_int(a, args.value(a), 0, max_compression_level());
        else if (a == "--patches") {
          std::string v = args.value(a);
          if (v != "auto" && v != "off")
            throw Usage{"--patches needs 'auto' or 'off', not '" + v + "'"};
          options.auto_patches = v == "auto";
        } else if (a == "-j" || a == "--jobs")
          options.jobs = (unsigned)parse_int(a, args.value(a), 1, 1024);
        else if (a == "--sign")
          sign.certificate = args.value(a);
        else if (a == "--sign-key")
          sign.key = args.value(a);
        else if (a == "--sign-password-file")
          sign.password_file = args.value(a);
        else if (a == "--timestamp")
          sign.timestamp_url = args.value(a);
        else if (a.size() > 1 && a[0] == '-')
          throw Usage{"unknown option '" + a + "' for build"};
        else if (options.project.empty())
          options.project = a;
        else
          throw Usage{"build takes one project file; '" + a + "' is one too many"};
      }
      if (options.project.empty()) throw Usage{"build needs a project file"};
      if (!sign.certificate.empty())
        options.sign = sign;
      else if (!sign.key.empty() || !sign.password_file.empty() || !sign.timestamp_url.empty())
        throw Usage{"--sign-key, --sign-password-file and --timestamp need --sign"};
      options.progress = stderr_is_terminal();
      BuildSummary s = build_setup(options);
      out << "wrote " << printable(s.output) << ": " << with_commas(s.package_bytes)
          << " bytes (setup program " << with_commas(s.stub_bytes) << ", script "
          << with_commas(s.script_bytes) << ", archive "
          << with_commas(s.package_bytes - s.stub_bytes - s.script_bytes - 12) << ")\n";
      for (const std::string& v : s.volumes) out << "wrote " << printable(v) << "\n";
      if (!s.resources)
        out << "note: the stub is not a Windows program; its resources (manifest, version, "
               "icon) were left alone\n";
      if (s.signed_output) out << "signed " << printable(s.output) << "\n";
      out << s.languages << (s.languages == 1 ? " language, " : " languages, ") << s.entries
          << " file entries, " << with_commas(s.source_bytes) << " bytes of files stored as "
          << with_commas(s.archive_bytes) << " archive bytes in " << s.stored << " copies";
      if (s.patched)
        out << ", " << s.patched << (s.patched == 1 ? " file" : " files") << " as patches";
      out << "\n";
      for (const std::string& n : s.notes) out << "note: " << printable(n) << "\n";
      return 0;
    }

    if (command == "try") {
      TryOptions options;
      while (!args.done()) {
        std::string a = args.next();
        if (a == "--steps")
          options.steps = args.value(a);
        else if (a == "--language")
          options.language = parse_int(a, args.value(a), 0, 5);
        else if (a == "--folder")
          options.folder = args.value(a);
        else if (a == "--keep")
          options.keep = true;
        else if (a == "--json")
          options.json = args.value(a);
        else if (a == "--html")
          options.html = args.value(a);
        else if (a == "--allow-leftovers")
          options.allow_leftovers = true;
        else if (a == "--driver")
          options.driver = args.value(a);
        else if (a == "--quiet")
          options.quiet = true;
        else if (a == "--no-prefix-cache")
          options.no_prefix_cache = true;
        else if (a.size() > 1 && a[0] == '-')
          throw Usage{"unknown option '" + a + "' for try"};
        else if (options.setup.empty())
          options.setup = a;
        else
          throw Usage{"try takes one setup file; '" + a + "' is one too many"};
      }
      if (options.setup.empty()) throw Usage{"try needs a setup file"};
      if (options.quiet && !options.steps.empty())
        throw Usage{"--quiet and --steps exclude each other: --quiet runs no wizard"};
      if (options.folder.find('"') != std::string::npos)
        throw Usage{"--folder cannot hold a double quote"};
      return run_try(options, out, err);
    }

    std::string package;
    std::string dir;
    std::optional<int> language;
    while (!args.done()) {
      std::string a = args.next();
      if (command == "extract" && (a == "-d" || a == "--dir"))
        dir = args.value(a);
      else if (command == "extract" && a == "--language")
        language = parse_int(a, args.value(a), 0, 5);
      else if (a.size() > 1 && a[0] == '-')
        throw Usage{"unknown option '" + a + "' for " + command};
      else if (package.empty())
        package = a;
      else
        throw Usage{command + " takes one setup file; '" + a + "' is one too many"};
    }
    if (package.empty()) throw Usage{command + " needs a setup file"};
    if (command == "list") {
      list_package(package, out);
      return 0;
    }
    if (command == "verify") return verify_package(package, out) ? 0 : 1;
    if (dir.empty()) throw Usage{"extract needs the folder to write to: -d DIR"};
    extract_package(package, dir, language, out);
    return 0;
  } catch (const Usage& u) {
    err << "pakwiz: " << printable(u.message) << "\n\n" << (help ? help : MAIN_HELP);
    return 2;
  } catch (const BuildError& e) {
    err << "pakwiz: " << printable(e.what()) << "\n";
    return 1;
  } catch (const std::exception& e) {
    err << "pakwiz: " << printable(e.what()) << "\n";
    return 1;
  }
}

} // namespace pakwiz
