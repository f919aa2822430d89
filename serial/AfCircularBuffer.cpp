#include "AfCircularBuffer.h"

#include <cstring>

TAfCircularBuffer::TAfCircularBuffer(size_t size) : m_data(std::make_unique<uint8_t[]>(size)), m_size(size) {}

size_t TAfCircularBuffer::Used() const {
  if (m_full) return m_size;
  return m_write >= m_read ? m_write - m_read : m_write + m_size - m_read;
}

bool TAfCircularBuffer::Append(const void* data, size_t count) {
  if (count < 1 || count > Free()) return false;
  const auto* bytes = static_cast<const uint8_t*>(data);
  const size_t first = count < m_size - m_write ? count : m_size - m_write;
  std::memcpy(m_data.get() + m_write, bytes, first);
  if (count > first) std::memcpy(m_data.get(), bytes + first, count - first);
  m_write = (m_write + count) % m_size;
  m_full = m_read == m_write;
  return true;
}

bool TAfCircularBuffer::Discard(size_t count) {
  if (Used() < count) return false;
  if (count == 0) return true;  // also keeps a zero-size ring away from "% 0"
  m_read = (m_read + count) % m_size;
  m_full = false;
  return true;
}

size_t TAfCircularBuffer::ContiguousUsed() const {
  if (m_full) return m_size - m_read;
  return m_write >= m_read ? m_write - m_read : m_size - m_read;
}

void TAfCircularBuffer::Reset() {
  m_read = 0;
  m_write = 0;
  m_full = false;
}
