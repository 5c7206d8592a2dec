#include "sound/sound_messages.h"

#include <mutex>
#include <utility>
#include <vector>

#include "platform/window/window.h"
#include "sound/sound_command.h"

namespace {

struct PendingMessages {
  std::mutex lock;
  std::vector<std::pair<std::string, std::string>> texts_and_captions;
};

PendingMessages pending;

}  // namespace

void sound_message_box(const std::string& text, const std::string& caption) {
  if (!sound_thread_is_current()) {
    window_message_box(text, caption);
    return;
  }
  std::lock_guard<std::mutex> g(pending.lock);
  pending.texts_and_captions.emplace_back(text, caption);
}

void sound_show_pending_messages() {
  std::vector<std::pair<std::string, std::string>> shown;
  {
    std::lock_guard<std::mutex> g(pending.lock);
    shown.swap(pending.texts_and_captions);
  }
  for (const auto& [text, caption] : shown) window_message_box(text, caption);
}
