// Profile files: lookups, integers, writes that keep the rest of the file, failed writes.
#include "profile/profile.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <sys/stat.h>

namespace profile {
namespace {

namespace fs = std::filesystem;

// A fresh folder for one test, removed afterwards.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "profile-test-XXXXXX").string();
    m_path = ::mkdtemp(pattern.data());
  }
  ~TempDir() { fs::remove_all(m_path); }
  std::string File(const std::string& name) const { return (m_path / name).string(); }

 private:
  fs::path m_path;
};

void Put(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string Get(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

const std::string kSample =
    "Key=before any section\r\n"
    "[Other]\r\n"
    "Name=wrong section\r\n"
    "  [ System Login ]  \r\n"
    "; Name=a comment\r\n"
    "no equals sign\r\n"
    "=no key\r\n"
    "  name  =  first  \r\n"
    "NAME=second\r\n"
    "Empty=\r\n"
    "Grüße=Größe\r\n"
    "Long=" + std::string(400, 'x') + "\r\n"
    "Number= -42abc\r\n"
    "Big=99999999999\r\n"
    "Word=abc\r\n"
    "[system login]\r\n"
    "Late=second piece\r\n";

TEST(ProfileRead, TableOfLookups) {
  const Document doc = Document::Parse(kSample);
  struct Case {
    const char* section;
    const char* key;
    std::size_t size;
    const char* expected;
  } cases[] = {
      {"System Login", "Name", 255, "first"},                 // any case, trimmed, first match
      {"SYSTEM LOGIN", "nAmE", 255, "first"},                 // section case ignored
      {"System Login", "Key", 255, "dflt"},                   // entries before a section: none
      {"Other", "Name", 255, "wrong section"},
      {"System Login", "Empty", 255, ""},                     // present but empty: no default
      {"System Login", "Missing", 255, "dflt"},               // missing key
      {"Missing", "Name", 255, "dflt"},                       // missing section
      {"System Login", "Long", 300, nullptr},                 // cut to 299
      {"System Login", "Name", 3, "fi"},                      // buffer of 3: two bytes
      {"System Login", "Missing", 3, "df"},                   // the default is cut as well
      {"System Login", "Name", 0, ""},
      {"System Login", "Grüße", 255, "Größe"},                // UTF-8 bytes kept
      {"System Login", "Late", 255, "second piece"},          // a section in two pieces
      {"System Login", "no equals sign", 255, "dflt"},
  };
  for (const Case& c : cases) {
    const std::string got = doc.GetString(c.section, c.key, "dflt", c.size);
    const std::string expected = c.expected ? c.expected : std::string(299, 'x');
    EXPECT_EQ(got, expected) << c.section << "/" << c.key << " size " << c.size;
  }
}

TEST(ProfileRead, IntegersLikeTheClassicProfileCall) {
  const Document doc = Document::Parse(kSample);
  EXPECT_EQ(doc.GetInt("System Login", "Number", 7), -42);
  EXPECT_EQ(doc.GetInt("System Login", "Word", 7), 0);
  EXPECT_EQ(doc.GetInt("System Login", "Empty", 7), 0);
  EXPECT_EQ(doc.GetInt("System Login", "Missing", 7), 7);
  EXPECT_EQ(doc.GetInt("System Login", "Big", 7), 2147483647);
}

TEST(ProfileRead, LineEndsByteOrderMarkAndMissingFiles) {
  EXPECT_EQ(Document::Parse("[a]\nk=lf\n").GetString("a", "k", "", 10), "lf");
  EXPECT_EQ(Document::Parse("\xEF\xBB\xBF[a]\r\nk=crlf").GetString("a", "k", "", 10), "crlf");
  EXPECT_EQ(Document::Parse("[a]\rk=1").GetString("a", "k", "none", 10), "none");  // CR alone: one line
  TempDir dir;
  bool found = true;
  EXPECT_TRUE(Document::Read(dir.File("absent.ini"), &found).Keys("a").empty());
  EXPECT_FALSE(found);
  EXPECT_EQ(GetString(dir.File("absent.ini"), "a", "k", "default", 255), "default");
  EXPECT_EQ(GetInt(dir.File("absent.ini"), "a", "k", 100), 100);
  EXPECT_EQ(GetString(dir.File(""), "a", "k", "a folder", 255), "a folder");  // no regular file
}

TEST(ProfileRead, KeysOfASection) {
  const Document doc = Document::Parse("[s]\nA=1\n;B=2\nA=3\n[t]\nC=4\n[S]\nD=5\n");
  EXPECT_EQ(doc.Keys("s"), (std::vector<std::string>{"A", "A", "D"}));
}

TEST(ProfileWrite, ChangesOneEntryAndKeepsEveryOtherLine) {
  TempDir dir;
  const std::string path = dir.File("Config.ini");
  Put(path, "; settings\r\n[SystemLogin_Info]\r\nUserName = admin\r\nCheck=0\r\n\r\n[themes]\r\nSolution=\r\n");
  ASSERT_TRUE(WriteString(path, "systemlogin_info", "CHECK", "1"));
  ASSERT_TRUE(WriteString(path, "SystemLogin_Info", "Password", "c2VjcmV0"));
  ASSERT_TRUE(WriteString(path, "Themes", "Solution", "Deutsch"));
  ASSERT_TRUE(WriteString(path, "New", "Key", " 50% ok "));
  EXPECT_EQ(Get(path),
            "; settings\r\n[SystemLogin_Info]\r\nUserName = admin\r\nCHECK=1\r\nPassword=c2VjcmV0\r\n\r\n"
            "[themes]\r\nSolution=Deutsch\r\n\r\n[New]\r\nKey=50% ok\r\n");
  EXPECT_EQ(GetString(path, "new", "key", "", 255), "50% ok");
}

TEST(ProfileWrite, MakesTheFileAndKeepsAnExistingFilesMode) {
  TempDir dir;
  const std::string made = dir.File("made.ini");
  ASSERT_TRUE(WriteString(made, "s", "k", "v"));
  EXPECT_EQ(Get(made), "[s]\nk=v\n");
  struct stat st {};
  ASSERT_EQ(::stat(made.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(::chmod(made.c_str(), 0640), 0);
  ASSERT_TRUE(WriteString(made, "s", "k", "w"));
  ASSERT_EQ(::stat(made.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(fs::directory_iterator(fs::path(made).parent_path())->path(), made);  // no temporaries left
}

TEST(ProfileWrite, FailuresReturnFalseAndLeaveTheFileWhole) {
  TempDir dir;
  const std::string path = dir.File("Config.ini");
  Put(path, "[s]\nk=old\n");
  EXPECT_FALSE(WriteString(path, "s", "k", "two\nlines"));
  EXPECT_FALSE(WriteString(path, "s", "", "v"));
  EXPECT_FALSE(WriteString(path, "", "k", "v"));
  EXPECT_FALSE(WriteString(path, "s", "a=b", "v"));
  EXPECT_EQ(Get(path), "[s]\nk=old\n");
  // A folder that cannot hold the file: its parent is a regular file (fails for root too).
  EXPECT_FALSE(WriteString(dir.File("Config.ini/inner.ini"), "s", "k", "v"));
  EXPECT_FALSE(WriteString(dir.File("missing/inner.ini"), "s", "k", "v"));
  // A path naming a folder is no profile file.
  fs::create_directory(dir.File("folder"));
  EXPECT_FALSE(WriteString(dir.File("folder"), "s", "k", "v"));
}

TEST(ProfileWrite, ASymbolicLinkIsFollowed) {
  TempDir dir;
  const std::string real = dir.File("real.ini");
  const std::string link = dir.File("link.ini");
  Put(real, "[s]\nk=old\n");
  fs::create_symlink(real, link);
  ASSERT_TRUE(WriteString(link, "s", "k", "new"));
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(Get(real), "[s]\nk=new\n");
}

TEST(LanguageText, KeysAndTheirFallbacks) {
  const Document doc = Document::Parse("[String]\nWindow=Fenster\nEmpty=\nLong=" + std::string(298, 'x') +
                                       "\xC3\xA4\n[Info]\nLanguageID=101\n");
  struct Case {
    const char* key;
    std::string expected;
  } cases[] = {
      {"window", "Fenster"},
      {"PlayBack.LoadImageFail", "LoadImageFail"},  // absent: the text after the first full stop
      {"a.b.c", "b.c"},
      {"Cancel", "Cancel"},                          // absent, no full stop: the key
      {"Empty", "Empty"},                            // an empty text counts as absent
      {"LanguageID", "LanguageID"},                  // other sections are not texts
      {"Long", std::string(298, 'x')},               // cut to 299 bytes, not inside a character
  };
  for (const Case& c : cases) EXPECT_EQ(LanguageText(doc, c.key), c.expected) << c.key;
  EXPECT_EQ(LanguageText(Document(), "Setting"), "Setting");  // no file at all
}

}  // namespace
}  // namespace profile
