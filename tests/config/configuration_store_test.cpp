// Saving orvexa.cfg: into the start directory, atomically, and never over a file that
// must stay (a failed write, a read-only file).
#include "config/configuration_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "config/config_access.h"
#include "config/config_parser.h"
#include "support/file_size_limit.h"
#include "support/temp_dir.h"

namespace orvexa {
namespace {

using test::FileSizeLimit;
using test::TempDir;

TEST(ConfigurationStoreTest, SavesIntoTheStartDirectoryWhateverTheCurrentOne) {
  TempDir dir;
  ConfigurationStore store;
  store.SetStartDirectory(dir.path());
  store.StartEmpty();
  SetInt(store.OrvexaConfig(), "MaxClientCount", 3);
  ASSERT_TRUE(store.Save().ok);
  EXPECT_EQ(dir.Read("orvexa.cfg"), "OrvexaConfig {\n   MaxClientCount=3\n   }\n");
  EXPECT_FALSE(dir.Exists("orvexa.cfg.tmp"));
}

// A start directory that takes no new file (here: a folder where the temporary file
// goes, which even root cannot replace) still gets its settings: orvexa.cfg is rewritten
// in place. A write that fails halfway leaves the old file as it was.
TEST(ConfigurationStoreTest, NoTemporaryFileRewritesInPlaceAndFailedWriteLeavesTheOldFile) {
  TempDir dir;
  dir.Write("orvexa.cfg", "OrvexaConfig { Old = 1 }\n// a comment longer than the new text\n");
  ASSERT_EQ(::mkdir(dir.File("orvexa.cfg.tmp").c_str(), 0755), 0);
  ConfigurationStore store;
  store.SetStartDirectory(dir.path());
  store.StartEmpty();
  SetInt(store.OrvexaConfig(), "New", 2);
  IoResult saved = store.Save();
  EXPECT_TRUE(saved.ok) << saved.message;
  EXPECT_EQ(dir.Read("orvexa.cfg"), "OrvexaConfig {\n   New=2\n   }\n");

  ASSERT_EQ(::rmdir(dir.File("orvexa.cfg.tmp").c_str()), 0);
  SetInt(store.OrvexaConfig(), "Newer", 3);
  {
    FileSizeLimit limit(10);
    saved = store.Save();
    EXPECT_FALSE(saved.ok);
  }
  EXPECT_NE(saved.message.find("orvexa.cfg.tmp"), std::string::npos) << saved.message;
  EXPECT_EQ(dir.Read("orvexa.cfg"), "OrvexaConfig {\n   New=2\n   }\n");
  EXPECT_FALSE(dir.Exists("orvexa.cfg.tmp"));
}

TEST(ConfigurationStoreTest, ReadOnlyFileStays) {
  if (::geteuid() == 0) GTEST_SKIP() << "root may write every file";
  TempDir dir;
  dir.Write("orvexa.cfg", "OrvexaConfig { Old = 1 }\n");
  ::chmod(dir.File("orvexa.cfg").c_str(), 0444);
  ConfigurationStore store;
  store.SetStartDirectory(dir.path());
  store.StartEmpty();
  SetInt(store.OrvexaConfig(), "New", 2);
  EXPECT_FALSE(store.Save().ok);
  EXPECT_EQ(dir.Read("orvexa.cfg"), "OrvexaConfig { Old = 1 }\n");
}

TEST(ConfigurationStoreTest, NothingIsSavedWithoutTheServerSection) {
  TempDir dir;
  ConfigurationStore store;
  store.SetStartDirectory(dir.path());
  ParseOptions quiet;
  quiet.trace = false;
  store.Adopt(ReadConfiguration("Other { K = 1 }", quiet));
  ASSERT_NE(store.Root(), nullptr);
  EXPECT_EQ(store.OrvexaConfig(), nullptr);
  EXPECT_FALSE(store.Save().ok);
  EXPECT_FALSE(dir.Exists("orvexa.cfg"));
}

}  // namespace
}  // namespace orvexa

namespace orvexa {
namespace {

TEST(ConfigurationStoreTest, SaveKeepsPermissionsAndSymbolicLinks) {
  test::TempDir dir;
  dir.Write("real.cfg", "OrvexaConfig { Old = 1 }\n");
  ::chmod(dir.File("real.cfg").c_str(), 0600);
  ASSERT_EQ(::symlink("real.cfg", dir.File("orvexa.cfg").c_str()), 0);
  ConfigurationStore store;
  store.SetStartDirectory(dir.path());
  store.StartEmpty();
  SetInt(store.OrvexaConfig(), "New", 2);
  ASSERT_TRUE(store.Save().ok);
  struct stat st {};
  ASSERT_EQ(::lstat(dir.File("orvexa.cfg").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(dir.Read("real.cfg"), "OrvexaConfig {\n   New=2\n   }\n");
  ASSERT_EQ(::stat(dir.File("real.cfg").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

}  // namespace
}  // namespace orvexa
