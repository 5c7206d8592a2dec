#include "viewer/dialogue_box.h"

#include "render/overlay2d/sprite2d.h"
#include "render/text/fonts.h"
#include "render/text/text_queue.h"
#include "viewer/dialogue_file.h"
#include "viewer/viewer_state.h"

namespace {

constexpr uint8_t kBoxLayer = 19;    // the fills
constexpr uint8_t kFrameLayer = 18;  // the frame, over them
constexpr uint32_t kShadeColour = 0x80000000;
constexpr int kLineFont = 1;

void rect(uint32_t owner, uint32_t colour, float x, float y, float w, float h, uint8_t layer) {
  sprite2d_draw_rect(owner, colour, x, y, w, h, 0, 0, 1, 1, layer);
}

}  // namespace

void dialogue_box_draw(uint32_t owner, const char* line) {
  const float W = viewer_width(), H = viewer_height();
  const float x0 = W * 0.05f, w = W * 0.9f, y0 = H * 0.85f, h = H * 0.1f, y1 = H * 0.87f;
  const uint32_t c = viewer_get_dialogue_colour();
  text_queue_printf(viewer_text_cp932(), TEXT_ANCHOR_CENTRE_X | TEXT_ANCHOR_CENTRE_Y, kLineFont, 16.0f,
                    static_cast<int32_t>(W * 0.5f), static_cast<int32_t>(H * 0.91f), c, "%s", line);
  rect(owner, kShadeColour, x0 + 2, y1 + 1, w - 4, h - (y1 - y0) - 3, kBoxLayer);
  rect(owner, (c & 0xFFFFFF) | 0x40000000, x0 + 2, y0 + 2, w - 4, (y1 - y0) - 1, kBoxLayer);
  rect(owner, c, x0 + 2, y0, w - 4, 2, kFrameLayer);
  rect(owner, c, x0 + 2, y0 + h - 2, w - 4, 2, kFrameLayer);
  rect(owner, c, x0, y0 + 2, 2, h - 4, kFrameLayer);
  rect(owner, c, x0 + w - 2, y0 + 2, 2, h - 4, kFrameLayer);
  rect(owner, c, x0, y1, w, 1, kFrameLayer);
}

void dialogue_box_prepare(const DialogueList* dialogue) {
  if (!dialogue) return;
  for (const DialogueRecord& record : dialogue->records)
    for (const DialogueText& line : record.lines) d3dx_font_prepare_text(kLineFont, line.text.c_str());
}
