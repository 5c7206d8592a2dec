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
// the name has at most 16 characters; null also when the objects cannot be
// made (a name holding '/', 64 users of one name at once). Creating a name
// that exists opens it with its count as it stands.
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

// The steps of making one: its event, whose byte lock over joining and
// leaving the name is held from here until the section is joined, then its
// section, which joins it as one of its users. In open mode both must exist;
// in create mode an existing section keeps its count.
bool init_shared_semaphore(SharedSemaphore* semaphore, int initial, int maximum, const char* name, bool open);
bool open_semaphore_event(SharedSemaphore* semaphore, const char* name, bool open);
bool open_semaphore_section(SharedSemaphore* semaphore, int initial, int maximum, const char* name, bool open);
// The spin lock over the section's words. A lock left held by a process that
// ended is taken over.
void lock_semaphore_section(SharedSemaphore* semaphore);
void unlock_semaphore_section(SharedSemaphore* semaphore);
