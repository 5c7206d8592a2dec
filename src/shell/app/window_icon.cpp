#include "shell/app/window_icon.h"

namespace {

constexpr uint32_t kTile = 0xFF1E3A6Eu;
constexpr uint32_t kBubble = 0xFFFFFFFFu;
constexpr uint32_t kDot = 0xFF1E3A6Eu;
constexpr int kCorner = 6;

// Outside the tile's rounded corners.
bool off_tile(int x, int y) {
  const int n = WINDOW_ICON_SIZE - 1;
  const int cx = x < kCorner ? kCorner : x > n - kCorner ? n - kCorner : x;
  const int cy = y < kCorner ? kCorner : y > n - kCorner ? n - kCorner : y;
  return (x - cx) * (x - cx) + (y - cy) * (y - cy) > kCorner * kCorner;
}

bool in_ellipse(int x, int y, int cx, int cy, int rx, int ry) {
  const int dx = x - cx, dy = y - cy;
  return dx * dx * ry * ry + dy * dy * rx * rx < rx * rx * ry * ry;
}

// The bubble's tail: a triangle below its left half, pointing down-left.
bool in_tail(int x, int y) { return y >= 18 && y <= 26 && x >= 8 + (y - 18) / 4 && x <= 15 - (y - 18); }

}  // namespace

void draw_window_icon(uint32_t pixels[WINDOW_ICON_SIZE * WINDOW_ICON_SIZE]) {
  for (int y = 0; y < WINDOW_ICON_SIZE; ++y) {
    for (int x = 0; x < WINDOW_ICON_SIZE; ++x) {
      uint32_t c = off_tile(x, y) ? 0u : kTile;
      if (in_ellipse(x, y, 16, 13, 12, 8) || in_tail(x, y)) c = kBubble;
      for (int dot = 0; dot < 3; ++dot)
        if (in_ellipse(x, y, 10 + 6 * dot, 13, 2, 2)) c = kDot;
      pixels[y * WINDOW_ICON_SIZE + x] = c;
    }
  }
}
