#include "render/text/text_queue.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/sys/sys.h"

namespace {

TextQueue queues[TEXT_QUEUE_SLOTS];

TextQueue* active_queue(int id) {
  if (id < 0 || id >= TEXT_QUEUE_SLOTS) return nullptr;
  TextQueue* q = &queues[id];
  return q->active && q->buffer ? q : nullptr;
}

void append(int id, uint32_t anchor, int32_t font, float size, int32_t x, int32_t y, uint32_t colour,
            const char* format, va_list args) {
  TextQueue* q = active_queue(id);
  if (!q) return;
  char work[TEXT_QUEUE_FORMAT_BYTES];
  int n = vsnprintf(work, sizeof work, format, args);
  if (n < 0) return;
  // A cut text keeps whole characters only.
  size_t length = text_cp932_fit(work, strnlen(work, sizeof work - 1), sizeof work - 1);
  int64_t used = q->write - q->buffer;
  if (used + int64_t(length) + TEXT_COMMAND_HEADER_BYTES >= int64_t(q->capacity) - TEXT_QUEUE_RESERVE) return;

  TextCommand c = {};
  c.tag = TEXT_COMMAND_TAG;
  c.header_size = TEXT_COMMAND_HEADER_BYTES;
  c.font = font;
  c.colour = colour;
  c.anchor = anchor;
  c.size = size;
  c.size2 = size;
  c.x = x;
  c.y = y;
  c.length = int32_t(length);
  c.padded_length = int32_t((length & ~size_t(3)) + 4);
  uint8_t* p = q->write;
  memcpy(p, &c, sizeof c);
  memcpy(p + sizeof c, work, length);
  memset(p + sizeof c + length, 0, size_t(c.padded_length) - length);
  q->write = p + sizeof c + c.padded_length;
  *q->write = TEXT_QUEUE_END_MARK;
}

}  // namespace

size_t text_cp932_fit(const char* text, size_t length, size_t max_bytes) {
  size_t limit = length < max_bytes ? length : max_bytes;
  size_t i = 0;
  while (i < limit) {
    size_t step = sys_is_cp932_lead(uint8_t(text[i])) ? 2 : 1;
    if (i + step > limit) break;
    i += step;
  }
  return i;
}

int text_queue_create(int32_t capacity) {
  if (capacity <= 0) return -1;
  for (int i = 0; i < TEXT_QUEUE_SLOTS; ++i) {
    TextQueue* q = &queues[i];
    if (q->buffer || q->capacity) continue;
    auto* buffer = static_cast<uint8_t*>(malloc(size_t(capacity)));
    if (!buffer) return -1;
    *q = TextQueue{i, 1, 0, capacity, buffer, buffer};
    *buffer = TEXT_QUEUE_END_MARK;
    return i;
  }
  return -1;
}

void text_queue_destroy(int id) {
  TextQueue* q = active_queue(id);
  if (!q) return;
  free(q->buffer);
  q->buffer = q->write = nullptr;
  q->capacity = 0;
  q->active = 0;
}

void text_queue_rewind(int id) {
  TextQueue* q = active_queue(id);
  if (!q) return;
  q->write = q->buffer;
  *q->write = TEXT_QUEUE_END_MARK;
}

void text_queue_rewind_all() {
  for (int i = 0; i < TEXT_QUEUE_SLOTS; ++i) text_queue_rewind(i);
}

const uint8_t* text_queue_data(int id) {
  const TextQueue* q = active_queue(id);
  return q ? q->buffer : nullptr;
}

int32_t text_queue_used(int id) {
  const TextQueue* q = active_queue(id);
  return q ? int32_t(q->write - q->buffer) : 0;
}

const TextQueue* text_queue_slot(int id) {
  return id >= 0 && id < TEXT_QUEUE_SLOTS ? &queues[id] : nullptr;
}

void text_queue_printf(int id, uint32_t anchor, int32_t font, float size, int32_t x, int32_t y, uint32_t colour,
                       const char* format, ...) {
  va_list args;
  va_start(args, format);
  append(id, anchor, font, size, x, y, colour, format, args);
  va_end(args);
}

void text_queue_puts(int id, const char* format, ...) {
  va_list args;
  va_start(args, format);
  append(id, 0, 0, 16.0f, 0, 0, 0xFFFFFFFFu, format, args);
  va_end(args);
}

void text_queue_print_at(int id, int32_t x, int32_t y, uint32_t colour, const char* format, ...) {
  va_list args;
  va_start(args, format);
  append(id, 0, 0, 16.0f, x, y, colour, format, args);
  va_end(args);
}

void text_queue_print_font(int id, int32_t font, int32_t x, int32_t y, uint32_t colour, const char* format, ...) {
  va_list args;
  va_start(args, format);
  append(id, 0, font, 16.0f, x, y, colour, format, args);
  va_end(args);
}

void text_queue0_print(int32_t x, int32_t y, uint32_t colour, const char* format, ...) {
  va_list args;
  va_start(args, format);
  append(0, 0, 0, 16.0f, x, y, colour, format, args);
  va_end(args);
}

void text_queue0_puts(int32_t x, int32_t y, const char* format, ...) {
  va_list args;
  va_start(args, format);
  append(0, 0, 0, 16.0f, x, y, 0xFFFFFFFFu, format, args);
  va_end(args);
}

void text_queue_free_all() {
  for (TextQueue& q : queues) {
    free(q.buffer);
    q.buffer = q.write = nullptr;
    q.capacity = 0;
    q.active = 0;
  }
}

// Zeroing the table over live buffers would lose them, so they are freed first.
void text_queue_table_reset() {
  text_queue_free_all();
  memset(queues, 0, sizeof queues);
}

bool text_queue_next(const uint8_t** cursor, TextCommand* command, const char** text) {
  const uint8_t* p = *cursor;
  if (!p || *p != TEXT_COMMAND_TAG) return false;
  memcpy(command, p, sizeof *command);
  *text = reinterpret_cast<const char*>(p + sizeof *command);
  *cursor = p + sizeof *command + command->padded_length;
  return true;
}
