// Counting semaphores, optionally named. A named semaphore is shared by
// every user in this process that opens the same name; the program uses two,
// "sound" and "disp", each with count 1 and maximum 1, as mutexes.
#pragma once

#include <cstdint>

struct SharedSemaphore;

enum { SHARED_SEMAPHORE_NAME_MAX = 16, SHARED_SEMAPHORE_INFINITE = 0xFFFFFFFFu };

// Null with last error 87 unless maximum >= 1, 0 <= initial <= maximum and
// the name has at most 16 characters. Creating a name that exists opens it.
SharedSemaphore* create_shared_semaphore(int initial, int maximum, const char* name);
// Opens an existing named semaphore; null when there is none.
SharedSemaphore* open_shared_semaphore(const char* name);
// 0 when a unit was taken, 258 when the time-out passed first.
uint32_t wait_shared_semaphore(SharedSemaphore* semaphore, uint32_t timeout_ms);
// 1 on success; 0 with last error 87 when n < 0 or the count would pass the
// maximum (nothing changes then).
int release_shared_semaphore(SharedSemaphore* semaphore, int n, int* previous);
void close_shared_semaphore(SharedSemaphore* semaphore);

// The steps of making one: its event, then its section ("QMX_MSECT_EVT_" and
// "QMX_MSECT_MMF_" followed by the name; unnamed ones are private). In open
// mode both must exist; in create mode an existing section keeps its count.
bool init_shared_semaphore(SharedSemaphore* semaphore, int initial, int maximum, const char* name, bool open);
bool open_semaphore_event(SharedSemaphore* semaphore, const char* name, bool open);
bool open_semaphore_section(SharedSemaphore* semaphore, int initial, int maximum, const char* name, bool open);
// The lock over the section's count, maximum and waiters.
void lock_semaphore_section(SharedSemaphore* semaphore);
void unlock_semaphore_section(SharedSemaphore* semaphore);
