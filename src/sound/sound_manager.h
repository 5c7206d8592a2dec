// The sound system's life cycle as the shell drives it.
#pragma once

void sound_init();
void sound_update();
void sound_shutdown();
// Nonzero once the sound system failed: 256 device, 257 buffer, 258 missing file.
int sound_error_code();
// Stops the worker thread at once; the fatal exit calls it before the process ends.
void sound_stop_worker();
