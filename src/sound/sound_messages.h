// Message boxes of the sound system. Message boxes belong to the main
// thread, so one raised on the sound worker waits there until the main
// thread's next sound_update shows it.
#pragma once

#include <string>

// Shows an OK-only message box with CP932 text and caption; on the sound
// worker, keeps it for the main thread instead.
void sound_message_box(const std::string& text, const std::string& caption);
// Main thread: shows the messages the worker raised, oldest first.
void sound_show_pending_messages();
