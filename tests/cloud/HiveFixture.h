#pragma once
// A settings hive file of its own per test, removed afterwards; tests read the
// file back through a second store rather than trusting the writer's memory.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "support/MyRegIniExtended.h"

struct HiveFixture : ::testing::Test {
  void SetUp() override {
    std::string pattern = ::testing::TempDir() + "cloud_hive_XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    folder = pattern;
    file = folder + "/settings.reg";
  }
  void TearDown() override { std::system(("rm -rf '" + folder + "'").c_str()); }
  TRegIniExtended Store() const { return TRegIniExtended(TRegIniExtended::kDefaultKey, file); }
  std::string FileText() const {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

  std::string folder;
  std::string file;
};
