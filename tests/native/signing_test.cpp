// The signature check's file errors carry the system's reason, as the
// package reader's do.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "builder/errors.h"
#include "builder/signing.h"
#include "support/temp_dir.h"

TEST(CertificateTable, AFileThatCannotBeOpenedIsNamedWithTheReason) {
  TempDir dir;
  const struct {
    std::string path;
    int reason;
  } cases[] = {
      {dir.file("missing.exe"), ENOENT}, {dir.path(), EISDIR}, // a folder is no setup file
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    try {
      pakwiz::find_certificate_table(c.path, 0);
      ADD_FAILURE() << "no error";
    } catch (const pakwiz::BuildError& e) {
      EXPECT_EQ(std::string(e.what()),
                c.path + ": cannot open the file: " + std::strerror(c.reason));
    }
  }
}
