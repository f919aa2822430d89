#include "AfSafeSync.h"

#include <QApplication>
#include <QCoreApplication>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QThread>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace AfSafeSync {
namespace {

struct TCall {
  bool done = false;
};

// Lives in the main thread; workers queue their calls to it.
class TSyncObject : public QObject {};

struct TSlot {
  bool enabled = false;
  TSyncMethod method;
  uint32_t id = 0;
};

struct TTable {
  std::mutex mutex;
  std::condition_variable changed;
  TSlot entries[kSlotCount];
  uint32_t nextId = 1;
  int postedPending = 0;
  std::unique_ptr<TSyncObject> object;
  TExceptionHandler handler;
};

TTable& Table() {
  static TTable table;
  return table;
}

// Index 0..63 of the slot with this ID, or -1. Caller holds the mutex.
int FindSlot(const TTable& t, uint32_t id) {
  if (id == 0) return -1;
  for (int i = 0; i < kSlotCount; ++i)
    if (t.entries[i].id == id && t.entries[i].method) return i;
  return -1;
}

bool SlotLive(const TTable& t, uint32_t id) {
  const int i = FindSlot(t, id);
  return t.object && i >= 0 && t.entries[i].enabled;
}

void DefaultHandler(std::exception_ptr error) {
  QString text = QStringLiteral("Unknown error");
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    text = QString::fromLocal8Bit(e.what());
  } catch (...) {
  }
  if (qobject_cast<QApplication*>(QCoreApplication::instance()))
    QMessageBox::critical(nullptr, QCoreApplication::applicationName(), text);
  else
    qWarning("%s", qPrintable(text));
}

void Handle(std::exception_ptr error) {
  TExceptionHandler handler;
  {
    std::lock_guard lock(Table().mutex);
    handler = Table().handler;
  }
  if (handler)
    handler(error);
  else
    DefaultHandler(error);
}

// Runs the slot's method if it is still there and enabled. Main thread.
void RunSlot(uint32_t id) {
  TSyncMethod method;
  int index;
  {
    std::lock_guard lock(Table().mutex);
    index = FindSlot(Table(), id);
    if (index < 0 || !Table().entries[index].enabled) return;
    method = Table().entries[index].method;
  }
  try {
    method(index + 1);
  } catch (...) {
    Handle(std::current_exception());
  }
}

void RunPosted(uint32_t id, const std::shared_ptr<TCall>& call) {
  RunSlot(id);
  {
    std::lock_guard lock(Table().mutex);
    call->done = true;
    --Table().postedPending;
  }
  Table().changed.notify_all();
}

}  // namespace

uint32_t RegisterSyncSlot(TSyncMethod method) {
  if (!method) return 0;
  TTable& t = Table();
  std::lock_guard lock(t.mutex);
  if (!t.object) t.object = std::make_unique<TSyncObject>();
  for (auto& slot : t.entries) {
    if (slot.method) continue;
    slot.method = std::move(method);
    slot.enabled = false;
    slot.id = t.nextId++;
    if (t.nextId == 0) t.nextId = 1;
    return slot.id;
  }
  return 0;
}

void UnregisterSyncSlot(uint32_t id) {
  TTable& t = Table();
  {
    std::lock_guard lock(t.mutex);
    const int i = FindSlot(t, id);
    if (i < 0) return;
    t.entries[i] = TSlot{};
  }
  t.changed.notify_all();
}

bool EnableSyncSlot(uint32_t id, bool enable) {
  TTable& t = Table();
  {
    std::lock_guard lock(t.mutex);
    const int i = FindSlot(t, id);
    if (i < 0) return false;
    t.entries[i].enabled = enable;
  }
  if (!enable) t.changed.notify_all();
  return true;
}

bool RunInMainThread(uint32_t id, int limitMs) {
  TTable& t = Table();
  std::unique_lock lock(t.mutex);
  if (!SlotLive(t, id)) return false;
  TSyncObject* object = t.object.get();
  if (object->thread() == QThread::currentThread()) {
    lock.unlock();
    RunSlot(id);
    lock.lock();
    return SlotLive(t, id);
  }
  auto call = std::make_shared<TCall>();
  ++t.postedPending;
  lock.unlock();
  QMetaObject::invokeMethod(object, [id, call] { RunPosted(id, call); }, Qt::QueuedConnection);
  lock.lock();
  t.changed.wait_for(lock, std::chrono::milliseconds(limitMs < 0 ? 0 : limitMs),
                     [&] { return call->done || !SlotLive(t, id); });
  return SlotLive(t, id);
}

int PostedCallsPending() {
  std::lock_guard lock(Table().mutex);
  return Table().postedPending;
}

void SetExceptionHandler(TExceptionHandler handler) {
  std::lock_guard lock(Table().mutex);
  Table().handler = std::move(handler);
}

void HandleException(std::exception_ptr error) { Handle(std::move(error)); }

void ShowException(std::exception_ptr error) {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app) return;
  QMetaObject::invokeMethod(app, [error] { Handle(error); }, Qt::QueuedConnection);
}

}  // namespace AfSafeSync
