// obsidra: round trips, texts that must not decipher, and the key file.
#include "obsidra/obsidra.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <sys/stat.h>

namespace obsidra {
namespace {

namespace fs = std::filesystem;

// Each test gets its own key file in a fresh folder (made on first use).
class ObsidraTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "obsidra-test-XXXXXX").string();
    m_dir = ::mkdtemp(pattern.data());
    m_key = (m_dir / "conf" / "obsidra.key").string();
    SetKeyFile(m_key);
  }
  void TearDown() override {
    SetKeyFile("");
    fs::remove_all(m_dir);
  }
  fs::path m_dir;
  std::string m_key;
};

TEST_F(ObsidraTest, RoundTrips) {
  const std::string texts[] = {"admin", "50% off", "Grüße aus Köln", " spaces ", std::string(255, 'p'), "x"};
  for (const std::string& text : texts) {
    int result = 0;
    const std::string stored = Encrypt(text, &result);
    EXPECT_GT(result, 0);
    EXPECT_EQ(stored.size(), static_cast<std::size_t>(result));
    EXPECT_EQ(stored.find_first_of("\r\n"), std::string::npos);  // one profile line
    // Never in clear. A text of a letter or two turns up in any random base64 line by
    // chance, so only texts long enough to tell are looked for.
    if (text.size() >= 5) {
      EXPECT_EQ(stored.find(text), std::string::npos);
    }
    EXPECT_EQ(Decrypt(stored, &result), text);
    EXPECT_EQ(result, static_cast<int>(text.size()));
  }
  EXPECT_NE(Encrypt("same"), Encrypt("same"));  // a fresh nonce each time
  // The empty text: enciphers like any other, and the empty stored form is the empty text.
  EXPECT_EQ(Decrypt(Encrypt("")), "");
  int result = -9;
  EXPECT_EQ(Decrypt("", &result), "");
  EXPECT_EQ(result, 0);
}

TEST_F(ObsidraTest, WhatDoesNotDecipherGivesTheEmptyText) {
  const std::string stored = Encrypt("secret");
  std::string tampered = stored;
  tampered[tampered.size() / 2] = tampered[tampered.size() / 2] == 'A' ? 'B' : 'A';
  const std::string cases[] = {
      tampered,
      stored.substr(0, stored.size() - 4),  // truncated
      stored.substr(0, 20),                 // shorter than nonce and tag
      "not base64 at all!",
      stored + "AAAA",                      // a longer box
  };
  for (const std::string& text : cases) {
    int result = 0;
    EXPECT_EQ(Decrypt(text, &result), "") << text;
    EXPECT_LT(result, 0) << text;
  }
  // Another key.
  SetKeyFile((m_dir / "other.key").string());
  int result = 0;
  EXPECT_EQ(Decrypt(stored, &result), "");
  EXPECT_EQ(result, kNoKey);  // no key file there yet: nothing deciphers, nothing is made
  EXPECT_FALSE(fs::exists(m_dir / "other.key"));
  Encrypt("makes the other key");
  EXPECT_EQ(Decrypt(stored, &result), "");
  EXPECT_EQ(result, kNotDeciphered);
}

TEST_F(ObsidraTest, KeyFileIsPrivateAndKept) {
  EXPECT_EQ(KeyFile(), m_key);
  const std::string stored = Encrypt("secret");
  struct stat st {};
  ASSERT_EQ(::stat(m_key.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(st.st_size, 32);
  ASSERT_EQ(::stat(fs::path(m_key).parent_path().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_EQ(std::distance(fs::directory_iterator(fs::path(m_key).parent_path()), fs::directory_iterator()), 1);
  EXPECT_EQ(Decrypt(stored), "secret");  // the same key is read again
}

TEST_F(ObsidraTest, AKeyFileOfTheWrongSizeIsAnErrorAndStays) {
  fs::create_directories(fs::path(m_key).parent_path());
  std::ofstream(m_key) << "short";
  char out[kEncipheredBufferSize] = "junk";
  EXPECT_EQ(EncryptStringEX("secret", out, kMode), kNoKey);
  EXPECT_STREQ(out, "");
  EXPECT_EQ(fs::file_size(m_key), 5u);
  char plain[kPlainBufferSize] = "junk";
  EXPECT_EQ(DecryptStringEX("AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA", plain, kMode), kNoKey);
  EXPECT_STREQ(plain, "");
}

TEST_F(ObsidraTest, BadArguments) {
  char out[kEncipheredBufferSize] = "junk";
  EXPECT_EQ(EncryptStringEX(std::string(256, 'p').c_str(), out, kMode), kBadArgument);
  EXPECT_STREQ(out, "");
  EXPECT_EQ(EncryptStringEX("x", out, 2), kBadArgument);
  EXPECT_EQ(EncryptStringEX(nullptr, out, kMode), kBadArgument);
  EXPECT_EQ(DecryptStringEX(nullptr, out, kMode), kBadArgument);
  int result = 0;
  EXPECT_EQ(Encrypt(std::string("a\0b", 3), &result), "");
  EXPECT_EQ(result, kBadArgument);
}

TEST(ObsidraDefault, KeyFileBesideTheUsersConfig) {
  const char* saved = std::getenv("XDG_CONFIG_HOME");
  const std::string keep = saved ? saved : "";
  ::setenv("XDG_CONFIG_HOME", "/somewhere/conf", 1);
  EXPECT_EQ(KeyFile(), "/somewhere/conf/vendrel/obsidra.key");
  if (saved) ::setenv("XDG_CONFIG_HOME", keep.c_str(), 1); else ::unsetenv("XDG_CONFIG_HOME");
}

}  // namespace
}  // namespace obsidra
