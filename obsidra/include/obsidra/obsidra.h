// obsidra: the string cipher for the password stored in Config.ini.
//
// A text is enciphered with libsodium's secretbox (XSalsa20 + Poly1305) under a random key
// of 32 bytes that lives in a key file of the user's own (mode 0600). The enciphered form is
// one line of base64 (the original alphabet, with padding) of nonce (24 bytes) followed by
// the ciphertext with its tag (16 bytes + the text's length): a value a profile file holds.
// Every encryption uses a fresh random nonce, so the same text enciphers differently each
// time. Deciphering checks the tag: anything that does not decipher under the key gives the
// empty text.
//
// Key file: made on the first encryption when absent, atomically (a temporary file created
// with O_CREAT | O_EXCL and mode 0600, filled, then linked to the key file's name; when
// another process made the key first, its key is used). A key file of any size other than 32
// bytes is an error; it is never replaced. Without a key file, nothing deciphers.
//
// Texts are at most kMaxPlainText (255) bytes and hold no NUL. The functions are safe to
// call from several threads.
#pragma once

#include <cstddef>
#include <string>

namespace obsidra {

// The longest text EncryptStringEX takes and DecryptStringEX gives, in bytes.
inline constexpr std::size_t kMaxPlainText = 255;
// The size of the buffer DecryptStringEX writes: the text and its terminator.
inline constexpr std::size_t kPlainBufferSize = kMaxPlainText + 1;
// The size of the buffer EncryptStringEX writes: base64 of 24 + 16 + 255 bytes (396
// characters) and the terminator, rounded up.
inline constexpr std::size_t kEncipheredBufferSize = 400;
// The only mode there is.
inline constexpr int kMode = 1;

// Results below zero: what went wrong.
enum Error : int {
  kBadArgument = -1,  // a null pointer, a mode other than 1, or a text over 255 bytes
  kNoKey = -2,        // the key file is missing (DecryptStringEX), cannot be made or read,
                      // or has a size other than 32 bytes
  kNoCipher = -3,     // libsodium could not be initialised
  kNotDeciphered = -4 // the text is no enciphered text of this key (tampered, truncated,
                      // another key, not base64)
};

// Sets the key file's path; an empty path restores the default:
// $XDG_CONFIG_HOME/vendrel/obsidra.key when XDG_CONFIG_HOME is an absolute path, else
// $HOME/.config/vendrel/obsidra.key.
void SetKeyFile(const std::string& path);

// The key file's path in use.
std::string KeyFile();

// Enciphers the NUL-terminated text plain (mode 1) and writes the enciphered form,
// NUL-terminated, to out, which holds kEncipheredBufferSize bytes. Makes the key file (and
// its folder, mode 0700) when it is missing. Returns the length of the text written (> 0);
// on an error writes the empty text to out (when out is not null) and returns an Error.
int EncryptStringEX(const char* plain, char* out, int mode);

// Deciphers the NUL-terminated text enciphered (mode 1) and writes the plain text,
// NUL-terminated, to out, which holds kPlainBufferSize bytes. Returns its length (>= 0).
// The empty text deciphers to the empty text (return 0) without a key: an account stored
// with an empty password field has the empty password. Anything else that does not decipher,
// a missing or broken key file included, writes the empty text and returns an Error.
int DecryptStringEX(const char* enciphered, char* out, int mode);

// The enciphered form of plain, or "" on an error (*result, when not null, gets the result
// of EncryptStringEX).
std::string Encrypt(const std::string& plain, int* result = nullptr);

// The plain text of enciphered, or "" when it does not decipher (*result as above).
std::string Decrypt(const std::string& enciphered, int* result = nullptr);

}  // namespace obsidra
