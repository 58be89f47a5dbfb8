// The login account of Config.ini.
#include "loginaccount.h"

#include "obsidra/obsidra.h"
#include "profile/profile.h"

namespace vendrel {
namespace {

constexpr std::size_t kValueSize = 255;  // a value of at most 254 bytes and its terminator

}  // namespace

std::string ReadLoginValue(const std::string& configFile, const char* key) {
  return profile::GetString(configFile, kLoginSection, key, "", kValueSize);
}

std::string ReadStoredPassword(const std::string& configFile) {
  // The enciphered form of a long password is longer than the account's other values: it is
  // read whole, or it would never decipher.
  return obsidra::Decrypt(
      profile::GetString(configFile, kLoginSection, "Password", "", obsidra::kEncipheredBufferSize));
}

bool WriteLoginValue(const std::string& configFile, const char* key, const std::string& value) {
  return profile::WriteString(configFile, kLoginSection, key, value);
}

bool EncipherPassword(const std::string& password, std::string* stored) {
  int result = 0;
  *stored = obsidra::Encrypt(password, &result);
  return result > 0;
}

}  // namespace vendrel
