#include "sound/sound_manager.h"

// The sound system starts with no device and no worker until its manager lands.
void sound_init() {}
void sound_update() {}
void sound_shutdown() {}
int sound_error_code() { return 0; }
void sound_stop_worker() {}
