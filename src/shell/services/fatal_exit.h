// The fatal-error exit, callable from every layer: it says what happened on
// stderr, leaves the named semaphores, and ends the process with exit code 1.
// The scene runner registers the handler that records the codes in its error
// screen and stops the sound worker first, so the worker does not run on
// while the process ends.
#pragma once

#include <cstdint>

using FatalExitHandler = void (*)(uint16_t origin, uint16_t detail, uint16_t sub_detail, const char* text);

void fatal_exit_set_handler(FatalExitHandler handler);

[[noreturn]] void fatal_error_exit(uint16_t origin, uint16_t detail, uint16_t sub_detail, const char* text);
