// The one login account of Config.ini, section "SystemLogin_Info": the user name in clear
// ("UserName"), the password enciphered by obsidra ("Password") and whether the login dialog
// fills the password in ("Check", "1" or "0").
#pragma once

#include <string>

namespace vendrel {

inline constexpr char kLoginSection[] = "SystemLogin_Info";

// A value of the account read from configFile: empty when missing, at most 254 bytes.
std::string ReadLoginValue(const std::string& configFile, const char* key);

// The stored password of configFile deciphered: "" when there is none or it does not
// decipher (a missing or broken key file, another key, a tampered text).
std::string ReadStoredPassword(const std::string& configFile);

// Writes key = value to the account of configFile. Returns false when the file could not be
// written (it is then unchanged).
bool WriteLoginValue(const std::string& configFile, const char* key, const std::string& value);

// The enciphered form of password in *stored. Returns false (with *stored empty) when the
// cipher's key file cannot be made or used.
bool EncipherPassword(const std::string& password, std::string* stored);

}  // namespace vendrel
