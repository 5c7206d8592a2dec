// Text queues: byte buffers into which any code appends text commands during
// a frame, printf-style; the text overlays walk a queue once at the end of the
// frame, draw every command and rewind it. Queues are addressed by the index
// of their slot. Texts are CP932 bytes. Main thread only.
#pragma once

#include <cstddef>
#include <cstdint>

enum {
  TEXT_QUEUE_SLOTS = 16,
  TEXT_COMMAND_HEADER_BYTES = 40,
  // Every append is formatted into a work buffer of this size; longer texts
  // are cut to one byte less, on a character boundary.
  TEXT_QUEUE_FORMAT_BYTES = 2048,
  // Bytes at the end of a buffer that an append never uses.
  TEXT_QUEUE_RESERVE = 8,
};

enum : uint8_t { TEXT_COMMAND_TAG = 'H', TEXT_QUEUE_END_MARK = 'E' };

// Anchor flags: without any, the text starts at (x, y).
enum : uint32_t {
  TEXT_ANCHOR_END_X = 1,     // the text ends at x
  TEXT_ANCHOR_CENTRE_X = 2,  // the text is centred on x
  TEXT_ANCHOR_END_Y = 4,     // the text ends at y
  TEXT_ANCHOR_CENTRE_Y = 8,  // the text is centred on y
};

struct TextQueue {
  int32_t id;
  int32_t active;
  int32_t spare;
  int32_t capacity;
  uint8_t* buffer;
  uint8_t* write;
};

// The 40-byte command header as it lies in a queue buffer (little-endian),
// followed by the text, one zero byte and zeros up to a multiple of 4.
struct TextCommand {
  uint8_t tag;  // 'H'
  uint8_t reserved1;
  uint8_t header_size;  // 40
  uint8_t reserved3;
  int32_t font;     // 0 to 3
  uint32_t colour;  // ARGB
  uint32_t anchor;  // TEXT_ANCHOR_* bits
  float size;       // the size asked for
  float size2;      // the same; the bitmap overlay reads this copy
  int32_t x, y;     // pixels
  int32_t length;   // text bytes without the terminator
  int32_t padded_length;  // (length AND NOT 3) + 4
};
static_assert(sizeof(TextCommand) == TEXT_COMMAND_HEADER_BYTES, "text command header is a stored format");

// Returns the id of a new queue of capacity bytes, or -1 when every slot is
// taken, the capacity is not positive or the memory cannot be had.
int text_queue_create(int32_t capacity);
void text_queue_destroy(int id);
// Write position back to the start, with the end mark there.
void text_queue_rewind(int id);
// Rewinds every active queue: for frames that draw no text.
void text_queue_rewind_all();
// Start of the buffer, null for an id that names no active queue.
const uint8_t* text_queue_data(int id);
// Bytes in use before the end mark.
int32_t text_queue_used(int id);
// The slot record, null for an id outside the table.
const TextQueue* text_queue_slot(int id);

// Appends one command. An inactive or invalid queue takes nothing; a command
// that does not fit is dropped silently until the queue is rewound.
void text_queue_printf(int id, uint32_t anchor, int32_t font, float size, int32_t x, int32_t y, uint32_t colour,
                       const char* format, ...) __attribute__((format(printf, 8, 9)));
// Shorter forms; what they leave out is size 16, anchor 0, font 0, position
// (0, 0) and colour 0xFFFFFFFF. The queue0 forms append to queue 0.
void text_queue_puts(int id, const char* format, ...) __attribute__((format(printf, 2, 3)));
void text_queue_print_at(int id, int32_t x, int32_t y, uint32_t colour, const char* format, ...)
    __attribute__((format(printf, 5, 6)));
void text_queue_print_font(int id, int32_t font, int32_t x, int32_t y, uint32_t colour, const char* format, ...)
    __attribute__((format(printf, 6, 7)));
void text_queue0_print(int32_t x, int32_t y, uint32_t colour, const char* format, ...)
    __attribute__((format(printf, 4, 5)));
void text_queue0_puts(int32_t x, int32_t y, const char* format, ...) __attribute__((format(printf, 3, 4)));

// Frees every queue's buffer and empties the table.
void text_queue_free_all();
void text_queue_table_reset();

// Reads the command at cursor: false at the end mark; otherwise fills the
// header and the text pointer and moves the cursor to the next command.
bool text_queue_next(const uint8_t** cursor, TextCommand* command, const char** text);

// The longest prefix of text (length bytes) of at most max_bytes that does
// not end inside a two-byte CP932 character (a lead byte whose trail is cut
// off is left out).
size_t text_cp932_fit(const char* text, size_t length, size_t max_bytes);
