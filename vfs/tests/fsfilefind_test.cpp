// CFSFileFind over local folders (default operations) and over the fake table.
#include "vfs/fsfilefind.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakeops.h"
#include "pattern.h"
#include "tempdir.h"
#include "vfs/fsfile.h"

using fake::Registration;

namespace {

using Names = std::vector<std::string>;

// Every name a search for pattern yields, in order; {} when FindFile fails.
Names List(CFSFileFind& find, const std::string& pattern) {
  Names names;
  for (bool more = find.FindFile(pattern.c_str()); more; more = find.FindNextFile())
    names.emplace_back(find.GetFileName());
  find.Close();
  return names;
}

const char kRecording[] = "08.00.00-08.15.00[R][@1a2f][0].h264";

}  // namespace

using FSFileFind = fake::Test;

TEST(Pattern, RootIsUpToTheLastSlash) {
  using vfs_detail::PatternRoot;
  EXPECT_EQ(PatternRoot("/mnt/idea0/2010-03-05/001/*"), "/mnt/idea0/2010-03-05/001/");
  EXPECT_EQ(PatternRoot("dir/"), "dir/");
  EXPECT_EQ(PatternRoot("/x"), "/");
  EXPECT_EQ(PatternRoot("*.txt"), "");
  EXPECT_EQ(PatternRoot(""), "");
}

TEST(Pattern, OnlyStarAndQuestionMarkAreWildcards) {
  const struct {
    const char* pattern;
    const char* name;
    bool match;
  } cases[] = {
      {"*", "a.txt", true},
      {"*", ".hidden", true},
      {"*", "..", true},
      {"*.txt", "a.txt", true},
      {"*.txt", "a.txt.bak", false},
      {"*.TXT", "a.txt", false},  // case counts
      {"?.txt", "a.txt", true},
      {"?.txt", "ab.txt", false},
      {kRecording, kRecording, true},  // brackets are plain characters
      {"*[R]*", kRecording, true},
      {"[R]*", "R1", false},
      {"*[@1a2f]*.h264", kRecording, true},
      {"a\\b", "a\\b", true},
      {"", "a", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(vfs_detail::MatchName(c.pattern, c.name), c.match) << c.pattern << " ~ " << c.name;
}

TEST_F(FSFileFind, ListsALocalFolderInNameOrderWithAttributes) {
  TempDir dir;
  dir.Put("b.txt", std::string(5000, 'b'));
  dir.Put("a.txt", "a");
  dir.Put(".hidden", "");
  dir.Put(kRecording, "r");
  ASSERT_EQ(::chmod(dir.Put("ro", "").c_str(), 0444), 0);
  ASSERT_EQ(::mkdir((dir / "sub").c_str(), 0700), 0);

  CFSFileFind find;
  ASSERT_TRUE(find.FindFile((dir / "*").c_str()));
  EXPECT_EQ(find.GetRoot(), dir.path() + "/");
  struct Seen {
    std::string name;
    bool normal, dir, hidden, readonly;
    uint64_t kb;
    bool operator==(const Seen&) const = default;
  };
  std::vector<Seen> seen;
  do {
    seen.push_back({find.GetFileName(), find.IsNormal(), find.IsDirectory(), find.IsHidden(),
                    find.IsReadOnly(), find.IsDirectory() ? 0 : find.GetLengthKB()});
  } while (find.FindNextFile());
  find.Close();
  const std::vector<Seen> expected = {
      {".", false, true, false, false, 0},
      {"..", false, true, false, false, 0},
      {".hidden", false, false, true, false, 0},
      {kRecording, true, false, false, false, 0},
      {"a.txt", true, false, false, false, 0},
      {"b.txt", true, false, false, false, 4},
      {"ro", false, false, false, true, 0},
      {"sub", false, true, false, false, 0},
  };
  ASSERT_EQ(seen.size(), expected.size());
  for (size_t i = 0; i < seen.size(); ++i) EXPECT_TRUE(seen[i] == expected[i]) << seen[i].name;
}

TEST_F(FSFileFind, RootPlusNameOpensTheEntry) {
  TempDir dir;
  dir.Put(kRecording, "payload");
  CFSFileFind find;
  ASSERT_TRUE(find.FindFile((dir / "*.h264").c_str()));
  CFSFile file;
  ASSERT_TRUE(file.Open((find.GetRoot() + find.GetFileName()).c_str(), CFSFile::modeRead));
  EXPECT_EQ(file.GetLength(), 7u);
  EXPECT_FALSE(find.FindNextFile());
  EXPECT_STREQ(find.GetFileName(), "");
  find.Close();
}

TEST_F(FSFileFind, PatternsSelectNames) {
  TempDir dir;
  for (const char* name : {"a.txt", "b.txt", "c.jpg", kRecording}) dir.Put(name, "");
  CFSFileFind find;
  EXPECT_EQ(List(find, dir / "*.txt"), (Names{"a.txt", "b.txt"}));
  EXPECT_EQ(List(find, dir / kRecording), Names{kRecording});
  EXPECT_EQ(List(find, dir / "?.jpg"), Names{"c.jpg"});
  EXPECT_EQ(List(find, dir / "*.avi"), Names{});
  EXPECT_EQ(List(find, dir / "missing/*"), Names{});
  EXPECT_EQ(List(find, dir.path() + "/"), Names{});
}

TEST_F(FSFileFind, FailedSearchHasNoEntryAndNothingToClose) {
  Registration reg("/fk");
  CFSFileFind find;
  EXPECT_FALSE(find.FindFile("/fk/idea0/2010-03-05/001/*"));
  EXPECT_STREQ(find.GetFileName(), "");
  EXPECT_FALSE(find.FindNextFile());
  find.Close();
  EXPECT_FALSE(find.FindFile(nullptr));
  EXPECT_EQ(fake::S().calls, Names{"find_first /fk/idea0/2010-03-05/001/* name=/fk/idea0/2010-03-05/001/"});
}

TEST_F(FSFileFind, PatternWithoutFolderListsTheCurrentFolder) {
  TempDir dir;
  dir.Put("x.txt", "");
  char old[4096];
  ASSERT_NE(::getcwd(old, sizeof old), nullptr);
  ASSERT_EQ(::chdir(dir.path().c_str()), 0);
  CFSFileFind find;
  const Names names = List(find, "*.txt");
  EXPECT_EQ(find.GetRoot(), "");
  ASSERT_EQ(::chdir(old), 0);
  EXPECT_EQ(names, Names{"x.txt"});
}

// A name that does not fit the name field is left out rather than cut into another name.
TEST_F(FSFileFind, NamesTooLongForTheRecordAreLeftOut) {
  TempDir dir;
  const std::string fits(VFS_NAME_SIZE - 1, 'f');
  dir.Put(fits, "");
  dir.Put(fits + "g", "");
  CFSFileFind find;
  EXPECT_EQ(List(find, dir / "f*"), Names{fits});
}

// The adapter's side of a search: the pattern, the root in the name field on entry, the find
// handle handed back, one close.
TEST_F(FSFileFind, RegisteredSearchGoesToItsTable) {
  Registration reg("/fk");
  fake::S().listing = {"08.00.00-08.15.00[R][@1a2f][0].h264", "09.00.00-09.10.00[A][@1b00][0].h264"};
  CFSFileFind find;
  ASSERT_TRUE(find.FindFile("/fk/idea0/2010-03-05/002/*"));
  EXPECT_EQ(find.GetRoot(), "/fk/idea0/2010-03-05/002/");
  EXPECT_STREQ(find.GetFileName(), fake::S().listing[0].c_str());
  EXPECT_EQ(find.GetLengthKB(), 2u);
  EXPECT_EQ(find.GetLength(), 2048u);
  ASSERT_TRUE(find.FindNextFile());
  EXPECT_STREQ(find.GetFileName(), fake::S().listing[1].c_str());
  EXPECT_EQ(find.GetLengthKB(), 4u);
  EXPECT_FALSE(find.FindNextFile());
  find.Close();
  find.Close();
  EXPECT_EQ(fake::S().calls, (Names{
                                 "find_first /fk/idea0/2010-03-05/002/* name=/fk/idea0/2010-03-05/002/",
                                 "find_next 7 name=/fk/idea0/2010-03-05/002/",
                                 "find_next 7 name=/fk/idea0/2010-03-05/002/",
                                 "find_close 7",
                             }));
}

TEST_F(FSFileFind, ReuseAndDestructionCloseAnOpenSearch) {
  Registration reg("/fk");
  fake::S().listing = {"a"};
  {
    CFSFileFind find;
    ASSERT_TRUE(find.FindFile("/fk/1/*"));
    ASSERT_TRUE(find.FindFile("/fk/2/*"));
  }
  EXPECT_EQ(fake::S().calls, (Names{"find_first /fk/1/* name=/fk/1/", "find_close 7",
                                    "find_first /fk/2/* name=/fk/2/", "find_close 7"}));
}

// A name from a table that fills the whole field is still read as a terminated text.
TEST_F(FSFileFind, UnterminatedNameFromATableIsCutAtTheField) {
  Registration reg("/fk");
  fake::S().listing = {std::string(200, 'n')};
  CFSFileFind find;
  ASSERT_TRUE(find.FindFile("/fk/*"));
  EXPECT_EQ(std::string(find.GetFileName()), std::string(VFS_NAME_SIZE - 1, 'n'));
}

// A root that does not fit the name field is refused before any slot runs, never cut.
TEST_F(FSFileFind, OverlongRootIsRefused) {
  Registration reg("/fk");
  fake::S().listing = {"a"};
  const std::string fits = "/fk/" + std::string(VFS_NAME_SIZE - 6, 'd') + "/";  // 107 characters
  ASSERT_EQ(fits.size(), VFS_NAME_SIZE - 1);
  CFSFileFind find;
  EXPECT_TRUE(find.FindFile((fits + "*").c_str()));
  find.Close();
  fake::S().calls.clear();
  const std::string too_long = "/fk/" + std::string(VFS_NAME_SIZE - 5, 'd') + "/";
  EXPECT_FALSE(find.FindFile((too_long + "*").c_str()));
  EXPECT_TRUE(fake::S().calls.empty());
  EXPECT_FALSE(find.FindNextFile());

  TempDir dir;  // the same on a local folder
  std::string deep = dir.path();
  while (deep.size() < VFS_NAME_SIZE) {
    deep += "/" + std::string(20, 'd');
    ASSERT_EQ(::mkdir(deep.c_str(), 0700), 0);
  }
  dir.Put(deep.substr(dir.path().size() + 1) + "/f", "");
  EXPECT_FALSE(find.FindFile((deep + "/*").c_str()));
}
