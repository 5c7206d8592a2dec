// Counting semaphores, optionally named. A named semaphore is shared by every
// process of this user that creates or opens the same name: the program uses
// two, "sound" and "disp", each with count 1 and maximum 1, as mutexes that a
// second running copy shares. Units taken through a handle whose process
// ended without closing it (a crash, a kill) are given back to the others, as
// a mutex's holder that is gone must let the others on. An unnamed semaphore
// stays within its process.
#pragma once

#include <cstdint>

struct SharedSemaphore;

enum { SHARED_SEMAPHORE_NAME_MAX = 16, SHARED_SEMAPHORE_INFINITE = 0xFFFFFFFFu };
// The last error when a name already has 64 users, the most it serves.
enum : uint32_t { SHARED_SEMAPHORE_ERROR_FULL = 100 };

// A named semaphore is two objects in /dev/shm, "QMX_MSECT_EVT_<name>.<scope>"
// (its wake-up word) and "QMX_MSECT_MMF_<name>.<scope>" (its count), removed
// when its last user closes it; left by a last user that ended without
// closing, they are taken up by the next one, and objects of another layout
// that no one uses are made anew. Making or opening a name never fails
// because other processes make and close it at the same time. The scope is
// the user id unless set here (tests set one of their own, so that their runs
// never meet the program's or each other's); a semaphore keeps the names it
// was made with.
void shared_semaphore_set_scope(const char* scope);

// Null with last error 87 unless maximum >= 1, 0 <= initial <= maximum and
// the name has at most 16 characters; null with last error 100 when the name
// has 64 users already; null also when the objects cannot be made (a name
// holding '/', no memory to map them). Creating a name that exists opens it
// with its count as it stands. A failure never removes a name others use.
SharedSemaphore* create_shared_semaphore(int initial, int maximum, const char* name);
// Opens an existing named semaphore; null when there is none.
SharedSemaphore* open_shared_semaphore(const char* name);
// 0 when a unit was taken, 258 when the time-out passed first.
uint32_t wait_shared_semaphore(SharedSemaphore* semaphore, uint32_t timeout_ms);
// 1 on success; 0 with last error 87 when n < 0 or the count would pass the
// maximum (nothing changes then). The count before is reported either way.
int release_shared_semaphore(SharedSemaphore* semaphore, int n, int* previous);
// Closing gives nothing back: units taken through the handle stay taken.
void close_shared_semaphore(SharedSemaphore* semaphore);

// For an end of the process that cannot shut down in order (a fatal error, a
// lost display): leaves every name this process has joined, removing the
// names no other process uses (one that is ending too uses none), so that
// nothing is left in /dev/shm, however many processes end at once. The
// handles stay usable by threads still running until the process ends, and
// units they hold are given back as for any process that ends. Waits for
// joins and closes under way; one begun after this waits for the end.
void shared_semaphore_leave_all();

// The steps of making one: its event, whose byte lock over joining and
// leaving the name is held from here until the section is joined, then its
// section, which joins it as one of its users. In open mode both must exist;
// in create mode an existing section keeps its count.
bool init_shared_semaphore(SharedSemaphore* semaphore, int initial, int maximum, const char* name, bool open);
bool open_semaphore_event(SharedSemaphore* semaphore, const char* name, bool open);
bool open_semaphore_section(SharedSemaphore* semaphore, int initial, int maximum, const char* name, bool open);

// Points of joining and leaving a name, reported to a hook that tests set to
// hold a process at one of them while another acts; nothing else sets it.
enum SharedSemaphoreStep : uint32_t {
  SHARED_SEMAPHORE_STEP_GATE,       // the gate is about to be taken
  SHARED_SEMAPHORE_STEP_GATE_BUSY,  // another holds the gate: it is waited for
  SHARED_SEMAPHORE_STEP_SLOT,       // a joiner holds the section and is about to take its slot
  SHARED_SEMAPHORE_STEP_UNLINK,     // the last user is about to remove the names
};
using SharedSemaphoreStepHook = void (*)(SharedSemaphoreStep step);
void shared_semaphore_set_step_hook(SharedSemaphoreStepHook hook);

// The spin lock over the section's words. A lock left held by a process that
// ended is taken over.
void lock_semaphore_section(SharedSemaphore* semaphore);
void unlock_semaphore_section(SharedSemaphore* semaphore);
