#include "support/MyProtoBuf.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <limits>
#include <unistd.h>

namespace {

std::string Bytes(std::initializer_list<unsigned> values) {
  std::string out;
  for (unsigned v : values) out += static_cast<char>(v);
  return out;
}

TEST(Varint, Encoding) {
  EXPECT_EQ(EncodeVarint(false, 0), Bytes({0}));
  EXPECT_EQ(EncodeVarint(false, 300), Bytes({0xAC, 0x02}));
  EXPECT_EQ(EncodeVarint(false, -5), Bytes({0}));  // negative without zigzag is 0
  EXPECT_EQ(EncodeVarint(true, -1), Bytes({0x01}));
  EXPECT_EQ(EncodeVarint(true, 1), Bytes({0x02}));
  EXPECT_EQ(EncodeVarint(false, std::numeric_limits<std::int64_t>::max()).size(), 9u);
}

TEST(Varint, ZigZagMapsBothWays) {
  const std::int64_t values[] = {0, -1, 1, -2, 2147483647, -2147483648LL,
                                 std::numeric_limits<std::int64_t>::max(),
                                 std::numeric_limits<std::int64_t>::min()};
  for (std::int64_t v : values) EXPECT_EQ(ZigZagDecode(ZigZagEncode(v)), v) << v;
  EXPECT_EQ(ZigZagEncode(-3), 5);
  EXPECT_EQ(ZigZagEncode(3), 6);
}

TEST(Varint, ReadingConsumesAndLimitsLength) {
  std::string data = Bytes({0xAC, 0x02, 0x07});
  std::int64_t value = -1;
  ASSERT_TRUE(ReadVarint(data, value));
  EXPECT_EQ(value, 300);
  EXPECT_EQ(data, Bytes({0x07}));

  // Truncated: consumed, value untouched.
  data = Bytes({0x80, 0x80});
  value = 42;
  EXPECT_FALSE(ReadVarint(data, value));
  EXPECT_EQ(value, 42);
  EXPECT_TRUE(data.empty());

  // Nine bytes carry 63 bits; a tenth byte fails even when it ends the varint.
  std::string nine = EncodeVarint(false, std::numeric_limits<std::int64_t>::max());
  ASSERT_TRUE(ReadVarint(nine, value));
  EXPECT_EQ(value, std::numeric_limits<std::int64_t>::max());
  std::string ten(9, '\x80');
  ten += '\x01';
  EXPECT_FALSE(ReadVarint(ten, value));
  std::string eleven(11, '\x80');
  EXPECT_FALSE(ReadVarint(eleven, value));
  EXPECT_EQ(eleven.size(), 1u);  // stops after ten bytes
}

TEST(Encode, KeysAndBytesFields) {
  EXPECT_EQ(EncodeBytesField(2, "abc"), Bytes({0x12, 0x03, 'a', 'b', 'c'}));
  EXPECT_EQ(EncodeKey(1, 5), Bytes({0x0D}));
  EXPECT_EQ(EncodeKey(1, 7), Bytes({0x08}));  // an invalid wire type is written as 0
  EXPECT_EQ(EncodeKey(16, 0), Bytes({0x80, 0x01}));
}

// The stored cloud account record: a random salt and five texts.
TEST(Message, AccountRecordRoundTrip) {
  const std::string salt("\x00\x01|\xFF\x10\x11\x12\x13\x14\x15\x16\x17\x18\x19\x1A\x1B", 16);
  const std::string key("k\0|y", 4);
  const std::string message = EncodeBytesField(1, salt) + EncodeBytesField(2, "acct-7") +
                              EncodeBytesField(3, "Field team") + EncodeBytesField(4, key) +
                              EncodeBytesField(5, "") + EncodeBytesField(6, "api.example");
  TProtocolBuffer buffer(message);
  ASSERT_TRUE(buffer.Valid());
  EXPECT_EQ(buffer.Count(), 6);
  EXPECT_EQ(buffer.GetValue(1).ToString(), salt);
  EXPECT_EQ(buffer.GetValue(2).ToString(), "acct-7");
  EXPECT_EQ(buffer.GetValue(3).ToString(), "Field team");
  EXPECT_EQ(buffer.GetValue(4).ToString(), key);  // zero bytes and bars survive
  EXPECT_EQ(buffer.GetValue(5), Variant(""));
  EXPECT_TRUE(buffer.GetValue(7).IsNull());
  EXPECT_EQ(buffer.Entry(1), std::string("18|acct-7"));
  EXPECT_EQ(buffer.Entry(6), "");
  EXPECT_EQ(buffer.Entry(-1), "");
}

TEST(Message, FirstOccurrenceWins) {
  TProtocolBuffer buffer(EncodeBytesField(3, "first") + EncodeBytesField(3, "second"));
  EXPECT_EQ(buffer.GetValue(3).ToString(), "first");
}

TEST(Message, ValuesByWireTypeWithoutSchema) {
  double d = 2.5;
  float f = -1.25f;
  std::string fixed64(8, '\0'), fixed32(4, '\0');
  std::memcpy(fixed64.data(), &d, 8);  // the test machine is little-endian like the format
  std::memcpy(fixed32.data(), &f, 4);
  const std::string message = EncodeKey(1, 0) + EncodeVarint(false, 150) + EncodeKey(2, 1) +
                              fixed64 + EncodeKey(3, 5) + fixed32 + EncodeKey(4, 3) +
                              EncodeVarint(false, 9);
  TProtocolBuffer buffer(message);
  ASSERT_TRUE(buffer.Valid());
  EXPECT_EQ(buffer.GetValue(1), Variant(150LL));
  EXPECT_EQ(buffer.GetValue(2), Variant(2.5));
  EXPECT_EQ(buffer.GetValue(3), Variant(-1.25f));
  EXPECT_EQ(buffer.GetValue(4), Variant("-9"));

  TProtocolBufferField field;
  ASSERT_TRUE(buffer.GetField(1, field));
  EXPECT_EQ(field.FieldNumber, 2);
  EXPECT_EQ(field.Name, "2");
  EXPECT_EQ(field.TypeName, "DOUBLE");
  EXPECT_EQ(field.WireType, 1);
  EXPECT_EQ(field.Data, fixed64);
  ASSERT_TRUE(buffer.GetField(0, field));
  EXPECT_EQ(field.TypeName, "INT32");
  EXPECT_FALSE(buffer.GetField(9, field));
  EXPECT_EQ(field.TypeName, "INVALID");
  EXPECT_EQ(field.WireType, kWireTypeInvalid);
  EXPECT_TRUE(field.Value.IsNull());
}

TEST(Message, MalformedMessagesKeepNothing) {
  const std::string good = EncodeBytesField(1, "ok");
  const std::string cases[] = {
      good + Bytes({0x12, 0x05, 'a'}),          // length beyond the end
      good + Bytes({0x08, 0x80}),               // truncated varint value
      good + Bytes({0x80}),                     // truncated key
      good + Bytes({0x09, 1, 2, 3}),            // short fixed 64
      good + Bytes({0x0D, 1, 2}),               // short fixed 32
      good + Bytes({0x0C}),                     // wire type 4
      good + Bytes({0x0E}),                     // wire type 6
      good + Bytes({0x0F}),                     // wire type 7
      good + Bytes({0x08}) + std::string(9, '\x80') + Bytes({0x01}),  // 10-byte varint
      good + Bytes({0x12, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F}),  // huge length
      // Field numbers the 32-bit field cannot hold: the first is one past the largest,
      // the second would alias field 1 if it were cut to 32 bits.
      good + EncodeVarint(false, (std::int64_t{1} << 29) * 8 + 2) + Bytes({0x01, 'x'}),
      good + EncodeVarint(false, ((std::int64_t{1} << 32) + 1) * 8 + 2) + Bytes({0x01, 'x'}),
  };
  for (const auto &bytes : cases) {
    TProtocolBuffer buffer(bytes);
    EXPECT_FALSE(buffer.Valid());
    EXPECT_EQ(buffer.Count(), 0);
    EXPECT_TRUE(buffer.GetValue(1).IsNull());
  }
  TProtocolBuffer buffer(good);
  EXPECT_TRUE(buffer.Valid());
  const std::int32_t largest = (1 << 29) - 1;
  EXPECT_TRUE(buffer.Parse(EncodeBytesField(largest, "z")));
  EXPECT_EQ(buffer.GetValue(largest).ToString(), "z");
  EXPECT_TRUE(buffer.Parse(""));  // empty message is valid and empty
  EXPECT_EQ(buffer.Count(), 0);
}

const char *const kSchema =
    "syntax = \"proto2\";\r\n"
    "message Account {   // a cloud account\n"
    "\toptional string accountId=1; // owner  ID \r"
    "  required   sint64 delta = 2;\n"
    "  repeated bool flags = 3 [packed=true];\n"
    "  fixed32 mask = 4;\n"
    "  optional double ratio = 0;\n"
    "  enum Kind { A = 1; }\n"
    "  optional string late = 5;\n"
    "}\n"
    "message Empty { optional int32 x = 1; }\n"
    "message Tight{\n"
    "  optional int32 y = 1;\n"
    "}\n"
    "optional int32 outside = 9;\n";

TEST(Schema, ParsesFieldLines) {
  TProtocolBufferDefs defs;
  defs.ParseSchema(kSchema);
  EXPECT_EQ(defs.Messages(), (std::vector<std::string>{"Account", "Empty", "Tight"}));
  // The enum's closing brace ends the message, so "late" is not a field of it.
  EXPECT_EQ(defs.Fields(), (std::vector<std::string>{
                               "ACCOUNT|1|OPTIONAL|STRING|accountId|owner ID",
                               "ACCOUNT|2|REQUIRED|SINT64|delta|",
                               "ACCOUNT|3|REPEATED|BOOL|flags|",
                               "ACCOUNT|4|REQUIRED|FIXED32|mask|",
                               "TIGHT|1|OPTIONAL|INT32|y|",
                           }));
}

TEST(Schema, GuidesDecodingOfItsMessage) {
  const std::string message = EncodeBytesField(1, "a") + EncodeKey(2, 0) +
                              EncodeVarint(true, -3) + EncodeKey(3, 0) + EncodeVarint(false, 2) +
                              EncodeKey(4, 5) + Bytes({0x01, 0x02, 0x03, 0x04});
  TProtocolBuffer buffer(message);
  buffer.Defs().ParseSchema(kSchema);
  EXPECT_EQ(buffer.GetValue(2), Variant(5LL));  // no message name: no definition applies
  buffer.SetMessageName("account");
  EXPECT_EQ(buffer.GetValue(2), Variant(-3LL));
  EXPECT_EQ(buffer.GetValue(3), Variant(true));
  EXPECT_EQ(buffer.GetValue(4), Variant(0x01020304LL));  // stored order, first byte highest
  TProtocolBufferField field;
  ASSERT_TRUE(buffer.GetField(0, field));
  EXPECT_EQ(field.Name, "accountId");
  EXPECT_EQ(field.Comment, "owner ID");
  EXPECT_EQ(field.Rule, pbrOptional);
}

TEST(Schema, MissingFileLeavesListsAlone) {
  const std::string path = ::testing::TempDir() + "schema_" + std::to_string(getpid()) + ".proto";
  std::ofstream(path) << kSchema;
  TProtocolBufferDefs defs(path);
  EXPECT_EQ(defs.Fields().size(), 5u);
  defs.LoadFromFile("/nonexistent/x.proto");
  EXPECT_EQ(defs.Fields().size(), 5u);
  std::remove(path.c_str());
}

} // namespace
