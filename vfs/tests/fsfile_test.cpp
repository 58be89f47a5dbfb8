// CFSFile over local files (default operations) and over the fake table.
#include "vfs/fsfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "fakeops.h"
#include "tempdir.h"

using fake::Registration;

namespace {

using Calls = std::vector<std::string>;

std::string ReadAll(CFSFile& file, uint32_t block = 7) {
  std::string out;
  char buf[64];
  while (uint32_t n = file.Read(buf, std::min<uint32_t>(block, sizeof buf))) out.append(buf, n);
  return out;
}

}  // namespace

using FSFile = fake::Test;

TEST_F(FSFile, OpenFlagsGiveTheModeText) {
  Registration reg("/fk");
  fake::S().files["/fk/a"] = "data";
  const struct {
    unsigned flags;
    const char* mode;
  } cases[] = {
      {0x0000, "rb"},  {0x1001, "wb"},  {0x3001, "ab"},  {0x1002, "wb+"},
      {0x3002, "ab+"}, {0x0002, "rb+"}, {0x0001, "wb"},  {0x2001, "ab"},
      {0x2002, "rb+"}, {0x00F0, "rb"},  // bits outside access/create/no-truncate are ignored
  };
  for (const auto& c : cases) {
    fake::S().calls.clear();
    CFSFile file;
    EXPECT_TRUE(file.Open("/fk/a", c.flags)) << c.flags;
    EXPECT_EQ(fake::S().calls, Calls{std::string("open /fk/a ") + c.mode}) << c.flags;
  }
  for (unsigned flags : {0x0003u, 0x100Fu}) {
    fake::S().calls.clear();
    CFSFile file;
    EXPECT_FALSE(file.Open("/fk/a", flags)) << flags;
    EXPECT_TRUE(fake::S().calls.empty());
  }
}

// What each flag combination does to a local file that exists ("hello") or does not.
TEST_F(FSFile, OpenFlagsOnLocalFiles) {
  const struct {
    unsigned flags;
    bool exists;
    bool opens;
    const char* after;  // content after writing "XY"
  } cases[] = {
      {0x1001, true, true, "XY"},           // create: truncated
      {0x3001, true, true, "helloXY"},      // create, keep: appended
      {0x3002, true, true, "helloXY"},      // the export target: appended
      {0x1002, false, true, "XY"},          // created
      {0x3002, false, true, "XY"},          // created
      {0x0001, true, true, "XYllo"},        // no create: neither truncated nor appended
      {0x0002, true, true, "XYllo"},
      {0x0001, false, false, "<missing>"},  // no create: nothing made
      {0x0002, false, false, "<missing>"},
      {0x0000, true, true, "hello"},        // read only: the write is refused
      {0x0000, false, false, "<missing>"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    if (c.exists) dir.Put("f", "hello");
    CFSFile file;
    ASSERT_EQ(file.Open((dir / "f").c_str(), c.flags), c.opens) << c.flags;
    file.Write("XY", 2);
    file.Close();
    EXPECT_EQ(dir.Get("f"), c.after) << std::hex << c.flags << " exists " << c.exists;
  }
}

TEST_F(FSFile, ExportingTwiceAppends) {
  TempDir dir;
  const std::string source = dir.Put("src", std::string(3000, 's'));
  for (int i = 0; i < 2; ++i) {
    CFSFile in, out;
    ASSERT_TRUE(in.Open(source.c_str(), CFSFile::modeRead));
    ASSERT_TRUE(out.Open((dir / "dst").c_str(), 0x3002));
    char block[1024];
    while (uint32_t n = in.Read(block, sizeof block)) EXPECT_EQ(out.Write(block, n), n);
  }
  EXPECT_EQ(dir.Get("dst").size(), 6000u);
}

TEST_F(FSFile, ReadSeekAndLengthOnALocalFile) {
  TempDir dir;
  std::string content(1000, '\0');
  for (size_t i = 0; i < content.size(); ++i) content[i] = char('a' + i % 26);
  CFSFile file;
  ASSERT_TRUE(file.Open(dir.Put("f", content).c_str(), CFSFile::modeRead));
  EXPECT_TRUE(file.IsOpen());
  EXPECT_EQ(file.GetFilePath(), dir / "f");

  EXPECT_EQ(file.Seek(10, CFSFile::begin), 10u);
  char buf[5];
  ASSERT_EQ(file.Read(buf, 5), 5u);
  EXPECT_EQ(std::string(buf, 5), content.substr(10, 5));
  EXPECT_EQ(file.GetLength(), 1000u);
  EXPECT_EQ(file.GetPosition(), 15u);  // GetLength keeps the position
  EXPECT_EQ(file.Seek(-10, CFSFile::end), 990u);
  EXPECT_EQ(file.Seek(5, CFSFile::current), 995u);
  EXPECT_EQ(file.Seek(3, 7), 3u);  // an unknown origin counts from the beginning
  EXPECT_EQ(file.Seek(-1, CFSFile::begin), 0u);
  EXPECT_EQ(file.GetPosition(), 3u);  // the failed seek left it
  EXPECT_EQ(ReadAll(file), content.substr(3));
  EXPECT_EQ(file.Read(buf, 5), 0u);
}

TEST_F(FSFile, LinesOnALocalFile) {
  TempDir dir;
  CFSFile file;
  ASSERT_TRUE(file.Open((dir / "t").c_str(), CFSFile::modeReadWrite | CFSFile::modeCreate));
  EXPECT_GE(file.WriteString("first\n"), 0);
  EXPECT_GE(file.WriteString("second"), 0);
  file.Flush();
  file.Seek(0, CFSFile::begin);
  char line[16];
  ASSERT_NE(file.ReadString(line, sizeof line), nullptr);
  EXPECT_STREQ(line, "first\n");
  ASSERT_NE(file.ReadString(line, 4), nullptr);
  EXPECT_STREQ(line, "sec");
  ASSERT_NE(file.ReadString(line, sizeof line), nullptr);
  EXPECT_STREQ(line, "ond");
  EXPECT_EQ(file.ReadString(line, sizeof line), nullptr);
}

TEST_F(FSFile, LengthOfAnEmptyFileIsZeroAfterALongerOne) {
  TempDir dir;
  CFSFile file;
  ASSERT_TRUE(file.Open(dir.Put("long", std::string(500, 'x')).c_str(), CFSFile::modeRead));
  EXPECT_EQ(file.GetLength(), 500u);
  ASSERT_TRUE(file.Open(dir.Put("empty", "").c_str(), CFSFile::modeRead));
  EXPECT_EQ(file.GetLength(), 0u);
}

TEST_F(FSFile, FoldersDoNotOpen) {
  TempDir dir;
  CFSFile file;
  EXPECT_FALSE(file.Open(dir.path().c_str(), CFSFile::modeRead));
  EXPECT_FALSE(file.IsOpen());
}

// A named pipe nobody reads refuses a writer at once instead of blocking the open.
TEST_F(FSFile, PipeWithoutReaderDoesNotHang) {
  TempDir dir;
  ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
  CFSFile file;
  EXPECT_FALSE(file.Open((dir / "pipe").c_str(), CFSFile::modeWrite));
}

// A local file past 2 GiB: positions beyond 32 bits are failures, never wrapped values.
TEST_F(FSFile, PositionsBeyond32BitsAreFailures) {
  TempDir dir;
  const std::string big = dir / "big";
  const int fd = ::open(big.c_str(), O_CREAT | O_WRONLY, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, off_t(3) << 30), 0);  // sparse
  ::close(fd);
  CFSFile file;
  ASSERT_TRUE(file.Open(big.c_str(), CFSFile::modeRead));
  EXPECT_EQ(file.Seek(0, CFSFile::end), 0u);
  EXPECT_EQ(DefaultFileOps()->tell(nullptr), -1);
  EXPECT_EQ(file.GetLength(), 0u);
  EXPECT_EQ(file.Seek(100, CFSFile::begin), 100u);
}

// An adapter-like table hides a header: positions and the length exclude it.
TEST_F(FSFile, HiddenHeaderIsOutsidePositionsAndLength) {
  Registration reg("/fk");
  fake::S().header = 1024;
  fake::S().files["/fk/rec.h264"] = std::string(1024, 'H') + "0123456789";
  CFSFile file;
  ASSERT_TRUE(file.Open("/fk/rec.h264", CFSFile::modeRead));
  EXPECT_EQ(file.GetPosition(), 0u);
  char buf[3];
  ASSERT_EQ(file.Read(buf, 3), 3u);
  EXPECT_EQ(std::string(buf, 3), "012");
  EXPECT_EQ(file.GetLength(), 10u);
  EXPECT_EQ(file.GetPosition(), 3u);
  EXPECT_EQ(file.Seek(0, CFSFile::begin), 0u);
  EXPECT_EQ(ReadAll(file), "0123456789");
}

TEST_F(FSFile, SlotFailuresGiveZero) {
  Registration reg("/fk");
  fake::S().files["/fk/a"] = "abcdef";
  CFSFile file;
  ASSERT_TRUE(file.Open("/fk/a", CFSFile::modeRead));
  EXPECT_EQ(file.Seek(4, CFSFile::begin), 4u);
  EXPECT_EQ(file.Seek(100, CFSFile::begin), 0u);  // the seek slot refuses: 0
  EXPECT_EQ(file.GetLength(), 6u);

  fake::S().fail_tell = true;
  EXPECT_EQ(file.GetPosition(), 0u);
  EXPECT_EQ(file.GetLength(), 0u);
  fake::S().fail_tell = false;
  fake::S().fail_seek = true;
  EXPECT_EQ(file.GetLength(), 0u);
  EXPECT_EQ(file.Seek(1, CFSFile::begin), 0u);
  EXPECT_EQ(file.ReadString(nullptr, 0), nullptr);
  EXPECT_EQ(file.WriteString("x"), -1);
}

TEST_F(FSFile, ClosedFileCallsNoSlot) {
  Registration reg("/fk");
  for (bool opened_before : {false, true}) {
    CFSFile file;
    if (opened_before) {
      fake::S().files["/fk/a"] = "abc";
      ASSERT_TRUE(file.Open("/fk/a", CFSFile::modeRead));
      file.Close();
      EXPECT_EQ(fake::S().calls, (Calls{"open /fk/a rb", "close"}));
    }
    fake::S().calls.clear();
    char buf[4];
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(file.Read(buf, 4), 0u);
    EXPECT_EQ(file.Write("abc", 3), 0u);
    EXPECT_EQ(file.Seek(1, CFSFile::begin), 0u);
    EXPECT_EQ(file.GetPosition(), 0u);
    EXPECT_EQ(file.GetLength(), 0u);
    EXPECT_EQ(file.ReadString(buf, 4), nullptr);
    EXPECT_EQ(file.WriteString("x"), -1);
    file.Flush();
    file.Close();
    EXPECT_TRUE(fake::S().calls.empty());
  }
}

TEST_F(FSFile, OpenWhileOpenClosesTheFirstFile) {
  Registration reg("/fk");
  fake::S().files["/fk/a"] = "a";
  fake::S().files["/fk/b"] = "b";
  {
    CFSFile file;
    ASSERT_TRUE(file.Open("/fk/a", CFSFile::modeRead));
    ASSERT_TRUE(file.Open("/fk/b", CFSFile::modeRead));
    EXPECT_EQ(file.GetFilePath(), std::string("/fk/b"));
  }
  EXPECT_EQ(fake::S().calls, (Calls{"open /fk/a rb", "close", "open /fk/b rb", "close"}));
}

// A path longer than the path field is refused, never cut: cut, it would name another file.
TEST_F(FSFile, OverlongPathIsRefused) {
  Registration reg("/fk");
  const std::string fits = "/fk/" + std::string(VFS_PATH_SIZE - 5, 'n');  // 259 characters
  const std::string too_long = fits + "x";
  fake::S().files[fits] = "short";
  fake::S().files[too_long] = "long";

  CFSFile file;
  ASSERT_TRUE(file.Open(fits.c_str(), CFSFile::modeRead));
  EXPECT_EQ(file.GetFilePath(), fits);
  fake::S().calls.clear();
  EXPECT_FALSE(file.Open(too_long.c_str(), CFSFile::modeRead));
  EXPECT_EQ(fake::S().calls, Calls{"close"});  // only the first file's close
  EXPECT_STREQ(file.GetFilePath(), "");
  EXPECT_FALSE(file.Open(nullptr, CFSFile::modeRead));

  // The same on the local disk: the 259-character prefix of the path is a real file.
  TempDir dir;
  std::string folder = dir.path() + "/" + std::string(100, 'd');
  ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
  const std::string local_fits = folder + "/" + std::string(VFS_PATH_SIZE - 2 - folder.size(), 'f');
  ASSERT_EQ(local_fits.size(), VFS_PATH_SIZE - 1);
  dir.Put(local_fits.substr(dir.path().size() + 1), "short");
  dir.Put(local_fits.substr(dir.path().size() + 1) + "x", "long");
  EXPECT_TRUE(file.Open(local_fits.c_str(), CFSFile::modeRead));
  EXPECT_FALSE(file.Open((local_fits + "x").c_str(), CFSFile::modeRead));
  EXPECT_FALSE(file.Open((local_fits + "x").c_str(), CFSFile::modeWrite | CFSFile::modeCreate));
  EXPECT_EQ(dir.Get(local_fits.substr(dir.path().size() + 1)), "short");
  EXPECT_EQ(dir.Get(local_fits.substr(dir.path().size() + 1) + "x"), "long");
}

TEST_F(FSFile, LoadFileReadsTheWholeFile) {
  TempDir dir;
  std::string content(3000, '\0');
  for (size_t i = 0; i < content.size(); ++i) content[i] = char(i * 7);
  CFSFile file;
  const uint8_t* buffer = file.LoadFile(dir.Put("f", content).c_str());
  ASSERT_NE(buffer, nullptr);
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(file.GetLength(), 3000u);
  EXPECT_EQ(std::memcmp(buffer, content.data(), content.size()), 0);
  file.FreeBuffer();

  EXPECT_EQ(file.LoadFile((dir / "missing").c_str()), nullptr);
  EXPECT_EQ(file.LoadFile(dir.Put("empty", "").c_str()), nullptr);
}

// A read that stops early (a disk error, a file that shrank) keeps what it got.
TEST_F(FSFile, LoadFileKeepsAShortRead) {
  Registration reg("/fk");
  fake::S().header = 2;
  fake::S().files["/fk/a"] = "HHabcdefgh";
  fake::S().read_limit = 5;
  CFSFile file;
  const uint8_t* buffer = file.LoadFile("/fk/a");
  ASSERT_NE(buffer, nullptr);
  EXPECT_EQ(file.GetLength(), 5u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer), 5), "abcde");

  file.FreeBuffer();
  fake::S().read_limit = 0;
  EXPECT_EQ(file.LoadFile("/fk/a"), nullptr);
}
