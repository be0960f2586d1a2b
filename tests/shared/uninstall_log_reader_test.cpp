// The uninstaller's reading of the uninstall log: a valid log is read whole,
// and anything damaged or out of shape is refused before it can name a file.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "support/uninstall_log_maker.h"
#include "uninstall/log_reader.h"

namespace {

using Bytes = std::vector<uint8_t>;

bool read(const Bytes& b, CheckedLog* log) {
  return check_uninstall_log(b.data(), (uint32_t)b.size(), log);
}
bool valid(const Bytes& b) {
  CheckedLog log;
  return read(b, &log);
}

std::string str(LogText t) {
  return std::string(t.text, t.length);
}
LogText text(const std::string& s) {
  return LogText{s.data(), (uint16_t)s.size()};
}

LogSpec full_spec() {
  LogSpec s;
  s.files = {{".", "tool.exe", 0},
             {".\\bin\\sub", "x.dll", LOGGED_SELF_REGISTER},
             {"C:\\WINDOWS\\SYSTEM", "y.dll", LOGGED_SHARED | LOGGED_SELF_REGISTER},
             {"C:\\WINDOWS\\FONTS", "Hello.ttf", LOGGED_FONT},
             {"C:", "boot.dat", 0},
             {"\\\\server\\share\\dir", "z.txt", 0}};
  s.shortcuts = std::vector<LogShortcutSpec>{{"C:\\Menu\\Programs\\Games\\Puzzles", "Puzzle.lnk"},
                                             {"C:\\Desktop", "Readme.LNK"}};
  s.key_name = "Hello 2.0";
  return s;
}

} // namespace

TEST(UninstallLogReader, ReadsEveryRecordOfAValidLog) {
  LogSpec spec = full_spec();
  Bytes bytes = make_uninstall_log(spec);
  CheckedLog log;
  ASSERT_TRUE(read(bytes, &log));
  EXPECT_EQ(log.size, bytes.size());

  std::vector<std::string> files;
  LogCursor c = file_entries(log);
  for (LogFileEntry f; next_file(&c, &f);)
    files.push_back(str(f.folder) + "|" + str(f.name) + "|" + std::to_string(f.flags));
  EXPECT_EQ(files, (std::vector<std::string>{".|tool.exe|0", ".\\bin\\sub|x.dll|4",
                                             "C:\\WINDOWS\\SYSTEM|y.dll|5",
                                             "C:\\WINDOWS\\FONTS|Hello.ttf|2", "C:|boot.dat|0",
                                             "\\\\server\\share\\dir|z.txt|0"}));
  std::vector<std::string> links;
  c = shortcut_entries(log);
  for (LogLinkEntry s; next_shortcut(&c, &s);) links.push_back(str(s.folder) + "|" + str(s.name));
  EXPECT_EQ(links, (std::vector<std::string>{"C:\\Menu\\Programs\\Games\\Puzzles|Puzzle.lnk",
                                             "C:\\Desktop|Readme.LNK"}));
  char name[64];
  ASSERT_TRUE(uninstall_key_name(log, name, sizeof name));
  EXPECT_STREQ(name, "Hello 2.0");
  // The key log record's body: root, then 2 + 52 + 9 bytes of key path.
  EXPECT_EQ(log.key.length, 52 + 9);

  // Bytes behind the end record are not part of the log.
  Bytes longer = bytes;
  longer.insert(longer.end(), {1, 2, 3});
  ASSERT_TRUE(read(longer, &log));
  EXPECT_EQ(log.size, bytes.size());
}

TEST(UninstallLogReader, OptionalRecordsMayBeMissingAndListsEmpty) {
  LogSpec spec;
  CheckedLog log;
  ASSERT_TRUE(read(make_uninstall_log(spec), &log));
  EXPECT_EQ(log.file_count, 0u);
  EXPECT_EQ(log.shortcut_count, 0u);
  EXPECT_FALSE(log.has_key);
  LogCursor c = shortcut_entries(log);
  LogLinkEntry s;
  EXPECT_FALSE(next_shortcut(&c, &s));

  // The key log record may come before the shortcut log record.
  Bytes reordered;
  Bytes body;
  put_u32(body, 0);
  put_record(reordered, LOG_TAG_FILES, body);
  body.clear();
  put_u32(body, LOG_KEY_ROOT);
  put_log_string(body, log_key_path("P"));
  put_record(reordered, LOG_TAG_KEY, body);
  body.clear();
  put_u32(body, 1);
  put_log_string(body, "C:\\Menu");
  put_log_string(body, "P.lnk");
  put_record(reordered, LOG_TAG_SHORTCUTS, body);
  put_record(reordered, LOG_TAG_END, {});
  ASSERT_TRUE(read(reordered, &log));
  EXPECT_EQ(log.shortcut_count, 1u);
  EXPECT_TRUE(log.has_key);
}

TEST(UninstallLogReader, EveryTruncationIsRefused) {
  Bytes bytes = make_uninstall_log(full_spec());
  for (size_t n = 0; n < bytes.size(); n++) {
    Bytes cut(bytes.begin(), bytes.begin() + (long)n);
    CheckedLog log;
    EXPECT_FALSE(read(cut, &log)) << "cut to " << n << " of " << bytes.size() << " bytes";
    EXPECT_EQ(log.file_count, 0u); // a refused log leaves nothing to walk
    EXPECT_EQ(log.files, nullptr);
  }
}

TEST(UninstallLogReader, DamagedStructureIsRefused) {
  auto files_body = [](uint32_t count, int entries) {
    Bytes b;
    put_u32(b, count);
    for (int i = 0; i < entries; i++) {
      put_log_string(b, ".");
      put_log_string(b, "f" + std::to_string(i) + ".txt");
      b.push_back(0);
    }
    return b;
  };
  auto log_with = [&](const Bytes& files, const std::function<void(Bytes&)>& more) {
    Bytes b;
    put_record(b, LOG_TAG_FILES, files);
    more(b);
    return b;
  };
  auto end = [](Bytes& b) { put_record(b, LOG_TAG_END, {}); };
  auto key = [](Bytes& b) {
    Bytes body;
    put_u32(body, LOG_KEY_ROOT);
    put_log_string(body, log_key_path("P"));
    put_record(b, LOG_TAG_KEY, body);
  };
  auto shortcuts = [](Bytes& b) {
    Bytes body;
    put_u32(body, 0);
    put_record(b, LOG_TAG_SHORTCUTS, body);
  };
  // A string that claims more characters than its record holds.
  Bytes long_string;
  put_u32(long_string, 1);
  put_log_string(long_string, ".");
  put_u16(long_string, 200);
  long_string.insert(long_string.end(), {'a', 'b', 'c', 0});

  struct Case {
    const char* what;
    Bytes log;
  };
  const Case cases[] = {
      {"count beyond the entries", log_with(files_body(1000, 2), end)},
      {"count one more than the entries", log_with(files_body(3, 2), end)},
      {"entries beyond the count", log_with(files_body(1, 2), end)},
      {"count too large for the body", log_with(files_body(0xFFFFFFFFu, 0), end)},
      {"string length beyond the record", log_with(long_string, end)},
      {"no end record", log_with(files_body(2, 2), [](Bytes&) {})},
      {"end record with a body", log_with(files_body(1, 1),
                                          [](Bytes& b) {
                                            put_record(b, LOG_TAG_END, {0, 0, 0, 0});
                                          })},
      {"unknown record", log_with(files_body(1, 1),
                                  [&](Bytes& b) {
                                    put_record(b, 0x1237, {0, 0, 0, 0}), end(b);
                                  })},
      {"two file log records",
       log_with(files_body(1, 1),
                [&](Bytes& b) { put_record(b, LOG_TAG_FILES, files_body(0, 0)), end(b); })},
      {"two key log records",
       log_with(files_body(0, 0), [&](Bytes& b) { key(b), key(b), end(b); })},
      {"two shortcut log records",
       log_with(files_body(0, 0), [&](Bytes& b) { shortcuts(b), shortcuts(b), end(b); })},
      {"key record longer than its key", log_with(files_body(0, 0),
                                                  [&](Bytes& b) {
                                                    Bytes body;
                                                    put_u32(body, LOG_KEY_ROOT);
                                                    put_log_string(body, log_key_path("P"));
                                                    body.push_back(0);
                                                    put_record(b, LOG_TAG_KEY, body);
                                                    end(b);
                                                  })},
      {"record length beyond the data",
       [&] {
         Bytes b = log_with(files_body(1, 1), end);
         b[4] = 0xFF; // the file log record's length
         return b;
       }()},
      {"record flags set",
       [&] {
         Bytes b = log_with(files_body(1, 1), end);
         b[2] = 1;
         return b;
       }()},
      {"an unknown file flag",
       [&] {
         Bytes b = log_with(files_body(1, 1), end);
         b[8 + 4 + 3 + 8] = 0x08; // behind the count, "." and "f0.txt"
         return b;
       }()},
      {"shortcut log record first",
       [&] {
         Bytes b;
         shortcuts(b);
         put_record(b, LOG_TAG_FILES, files_body(0, 0));
         end(b);
         return b;
       }()},
      {"end record first",
       [&] {
         Bytes b;
         end(b);
         return b;
       }()},
  };
  for (const Case& c : cases) EXPECT_FALSE(valid(c.log)) << c.what;
  // The builders themselves make valid logs when nothing is wrong.
  EXPECT_TRUE(valid(log_with(files_body(2, 2), [&](Bytes& b) { shortcuts(b), key(b), end(b); })));
}

TEST(UninstallLogReader, FoldersAndNamesOutsideTheirShapesAreRefused) {
  const std::pair<std::string, std::string> files[] = {
      {".\\..\\Windows", "x.dll"},
      {"..", "x.dll"},
      {".\\a\\..\\b", "x.dll"},
      {".\\", "x.dll"},
      {".\\a\\", "x.dll"},
      {".\\a\\\\b", "x.dll"},
      {"sub\\dir", "x.dll"},
      {"C:relative", "x.dll"},
      {"C:\\dir\\", "x.dll"},
      {"C:\\a\\\\b", "x.dll"},
      {"\\\\server", "x.dll"},
      {"\\\\server\\", "x.dll"},
      {"", "x.dll"},
      {"C:\\dir\\.", "x.dll"},
      {"C:\\d?r", "x.dll"},
      {"C:/dir", "x.dll"},
      {".", ""},
      {".", "a\\b.dll"},
      {".", ".."},
      {".", "*.*"},
      {".", "a:b"},
      {".", std::string("a\x01")},
      {"C:\\" + std::string(300, 'a'), "x.dll"},
      {".", std::string(300, 'n')},
  };
  for (const auto& f : files) {
    LogSpec spec;
    spec.files = {{f.first, f.second, 0}};
    EXPECT_FALSE(valid(make_uninstall_log(spec)))
        << "folder '" << f.first << "' name '" << f.second << "'";
  }
  const std::pair<std::string, std::string> links[] = {
      {".", "P.lnk"},       {".\\menu", "P.lnk"},         {"C:\\Menu", "P.txt"},
      {"C:\\Menu", ".lnk"}, {"C:\\Menu", "P.lnk\\x.lnk"},
  };
  for (const auto& l : links) {
    LogSpec spec;
    spec.shortcuts = std::vector<LogShortcutSpec>{{l.first, l.second}};
    EXPECT_FALSE(valid(make_uninstall_log(spec)))
        << "shortcut '" << l.first << "' '" << l.second << "'";
  }
}

TEST(UninstallLogReader, PathsOfLoggedEntries) {
  struct Case {
    const char* install;
    const char* folder;
    const char* name;
    const char* want_folder;
    const char* want_path;
  };
  const Case cases[] = {
      {"C:\\Apps\\Tool\\", ".", "tool.exe", "C:\\Apps\\Tool", "C:\\Apps\\Tool\\tool.exe"},
      {"C:\\Apps\\Tool\\", ".\\bin", "x.dll", "C:\\Apps\\Tool\\bin", "C:\\Apps\\Tool\\bin\\x.dll"},
      {"C:\\Apps\\Tool\\", ".\\bin\\sub", "x.dll", "C:\\Apps\\Tool\\bin\\sub",
       "C:\\Apps\\Tool\\bin\\sub\\x.dll"},
      {"C:\\Apps\\Tool\\", "C:\\WINDOWS\\SYSTEM", "y.dll", "C:\\WINDOWS\\SYSTEM",
       "C:\\WINDOWS\\SYSTEM\\y.dll"},
      {"C:\\Apps\\Tool\\", "C:", "boot.dat", "C:\\", "C:\\boot.dat"},
      {"D:\\", ".", "a.txt", "D:\\", "D:\\a.txt"},
      {"D:\\", ".\\sub", "a.txt", "D:\\sub", "D:\\sub\\a.txt"},
  };
  for (const Case& c : cases) {
    std::string folder = c.folder, name = c.name;
    char out[260];
    ASSERT_TRUE(logged_folder(out, sizeof out, c.install, text(folder))) << c.folder;
    EXPECT_STREQ(out, c.want_folder);
    ASSERT_TRUE(logged_path(out, sizeof out, c.install, text(folder), text(name))) << c.folder;
    EXPECT_STREQ(out, c.want_path);
    EXPECT_EQ(is_relative_folder(text(folder)), c.folder[0] == '.');
  }
  // A path that does not fit is refused, never cut.
  std::string folder = ".\\" + std::string(200, 'd'), name(60, 'n');
  char out[260];
  EXPECT_TRUE(logged_folder(out, sizeof out, "C:\\Apps\\", text(folder)));
  EXPECT_FALSE(logged_path(out, sizeof out, "C:\\Apps\\", text(folder), text(name)));
}

TEST(UninstallLogReader, OnlyKeysDirectlyUnderTheUninstallKeyAreNamed) {
  struct Case {
    uint32_t root;
    std::string path;
    const char* want; // null: not a key the uninstaller may delete
  };
  const std::string prefix = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
  const Case cases[] = {
      {0x80000002u, prefix + "Hello 2.0", "Hello 2.0"},
      {0x80000002u, "software\\microsoft\\windows\\currentversion\\uninstall\\Hello", "Hello"},
      {0x80000001u, prefix + "Hello", nullptr},
      {0x80000002u, prefix, nullptr},
      {0x80000002u, prefix + "Hello\\Sub", nullptr},
      {0x80000002u, "Software\\Microsoft\\Windows\\CurrentVersion\\Run\\Hello", nullptr},
      {0x80000002u, "Software\\Hello", nullptr},
      {0x80000002u, prefix + std::string(40, 'k'), nullptr}, // longer than the buffer below
  };
  for (const Case& c : cases) {
    Bytes b;
    Bytes body;
    put_u32(body, 0);
    put_record(b, LOG_TAG_FILES, body);
    body.clear();
    put_u32(body, c.root);
    put_log_string(body, c.path);
    put_record(b, LOG_TAG_KEY, body);
    put_record(b, LOG_TAG_END, {});
    CheckedLog log;
    ASSERT_TRUE(read(b, &log)) << c.path;
    char name[32];
    bool named = uninstall_key_name(log, name, sizeof name);
    EXPECT_EQ(named, c.want != nullptr) << c.path;
    if (named && c.want) {
      EXPECT_STREQ(name, c.want);
    }
  }
}
