#pragma once
// The main-thread call-in facility: a worker thread asks for a registered
// method to run in the main thread and waits for it, up to a time limit.
//
// A process-wide table of 64 slots (index 1..64), each with a method, an ID
// and an enabled flag, under one mutex. The first RegisterSyncSlot creates a
// hidden QObject in the calling thread (the main thread, where components are
// made); RunInMainThread posts an event to it and waits on a condition
// variable until the method has run, the slot is disabled or unregistered, or
// the limit has passed.
//
// Never deadlocks:
//  - called from the main thread itself, the method runs at once;
//  - disabling or unregistering a slot wakes every worker waiting on it with
//    false, so a main thread that disables the slot and then joins the worker
//    (closing a port) is never waited for.
//
// An exception from a method run by the posted event goes to the exception
// handler (SetExceptionHandler); the default shows it in a message box when a
// QApplication runs, else writes it as a warning.
//
// Thread: any thread; RegisterSyncSlot first from the main thread.

#include <cstdint>
#include <exception>
#include <functional>

namespace AfSafeSync {

using TSyncMethod = std::function<void(int slotIndex)>;
using TExceptionHandler = std::function<void(std::exception_ptr)>;

constexpr int kSlotCount = 64;

// 0 when all slots are taken. The new slot is disabled.
uint32_t RegisterSyncSlot(TSyncMethod method);
void UnregisterSyncSlot(uint32_t id);
// Sets the enabled flag of a slot with a method; returns whether it did.
bool EnableSyncSlot(uint32_t id, bool enable);
// False when the slot is missing, without method or disabled, before or after
// the call. A call that only timed out still gives true.
bool RunInMainThread(uint32_t id, int limitMs);
// Calls posted to the main thread that have not been run (or dropped) there yet,
// also those whose worker stopped waiting; for tests.
int PostedCallsPending();

// Replaces the handler for exceptions from methods run in the main thread;
// nullptr restores the default.
void SetExceptionHandler(TExceptionHandler handler);
// Hands an exception to the handler in the main thread (queued); any thread.
void ShowException(std::exception_ptr error);
// Hands an exception to the handler now; main thread.
void HandleException(std::exception_ptr error);

}  // namespace AfSafeSync
