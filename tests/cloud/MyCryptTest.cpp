#include "cloud/MyCrypt.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string FromHex(const std::string& hex) {
  std::string bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return bytes;
}

std::string ToHex(const std::string& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char b : bytes) {
    hex.push_back(kDigits[b >> 4]);
    hex.push_back(kDigits[b & 15]);
  }
  return hex;
}

const std::string kTwoBlock = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
const std::string kTwoBlock1024 =
    "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrs"
    "mnopqrstnopqrstu";

struct DigestCase {
  THashKind kind;
  std::string message;
  std::string hex;
};

TEST(HashData, MatchesPublishedExamples) {
  const std::vector<DigestCase> cases = {
      {hashMD5, "abc", "900150983cd24fb0d6963f7d28e17f72"},
      {hashSHA1, "abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
      {hashSHA1, kTwoBlock, "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
      {hashSHA256, "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {hashSHA256, kTwoBlock, "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {hashSHA384, "abc",
       "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358baeca134c825a7"},
      {hashSHA384, kTwoBlock1024,
       "09330c33f71147e83d192fc782cd1b4753111b173b3b05d22fa08086e3b0f712fcc7c71a557e2db966c3e9fa91746039"},
      {hashSHA512, "abc",
       "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3feebbd"
       "454d4423643ce80e2a9ac94fa54ca49f"},
      {hashSHA512, kTwoBlock1024,
       "8e959b75dae313da8cf4f72814fc143f8f7779c6eb9f7fa17299aeadb6889018501d289e4900f7e4331b99dec4b5433a"
       "c7d329eeb6dd26545e96e55b874be909"},
      // hashNone still digests, with MD5.
      {hashNone, "abc", "900150983cd24fb0d6963f7d28e17f72"},
      // Only the low 7 bits of the code count.
      {static_cast<THashKind>(0x80 | hashSHA256), "abc",
       "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.kind) + " " + c.message.substr(0, 8));
    EXPECT_EQ(HashData(c.message, c.kind, true), c.hex);
    EXPECT_EQ(HashData(c.message, c.kind, false), FromHex(c.hex));
  }
  EXPECT_EQ(SHA256Data("", true), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

TEST(HashData, UnknownKindGivesEmptyEverywhere) {
  const auto unknown = static_cast<THashKind>(6);
  EXPECT_EQ(HashData("abc", unknown, true), "");
  EXPECT_EQ(HMACData("key", "abc", unknown), "");
  // Would loop for ever if an empty digest were appended until the length is reached.
  EXPECT_EQ(DeriveKey("abc", unknown, 16), "");
  EXPECT_EQ(AESEncrypt("key", unknown, "data", padPKCS7, "", aes128), "");
}

struct HmacCase {
  const char* name;
  std::string key;
  std::string message;
  std::string sha256;
  std::string sha384;
  std::string sha512;
};

TEST(HMACData, MatchesRfc4231) {
  const std::vector<HmacCase> cases = {
      {"case 1", std::string(20, '\x0b'), "Hi There",
       "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7",
       "afd03944d84895626b0825f4ab46907f15f9dadbe4101ec682aa034c7cebc59cfaea9ea9076ede7f4af152e8b2fa9cb6",
       "87aa7cdea5ef619d4ff0b4241a1d6cb02379f4e2ce4ec2787ad0b30545e17cdedaa833b7d6b8a702038b274eaea3f4e4"
       "be9d914eeb61f1702e696c203a126854"},
      {"case 2: key shorter than the digest", "Jefe", "what do ya want for nothing?",
       "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843",
       "af45d2e376484031617f78d2b58a6b1b9c7ef464f5a01b47e42ec3736322445e8e2240ca5e69e2c78b3239ecfab21649",
       "164b7a7bfcf819e2e395fbe73b56e0a387bd64222e831fd610270cd7ea2505549758bf75c05a994a6d034f65f8f0e6fd"
       "caeab1a34d4a6b4b636e070a38bce737"},
      {"case 3: bytes above 0x7f", std::string(20, '\xaa'), std::string(50, '\xdd'),
       "773ea91e36800e46854db8ebd09181a72959098b3ef8c122d9635514ced565fe",
       "88062608d3e6ad8a0aa2ace014c8a86f0aa635d947ac9febe83ef4e55966144b2a5ab39dc13814b94e3ab6e101a34f27",
       "fa73b0089d56a284efb0f0756c890be9b1b5dbdd8ee81a3655f83e33b2279d39bf3e848279a722c806b485a47e67c807"
       "b946a337bee8942674278859e13292fb"},
      {"case 4", FromHex("0102030405060708090a0b0c0d0e0f10111213141516171819"),
       std::string(50, '\xcd'), "82558a389a443c0ea4cc819899f2083a85f0faa3e578f8077a2e3ff46729665b",
       "3e8a69b7783c25851933ab6290af6ca77a9981480850009cc5577c6e1f573b4e6801dd23c4a7d679ccf8a386c674cffb",
       "b0ba465637458c6990e5a8c5f61d4af7e576d97ff94b872de76f8050361ee3dba91ca5c11aa25eb4d679275cc5788063"
       "a5f19741120c4f2de2adebeb10a298dd"},
      {"case 6: key longer than both block sizes is hashed first", std::string(131, '\xaa'),
       "Test Using Larger Than Block-Size Key - Hash Key First",
       "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54",
       "4ece084485813e9088d2c63a041bc5b44f9ef1012a2b588f3cd11f05033ac4c60c2ef6ab4030fe8296248df163f44952",
       "80b24263c7c1a3ebb71493c1dd7be8b49b46d1f41b4aeec1121b013783f8f3526b56d037e05f2598bd0fd2215d6a1e52"
       "95e64f73f63f0aec8b915a985d786598"},
      {"case 7: long key and long message", std::string(131, '\xaa'),
       "This is a test using a larger than block-size key and a larger than block-size data. The key "
       "needs to be hashed before being used by the HMAC algorithm.",
       "9b09ffa71b942fcb27635fbcd5b0e944bfdc63644f0713938a7f51535c3a35e2",
       "6617178e941f020d351e2f254e8fd32c602420feb0b8fb9adccebb82461e99c5a678cc31e799176d3860e6110c46523e",
       "e37b6a775dc87dbaa4dfa9f96e5e3ffddebd71f8867289865df5a32d20cdc944b6022cac3c4982b10d5eeb55c3e4de15"
       "134676fb6de0446065c97440fa8c6a58"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(HMACData(c.key, c.message, hashSHA256, true), c.sha256);
    EXPECT_EQ(HMACSHA256(c.key, c.message, false), FromHex(c.sha256));
    EXPECT_EQ(HMACData(c.key, c.message, hashSHA384, true), c.sha384);
    EXPECT_EQ(HMACData(c.key, c.message, hashSHA512, true), c.sha512);
  }
}

TEST(HMACData, KeyOfExactlyOneBlockIsNotHashed) {
  // 64 bytes sits on the boundary: hashing it would give a different MAC.
  const std::string key(64, 'k');
  EXPECT_NE(HMACSHA256(key, "m"), HMACSHA256(SHA256Data(key), "m"));
  const std::string longKey(65, 'k');
  EXPECT_EQ(HMACSHA256(longKey, "m"), HMACSHA256(SHA256Data(longKey), "m"));
}

TEST(RandomBytes, GivesTheCountAskedFor) {
  EXPECT_EQ(RandomBytes(16).size(), 16u);
  EXPECT_EQ(RandomBytes(0), "");
  EXPECT_EQ(RandomBytes(-1), "");
  // Two draws of 32 bytes coincide with probability 2^-256.
  EXPECT_NE(RandomBytes(32), RandomBytes(32));
}

TEST(DeriveKey, ChainsDigestsOfEverythingSoFar) {
  const std::string h1 = SHA256Data("secret");
  const std::string h2 = SHA256Data(h1);
  const std::string h3 = SHA256Data(h1 + h2);
  EXPECT_EQ(DeriveKey("secret", hashSHA256, 16), h1.substr(0, 16));
  EXPECT_EQ(DeriveKey("secret", hashSHA256, 32), h1);
  EXPECT_EQ(DeriveKey("secret", hashSHA256, 80), h1 + h2 + h3.substr(0, 16));
  EXPECT_EQ(DeriveKey("secret", hashSHA256, 0), "");
}

// NIST SP 800-38A, F.2.1 to F.2.6.
const std::string kNistIV = FromHex("000102030405060708090a0b0c0d0e0f");
const std::string kNistPlain = FromHex(
    "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
    "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710");

struct AesCase {
  TAESKeySize size;
  std::string key;
  std::string cipher;
};

TEST(AES, MatchesSp80038aCbcVectors) {
  const std::vector<AesCase> cases = {
      {aes128, "2b7e151628aed2a6abf7158809cf4f3c",
       "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"
       "73bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7"},
      {aes192, "8e73b0f7da0e6452c810f32b809079e562f8ead2522c6b7b",
       "4f021db243bc633d7178183a9fa071e8b4d9ada9ad7dedf4e5e738763f69145a"
       "571b242012fb7ae07fa9baac3df102e008b0e27988598881d920a9e64f5615cd"},
      {aes256, "603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4",
       "f58c4c04d6e5f1ba779eabfb5f7bfbd69cfc4e967edb808d679f777bc6702c7d"
       "39f23369a9d9bacfa530e26304231461b2eb05e2c39be9fcda6c19078c6a9d1b"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.key.size() * 4);
    const std::string key = FromHex(c.key);
    EXPECT_EQ(ToHex(AESEncrypt(key, hashNone, kNistPlain, padNone, kNistIV, c.size)), c.cipher);
    EXPECT_EQ(AESDecrypt(key, hashNone, FromHex(c.cipher), padNone, kNistIV, c.size), kNistPlain);
  }
}

TEST(AES, KeyAndIVAreShapedToTheirSizes) {
  const std::string data = "0123456789abcdef";
  const std::string full = std::string("short") + std::string(11, '\0');
  // Short material is zero-extended, long material cut.
  EXPECT_EQ(AESEncrypt("short", hashNone, data, padNone, "", aes128),
            AESEncrypt(full, hashNone, data, padNone, "", aes128));
  EXPECT_EQ(AESEncrypt(full + "ignored tail", hashNone, data, padNone, "", aes128),
            AESEncrypt(full, hashNone, data, padNone, "", aes128));
  // An unknown size code means 16 bytes.
  EXPECT_EQ(AESEncrypt(full, hashNone, data, padNone, "", static_cast<TAESKeySize>(9)),
            AESEncrypt(full, hashNone, data, padNone, "", aes128));
  // An empty IV is the zero block; a long IV is cut to 16 bytes; a short one zero-extended.
  EXPECT_EQ(AESEncrypt(full, hashNone, data, padNone, "", aes128),
            AESEncrypt(full, hashNone, data, padNone, std::string(16, '\0'), aes128));
  EXPECT_EQ(AESEncrypt(full, hashNone, data, padNone, kNistIV + "xyz", aes128),
            AESEncrypt(full, hashNone, data, padNone, kNistIV, aes128));
  EXPECT_EQ(AESEncrypt(full, hashNone, data, padNone, "iv", aes128),
            AESEncrypt(full, hashNone, data, padNone, std::string("iv") + std::string(14, '\0'), aes128));
  // A derivation kind turns the material into DeriveKey of the key size.
  EXPECT_EQ(AESEncrypt("password", hashSHA256, data, padNone, "", aes256),
            AESEncrypt(DeriveKey("password", hashSHA256, 32), hashNone, data, padNone, "", aes256));
}

TEST(AES, RoundTripsEveryModeAndSize) {
  for (int mode = padNone; mode <= padISO10126; ++mode)
    for (int size = aes128; size <= aes256; ++size) {
      const auto padding = static_cast<TPaddingMode>(mode);
      const auto keySize = static_cast<TAESKeySize>(size);
      SCOPED_TRACE(std::to_string(mode) + "/" + std::to_string(size));
      const std::string data = mode == padNone ? std::string(32, 'x') : "account record\x01";
      const std::string cipher = AESEncrypt("k", hashSHA1, data, padding, "iv", keySize);
      ASSERT_FALSE(cipher.empty());
      EXPECT_EQ(AESDecrypt("k", hashSHA1, cipher, padding, "iv", keySize), data);
    }
}

// What each mode appends, seen by decrypting without removing anything.
std::string PaddedForm(const std::string& data, TPaddingMode mode) {
  return AESDecrypt("key", hashNone, AESEncrypt("key", hashNone, data, mode, "", aes128), padNone, "",
                    aes128);
}

TEST(AESPadding, AddsTheBytesOfEachMode) {
  EXPECT_EQ(PaddedForm("abcde", padZero), "abcde" + std::string(11, '\0'));
  EXPECT_EQ(PaddedForm(std::string(16, 'a'), padZero), std::string(16, 'a') + std::string(16, '\0'));
  EXPECT_EQ(PaddedForm("abcde", padPKCS7), "abcde" + std::string(11, '\x0b'));
  EXPECT_EQ(PaddedForm("", padPKCS7), std::string(16, '\x10'));
  EXPECT_EQ(PaddedForm("abcde", padANSIX923), "abcde" + std::string(10, '\0') + "\x0b");
  const std::string iso = PaddedForm("abcde", padISO10126);
  ASSERT_EQ(iso.size(), 16u);
  EXPECT_EQ(iso.substr(0, 5), "abcde");
  EXPECT_EQ(iso.back(), '\x0b');
  // One byte short of a block: the count byte alone.
  EXPECT_EQ(PaddedForm(std::string(15, 'a'), padISO10126), std::string(15, 'a') + "\x01");
  // An unknown mode adds nothing, so partial blocks cannot be encrypted.
  EXPECT_EQ(AESEncrypt("key", hashNone, "abcde", static_cast<TPaddingMode>(7), "", aes128), "");
}

TEST(AESPadding, CiphertextSizes) {
  EXPECT_EQ(AESEncrypt("key", hashNone, std::string(16, 'a'), padPKCS7, "", aes128).size(), 32u);
  EXPECT_EQ(AESEncrypt("key", hashNone, "", padPKCS7, "", aes128).size(), 16u);
  EXPECT_EQ(AESEncrypt("key", hashNone, "abcde", padNone, "", aes128), "");
}

// Decrypts a plaintext that was encrypted without padding, then removed by mode.
std::string Unpad(const std::string& plain, TPaddingMode mode) {
  return AESDecrypt("key", hashNone, AESEncrypt("key", hashNone, plain, padNone, "", aes128), mode, "",
                    aes128);
}

TEST(AESPadding, RemovalRules) {
  // Zero padding strips zeros from the last block only; earlier zeros survive.
  const std::string zeros(16, '\0');
  EXPECT_EQ(Unpad(zeros + "ab" + std::string(14, '\0'), padZero), zeros + "ab");
  EXPECT_EQ(Unpad(std::string(5, 'a') + std::string(11, '\0') + zeros, padZero), std::string(5, 'a') + std::string(11, '\0'));
  // The counted modes read only the last byte; the other pad bytes are not compared.
  const std::string block = std::string(12, 'a') + "xyz\x04";
  EXPECT_EQ(Unpad(block, padPKCS7), std::string(12, 'a'));
  EXPECT_EQ(Unpad(block, padANSIX923), std::string(12, 'a'));
  EXPECT_EQ(Unpad(block, padISO10126), std::string(12, 'a'));
  // A full block of padding leaves nothing, which callers see as failure.
  EXPECT_EQ(Unpad(std::string(16, '\x10'), padPKCS7), "");
}

TEST(AESPadding, BadPaddingGivesEmpty) {
  // A count above the block size, as a wrong key usually produces.
  EXPECT_EQ(Unpad(std::string(15, 'a') + "\x11", padPKCS7), "");
  EXPECT_EQ(Unpad(std::string(15, 'a') + "\xff", padANSIX923), "");
  EXPECT_EQ(Unpad(std::string(15, 'a') + "\x20", padISO10126), "");
  // Ciphertext that is not whole blocks cannot be decrypted.
  const std::string cipher = AESEncrypt("key", hashNone, "data", padPKCS7, "", aes128);
  EXPECT_EQ(AESDecrypt("key", hashNone, cipher.substr(0, 15), padPKCS7, "", aes128), "");
  EXPECT_EQ(AESDecrypt("key", hashNone, "", padPKCS7, "", aes128), "");
}

TEST(Base64, EncodesRfc4648Examples) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
  };
  for (const auto& [bytes, text] : cases) {
    EXPECT_EQ(Base64Encode(bytes), text);
    EXPECT_EQ(Base64Decode(text), bytes);
  }
}

TEST(Base64, BreaksLinesAfterEvery64Characters) {
  std::string bytes;
  for (int i = 0; i < 100; ++i) bytes.push_back(static_cast<char>(i * 7 + 3));
  const std::string oneLine = Base64Encode(bytes, true);
  ASSERT_EQ(oneLine.size(), 136u);
  EXPECT_EQ(oneLine.find_first_of("\r\n"), std::string::npos);

  const std::string lines = Base64Encode(bytes, false);
  EXPECT_EQ(lines, oneLine.substr(0, 64) + "\r\n" + oneLine.substr(64, 64) + "\r\n" + oneLine.substr(128));
  EXPECT_EQ(RemoveLineBreaks(lines), oneLine);
  EXPECT_EQ(Base64Decode(lines), bytes);

  // Exactly one full line: no break left at the end.
  EXPECT_EQ(Base64Encode(std::string(48, 'z')).size(), 64u);
  // The raw conversion keeps the break after every line, the last one included.
  const std::string raw = BinaryToString(bytes, cryptStringBase64);
  EXPECT_EQ(raw, lines + "\r\n");
  EXPECT_EQ(BinaryToString(bytes, cryptStringBase64 | cryptStringNoCr),
            oneLine.substr(0, 64) + "\n" + oneLine.substr(64, 64) + "\n" + oneLine.substr(128) + "\n");
  EXPECT_EQ(BinaryToString(bytes, cryptStringBase64 | cryptStringNoCrLf), oneLine);
  EXPECT_EQ(BinaryToString(bytes, 4), "");
}

TEST(Base64, DecodesPemStyleText) {
  const std::string pem =
      "-----BEGIN ACCOUNT RECORD-----\r\n"
      "Zm9v\r\n"
      "YmFy\r\n"
      "-----END ACCOUNT RECORD-----\r\n";
  EXPECT_EQ(Base64Decode(pem), "foobar");
  EXPECT_EQ(StringToBinary(pem, cryptStringBase64Any), "foobar");
  // The plain form does not accept the frame.
  EXPECT_EQ(StringToBinary(pem, cryptStringBase64), "");
  EXPECT_EQ(StringToBinary("Zm9vYmFy", cryptStringBase64), "foobar");
  // A begin line without an end line is not Base64.
  EXPECT_EQ(Base64Decode("-----BEGIN X-----\nZm9v\n"), "");
}

TEST(Base64, DecodingAcceptsLooseFormsAndRejectsOthers) {
  EXPECT_EQ(Base64Decode("Zm9v\nYmE"), "fooba");       // LF breaks, no padding
  EXPECT_EQ(Base64Decode(" Zm9v YmFy \t"), "foobar");  // blanks around and between
  EXPECT_EQ(Base64Decode("Zm9v!"), "");                // not an alphabet character
  EXPECT_EQ(Base64Decode("Zg=a"), "");                 // data after padding
  EXPECT_EQ(Base64Decode("Zm9vY"), "");                // a lone sixth of a byte
  EXPECT_EQ(Base64Decode("Zg==="), "");                // too much padding
  EXPECT_EQ(Base64Decode("Zm9v="), "");                // padding where none belongs
  EXPECT_EQ(StringToBinary("Zm9v", 4), "");            // unsupported format
}

}  // namespace
