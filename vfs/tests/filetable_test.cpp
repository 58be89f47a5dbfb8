// The prefix table: registration, lookup order, limits, and the path helpers' dispatch.
#include "vfs/filetable.h"

#include <gtest/gtest.h>

#include <string>

#include "fakeops.h"
#include "tempdir.h"

using fake::Owner;
using fake::Registration;
using fake::Tagged;

using FileTable = fake::Test;

TEST_F(FileTable, PrefixClaimsThePathsBelowIt) {
  Registration mnt("/mnt", Tagged(1));
  const struct {
    const char* path;
    int owner;
  } cases[] = {
      {"/mnt/idea0/2010-03-05/001/*", 1},
      {"/mnt/idea0/2010-03-05/002/08.00.00-08.15.00[R][@1a2f][0].h264", 1},
      {"/mntx/a", 0},  // only at a component boundary
      {"/mnt2", 0},
      {"/mnt/", 1},
      {"/mnt", 1},
      {"/mn", 0},
      {"/MNT/idea0", 0},  // case counts
      {"mnt/idea0", 0},
      {"/tmp/mnt/a", 0},
      {"", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(Owner(c.path), c.owner) << c.path;
  EXPECT_EQ(FindFileOps(nullptr), DefaultFileOps());
}

TEST_F(FileTable, FirstRegisteredWinsOverLongerPrefix) {
  Registration shorter("/mnt", Tagged(1));
  Registration longer("/mnt/idea0", Tagged(2));
  EXPECT_EQ(Owner("/mnt/idea0/2010-03-05"), 1);
  EXPECT_EQ(Owner("/mnt/x"), 1);

  ASSERT_TRUE(RegisterFileOps("/mnt", nullptr));
  EXPECT_EQ(Owner("/mnt/idea0/2010-03-05"), 2);
  EXPECT_EQ(Owner("/mnt/x"), 0);
}

TEST_F(FileTable, SamePrefixTwiceUsesTwoEntriesAndUnregisterFreesTheFirst) {
  Registration first("/dup", Tagged(1));
  Registration second("/dup", Tagged(2));
  EXPECT_EQ(Owner("/dup/a"), 1);
  EXPECT_TRUE(RegisterFileOps("/dup", nullptr));
  EXPECT_EQ(Owner("/dup/a"), 2);
  EXPECT_TRUE(RegisterFileOps("/dup", nullptr));
  EXPECT_EQ(Owner("/dup/a"), 0);
  EXPECT_FALSE(RegisterFileOps("/dup", nullptr));
}

TEST_F(FileTable, FullTableIgnoresFurtherRegistrationsAndReusesTheLowestFreeEntry) {
  Registration mnt("/mnt", Tagged(1));
  for (size_t i = 2; i < VFS_TABLE_SIZE; ++i) {
    const FileOps ops = Tagged(int(i));
    ASSERT_TRUE(RegisterFileOps("/mnt", &ops)) << i;
  }
  const FileOps other = Tagged(32);
  fake::Unregister cleanup("/other");
  EXPECT_FALSE(RegisterFileOps("/other", &other));
  EXPECT_EQ(Owner("/other/a"), 0);
  EXPECT_EQ(Owner("/mnt/a"), 1);

  ASSERT_TRUE(RegisterFileOps("/mnt", nullptr));  // frees entry 1
  ASSERT_TRUE(RegisterFileOps("/other", &other));
  EXPECT_EQ(Owner("/other/a"), 32);
  EXPECT_EQ(Owner("/mnt/a"), 2);
}

TEST_F(FileTable, RefusesPrefixesThatDoNotFitAndIncompleteTables) {
  const FileOps ops = Tagged(1);
  const std::string fits = "/" + std::string(VFS_PREFIX_SIZE - 2, 'p');  // 31 characters
  const std::string too_long = fits + "q";                                  // 32 characters

  EXPECT_FALSE(RegisterFileOps(nullptr, &ops));
  EXPECT_FALSE(RegisterFileOps("", &ops));
  EXPECT_FALSE(RegisterFileOps(too_long.c_str(), &ops));
  // Not cut to 31 characters: the path below would otherwise go to it.
  EXPECT_EQ(Owner((fits + "/a").c_str()), 0);

  FileOps incomplete = Tagged(2);
  incomplete.disk_space = nullptr;
  EXPECT_FALSE(RegisterFileOps("/inc", &incomplete));
  EXPECT_EQ(Owner("/inc/a"), 0);

  Registration fitting(fits, ops);
  EXPECT_EQ(Owner((fits + "/a").c_str()), 1);
}

TEST_F(FileTable, SlotsAreCopiedAtRegistration) {
  FileOps ops = Tagged(1);
  Registration reg("/cp", ops);
  ops.access = Tagged(2).access;
  EXPECT_EQ(Owner("/cp/a"), 1);
}

// Each helper reports true exactly when the slot of its path's table returned 0.
TEST_F(FileTable, PathHelpersCallTheSlotOfTheirPathAndReportItsResult) {
  Registration reg("/fk");
  const struct {
    bool (*call)();
    const char* logged;
  } cases[] = {
      {[] { return FSAccess("/fk/a", 4); }, "access /fk/a"},
      {[] { return FSRename("/fk/a", "/fk/b"); }, "rename /fk/a /fk/b"},
      {[] { return FSRemove("/fk/a"); }, "remove /fk/a"},
      {[] { return FSMakeDir("/fk/d"); }, "make_dir /fk/d"},
      {[] { return FSRemoveDir("/fk/d"); }, "remove_dir /fk/d"},
      {[] { return FSGetDiskSpace("/fk/d", nullptr, nullptr, nullptr); }, "disk_space /fk/d"},
  };
  for (int result : {0, -1, 1}) {
    for (const auto& c : cases) {
      fake::S().calls.clear();
      fake::S().result = result;
      EXPECT_EQ(c.call(), result == 0) << c.logged;
      EXPECT_EQ(fake::S().calls, std::vector<std::string>{c.logged});
    }
  }
}

TEST_F(FileTable, DiskSpaceFillsTheOutputs) {
  Registration reg("/fk");
  uint64_t free_to_caller = 0, total = 0, free = 0;
  ASSERT_TRUE(FSGetDiskSpace("/fk/idea0", &free_to_caller, &total, &free));
  EXPECT_EQ(free_to_caller, 1u);
  EXPECT_EQ(total, 3u);
  EXPECT_EQ(free, 2u);

  TempDir dir;
  ASSERT_TRUE(FSGetDiskSpace(dir.path().c_str(), &free_to_caller, &total, &free));
  EXPECT_GT(total, 0u);
  EXPECT_LE(free, total);
  EXPECT_LE(free_to_caller, free);
  EXPECT_FALSE(FSGetDiskSpace((dir / "missing").c_str(), &free_to_caller, &total, &free));
  EXPECT_EQ(total, 0u);
}

TEST_F(FileTable, RenameBetweenTablesIsRefused) {
  Registration reg("/fk");
  TempDir dir;
  const std::string local = dir.Put("a", "x");
  EXPECT_FALSE(FSRename(local.c_str(), "/fk/a"));
  EXPECT_FALSE(FSRename("/fk/a", local.c_str()));
  EXPECT_TRUE(fake::S().calls.empty());
  EXPECT_EQ(dir.Get("a"), "x");
}

TEST_F(FileTable, PathHelpersOnLocalFiles) {
  TempDir dir;
  const std::string sub = dir / "sub";
  const std::string a = dir.Put("a", "x");
  const std::string b = sub + "/b";

  EXPECT_TRUE(FSAccess(a.c_str(), 0));
  EXPECT_TRUE(FSAccess(a.c_str(), 6));
  EXPECT_FALSE(FSAccess(b.c_str(), 0));
  EXPECT_TRUE(FSMakeDir(sub.c_str()));
  EXPECT_FALSE(FSMakeDir(sub.c_str()));  // exists already
  EXPECT_TRUE(FSRename(a.c_str(), b.c_str()));
  EXPECT_EQ(dir.Get("sub/b"), "x");
  EXPECT_FALSE(FSRemoveDir(sub.c_str()));  // not empty
  EXPECT_TRUE(FSRemove(b.c_str()));
  EXPECT_FALSE(FSRemove(b.c_str()));
  EXPECT_TRUE(FSRemoveDir(sub.c_str()));
  EXPECT_FALSE(FSAccess(sub.c_str(), 0));
  EXPECT_FALSE(FSAccess(nullptr, 0));
}
