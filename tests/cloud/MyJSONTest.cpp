#include "cloud/MyJSON.h"

#include <gtest/gtest.h>

namespace {

using Texts = std::vector<std::string>;

struct DocumentCase {
  const char* what;
  const char* json;
  std::uint8_t kind;
  std::int32_t endPos;
  Texts names;
  Texts values;
};

const DocumentCase kDocuments[] = {
    {"object", R"({"a":1,"b":"x"})", jkObject, 0, {"a", "b"}, {"1", "\"x\""}},
    {"array", "[1,2,3]", jkArray, 0, {}, {"1", "2", "3"}},
    {"nested values stay text", R"({"a":{"b":[1,2]}})", jkObject, 0, {"a"}, {R"({"b":[1,2]})"}},
    {"blanks outside strings go, inside stay",
     "{ \"a b\" :\t1 ,\r\n\"c\": \" x \" }",
     jkObject,
     0,
     {"a b", "c"},
     {"1", "\" x \""}},
    {"value without a name", R"({"a",1})", jkNone, 5, {}, {}},
    {"text after the closing bracket", R"({"a":1}x)", jkObject, 7, {"a"}, {"1"}},
    {"closing bracket missing: last value never stored", R"({"a":1)", jkNone, 7, {}, {}},
    {"unterminated after a name", R"({"a":1,"b")", jkObject, 11, {"a"}, {"1"}},
    {"bare value", "5", jkNone, 1, {}, {}},
    {"empty text", "", jkNone, 0, {}, {}},
    {"blank text", " \r\n", jkNone, 0, {}, {}},
    {"empty object", "{}", jkObject, 0, {}, {}},
    {"empty array", "[ ]", jkArray, 0, {}, {}},
    {"empty element is skipped", "[1,,2]", jkArray, 0, {}, {"1", "2"}},
    {"array with a name", R"(["a":1])", jkNone, 0, {}, {}},
    {"brackets are not matched by kind", R"({"a":[1}})", jkObject, 0, {"a"}, {"[1}"}},
    {"escaped quote does not end the string", R"({"a":"x\",}y"})", jkObject, 0, {"a"}, {R"("x\",}y")"}},
    {"escaped name is unescaped", R"({"a\"b\n":true})", jkObject, 0, {"a\"b\n"}, {"true"}},
    {"brackets inside strings do not nest", R"({"a":"[{","b":2})", jkObject, 0, {"a", "b"}, {R"("[{")", "2"}},
    {"duplicates kept in order", R"({"a":1,"A":2})", jkObject, 0, {"a", "A"}, {"1", "2"}},
};

TEST(MyJSON, SplitsTheFirstLevel) {
  for (const DocumentCase& c : kDocuments) {
    SCOPED_TRACE(c.what);
    const TMyJSON json(c.json);
    EXPECT_EQ(json.Kind, c.kind);
    EXPECT_EQ(json.EndPos, c.endPos);
    EXPECT_EQ(json.Names, c.names);
    EXPECT_EQ(json.Values, c.values);
    EXPECT_EQ(json.Count(), static_cast<int>(c.values.size()));
  }
}

TEST(MyJSON, LookupsByNameAndIndex) {
  const TMyJSON object(R"({"a":1,"Name":"x","a":2})");
  EXPECT_EQ(object.IndexOf("A"), 2);  // case-insensitive, the last duplicate
  EXPECT_EQ(object.IndexOf("name"), 1);
  EXPECT_EQ(object.IndexOf("missing"), -1);
  EXPECT_EQ(object.RawValue("a"), "2");
  EXPECT_EQ(object.RawValue(0), "1");
  EXPECT_EQ(object.RawValue(3), "");
  EXPECT_EQ(object.RawValue(-1), "");
  EXPECT_EQ(object.NameAt(1), "Name");
  EXPECT_EQ(object.NameAt(3), "");
  EXPECT_EQ(object.RawValue(Variant(std::int64_t{1})), "\"x\"");
  EXPECT_EQ(object.RawValue(Variant("NAME")), "\"x\"");
  EXPECT_EQ(object.RawValue(Variant(1.0)), "");  // neither an index nor a name
  EXPECT_EQ(object.RawValue(Variant(std::int64_t{1} << 32)), "");

  const TMyJSON array(R"(["p","q"])");
  EXPECT_EQ(array.IndexOf("p"), -1);
  EXPECT_EQ(array.NameAt(0), "");
  EXPECT_EQ(array.RawValue(1), "\"q\"");

  const TMyJSON broken(R"({"a",1})");
  EXPECT_EQ(broken.RawValue(0), "");
  EXPECT_TRUE(broken.Value("a").IsNull());
}

TEST(MyJSON, TypedValues) {
  struct Case {
    const char* raw;
    Variant expected;
    const char* text;
  };
  const Case cases[] = {
      {"", Variant(), ""},
      {"null", Variant(), ""},
      {"NULL", Variant(), ""},
      {"true", Variant(true), "True"},
      {"False", Variant(false), "False"},
      {"42", Variant(std::int32_t{42}), "42"},
      {"-5", Variant("-5"), "-5"},  // signed numbers stay text
      {"1.5", Variant("1.5"), "1.5"},
      {"\"x\\ty\"", Variant(u"x\ty"), "x\ty"},
      {"\"\\u00e9\"", Variant(u"\u00e9"), "\xC3\xA9"},  // é as one code unit
      {"\"caf\xC3\xA9\"", Variant(u"caf\u00e9"), "caf\xC3\xA9"},
      {"\"\\uzz12\"", Variant(std::u16string(1, u'\0')), ""},
      {"{\"b\":1}", Variant("{\"b\":1}"), "{\"b\":1}"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.raw);
    const Variant value = JSONTypedValue(c.raw);
    EXPECT_EQ(value, c.expected);
    if (*c.text) {
      EXPECT_EQ(value.ToString(), c.text);
    }
  }
  EXPECT_EQ(JSONGetText(R"({"data":{"x":[1]},"ok":true})", "DATA"), R"({"x":[1]})");
  EXPECT_EQ(JSONGetText(R"({"ok":true})", "ok"), "True");
  EXPECT_EQ(JSONGetText("not json", "ok"), "");
}

TEST(MyJSON, Unquoting) {
  const std::pair<const char*, const char*> narrow[] = {
      {R"("abc")", "abc"},
      {R"("a)", "\"a"},  // only a pair of quotes is removed
      {R"(")", "\""},
      {R"("a\"b\\c\/d")", "a\"b\\c/d"},
      {R"(\b\f\n\r\t)", "\b\f\n\r\t"},
      {R"("\u0041")", "u0041"},  // u escapes stay text here
      {R"(x\)", "x\\"},          // a final backslash escapes nothing
  };
  for (const auto& [in, out] : narrow) EXPECT_EQ(JSONUnquote(in), out) << in;

  EXPECT_EQ(JSONUnquoteWide(R"("\u0041\u00E9\n")"), u"A\u00e9\n");
  EXPECT_EQ(JSONUnquoteWide(R"("\ud83d\ude00")"), u"\U0001F600");     // a surrogate pair
  EXPECT_EQ(JSONUnquoteWide(R"("\u12")"), std::u16string(1, u'\0'));  // too short
  EXPECT_EQ(JSONUnquoteWide("\"\xE9t\xE9\""), u"\u00e9t\u00e9");      // not UTF-8: byte by byte
  EXPECT_EQ(JSONCompact("{ \"a b\" : [ 1 , \"\\\" x\" ] }"), "{\"a b\":[1,\"\\\" x\"]}");
}

}  // namespace
