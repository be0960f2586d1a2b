#include <gtest/gtest.h>

#include "common/file.h"
#include "common/heap.h"
#include "support/temp_dir.h"

TEST(FileHelpers, ReadWriteSeekAndSizeWithTheirResultCodes) {
  TempDir dir;
  std::string path = dir.file("data.bin");
  FileHandle f = file_create(path.c_str());
  ASSERT_NE(f, INVALID_FILE);
  EXPECT_EQ(file_write_exact(f, "0123456789", 10), FILE_OK);
  file_close(f);

  EXPECT_EQ(file_open(dir.file("missing").c_str(), FILE_READ), INVALID_FILE);
  f = file_open(path.c_str(), FILE_READ);
  ASSERT_NE(f, INVALID_FILE);
  EXPECT_EQ(file_size(f), 10u);
  char buf[16] = {};
  EXPECT_EQ(file_seek(f, 4, FROM_START), 4u);
  EXPECT_EQ(file_size(f), 10u); // the position is kept
  EXPECT_EQ(file_tell(f), 4u);
  EXPECT_EQ(file_read_exact(f, buf, 3), FILE_OK);
  EXPECT_EQ(std::string(buf, 3), "456");
  EXPECT_EQ(file_seek(f, -2, FROM_CURRENT), 5u);
  EXPECT_EQ(file_read_some(f, buf, 16), 5u); // only 5 left
  EXPECT_EQ(file_seek(f, -3, FROM_END), 7u);
  EXPECT_EQ(file_read_exact(f, buf, 4), FILE_SHORT_READ); // 3 left: a short read fails
  EXPECT_EQ(file_read_some(f, buf, 4), 0u);
  EXPECT_EQ(file_write_exact(f, "x", 1), FILE_WRITE_FAILED); // opened for reading only
  file_close(f);

  f = file_open(path.c_str(), FILE_READ_WRITE);
  ASSERT_NE(f, INVALID_FILE);
  file_seek(f, 0, FROM_END);
  EXPECT_EQ(file_write_exact(f, "AB", 2), FILE_OK);
  EXPECT_EQ(file_size(f), 12u);
  file_close(f);
}

static int attempts_seen;
static bool fail_first_attempt(size_t, int attempt) {
  attempts_seen++;
  return attempt == 0;
}
static bool fail_always(size_t, int) {
  attempts_seen++;
  return true;
}

TEST(HeapHelpers, RetriesOnceAfterAFailedAttempt) {
  attempts_seen = 0;
  heap_set_failure_hook(fail_first_attempt);
  char* p = (char*)heap_alloc(64, true);
  heap_set_failure_hook(nullptr);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(attempts_seen, 2);
  for (int i = 0; i < 64; i++) EXPECT_EQ(p[i], 0);
  free_and_clear(p);
  EXPECT_EQ(p, nullptr);
  free_and_clear(p); // absent: nothing happens

  attempts_seen = 0;
  heap_set_failure_hook(fail_always);
  EXPECT_EQ(heap_alloc(64), nullptr);
  heap_set_failure_hook(nullptr);
  EXPECT_EQ(attempts_seen, 2); // exactly one retry
}
