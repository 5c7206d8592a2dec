#include "viewer/viewer_picture.h"

#include <algorithm>
#include <new>

#include "assets/textures.h"
#include "math/sine.h"
#include "platform/sys/sys.h"
#include "platform/window/file_dialog.h"
#include "platform/window/window.h"
#include "render/overlay2d/sprite2d.h"
#include "viewer/viewer_messages.h"
#include "viewer/viewer_state.h"

namespace {

constexpr uint8_t kPictureLayer = 27;  // afterimages below it on 26..22
constexpr uint32_t kPictureColour = 0xFFFFFFFF;
constexpr char kPicturePackage[] = "x";
constexpr char kBlankPackage[] = "mem";
constexpr char kPictureName[] = "my_tex";
constexpr int kBlankSide = 16;

// Drops the shown picture: its texture (everything registered after the
// picture mark) and its kept bytes.
void release_picture() {
  ViewerState& s = viewer_state();
  release_asset_registry_to_mark(&s.picture_mark);
  mark_asset_registry(&s.picture_mark);
  s.picture = 0;
  s.picture_bytes.clear();
  s.picture_bytes.shrink_to_fit();
}

}  // namespace

bool picture_fit(AssetHandle picture, PictureFit* out) {
  *out = PictureFit{0, 0, 1, 1};
  const TextureObject* t = get_texture_object(picture);
  if (!t || t->width == 0 || t->height == 0) return false;
  // A blank texture has no picture size of its own: it shows its surface.
  const float a = t->image_width ? t->image_width : t->width;
  const float b = t->image_height ? t->image_height : t->height;
  const float c = t->width, d = t->height;
  const float f = std::min(viewer_width() / a, (viewer_height() - kViewerBarHeight) / b);
  *out = PictureFit{f * a / c, f * b / d, f * a, f * b};
  return true;
}

CgPlacement cg_transform(float x, float y, float scale_x, float scale_y, float dx, float dy, float scale_x_add,
                         float scale_y_add) {
  const ViewerState& s = viewer_state();
  const float W = viewer_width(), H = viewer_height();
  const float ex = s.camera_x + dx, ey = s.camera_y + dy;
  const float zx = s.magnification + scale_x_add, zy = s.magnification + scale_y_add;
  return CgPlacement{W * 0.5f + zx * (x - ex), (H - kViewerBarHeight) * 0.5f + kViewerBarHeight + zy * (y - ey),
                     zx * scale_x, zy * scale_y};
}

void cg_draw(float dx, float dy, float scale_x_add, float scale_y_add) {
  ViewerState& s = viewer_state();
  PictureFit fit;
  picture_fit(s.picture, &fit);
  CgPlacement p = cg_transform(0, kViewerBarHeight, fit.scale_x, fit.scale_y, dx, dy, scale_x_add, scale_y_add);
  if (s.playing) {
    const float t = static_cast<float>(s.frame);
    const float f = (viewer_height() / 768.0f) * p.scale_x * s.wobble_x_scale;
    p.x += (4 * fast_sin_deg(1.3f * t) + 2 * fast_sin_deg(2.1f * t)) * f;
    p.y += (3 * fast_sin_deg(0.9f * t) + 2 * fast_sin_deg(2.0f * t)) * f;
  }
  if (s.picture) {
    sprite2d_draw_texture(s.owner, s.picture, kPictureColour, p.x, p.y, 0, 0, p.scale_x, p.scale_y, kPictureLayer);
    if (s.playing) {
      for (int i = 0; i < std::clamp(s.lag, 0, kViewerHistory); ++i) {
        const PicturePlacement& h = s.history[i];
        const uint32_t colour = (static_cast<uint32_t>(256 >> (i + 1)) << 24) | 0xFFFFFF;
        sprite2d_draw_texture(s.owner, s.picture, colour, h.x, h.y, 0, 0, h.scale_x, h.scale_y,
                              static_cast<uint8_t>(kPictureLayer - 1 - i));
      }
    }
  }
  std::copy_backward(s.history, s.history + kViewerHistory - 1, s.history + kViewerHistory);
  s.history[0] = PicturePlacement{p.x, p.y, p.scale_x, p.scale_y};
}

void picture_show_blank() {
  ViewerState& s = viewer_state();
  if (s.picture) release_picture();
  s.picture = create_texture(kBlankPackage, kPictureName, kBlankSide, kBlankSide, 0);
}

bool picture_prepare(const std::vector<uint8_t>& bytes, TextureObject* out) {
  *out = TextureObject{};
  return !bytes.empty() && gfx_create_texture_d3dx(out, bytes.data(), bytes.size(), 0);
}

bool picture_show_prepared(std::vector<uint8_t>&& bytes, TextureObject* prepared) {
  ViewerState& s = viewer_state();
  release_picture();
  s.picture = register_texture_object(kPicturePackage, kPictureName, prepared);
  if (s.picture == 0) return false;
  // A picture is shown once, not tiled: sampling it enlarged must not bring
  // in the opposite edge's colour.
  set_texture_address_modes(s.picture, TEXTURE_ADDRESS_CLAMP, TEXTURE_ADDRESS_CLAMP);
  s.picture_bytes = std::move(bytes);
  return true;
}

bool picture_show_bytes(std::vector<uint8_t>&& bytes) {
  TextureObject prepared{};
  return picture_prepare(bytes, &prepared) && picture_show_prepared(std::move(bytes), &prepared);
}

void load_cg_file(const std::string& path) {
  std::vector<uint8_t> bytes;
  bool read = false;
  try {
    read = get_file_size(path) > 0 && sys_read_file(path, bytes);
  } catch (const std::bad_alloc&) {
    window_message_box_utf8(sys_path_lines(path, kSysMessageColumns), kMsgNoMemory);
    return;
  }
  if (read && picture_show_bytes(std::move(bytes))) return;
  // Nothing of the shown picture has been dropped unless the pool was full.
  window_message_box_utf8(sys_path_lines(path, kSysMessageColumns), kMsgFileNotLoaded);
  if (!viewer_state().picture) picture_show_blank();
}

void load_cg_image() {
  std::string path;
  if (file_dialog_open({{kFilterPictures, kFilterPicturePatterns}, {kFilterAllFiles, "*.*"}}, ".\\", path)) {
    load_cg_file(path);
  } else if (!viewer_state().picture) {
    window_message_box_utf8(sys_path_lines(path, kSysMessageColumns), kMsgFileNotLoaded);
    picture_show_blank();
  }
}
