#include "MyCrypt.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <climits>
#include <memory>

namespace {

constexpr std::size_t kAESBlock = 16;

struct THashInfo {
  const EVP_MD* (*md)();
  std::size_t blockBytes;
};

// The kind's algorithm and HMAC block size; md is null for a code outside the table.
THashInfo HashInfo(THashKind kind) {
  switch (static_cast<std::uint8_t>(kind) & 0x7F) {
    case hashNone: return {EVP_md5, 0};
    case hashMD5: return {EVP_md5, 64};
    case hashSHA1: return {EVP_sha1, 64};
    case hashSHA256: return {EVP_sha256, 64};
    case hashSHA384: return {EVP_sha384, 128};
    case hashSHA512: return {EVP_sha512, 128};
    default: return {nullptr, 0};
  }
}

std::string ToLowerHex(const std::string& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (unsigned char b : bytes) {
    hex.push_back(kDigits[b >> 4]);
    hex.push_back(kDigits[b & 0x0F]);
  }
  return hex;
}

std::size_t AESKeyBytes(TAESKeySize keySize) {
  switch (keySize) {
    case aes192: return 24;
    case aes256: return 32;
    default: return 16;
  }
}

const EVP_CIPHER* AESCipher(std::size_t keyBytes) {
  switch (keyBytes) {
    case 24: return EVP_aes_192_cbc();
    case 32: return EVP_aes_256_cbc();
    default: return EVP_aes_128_cbc();
  }
}

// Wipes key bytes when they go out of scope, whatever path leaves the function.
struct TSecretBytes {
  std::string bytes;
  ~TSecretBytes() {
    if (!bytes.empty()) OPENSSL_cleanse(bytes.data(), bytes.size());
  }
};

// Key bytes of exactly the key size, or empty when the derivation gives nothing.
std::string ShapeKey(const std::string& material, THashKind deriveKind, std::size_t keyBytes) {
  std::string key;
  if ((static_cast<std::uint8_t>(deriveKind) & 0x7F) != hashNone) {
    key = DeriveKey(material, deriveKind, static_cast<int>(keyBytes));
    if (key.empty()) return {};
  } else {
    key = material.substr(0, keyBytes);
  }
  key.resize(keyBytes, '\0');
  return key;
}

bool AddPadding(std::string& data, TPaddingMode padding) {
  const std::size_t n = kAESBlock - data.size() % kAESBlock;
  switch (padding) {
    case padZero:
      data.append(n, '\0');
      return true;
    case padPKCS7:
      data.append(n, static_cast<char>(n));
      return true;
    case padANSIX923:
      data.append(n - 1, '\0');
      data.push_back(static_cast<char>(n));
      return true;
    case padISO10126: {
      if (n > 1) {
        const std::string filler = RandomBytes(static_cast<int>(n - 1));
        if (filler.size() != n - 1) return false;
        data += filler;
      }
      data.push_back(static_cast<char>(n));
      return true;
    }
    default:
      return true;
  }
}

// Removes the padding in place; false when the padding is unacceptable. Only the
// count byte is checked for the counted modes: the filler of ISO 10126 is random,
// and the modes share one removal rule.
bool RemovePadding(std::string& data, TPaddingMode padding) {
  switch (padding) {
    case padZero: {
      if (data.size() < kAESBlock) return false;
      const std::size_t blockStart = data.size() - kAESBlock;
      std::size_t end = data.size();
      while (end > blockStart && data[end - 1] == '\0') --end;
      data.resize(end);
      return true;
    }
    case padPKCS7:
    case padANSIX923:
    case padISO10126: {
      if (data.size() < 2) return false;
      const std::size_t n = static_cast<unsigned char>(data.back());
      if (n > kAESBlock || n > data.size()) return false;
      data.resize(data.size() - n);
      return true;
    }
    default:
      return true;
  }
}

using TCipherCtx = std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)>;

// One CBC pass with the library's own padding off, so only whole blocks go through.
std::string RunCBC(const std::string& key, const std::string& iv, const std::string& input,
                   bool encrypt) {
  if (input.size() > static_cast<std::size_t>(INT_MAX) - kAESBlock) return {};
  TCipherCtx ctx(EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free);
  if (!ctx) return {};
  const auto* keyData = reinterpret_cast<const unsigned char*>(key.data());
  const auto* ivData = reinterpret_cast<const unsigned char*>(iv.data());
  if (EVP_CipherInit_ex(ctx.get(), AESCipher(key.size()), nullptr, keyData, ivData,
                        encrypt ? 1 : 0) != 1)
    return {};
  if (EVP_CIPHER_CTX_set_padding(ctx.get(), 0) != 1) return {};
  std::string output(input.size() + kAESBlock, '\0');
  auto* out = reinterpret_cast<unsigned char*>(output.data());
  int written = 0;
  if (EVP_CipherUpdate(ctx.get(), out, &written,
                       reinterpret_cast<const unsigned char*>(input.data()),
                       static_cast<int>(input.size())) != 1)
    return {};
  int tail = 0;
  // Fails when the input is not whole blocks.
  if (EVP_CipherFinal_ex(ctx.get(), out + written, &tail) != 1) return {};
  output.resize(static_cast<std::size_t>(written + tail));
  return output;
}

std::string ShapeIV(const std::string& iv) {
  std::string block = iv.substr(0, kAESBlock);
  block.resize(kAESBlock, '\0');
  return block;
}

constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string EncodeBase64Lines(const std::string& bytes, const std::string& lineEnd) {
  std::string plain;
  plain.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const std::uint32_t v = static_cast<unsigned char>(bytes[i]) << 16 |
                            static_cast<unsigned char>(bytes[i + 1]) << 8 |
                            static_cast<unsigned char>(bytes[i + 2]);
    plain.push_back(kBase64Alphabet[v >> 18 & 0x3F]);
    plain.push_back(kBase64Alphabet[v >> 12 & 0x3F]);
    plain.push_back(kBase64Alphabet[v >> 6 & 0x3F]);
    plain.push_back(kBase64Alphabet[v & 0x3F]);
  }
  if (const std::size_t rest = bytes.size() - i; rest > 0) {
    std::uint32_t v = static_cast<unsigned char>(bytes[i]) << 16;
    if (rest == 2) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    plain.push_back(kBase64Alphabet[v >> 18 & 0x3F]);
    plain.push_back(kBase64Alphabet[v >> 12 & 0x3F]);
    plain.push_back(rest == 2 ? kBase64Alphabet[v >> 6 & 0x3F] : '=');
    plain.push_back('=');
  }
  if (lineEnd.empty()) return plain;
  constexpr std::size_t kLine = 64;
  std::string text;
  text.reserve(plain.size() + (plain.size() / kLine + 1) * lineEnd.size());
  for (std::size_t pos = 0; pos < plain.size(); pos += kLine) {
    text.append(plain, pos, kLine);
    text += lineEnd;
  }
  return text;
}

// Plain Base64: blanks and line breaks anywhere, '=' only at the end (at most two),
// missing padding accepted. ok is false for any other character or a dangling
// sixth of a byte.
std::string DecodeBase64Plain(const std::string& text, bool& ok) {
  ok = false;
  std::string bytes;
  std::uint32_t accumulator = 0;
  int bits = 0;
  int digits = 0;
  int pads = 0;
  for (char c : text) {
    if (IsBlank(c)) continue;
    if (c == '=') {
      if (++pads > 2) return {};
      continue;
    }
    const int value = Base64Value(c);
    if (value < 0 || pads > 0) return {};
    accumulator = accumulator << 6 | static_cast<std::uint32_t>(value);
    bits += 6;
    ++digits;
    if (bits >= 8) {
      bits -= 8;
      bytes.push_back(static_cast<char>(accumulator >> bits & 0xFF));
    }
  }
  if (digits % 4 == 1) return {};
  if (pads > 0 && (digits + pads) % 4 != 0) return {};
  ok = true;
  return bytes;
}

// The text between a "-----BEGIN ...-----" line and "-----END"; false when the text
// has no such frame.
bool PemBody(const std::string& text, std::string& body) {
  const std::size_t begin = text.find("-----BEGIN");
  if (begin == std::string::npos) return false;
  const std::size_t markerEnd = text.find("-----", begin + 10);
  if (markerEnd == std::string::npos) return false;
  const std::size_t start = markerEnd + 5;
  const std::size_t end = text.find("-----END", start);
  if (end == std::string::npos) return false;
  body = text.substr(start, end - start);
  return true;
}

}  // namespace

std::string HashData(const std::string& data, THashKind kind, bool hex) {
  const THashInfo info = HashInfo(kind);
  if (!info.md) return {};
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(data.data(), data.size(), digest, &length, info.md(), nullptr) != 1) return {};
  std::string raw(reinterpret_cast<const char*>(digest), length);
  return hex ? ToLowerHex(raw) : raw;
}

std::string SHA256Data(const std::string& data, bool hex) { return HashData(data, hashSHA256, hex); }

std::string HMACData(const std::string& key, const std::string& message, THashKind kind, bool hex) {
  const THashInfo info = HashInfo(kind);
  if (!info.md) return {};
  TSecretBytes block{key};
  if (block.bytes.size() > info.blockBytes) {
    block.bytes = HashData(key, kind);
    if (block.bytes.empty()) return {};
  }
  if (block.bytes.size() < info.blockBytes) block.bytes.resize(info.blockBytes, '\0');

  TSecretBytes inner{block.bytes};
  for (char& c : inner.bytes) c = static_cast<char>(c ^ 0x36);
  const std::string innerDigest = HashData(inner.bytes + message, kind);
  if (innerDigest.empty()) return {};

  TSecretBytes outer{block.bytes};
  for (char& c : outer.bytes) c = static_cast<char>(c ^ 0x5C);
  return HashData(outer.bytes + innerDigest, kind, hex);
}

std::string HMACSHA256(const std::string& key, const std::string& message, bool hex) {
  return HMACData(key, message, hashSHA256, hex);
}

std::string RandomBytes(int count) {
  if (count <= 0) return {};
  std::string bytes(static_cast<std::size_t>(count), '\0');
  if (RAND_bytes(reinterpret_cast<unsigned char*>(bytes.data()), count) != 1) return {};
  return bytes;
}

std::string DeriveKey(const std::string& material, THashKind kind, int length) {
  if (length <= 0) return {};
  std::string h = HashData(material, kind);
  // An empty digest would never grow h.
  if (h.empty()) return {};
  while (h.size() < static_cast<std::size_t>(length)) {
    const std::string next = HashData(h, kind);
    if (next.empty()) return {};
    h += next;
  }
  h.resize(static_cast<std::size_t>(length));
  return h;
}

std::string AESEncrypt(const std::string& keyMaterial, THashKind deriveKind, const std::string& data,
                       TPaddingMode padding, const std::string& iv, TAESKeySize keySize) {
  const TSecretBytes key{ShapeKey(keyMaterial, deriveKind, AESKeyBytes(keySize))};
  if (key.bytes.empty()) return {};
  std::string padded = data;
  if (!AddPadding(padded, padding)) return {};
  return RunCBC(key.bytes, ShapeIV(iv), padded, true);
}

std::string AESDecrypt(const std::string& keyMaterial, THashKind deriveKind,
                       const std::string& ciphertext, TPaddingMode padding, const std::string& iv,
                       TAESKeySize keySize) {
  const TSecretBytes key{ShapeKey(keyMaterial, deriveKind, AESKeyBytes(keySize))};
  if (key.bytes.empty()) return {};
  std::string plain = RunCBC(key.bytes, ShapeIV(iv), ciphertext, false);
  if (plain.empty() || !RemovePadding(plain, padding)) return {};
  return plain;
}

std::string BinaryToString(const std::string& bytes, std::uint32_t format) {
  if (bytes.empty()) return {};
  constexpr std::uint32_t kFlags = cryptStringNoCrLf | cryptStringNoCr;
  if ((format & ~kFlags) != cryptStringBase64) return {};
  if (format & cryptStringNoCrLf) return EncodeBase64Lines(bytes, {});
  return EncodeBase64Lines(bytes, (format & cryptStringNoCr) ? "\n" : "\r\n");
}

std::string StringToBinary(const std::string& text, std::uint32_t format) {
  bool ok = false;
  switch (format) {
    case cryptStringBase64:
      return DecodeBase64Plain(text, ok);
    case cryptStringBase64Any: {
      std::string body;
      if (PemBody(text, body)) {
        std::string bytes = DecodeBase64Plain(body, ok);
        if (ok) return bytes;
      }
      return DecodeBase64Plain(text, ok);
    }
    default:
      return {};
  }
}

std::string Base64Encode(const std::string& bytes, bool noLineBreaks) {
  std::string text = BinaryToString(bytes, cryptStringBase64);
  if (text.empty()) return {};
  if (noLineBreaks) return RemoveLineBreaks(text);
  text.resize(text.size() - 2);
  return text;
}

std::string Base64Decode(const std::string& text) { return StringToBinary(text, cryptStringBase64Any); }

std::string RemoveLineBreaks(const std::string& text) {
  std::string result;
  result.reserve(text.size());
  for (char c : text)
    if (c != '\r' && c != '\n') result.push_back(c);
  return result;
}
