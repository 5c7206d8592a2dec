#include "landscape.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>

namespace {

constexpr int W = kLandscapeWidth;
constexpr int H = kLandscapeHeight;
constexpr float kHorizon = 390.0f;
constexpr float kSunX = 540.0f, kSunY = 340.0f, kSunR = 20.0f;

struct Rgb {
  float r, g, b;
};

Rgb operator+(Rgb a, Rgb b) { return {a.r + b.r, a.g + b.g, a.b + b.b}; }
Rgb operator*(Rgb a, float k) { return {a.r * k, a.g * k, a.b * k}; }
Rgb mix(Rgb a, Rgb b, float t) { return a * (1.0f - t) + b * t; }

float clamp01(float v) { return std::min(1.0f, std::max(0.0f, v)); }
float smoothstep(float lo, float hi, float v) {
  float t = clamp01((v - lo) / (hi - lo));
  return t * t * (3.0f - 2.0f * t);
}

// Integer hash to [0, 1): fixed, so the picture is the same every run.
float hash(int x, int y) {
  uint32_t h = static_cast<uint32_t>(x) * 374761393u + static_cast<uint32_t>(y) * 668265263u;
  h = (h ^ (h >> 13)) * 1274126177u;
  h ^= h >> 16;
  return static_cast<float>(h & 0xFFFFFF) / 16777216.0f;
}

float value_noise(float x, float y) {
  int xi = static_cast<int>(std::floor(x)), yi = static_cast<int>(std::floor(y));
  float fx = x - static_cast<float>(xi), fy = y - static_cast<float>(yi);
  float sx = fx * fx * (3 - 2 * fx), sy = fy * fy * (3 - 2 * fy);
  float a = hash(xi, yi), b = hash(xi + 1, yi), c = hash(xi, yi + 1), d = hash(xi + 1, yi + 1);
  return (a + (b - a) * sx) + ((c + (d - c) * sx) - (a + (b - a) * sx)) * sy;
}

float fbm(float x, float y, int octaves = 5) {
  float sum = 0, amp = 0.5f, norm = 0;
  for (int i = 0; i < octaves; ++i) {
    sum += value_noise(x, y) * amp;
    norm += amp;
    amp *= 0.5f;
    x = x * 2.03f + 17.1f;
    y = y * 2.03f + 5.7f;
  }
  return sum / norm;
}

struct Canvas {
  std::vector<Rgb> px = std::vector<Rgb>(static_cast<size_t>(W * H), Rgb{0, 0, 0});
  Rgb& at(int x, int y) { return px[static_cast<size_t>(y * W + x)]; }
  Rgb get(int x, int y) const {
    x = std::clamp(x, 0, W - 1);
    y = std::clamp(y, 0, H - 1);
    return px[static_cast<size_t>(y * W + x)];
  }
  void blend(int x, int y, Rgb c, float a) {
    if (x < 0 || y < 0 || x >= W || y >= H) return;
    at(x, y) = mix(at(x, y), c, clamp01(a));
  }
  void add(int x, int y, Rgb c) {
    if (x < 0 || y < 0 || x >= W || y >= H) return;
    at(x, y) = at(x, y) + c;
  }
};

float peak(float x, float cx, float height, float half_width) {
  float t = 1.0f - std::fabs(x - cx) / half_width;
  return t <= 0 ? 0.0f : height * std::pow(t, 1.2f);
}

float far_ridge(float x) { return 300.0f + 60.0f * fbm(x / 150.0f, 3.7f, 4) + 25.0f * std::exp(-std::pow((x - kSunX) / 60.0f, 2.0f)); }

float near_ridge(float x) {
  float h = std::max({peak(x, 300, 220, 230), peak(x, 80, 150, 200), peak(x, 430, 120, 110), peak(x, 760, 140, 180)});
  return kHorizon - h * (0.85f + 0.3f * fbm(x / 45.0f, 4.4f, 4)) + 10.0f * (fbm(x / 12.0f, 9.1f, 3) - 0.5f);
}

float shore(float x) { return 470.0f + 25.0f * std::sin(x / 130.0f) + 10.0f * (fbm(x / 60.0f, 2.2f, 3) - 0.5f); }

Rgb sky_colour(float y) {
  const Rgb top{18, 24, 70}, mid{90, 60, 130}, low{230, 120, 110}, horizon{255, 185, 105};
  float t = y / kHorizon;
  if (t < 0.45f) return mix(top, mid, t / 0.45f);
  if (t < 0.8f) return mix(mid, low, (t - 0.45f) / 0.35f);
  return mix(low, horizon, clamp01((t - 0.8f) / 0.2f));
}

void paint_sky(Canvas& c) {
  for (int y = 0; y < static_cast<int>(kHorizon) + 1; ++y) {
    for (int x = 0; x < W; ++x) {
      float fx = static_cast<float>(x), fy = static_cast<float>(y);
      Rgb col = sky_colour(fy);
      float d = std::hypot(fx - kSunX, fy - kSunY);
      col = col + Rgb{255, 150, 80} * (0.55f * std::exp(-d / 140.0f)) + Rgb{255, 235, 190} * std::exp(-d / 22.0f);
      if (fy < 230 && hash(x, y) > 0.9982f) col = col + Rgb{255, 255, 240} * (0.9f * (1.0f - fy / 230.0f));
      // Clouds lit from below by the low sun.
      float band = smoothstep(60, 110, fy) * (1.0f - smoothstep(250, 300, fy));
      float n = fbm(fx / 170.0f, fy / 36.0f);
      float density = smoothstep(0.52f, 0.72f, n) * band;
      float lit = clamp01((fy - 90.0f) / 200.0f) * 0.7f + 0.3f * std::exp(-std::fabs(fx - kSunX) / 250.0f);
      Rgb cloud = mix(Rgb{80, 55, 105}, Rgb{255, 150, 125}, lit);
      col = mix(col, cloud, density * 0.85f);
      c.at(x, y) = col;
    }
  }
  // The sun, half set behind the far ridge, and a young moon.
  for (int y = 0; y < H; ++y) {
    for (int x = 0; x < W; ++x) {
      float d = std::hypot(static_cast<float>(x) - kSunX, static_cast<float>(y) - kSunY);
      if (d < kSunR + 1) c.blend(x, y, Rgb{255, 242, 205}, kSunR + 1 - d);
      float m = std::hypot(static_cast<float>(x) - 130.0f, static_cast<float>(y) - 80.0f);
      float cut = std::hypot(static_cast<float>(x) - 139.0f, static_cast<float>(y) - 73.0f);
      if (m < 19) c.blend(x, y, Rgb{250, 246, 222}, std::min(19 - m, cut - 16));
      if (m < 60) c.add(x, y, Rgb{60, 60, 70} * (0.25f * (1 - m / 60.0f)));
    }
  }
}

void paint_mountains(Canvas& c) {
  for (int x = 0; x < W; ++x) {
    float fx = static_cast<float>(x);
    float far = far_ridge(fx);
    Rgb haze = mix(Rgb{160, 110, 150}, sky_colour(kHorizon - 10), 0.4f);
    for (int y = static_cast<int>(far); y < static_cast<int>(kHorizon); ++y) {
      float a = clamp01(static_cast<float>(y) - far + 1);
      c.blend(x, y, haze * (1.0f - 0.1f * (static_cast<float>(y) - far) / 80.0f), a);
    }
    float near = near_ridge(fx);
    float slope = near_ridge(fx + 2) - near_ridge(fx - 2);
    float lit = clamp01(slope * 0.35f);
    for (int y = std::max(0, static_cast<int>(near)); y < static_cast<int>(kHorizon); ++y) {
      float fy = static_cast<float>(y);
      float a = clamp01(fy - near + 1);
      float rock_n = fbm(fx / 18.0f, fy / 18.0f, 4);
      float gully = fbm(fx / 5.0f, fy / 45.0f, 3);
      float face = clamp01(lit * 0.8f + 0.35f * (gully - 0.5f));
      Rgb rock = mix(Rgb{38, 32, 62}, Rgb{172, 102, 112}, face) * (0.8f + 0.4f * rock_n);
      float snow_line = 232.0f + 30.0f * (fbm(fx / 25.0f, fy / 25.0f, 4) - 0.5f);
      if (fy < snow_line) {
        Rgb snow = mix(Rgb{140, 140, 190}, Rgb{255, 205, 195}, lit);
        rock = mix(rock, snow * (0.9f + 0.15f * rock_n), smoothstep(0, 8, snow_line - fy));
      }
      rock = mix(rock, Rgb{70, 55, 95}, 0.35f * (fy - near) / std::max(1.0f, kHorizon - near));
      c.blend(x, y, rock, a);
    }
    // A dark line of trees on the far shore.
    float band = (3.0f + 9.0f * fbm(fx / 6.0f, 1.3f, 3)) * (1.0f - smoothstep(360, 480, fx));
    for (int y = static_cast<int>(kHorizon - band); y <= static_cast<int>(kHorizon) && band > 0.5f; ++y)
      c.blend(x, y, Rgb{24, 28, 42}, 1);
  }
}

void paint_lake(Canvas& c) {
  Canvas above = c;
  for (int x = 0; x < W; ++x) {
    float fx = static_cast<float>(x);
    int bottom = static_cast<int>(shore(fx)) + 2;
    for (int y = static_cast<int>(kHorizon) + 1; y < std::min(bottom, H); ++y) {
      float fy = static_cast<float>(y);
      float depth = (fy - kHorizon) / 80.0f;
      float ripple = (2.0f + 4.0f * depth) * std::sin(fy * 0.9f + 6.0f * fbm(fx / 50.0f, fy / 6.0f, 3));
      int sx = x + static_cast<int>(ripple * 0.6f);
      int sy = static_cast<int>(2 * kHorizon - fy + ripple * 0.5f);
      Rgb col = mix(above.get(sx, sy) * 0.72f, Rgb{35, 55, 90}, 0.25f + 0.2f * clamp01(depth));
      col = col * (1.0f + 0.07f * std::sin(fy * 1.7f + 8.0f * fbm(fx / 30.0f, fy / 3.0f, 2)));
      // The sun's glitter path, widening toward the viewer.
      float spread = 10.0f + (fy - kHorizon) * 0.45f;
      float path = std::exp(-std::pow((fx - kSunX) / spread, 2.0f));
      float sparkle = smoothstep(0.58f, 0.72f, fbm(fx / 3.0f, fy / 1.2f, 2));
      col = col + Rgb{255, 190, 110} * (path * (0.25f + 0.9f * sparkle));
      c.at(x, y) = col;
    }
  }
}

void paint_meadow(Canvas& c) {
  for (int x = 0; x < W; ++x) {
    float fx = static_cast<float>(x);
    float top = shore(fx);
    for (int y = std::max(0, static_cast<int>(top)); y < H; ++y) {
      float fy = static_cast<float>(y);
      float t = clamp01((fy - top) / (static_cast<float>(H) - top));
      Rgb grass = mix(Rgb{72, 82, 48}, Rgb{30, 50, 30}, t);
      grass = grass * (0.82f + 0.36f * fbm(fx / 5.0f, fy / 2.2f, 3));
      grass = grass + Rgb{70, 38, 12} * ((1.0f - t) * 0.55f * std::exp(-std::fabs(fx - kSunX) / 320.0f));
      // The path from the foreground up to the cabin door.
      if (fy > 495) {
        float k = (fy - 495.0f) / 105.0f;
        float centre = 657.0f + (430.0f - 657.0f) * std::pow(k, 0.8f) + 6.0f * std::sin(k * 5.0f);
        float half = 5.0f + (fy - 495.0f) * 0.33f;
        float edge = half + 3.0f * (fbm(fx / 4.0f, fy / 4.0f, 2) - 0.5f) * 2.0f;
        if (std::fabs(fx - centre) < edge) grass = Rgb{102, 82, 64} * (0.85f + 0.3f * fbm(fx / 3.0f, fy / 3.0f, 2));
      }
      c.blend(x, y, grass, clamp01(fy - top + 1));
    }
  }
  // Flowers, thickest around the hollow in front.
  for (int y = 480; y < H; ++y) {
    for (int x = 0; x < W; ++x) {
      float fx = static_cast<float>(x), fy = static_cast<float>(y);
      if (fy < shore(fx) + 6) continue;
      float near = std::exp(-std::pow(std::hypot(fx - 420.0f, fy - 560.0f) / 90.0f, 2.0f));
      float h = hash(x * 7 + 3, y * 13 + 1);
      if (h > 0.9988f - 0.009f * near) {
        const Rgb colours[] = {{255, 225, 90}, {250, 245, 240}, {245, 140, 170}, {190, 150, 255}};
        Rgb col = colours[static_cast<int>(hash(x, y + 999) * 4) & 3];
        float size = 1.2f + 1.6f * (fy - 480.0f) / 120.0f;
        int r = static_cast<int>(std::ceil(size));
        for (int dy = -r; dy <= r; ++dy)
          for (int dx = -r; dx <= r; ++dx)
            c.blend(x + dx, y + dy, col * 0.85f, size - std::hypot(static_cast<float>(dx), static_cast<float>(dy)));
      }
    }
  }
}

void paint_pine(Canvas& c, float cx, float base, float height) {
  float crown_top = base - height, crown_bottom = base - height * 0.08f;
  float max_half = height * 0.21f;
  for (int y = static_cast<int>(crown_top); y < static_cast<int>(base); ++y) {
    float fy = static_cast<float>(y);
    for (int x = static_cast<int>(cx - max_half - 2); x <= static_cast<int>(cx + max_half + 2); ++x) {
      float fx = static_cast<float>(x);
      float t = (fy - crown_top) / (crown_bottom - crown_top);
      if (t <= 1.0f) {
        float tier = t * 6.0f - std::floor(t * 6.0f);
        float half = max_half * t * (0.62f + 0.38f * tier) + 2.0f * (hash(x, y) - 0.5f);
        float d = std::fabs(fx - cx);
        if (d < half) {
          Rgb col = Rgb{18, 38, 30} * (0.8f + 0.4f * fbm(fx / 3.0f, fy / 3.0f, 2));
          if (fx > cx) col = mix(col, Rgb{95, 75, 40}, 0.45f * smoothstep(0.4f, 1.0f, d / half));
          c.blend(x, y, col, half - d);
        }
      }
      if (std::fabs(fx - cx) < height * 0.02f + 1.5f && fy > crown_bottom - 4) c.blend(x, y, Rgb{45, 30, 22}, 1);
    }
  }
}

void fill_rect(Canvas& c, int x0, int y0, int x1, int y1, Rgb col) {
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x) c.blend(x, y, col, 1);
}

void paint_cabin(Canvas& c) {
  // Smoke first, so the chimney stands in front of its base.
  for (int y = 230; y < 414; ++y) {
    float rise = 414.0f - static_cast<float>(y);
    float centre = 695.0f - rise * 0.35f + 8.0f * std::sin(rise / 25.0f);
    float width = 4.0f + rise * 0.12f;
    for (int x = static_cast<int>(centre - 3 * width); x <= static_cast<int>(centre + 3 * width); ++x) {
      float d = std::fabs(static_cast<float>(x) - centre) / width;
      float density = std::exp(-d * d) * fbm(static_cast<float>(x) / 9.0f, static_cast<float>(y) / 9.0f, 3);
      c.blend(x, y, Rgb{185, 172, 190}, density * 0.7f * (1.0f - rise / 190.0f));
    }
  }
  for (int y = 450; y < 500; ++y) {
    for (int x = 610; x < 710; ++x) {
      Rgb wood = Rgb{112, 72, 46} * (0.85f + 0.25f * fbm(static_cast<float>(x) / 12.0f, static_cast<float>(y), 2));
      if (y % 7 == 0) wood = wood * 0.6f;
      if (x > 690) wood = mix(wood, Rgb{170, 100, 60}, 0.35f);
      c.blend(x, y, wood, 1);
    }
  }
  fill_rect(c, 688, 412, 700, 440, Rgb{82, 76, 82});
  for (int y = 408; y < 456; ++y) {
    float t = (static_cast<float>(y) - 408.0f) / 46.0f;
    float half = 64.0f * t;
    for (int x = static_cast<int>(660 - half); x <= static_cast<int>(660 + half); ++x) {
      Rgb roof = Rgb{96, 36, 30} * ((y / 5) % 2 ? 0.85f : 1.0f) * (0.9f + 0.2f * hash(x / 6, y / 5));
      if (x > 660) roof = mix(roof, Rgb{180, 80, 55}, 0.3f);
      c.blend(x, y, roof, 1);
    }
  }
  fill_rect(c, 652, 470, 668, 500, Rgb{48, 30, 20});
  fill_rect(c, 620, 462, 642, 482, Rgb{255, 205, 110});
  fill_rect(c, 630, 462, 632, 482, Rgb{60, 38, 25});
  fill_rect(c, 620, 471, 642, 473, Rgb{60, 38, 25});
  for (int y = 420; y < 530; ++y)
    for (int x = 570; x < 700; ++x) {
      float d = std::hypot(static_cast<float>(x) - 631.0f, static_cast<float>(y) - 472.0f);
      c.add(x, y, Rgb{255, 160, 70} * (0.32f * std::exp(-d / 22.0f)));
    }
}

void paint_boat(Canvas& c) {
  for (int y = 436; y < 447; ++y) {
    float t = (static_cast<float>(y) - 436.0f) / 10.0f;
    float half = 32.0f - 10.0f * t;
    for (int x = static_cast<int>(402 - half); x <= static_cast<int>(402 + half); ++x) c.blend(x, y, Rgb{48, 32, 26}, 1);
  }
  for (int y = 447; y < 455; ++y)
    for (int x = 380; x < 424; ++x)
      c.blend(x + static_cast<int>(2 * std::sin(y * 1.3f)), y, Rgb{20, 22, 35}, 0.5f * (455 - y) / 8.0f);
  fill_rect(c, 395, 418, 405, 436, Rgb{35, 28, 30});  // the boatman
  for (int y = 410; y < 419; ++y)
    for (int x = 394; x < 406; ++x)
      c.blend(x, y, Rgb{35, 28, 30}, 5.5f - std::hypot(static_cast<float>(x) - 400.0f, static_cast<float>(y) - 414.0f));
  fill_rect(c, 421, 412, 423, 436, Rgb{60, 45, 35});
  for (int y = 380; y < 480; ++y)
    for (int x = 370; x < 480; ++x) {
      float d = std::hypot(static_cast<float>(x) - 422.0f, static_cast<float>(y) - 410.0f);
      c.add(x, y, Rgb{255, 190, 100} * (std::exp(-d / 9.0f) + 0.15f * std::exp(-d / 30.0f)));
    }
}

}  // namespace

std::vector<uint8_t> landscape_draw() {
  Canvas c;
  paint_sky(c);
  paint_mountains(c);
  paint_lake(c);
  paint_boat(c);
  paint_meadow(c);
  paint_cabin(c);
  const float pines[][3] = {{70, 470, 120},  {20, 482, 150},  {200, 505, 170}, {95, 520, 210},
                            {235, 530, 190}, {40, 540, 250},  {150, 556, 262}, {285, 575, 150}};
  for (const auto& p : pines) paint_pine(c, p[0], p[1], p[2]);

  std::vector<uint8_t> rgb(static_cast<size_t>(W * H * 3));
  for (int y = 0; y < H; ++y) {
    for (int x = 0; x < W; ++x) {
      float dx = (static_cast<float>(x) - W * 0.5f) / (W * 0.5f), dy = (static_cast<float>(y) - H * 0.5f) / (H * 0.5f);
      float v = 1.0f - 0.28f * (dx * dx + dy * dy) * 0.5f;
      Rgb p = c.at(x, y) * v;
      uint8_t* out = &rgb[static_cast<size_t>((y * W + x) * 3)];
      out[0] = static_cast<uint8_t>(std::clamp(p.r, 0.0f, 255.0f));
      out[1] = static_cast<uint8_t>(std::clamp(p.g, 0.0f, 255.0f));
      out[2] = static_cast<uint8_t>(std::clamp(p.b, 0.0f, 255.0f));
    }
  }
  return rgb;
}

std::vector<uint8_t> landscape_encode_jpeg(const std::vector<uint8_t>& rgb, int quality) {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr jerr;
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_compress(&cinfo);
  unsigned char* mem = nullptr;
  unsigned long mem_size = 0;
  jpeg_mem_dest(&cinfo, &mem, &mem_size);
  cinfo.image_width = W;
  cinfo.image_height = H;
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(&rgb[static_cast<size_t>(cinfo.next_scanline) * W * 3]);
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  std::vector<uint8_t> out(mem, mem + mem_size);
  jpeg_destroy_compress(&cinfo);
  std::free(mem);
  return out;
}
