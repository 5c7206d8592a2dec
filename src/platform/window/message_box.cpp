#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/sys/sys.h"
#include "platform/window/scripted_answers.h"
#include "platform/window/window.h"
#include "platform/window/window_sdl.h"

namespace {

// はい
const char kYes[] = "\x82\xcd\x82\xa2";
// いいえ
const char kNo[] = "\x82\xa2\x82\xa2\x82\xa6";

// Index of the next line of TL_MESSAGEBOX_ANSWERS to hand out.
size_t g_next_answer = 0;

bool boxes_left_out() {
  const char* mode = std::getenv("TL_MESSAGEBOX");
  return mode && std::strcmp(mode, "stderr") == 0;
}

}  // namespace

void window_message_box(const std::string& text, const std::string& caption) {
  window_message_box_utf8(sys_cp932_to_utf8(text), caption);
}

void window_message_box_utf8(const std::string& utf_text, const std::string& caption) {
  std::string utf_caption = sys_cp932_to_utf8(caption);
  std::fprintf(stderr, "tamberlune: %s: %s\n", utf_caption.c_str(), utf_text.c_str());
  if (boxes_left_out()) return;
  SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_INFORMATION, utf_caption.c_str(), utf_text.c_str(), nullptr);
}

bool window_ask_yes_no(const std::string& subject, const std::string& text, const std::string& caption) {
  std::string utf_text = sys_cp932_to_utf8(text);
  std::string utf_caption = sys_cp932_to_utf8(caption);
  std::fprintf(stderr, "tamberlune: %s: %s: %s\n", utf_caption.c_str(), subject.c_str(), utf_text.c_str());
  std::string answer;
  if (scripted_answer_take("TL_MESSAGEBOX_ANSWERS", g_next_answer, answer)) return answer == "yes";
  if (boxes_left_out()) return false;
  const std::string message = subject + "\n" + utf_text;
  const std::string yes_label = sys_cp932_to_utf8(kYes);
  const std::string no_label = sys_cp932_to_utf8(kNo);
  // Return and Escape both answer No: a stray key never says Yes.
  const SDL_MessageBoxButtonData buttons[] = {
      {0, 1, yes_label.c_str()},
      {SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT | SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, 0, no_label.c_str()},
  };
  const SDL_MessageBoxData box = {SDL_MESSAGEBOX_WARNING, nullptr, utf_caption.c_str(), message.c_str(),
                                  SDL_arraysize(buttons), buttons, nullptr};
  int chosen = 0;
  return SDL_ShowMessageBox(&box, &chosen) == 0 && chosen == 1;
}

void window_reset_answers() { g_next_answer = 0; }
