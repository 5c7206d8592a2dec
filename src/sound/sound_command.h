// The sound command ring: any thread posts a sound request and returns at
// once; the sound worker thread runs the requests in order. Loading a sound
// file therefore never stalls a frame.
#pragma once

#include <cstdint>

// A SoundId: bit 31 names a BGM, bit 30 a voice (or ambient sound), else a
// sound-effect index; the low 24 bits index the sound's name table.
using SoundId = uint32_t;
enum : uint32_t { SOUND_ID_BGM = 0x80000000u, SOUND_ID_VOICE = 0x40000000u, SOUND_ID_INDEX_MASK = 0xFFFFFFu };

enum SoundOpcode : uint32_t {
  SOUND_OP_PLAY_BGM = 0,
  SOUND_OP_RESTART_BGM = 1,
  SOUND_OP_STOP_BGM = 2,
  SOUND_OP_RESUME_BGM = 3,
  SOUND_OP_RELEASE_BGM = 4,
  SOUND_OP_BGM_VOLUME = 5,
  SOUND_OP_SE_VOLUME = 6,
  SOUND_OP_SE_RESTORE_VOLUME = 7,
  SOUND_OP_NOTHING = 8,
  SOUND_OP_PLAY_SE = 9,
  SOUND_OP_LOOP_SE = 10,
  SOUND_OP_RESTART_LOOP_SE = 11,
  SOUND_OP_STOP_SE = 12,
  SOUND_OP_STOP_NONLOOPING = 13,
  SOUND_OP_STOP_EVERYTHING = 14,
  SOUND_OP_PLAY_SE_AT = 15,
  SOUND_OP_LOOP_SE_AT = 16,
  SOUND_OP_RESTART_SE_AT = 17,
  SOUND_OP_PLAY_SE_AT_FROM = 18,
  SOUND_OP_SE_FREQUENCY = 19,
  SOUND_OP_REWIND_SES = 20,
  SOUND_OP_SE_MASTER_VOLUME = 21,
  SOUND_OP_PLAY_VOICE = 22,
  SOUND_OP_STOP_VOICE = 23,
  SOUND_OP_RELEASE_VOICE = 24,
  SOUND_OP_VOICE_VOLUME = 25,
  SOUND_OP_PLAY_AMBIENT = 26,
  SOUND_OP_STOP_AMBIENT = 27,
  SOUND_OP_RELEASE_AMBIENT = 28,
  SOUND_OP_AMBIENT_VOLUME = 29,
  SOUND_OP_COUNT = 30,  // opcodes from here on are consumed and ignored
};

// Nine 32-bit words, as the ring stores them.
struct SoundCommand {
  uint32_t opcode;
  SoundId id;
  int32_t integer;
  float value;         // a volume 0..1 or a start point (fraction of the sound)
  uint32_t has_position;
  float x, y, z;
  uint32_t extra;      // frequency in Hz for opcode 19
};
static_assert(sizeof(SoundCommand) == 36, "a sound command is nine words");

enum { SOUND_RING_SLOTS = 16, SOUND_RING_ROOM = 14 };

// Runs one command; the worker calls it for every opcode below 30.
using SoundCommandHandler = void (*)(const SoundCommand& command);

// Clears the ring, creates the "sound" semaphore and starts the worker with
// the handler. False when the semaphore cannot be made (the ring then takes
// no commands).
bool sound_thread_start(SoundCommandHandler handler);
// The worker's body: drains the ring in order, sleeping 1 ms after each
// command and 10 ms when it is empty, until asked to quit.
void sound_thread_proc();
// Waits while 14 or more commands are pending; every poster calls it first.
// The worker never waits on itself. False once the ring takes no commands.
bool sound_wait_queue_room();
// Lets the worker finish the commands pending now, waits for it to end and
// closes the semaphore. Posts made after this are refused.
void sound_thread_stop();
// Asks the worker to quit after the commands pending now.
void sound_thread_request_quit();
// Stops the worker after the command it is running, dropping the rest: the
// fatal exit's way out.
void sound_thread_abort();
bool sound_thread_running();
// Whether the calling thread is the sound worker.
bool sound_thread_is_current();
// Waits until no command is pending or running; false when the time passed
// first (tests).
bool sound_thread_wait_idle(uint32_t timeout_ms);

// Posting. A poster waits while 14 or more commands are pending, then
// stores its command under the same lock, so no command is ever dropped for
// want of room. Returns 1 when queued; 0 when no worker takes commands (not
// started, stopping or stopped), without waiting.
int sound_post_command(uint32_t opcode, SoundId id);
int sound_post_simple(uint32_t opcode);
int sound_post_command_int(uint32_t opcode, SoundId id, int32_t integer);
int sound_post_command_extra(uint32_t opcode, SoundId id, uint32_t extra);
int sound_post_command_value(uint32_t opcode, SoundId id, float value);
int sound_post_value(uint32_t opcode, float value);
// position may be null (no position).
int sound_post_command_at(uint32_t opcode, SoundId id, const float* position);
int sound_post_command_at_value(uint32_t opcode, SoundId id, const float* position, float value);
