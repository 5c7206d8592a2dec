#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "render/text/text_queue.h"

namespace {

struct Command {
  TextCommand header;
  std::string text;
};

std::vector<Command> read_all(int id) {
  std::vector<Command> out;
  const uint8_t* cursor = text_queue_data(id);
  TextCommand c;
  const char* text = nullptr;
  while (text_queue_next(&cursor, &c, &text)) out.push_back({c, std::string(text, size_t(c.length))});
  return out;
}

class TextQueueTest : public ::testing::Test {
 protected:
  void TearDown() override { text_queue_table_reset(); }
};

TEST_F(TextQueueTest, CommandLayoutIsTheStoredFormat) {
  int id = text_queue_create(1024);
  ASSERT_EQ(id, 0);
  text_queue_printf(id, TEXT_ANCHOR_CENTRE_X | TEXT_ANCHOR_CENTRE_Y, 2, 16.0f, -5, 300, 0x80FF2010u, "LEVEL %d", 1);
  const uint8_t* p = text_queue_data(id);
  ASSERT_NE(p, nullptr);
  auto word = [&](size_t off) {
    return uint32_t(p[off]) | uint32_t(p[off + 1]) << 8 | uint32_t(p[off + 2]) << 16 | uint32_t(p[off + 3]) << 24;
  };
  float size = 0;
  uint32_t size_bits = word(16);
  memcpy(&size, &size_bits, 4);
  EXPECT_EQ(p[0], 'H');
  EXPECT_EQ(p[1], 0);
  EXPECT_EQ(p[2], 40);
  EXPECT_EQ(p[3], 0);
  EXPECT_EQ(word(4), 2u);
  EXPECT_EQ(word(8), 0x80FF2010u);
  EXPECT_EQ(word(12), 10u);
  EXPECT_EQ(size, 16.0f);
  EXPECT_EQ(word(20), word(16));
  EXPECT_EQ(int32_t(word(24)), -5);
  EXPECT_EQ(word(28), 300u);
  EXPECT_EQ(word(32), 7u);
  EXPECT_EQ(word(36), 8u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(p + 40)), "LEVEL 1");
  EXPECT_EQ(p[47], 0);
  EXPECT_EQ(p[48], 'E');
  EXPECT_EQ(text_queue_used(id), 48);
}

TEST_F(TextQueueTest, PaddingKeepsCommandsOnFourByteBoundaries) {
  int id = text_queue_create(1024);
  const struct {
    const char* text;
    int32_t length, padded;
  } cases[] = {{"", 0, 4}, {"abc", 3, 4}, {"abcd", 4, 8}, {"abcde", 5, 8}, {"abcdefgh", 8, 12}};
  int32_t expected_used = 0;
  for (const auto& c : cases) {
    text_queue_puts(id, "%s", c.text);
    expected_used += 40 + c.padded;
  }
  std::vector<Command> got = read_all(id);
  ASSERT_EQ(got.size(), std::size(cases));
  for (size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(got[i].header.length, cases[i].length) << cases[i].text;
    EXPECT_EQ(got[i].header.padded_length, cases[i].padded) << cases[i].text;
    EXPECT_EQ(got[i].text, cases[i].text);
  }
  EXPECT_EQ(text_queue_used(id), expected_used);
  EXPECT_EQ(text_queue_data(id)[expected_used], 'E');
}

TEST_F(TextQueueTest, ShortFormsFillTheDefaults) {
  int q0 = text_queue_create(4096);
  int q1 = text_queue_create(4096);
  text_queue_puts(q1, "a");
  text_queue_print_at(q1, 3, 4, 0x11223344u, "b");
  text_queue_print_font(q1, 3, 5, 6, 0x55667788u, "c");
  text_queue0_print(7, 8, 0x99AABBCCu, "d");
  text_queue0_puts(9, 10, "e");
  std::vector<Command> one = read_all(q1), zero = read_all(q0);
  ASSERT_EQ(one.size(), 3u);
  ASSERT_EQ(zero.size(), 2u);
  for (const Command& c : one) {
    EXPECT_EQ(c.header.anchor, 0u);
    EXPECT_EQ(c.header.size2, 16.0f);
  }
  EXPECT_EQ(one[0].header.colour, 0xFFFFFFFFu);
  EXPECT_EQ(one[0].header.x, 0);
  EXPECT_EQ(one[1].header.x, 3);
  EXPECT_EQ(one[1].header.colour, 0x11223344u);
  EXPECT_EQ(one[2].header.font, 3);
  EXPECT_EQ(zero[0].header.y, 8);
  EXPECT_EQ(zero[1].header.colour, 0xFFFFFFFFu);
}

TEST_F(TextQueueTest, FullQueueDropsCommandsAndKeepsTheMark) {
  int id = text_queue_create(16384);
  // 400 bytes of text make commands of 444 bytes; an append goes in while
  // used + 40 + length stays below 16,376.
  std::string text(400, 'x');
  int32_t accepted = 0;
  for (int i = 0; i < 40; ++i) {
    int32_t before = text_queue_used(id);
    text_queue_puts(id, "%s", text.c_str());
    bool fits = before + 40 + 400 < 16376;
    EXPECT_EQ(text_queue_used(id) > before, fits) << "append " << i;
    if (fits) ++accepted;
  }
  EXPECT_EQ(accepted, 36);
  EXPECT_EQ(int32_t(read_all(id).size()), accepted);
  EXPECT_EQ(text_queue_data(id)[text_queue_used(id)], 'E');
  // A shorter text still fits where the long one did not.
  text_queue_puts(id, "%s", std::string(16376 - 40 - text_queue_used(id) - 1, 'y').c_str());
  EXPECT_EQ(int32_t(read_all(id).size()), accepted + 1);
  EXPECT_LT(text_queue_used(id), 16384 - 4);

  text_queue_rewind(id);
  EXPECT_EQ(text_queue_used(id), 0);
  EXPECT_EQ(text_queue_data(id)[0], 'E');
  EXPECT_TRUE(read_all(id).empty());
}

TEST_F(TextQueueTest, LongTextsAreCutOnCharacterBoundaries) {
  int id = text_queue_create(65536);
  // 3,000 ASCII bytes: cut to 2,047.
  text_queue_puts(id, "%s", std::string(3000, 'a').c_str());
  // A two-byte character whose lead byte is the 2,047th byte: cut before it.
  std::string pair_at_end = std::string(2046, 'b') + "\x82\xa0" + "tail";
  text_queue_puts(id, "%s", pair_at_end.c_str());
  // Ending exactly on a whole character: kept.
  std::string pair_inside = std::string(2045, 'c') + "\x82\xa0" + "tail";
  text_queue_puts(id, "%s", pair_inside.c_str());
  // Half-width katakana (0xB1) are single bytes.
  std::string kana = std::string(2046, '\xb1') + "\xb1" + "tail";
  text_queue_puts(id, "%s", kana.c_str());
  std::vector<Command> got = read_all(id);
  ASSERT_EQ(got.size(), 4u);
  EXPECT_EQ(got[0].header.length, 2047);
  EXPECT_EQ(got[1].text, std::string(2046, 'b'));
  EXPECT_EQ(got[2].text, std::string(2045, 'c') + "\x82\xa0");
  EXPECT_EQ(got[3].header.length, 2047);
}

TEST_F(TextQueueTest, SlotsAndIdsAreChecked) {
  for (int i = 0; i < TEXT_QUEUE_SLOTS; ++i) EXPECT_EQ(text_queue_create(64), i);
  EXPECT_EQ(text_queue_create(64), -1);
  text_queue_destroy(5);
  EXPECT_EQ(text_queue_data(5), nullptr);
  EXPECT_EQ(text_queue_slot(5)->capacity, 0);
  EXPECT_EQ(text_queue_create(128), 5);
  EXPECT_EQ(text_queue_slot(5)->capacity, 128);

  // Invalid and destroyed ids take nothing and do not touch other queues.
  text_queue_destroy(7);
  for (int bad : {-1, 7, 16, 1000}) {
    text_queue_puts(bad, "x");
    text_queue_rewind(bad);
    text_queue_destroy(bad);
    EXPECT_EQ(text_queue_data(bad), nullptr);
    EXPECT_EQ(text_queue_used(bad), 0);
  }
  EXPECT_EQ(text_queue_slot(-1), nullptr);
  EXPECT_EQ(text_queue_slot(16), nullptr);
  for (int i = 0; i < TEXT_QUEUE_SLOTS; ++i) EXPECT_EQ(text_queue_used(i), 0) << i;
  EXPECT_EQ(text_queue_create(0), -1);
  EXPECT_EQ(text_queue_create(-5), -1);
  EXPECT_EQ(text_queue_create(64), 7);
}

TEST_F(TextQueueTest, TinyQueuesTakeNothingButKeepTheMark) {
  int id = text_queue_create(48);
  text_queue_puts(id, "%s", "");
  EXPECT_EQ(text_queue_used(id), 0);
  EXPECT_EQ(text_queue_data(id)[0], 'E');
}

TEST_F(TextQueueTest, RewindAllEmptiesEveryQueue) {
  int a = text_queue_create(1024), b = text_queue_create(1024);
  text_queue_puts(a, "one");
  text_queue_puts(b, "two");
  text_queue_rewind_all();
  EXPECT_TRUE(read_all(a).empty());
  EXPECT_TRUE(read_all(b).empty());
}

}  // namespace
