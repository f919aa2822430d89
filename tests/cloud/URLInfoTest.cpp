#include "cloud/MyInternet.h"

#include <gtest/gtest.h>

namespace {

struct UrlCase {
  const char* what;
  const char* url;
  TURLInfo expected;
};

// Field order: User, Password, Host, Path, Document, Query, Fragment, Port, Secure.
const UrlCase kUrlCases[] = {
    {"no path at all", "https://host", {"", "", "host", "/", "", "", "", 443, true}},
    {"every part", "https://host:8443/a/b/c.txt?x=1#top", {"", "", "host", "/a/b/", "c.txt", "x=1", "top", 8443, true}},
    {"directory only", "https://host/a/b/", {"", "", "host", "/a/b/", "", "", "", 443, true}},
    {"user and password", "https://u:p@host/", {"u", "p", "host", "/", "", "", "", 443, true}},
    {"plain http", "http://host/doc", {"", "", "host", "/", "doc", "", "", 80, false}},
    {"port without a path", "http://host:81", {"", "", "host", "/", "", "", "", 81, false}},
    {"user without a password", "https://u@host/x", {"u", "", "host", "/", "x", "", "", 443, true}},
    {"password holding a colon", "https://u:p:q@host/", {"u", "p:q", "host", "/", "", "", "", 443, true}},
    {"fragment without a query", "https://host/a/b#frag", {"", "", "host", "/a/", "b", "", "frag", 443, true}},
    {"query without a path: the authority runs to the first slash",
     "https://host?x=1",
     {"", "", "host?x=1", "/", "", "", "", 443, true}},
    {"query right after the root", "https://host/?x=1", {"", "", "host", "/", "", "x=1", "", 443, true}},
    {"hash before the question mark belongs to the path",
     "https://host/a#b?c",
     {"", "", "host", "/", "a#b", "c", "", 443, true}},
    {"port that is not a number", "https://host:8x/", {"", "", "host", "/", "", "", "", 0, true}},
    {"empty port keeps the scheme's", "https://host:/", {"", "", "host", "/", "", "", "", 443, true}},
    {"port beyond 32 bits", "https://host:99999999999/", {"", "", "host", "/", "", "", "", 0, true}},
    {"scheme prefix is case-sensitive", "HTTPS://host/x", {"", "", "HTTPS", "//host/", "x", "", "", 0, false}},
    {"no scheme", "host:8080/p/q", {"", "", "host", "/p/", "q", "", "", 8080, false}},
    {"empty text", "", {"", "", "", "/", "", "", "", 0, false}},
    {"double slash gives an empty segment", "https://host//x", {"", "", "host", "//", "x", "", "", 443, true}},
};

TEST(URLInfo, ParsesEachPart) {
  for (const UrlCase& c : kUrlCases) {
    SCOPED_TRACE(c.what);
    const TURLInfo got = ParseURL(c.url);
    EXPECT_EQ(got.User, c.expected.User);
    EXPECT_EQ(got.Password, c.expected.Password);
    EXPECT_EQ(got.Host, c.expected.Host);
    EXPECT_EQ(got.Path, c.expected.Path);
    EXPECT_EQ(got.Document, c.expected.Document);
    EXPECT_EQ(got.Query, c.expected.Query);
    EXPECT_EQ(got.Fragment, c.expected.Fragment);
    EXPECT_EQ(got.Port, c.expected.Port);
    EXPECT_EQ(got.Secure, c.expected.Secure);
  }
}

TEST(URLInfo, VerbCodesWrapAt128AndUnknownOnesAreGet) {
  const std::pair<int, const char*> cases[] = {
      {0, "GET"}, {1, "POST"},  {2, "HEAD"},   {3, "PUT"},   {4, "DELETE"}, {5, "PATCH"},
      {6, "GET"}, {127, "GET"}, {129, "POST"}, {131, "PUT"}, {255, "GET"},
  };
  for (const auto& [code, text] : cases) EXPECT_STREQ(WebVerbText(static_cast<std::uint8_t>(code)), text) << code;
}

}  // namespace
