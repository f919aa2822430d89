#pragma once
// TAfCircularBuffer: the fixed-size byte ring that holds output waiting for the
// write thread. Empty and full both have read == write; the full flag tells
// them apart.
//
// Thread: not synchronised; the owner serialises every call (the core's write lock).

#include <cstddef>
#include <cstdint>
#include <memory>

class TAfCircularBuffer {
 public:
  explicit TAfCircularBuffer(size_t size);

  size_t Size() const { return m_size; }
  size_t Used() const;
  size_t Free() const { return m_size - Used(); }
  bool IsFull() const { return m_full; }

  // Copies count bytes in, in at most two pieces (to the end, then from the
  // start). False, and nothing changes, when count < 1 or count > Free().
  bool Append(const void* data, size_t count);
  // Drops count bytes from the read side. False, and nothing changes, when
  // fewer than count bytes are used.
  bool Discard(size_t count);
  // Bytes readable at ReadPointer() without wrapping.
  size_t ContiguousUsed() const;
  const uint8_t* ReadPointer() const { return m_data.get() + m_read; }
  void Reset();

 private:
  std::unique_ptr<uint8_t[]> m_data;
  size_t m_size;
  size_t m_read = 0;
  size_t m_write = 0;
  bool m_full = false;
};
