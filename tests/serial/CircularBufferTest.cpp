#include "serial/AfCircularBuffer.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Take(TAfCircularBuffer& ring) {
  std::string out;
  while (ring.Used() > 0) {
    const size_t n = ring.ContiguousUsed();
    out.append(reinterpret_cast<const char*>(ring.ReadPointer()), n);
    ring.Discard(n);
  }
  return out;
}

}  // namespace

TEST(CircularBuffer, AppendOfExactlyTheFreeRoomFillsAndOneMoreIsRefused) {
  TAfCircularBuffer ring(8);
  ASSERT_TRUE(ring.Append("abc", 3));
  ASSERT_TRUE(ring.Append("defgh", 5));
  EXPECT_TRUE(ring.IsFull());
  EXPECT_EQ(ring.Used(), 8u);
  EXPECT_EQ(ring.Free(), 0u);
  EXPECT_EQ(ring.ContiguousUsed(), 8u);  // full with read at 0: the whole block

  TAfCircularBuffer partly(8);
  ASSERT_TRUE(partly.Append("abcde", 5));
  EXPECT_FALSE(partly.Append("1234", 4));  // one byte more than free: refused whole
  EXPECT_EQ(partly.Used(), 5u);
  EXPECT_EQ(Take(partly), "abcde");
}

TEST(CircularBuffer, ZeroLengthAppendIsRefused) {
  TAfCircularBuffer ring(4);
  EXPECT_FALSE(ring.Append("x", 0));
  EXPECT_EQ(ring.Used(), 0u);
  EXPECT_FALSE(ring.IsFull());
}

TEST(CircularBuffer, WrappedDataIsReadInTwoPiecesInOrder) {
  TAfCircularBuffer ring(10);
  ASSERT_TRUE(ring.Append("0123456", 7));
  ASSERT_TRUE(ring.Discard(7));
  ASSERT_TRUE(ring.Append("abcdefgh", 8));  // 3 bytes to the end, 5 from the start
  EXPECT_EQ(ring.Used(), 8u);
  EXPECT_EQ(ring.ContiguousUsed(), 3u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(ring.ReadPointer()), 3), "abc");
  ASSERT_TRUE(ring.Discard(3));
  EXPECT_EQ(ring.ContiguousUsed(), 5u);
  EXPECT_EQ(Take(ring), "defgh");
}

TEST(CircularBuffer, FullAfterWrapHasTheTailAsContiguousPart) {
  TAfCircularBuffer ring(6);
  ASSERT_TRUE(ring.Append("xxxx", 4));
  ASSERT_TRUE(ring.Discard(4));
  ASSERT_TRUE(ring.Append("ABCDEF", 6));  // read = write = 4, full
  EXPECT_TRUE(ring.IsFull());
  EXPECT_EQ(ring.ContiguousUsed(), 2u);
  EXPECT_EQ(Take(ring), "ABCDEF");
  EXPECT_FALSE(ring.IsFull());
}

TEST(CircularBuffer, DiscardBeyondUsedChangesNothingAndZeroKeepsFull) {
  TAfCircularBuffer ring(4);
  ASSERT_TRUE(ring.Append("ab", 2));
  EXPECT_FALSE(ring.Discard(3));
  EXPECT_EQ(ring.Used(), 2u);

  ASSERT_TRUE(ring.Append("cd", 2));
  ASSERT_TRUE(ring.IsFull());
  EXPECT_TRUE(ring.Discard(0));  // a zero discard must not turn "full" into "empty"
  EXPECT_TRUE(ring.IsFull());
  EXPECT_EQ(ring.Used(), 4u);
}

TEST(CircularBuffer, ResetEmptiesAFullRing) {
  TAfCircularBuffer ring(3);
  ASSERT_TRUE(ring.Append("abc", 3));
  ring.Reset();
  EXPECT_EQ(ring.Used(), 0u);
  EXPECT_EQ(ring.Free(), 3u);
  EXPECT_TRUE(ring.Append("xyz", 3));
  EXPECT_EQ(Take(ring), "xyz");
}

TEST(CircularBuffer, ZeroSizeRingRefusesEverythingWithoutFaulting) {
  TAfCircularBuffer ring(0);
  EXPECT_FALSE(ring.Append("a", 1));
  EXPECT_TRUE(ring.Discard(0));
  EXPECT_EQ(ring.Used(), 0u);
}
