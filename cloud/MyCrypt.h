// Digests, HMAC, random bytes, AES-CBC and Base64 over byte strings.
//
// Every function is stateless and safe to call from any thread. Byte strings are
// std::string holding arbitrary bytes (zero bytes included). No function throws:
// every failure gives an empty result, so callers tell failure by emptiness.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Hash kind. Only the low 7 bits of the code are looked at; codes outside the
// table give an empty result wherever a digest is needed.
enum THashKind : std::uint8_t {
  hashNone = 0,    // no hash; where a digest is computed anyway it is MD5 (block size 0)
  hashMD5 = 1,
  hashSHA1 = 2,
  hashSHA256 = 3,
  hashSHA384 = 4,
  hashSHA512 = 5,
};

// Block padding for AES, always over 16-byte blocks. Any other code acts as padNone.
enum TPaddingMode : std::uint8_t {
  padNone = 0,      // nothing added or removed; data must be whole blocks
  padZero = 1,      // 1..16 zero bytes; removal strips zeros from the last block only
  padPKCS7 = 2,     // n bytes of value n
  padANSIX923 = 3,  // n-1 zero bytes, then n
  padISO10126 = 4,  // n-1 random bytes, then n
};

// AES key size. Any other code gives 16 bytes.
enum TAESKeySize : std::uint8_t {
  aes128 = 0,
  aes192 = 1,
  aes256 = 2,
};

// Format codes of BinaryToString/StringToBinary (the values of the classic
// string-encoding interface). Only the Base64 forms are offered; any other code
// gives an empty result.
inline constexpr std::uint32_t cryptStringBase64 = 0x00000001;     // 64-char lines, each + CR LF
inline constexpr std::uint32_t cryptStringBase64Any = 0x00000006;  // decode: with or without a PEM header
inline constexpr std::uint32_t cryptStringNoCrLf = 0x40000000;     // encode flag: no line breaks at all
inline constexpr std::uint32_t cryptStringNoCr = 0x80000000;       // encode flag: LF only

// Digest of data, raw or as lowercase hex (two digits per byte). Empty on failure
// (unknown kind).
std::string HashData(const std::string& data, THashKind kind, bool hex = false);
std::string SHA256Data(const std::string& data, bool hex = false);

// HMAC (RFC 2104) built on HashData with the kind's block size. Empty on failure.
std::string HMACData(const std::string& key, const std::string& message, THashKind kind,
                     bool hex = false);
std::string HMACSHA256(const std::string& key, const std::string& message, bool hex = false);

// count bytes from the system's cryptographic generator; empty when count <= 0 or
// the generator fails.
std::string RandomBytes(int count);

// h := digest(material); while h is shorter than length, h += digest(h); the first
// length bytes of h. Empty when length <= 0 or the kind gives no digest.
std::string DeriveKey(const std::string& material, THashKind kind, int length);

// AES-CBC. The key is DeriveKey(keyMaterial, deriveKind, key size), or with hashNone
// the material itself; either way zero-extended and cut to the key size. The IV is
// the first 16 bytes of iv zero-extended to 16 (all zeros when iv is empty).
// Encrypt pads the data by the mode first; decrypt removes the padding after.
// Empty on any failure: data that is not whole blocks where it must be, bad padding
// on decryption (a padding byte above 16), an unusable derivation kind.
std::string AESEncrypt(const std::string& keyMaterial, THashKind deriveKind, const std::string& data,
                       TPaddingMode padding, const std::string& iv, TAESKeySize keySize);
std::string AESDecrypt(const std::string& keyMaterial, THashKind deriveKind,
                       const std::string& ciphertext, TPaddingMode padding, const std::string& iv,
                       TAESKeySize keySize);

// Bytes to text by format (see the cryptString constants); empty for empty input
// or an unsupported format.
std::string BinaryToString(const std::string& bytes, std::uint32_t format);
// Text to bytes by format; empty when the text is not of that form.
std::string StringToBinary(const std::string& text, std::uint32_t format);

// Base64 of bytes. Without noLineBreaks: lines of 64 characters separated by CR LF,
// no trailing line break. With it: one line. Empty input gives empty.
std::string Base64Encode(const std::string& bytes, bool noLineBreaks = false);
// Decodes any Base64 form: line breaks and blanks anywhere, a PEM-style
// "-----BEGIN ...-----" / "-----END ...-----" frame, missing '=' padding. Empty
// when the text is not Base64.
std::string Base64Decode(const std::string& text);

// The text without any CR and LF characters.
std::string RemoveLineBreaks(const std::string& text);
