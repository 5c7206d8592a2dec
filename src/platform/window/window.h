// The desktop window, its message pump, keyboard and mouse state, the cursor
// and message boxes. Messages carry codes of our own; the pump hands out one
// message per call, as the main loop expects.
#pragma once

#include <cstdint>
#include <string>

struct PlatformWindow;

enum WindowMessageCode : uint32_t {
  WINDOW_MSG_NONE = 0,
  WINDOW_MSG_QUIT,        // ends the message loop (posted by window_post_quit)
  WINDOW_MSG_DESTROY,     // the user closed the window or the session ends
  WINDOW_MSG_SIZE,        // client size changed; wparam 1 when maximised
  WINDOW_MSG_MOUSEMOVE,   // lparam: x in the low 16 bits, y in the next 16, both signed
  WINDOW_MSG_MOUSEWHEEL,  // wparam: signed delta, 120 per notch
  WINDOW_MSG_KEY,         // a key or button changed; the keyboard table has it
  WINDOW_MSG_OTHER,       // anything else the window system reported
};

struct WindowMessage {
  uint32_t code = WINDOW_MSG_NONE;
  int64_t wparam = 0;
  int64_t lparam = 0;
};

using WindowProc = int64_t (*)(PlatformWindow* window, uint32_t code, int64_t wparam, int64_t lparam);

// The class every window carries, as other programs see it (the X11 class,
// the Wayland app id), unless the environment names another. It goes into
// the environment, which the window system reads when it starts: call it
// before window_system_init and before any other thread runs.
void window_system_set_class(const char* name);
// Starts and stops the window system. Start-up fails when no display exists.
// While it runs, SIGTERM, SIGINT, SIGHUP and SIGQUIT, each unless ignored at
// start, come as a request to close the window, WINDOW_MSG_DESTROY; stopping
// it leaves each as it found it.
bool window_system_init();
void window_system_shutdown();

// Desktop size in pixels, and the width usable by windows (without panels).
void window_screen_size(int* width, int* height);
int window_work_area_width();

// Creates a visible, resizable window whose client area is width x height,
// able to carry an OpenGL context. The title is CP932.
PlatformWindow* window_create(const std::string& title, int width, int height, WindowProc proc);
void window_destroy(PlatformWindow* window);
// Gives the window an icon of width x height ARGB pixels, rows top first.
void window_set_icon(PlatformWindow* window, const uint32_t* argb, int width, int height);
void window_get_client_size(PlatformWindow* window, int* width, int* height);
void window_set_client_size(PlatformWindow* window, int width, int height);
// The window's top-left corner on the screen.
void window_get_position(PlatformWindow* window, int* x, int* y);
void window_set_position(PlatformWindow* window, int x, int y);
// Whether the user may resize the window (a sizing border and a maximise
// box); windows start resizable.
void window_set_resizable(PlatformWindow* window, bool resizable);
bool window_is_resizable(PlatformWindow* window);
// Brings a minimised or maximised window back to its normal state.
void window_restore(PlatformWindow* window);
void window_show(PlatformWindow* window);
bool window_is_shown(PlatformWindow* window);

// Takes one pending message, false when none is waiting.
bool window_peek_message(WindowMessage* out);
// Runs the message through the procedure of the window it belongs to.
int64_t window_dispatch(PlatformWindow* window, const WindowMessage& msg);
// Queues a message behind those waiting (tests and the quit request use it).
void window_post_message(const WindowMessage& msg);
void window_post_quit(int code);

// The 256-entry virtual-key table: bit 7 set while a key is held. Mouse
// buttons stand at keys 1 (left), 2 (right) and 4 (middle).
void window_get_keyboard_state(uint8_t keys[256]);

void window_show_cursor(bool show);

// An OK-only message box with CP932 text and caption; the text is always
// written to stderr as well. TL_MESSAGEBOX=stderr leaves out the box
// (scripted runs and tests).
void window_message_box(const std::string& text, const std::string& caption);
// The same with a text already in UTF-8 (a name as the file system spells
// it, see sys_path_lines), shown as it stands whatever its characters.
void window_message_box_utf8(const std::string& utf8_text, const std::string& caption);
// A question with the buttons Yes and No: subject (a host path or name, shown
// as it stands whatever its characters) on the first line, the CP932 text
// below it. True only for Yes; a closed box, or one that cannot be shown, is
// No. The question is always written to stderr as well.
// TL_MESSAGEBOX_ANSWERS=<file> answers questions without a box, for scripted
// runs and tests: each takes the next line of that file, "yes" meaning Yes and
// any other line, or the end of the file, No. Without that file,
// TL_MESSAGEBOX=stderr answers every question No.
bool window_ask_yes_no(const std::string& subject, const std::string& text, const std::string& caption);
// Starts the answers of TL_MESSAGEBOX_ANSWERS again from the first line.
void window_reset_answers();
