// The shipped language files: every file reads cleanly, has a LanguageID of its own and holds
// exactly the keys of English.lang, each once, with a non-empty text of at most 299 bytes of
// UTF-8; and every key the viewer's code asks for is there.
#include "profile/profile.h"

#include <QString>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <set>
#include <string>

namespace {

namespace fs = std::filesystem;

const fs::path kLanguageDir = fs::path(VENDREL_SOURCE_RESOURCES) / "Language";

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

// Lower-cased key -> key as written, for each language file (by file name).
std::map<std::string, std::map<std::string, std::string>> ReadAll() {
  std::map<std::string, std::map<std::string, std::string>> all;
  std::set<std::string> ids;
  for (const auto& entry : fs::directory_iterator(kLanguageDir)) {
    if (entry.path().extension() != ".lang") continue;
    const std::string name = entry.path().filename().string();
    bool found = false;
    const profile::Document doc = profile::Document::Read(entry.path().string(), &found);
    EXPECT_TRUE(found) << name;
    EXPECT_TRUE(doc.StrayLines().empty()) << name << ": line " << doc.StrayLines().front();
    for (const std::string& section : doc.Sections())
      EXPECT_TRUE(Lower(section) == "info" || Lower(section) == "string") << name << ": [" << section << "]";
    const std::string id = doc.GetString("Info", "LanguageID", "", 100);
    EXPECT_TRUE(!id.empty() && std::all_of(id.begin(), id.end(), ::isdigit)) << name << ": LanguageID " << id;
    EXPECT_TRUE(ids.insert(id).second) << name << ": LanguageID " << id << " is another file's too";
    auto& keys = all[name];
    for (const std::string& key : doc.Keys("String")) {
      EXPECT_TRUE(keys.emplace(Lower(key), key).second) << name << ": " << key << " given twice";
      const std::string text = doc.GetString("String", key, "", 4096);
      EXPECT_FALSE(text.empty()) << name << ": " << key << " has no text";
      EXPECT_LE(text.size(), profile::kMaxLanguageText) << name << ": " << key;
      EXPECT_EQ(QString::fromUtf8(text).toUtf8().toStdString(), text) << name << ": " << key << " is not UTF-8";
    }
  }
  return all;
}

TEST(LanguageFiles, EveryLanguageHoldsTheKeysOfEnglish) {
  const auto all = ReadAll();
  ASSERT_TRUE(all.contains("English.lang"));
  ASSERT_GE(all.size(), 2u);
  const auto& english = all.at("English.lang");
  for (const auto& [name, keys] : all) {
    for (const auto& [lower, key] : english) EXPECT_TRUE(keys.contains(lower)) << name << " lacks " << key;
    for (const auto& [lower, key] : keys) EXPECT_TRUE(english.contains(lower)) << name << " has " << key << ", English.lang not";
  }
}

TEST(LanguageFiles, KeysTheViewerAsksForAreThere) {
  const char* used[] = {
      // login and password change
      "Login", "Cancel", "OK", "Username", "Password", "EnablePassword", "UserNotNull", "UserNotExisted",
      "PasswdError", "ModifyPwd", "OldPassword", "NewPassword", "ConfirmPassword", "OldPasswordError",
      "NewPasswordNotSame", "ConfigWriteFail", "CipherKeyFail",
      // main window and grid
      "Setting", "Exit", "About", "AboutTitle", "Version", "Window",
  };
  const auto all = ReadAll();
  for (const auto& [name, keys] : all)
    for (const char* key : used) EXPECT_TRUE(keys.contains(Lower(key))) << name << " lacks " << key;
}

}  // namespace
