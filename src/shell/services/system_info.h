// Memory figures of the machine, in bytes.
#pragma once

#include <cstdint>

uint64_t get_avail_phys_memory();
uint64_t get_total_phys_memory();
// Kept for callers that ask; both are always 0.
int get_sysinfo_value();
int get_sysinfo_value_2();
