// The viewer with the engine's device: the sample arrangement at the first
// update, ".sav" files applied to the scene, SAVE and LOAD through the scene,
// LOAD CG, and the picture with its afterimages.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <string>

#include "assets/textures.h"
#include "platform/image/image_samples.h"
#include "platform/window/file_dialog.h"
#include "viewer/viewer_arrangement.h"
#include "viewer/viewer_picture.h"
#include "viewer_scene_fixture.h"
#include "viewer_test_util.h"

namespace {

using viewer_test::g_input;
using viewer_test::ViewerSceneGl;

constexpr int kPictureLayer = 27;

// Builds ".sav" images field by field.
struct SavImage {
  std::vector<uint8_t> bytes;
  SavImage& u32(uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return *this;
  }
  SavImage& f32(float f) {
    uint32_t b;
    std::memcpy(&b, &f, 4);
    return u32(b);
  }
  SavImage& header(int32_t count, int32_t order) {
    bytes.insert(bytes.end(), {'K', 'T', 'S', 'X'});
    return u32(static_cast<uint32_t>(count)).u32(static_cast<uint32_t>(order));
  }
  SavImage& record(float x, float y, float r, uint32_t number, const std::string& name = "") {
    u32(0).f32(x).f32(y).f32(r).u32(number).u32(2).u32(7).u32(13).u32(4).u32(static_cast<uint32_t>(name.size()));
    for (char c : name) bytes.push_back(static_cast<uint8_t>(c) ^ 0xB3);
    return *this;
  }
  SavImage& picture(const Bytes& p) {
    u32(static_cast<uint32_t>(p.size()));
    bytes.insert(bytes.end(), p.begin(), p.end());
    return *this;
  }
};

class ViewerFiles : public ViewerSceneGl {
 protected:
  void SetUp() override {
    ViewerSceneGl::SetUp();
    answers = dir.path + "/answers.txt";
    ::setenv("TL_FILE_DIALOG_ANSWERS", answers.c_str(), 1);
    file_dialog_reset_answers();
  }
  void TearDown() override {
    ::unsetenv("TL_FILE_DIALOG_ANSWERS");
    ViewerSceneGl::TearDown();
  }
  // The next file dialogs answer these paths, in order ("" cancels).
  void answer(const std::vector<std::string>& paths) {
    std::ofstream out(answers);
    for (const std::string& p : paths) out << p << "\n";
    file_dialog_reset_answers();
  }
  std::string write(const std::string& name, const std::vector<uint8_t>& bytes) {
    std::ofstream(dir.path + "/" + name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                                 static_cast<std::streamsize>(bytes.size()));
    return dir.path + "/" + name;
  }
  void load(const std::string& path) {
    answer({path});
    save_load(nullptr);
  }
  PictureFit fit() {
    PictureFit f;
    picture_fit(viewer_state().picture, &f);
    return f;
  }

  viewer_test::TempDir dir;
  std::string answers;
};

TEST_F(ViewerFiles, FirstUpdateLoadsTheSampleAndDrawsNothingElse) {
  frame();
  const ViewerState& s = viewer_state();
  EXPECT_EQ(points_count(), 7);
  EXPECT_EQ(viewer_get_order_mode(), 1);
  ASSERT_NE(s.picture, 0u);
  EXPECT_STREQ(get_texture_package(s.picture), "x");
  EXPECT_STREQ(get_texture_name(s.picture), "my_tex");
  EXPECT_FALSE(s.picture_bytes.empty());
  EXPECT_EQ(tasks_on(11), 0);
  EXPECT_EQ(tasks_on(kPictureLayer), 0);
  EXPECT_TRUE(texts(viewer_text_main()).empty());
  EXPECT_EQ(tasks_on(16), 7 * 25) << "the new points draw themselves in the task pass";
  // The first point of the sample, in fitted-picture units.
  const PictureFit f = fit();
  EXPECT_NEAR(point_get_x(s.points[0]), 0.675f * f.width, 0.01f);
  EXPECT_NEAR(point_get_y(s.points[0]), 0.5879432f * f.height, 0.01f);
  EXPECT_NEAR(point_get_radius(s.points[0]), 0.0666667f * f.height, 0.01f);
  EXPECT_EQ(point_get_dialogue_path(s.points[0]), sys_host_path(".\\text\\traveler.txt"));
  EXPECT_NE(point_get_dialogue_name(s.points[0]), nullptr);

  frame();
  EXPECT_EQ(tasks_on(11), 7);
  ASSERT_EQ(sprites(kPictureLayer).size(), 1u);
  const SpriteData* pic = sprites(kPictureLayer)[0];
  EXPECT_FLOAT_EQ(pic->x, 0);
  EXPECT_FLOAT_EQ(pic->y, 16);
  EXPECT_FLOAT_EQ(pic->width * pic->scale_x, f.width);
  EXPECT_FLOAT_EQ(pic->height * pic->scale_y, f.height);
  EXPECT_TRUE(f.width == kW || f.height == kH - 16) << "the picture fits whole, aspect kept";
}

// Without "sample01.sav" the first update says once that it could not be
// loaded, and shows the blank picture.
TEST_F(ViewerFiles, FirstUpdateWithoutTheSampleSaysSoOnce) {
  const std::string before = sys_get_current_dir();
  ASSERT_TRUE(sys_set_current_dir(dir.path));
  ::testing::internal::CaptureStderr();
  frame();
  const std::string said = ::testing::internal::GetCapturedStderr();
  sys_set_current_dir(before);
  const std::string message = "ファイルがロードできませんでした。";
  size_t count = 0;
  for (size_t at = said.find(message); at != std::string::npos; at = said.find(message, at + 1)) ++count;
  EXPECT_EQ(count, 1u) << said;
  ASSERT_NE(viewer_state().picture, 0u);
  EXPECT_STREQ(get_texture_package(viewer_state().picture), "mem");
  EXPECT_EQ(points_count(), 0);
}

TEST_F(ViewerFiles, TwentyRecordsGiveSixteenPointsAndThePictureAfterThem) {
  skip_first_update();
  SavImage img;
  img.header(20, 1);
  for (int i = 0; i < 20; ++i) img.record(0.04f * i, 0.5f, 0.1f, static_cast<uint32_t>(i), "text\\none.txt");
  img.picture(write_png(sample_pure(40, 20), PngKind::RGB8));
  load(write("twenty.sav", img.bytes));
  EXPECT_EQ(points_count(), 16);
  EXPECT_EQ(viewer_get_order_mode(), 1);
  const TextureObject* t = get_texture_object(viewer_state().picture);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->image_width, 40);
  EXPECT_EQ(t->image_height, 20);
  // 40 x 20 fits 1024 wide: 1024 x 512.
  const PictureFit f = fit();
  EXPECT_FLOAT_EQ(f.width, 1024);
  EXPECT_FLOAT_EQ(f.height, 512);
  for (int i = 0; i < 16; ++i) {
    Task* p = viewer_state().points[i];
    ASSERT_NE(p, nullptr);
    EXPECT_NEAR(point_get_x(p), 0.04f * i * 1024, 0.01f);
    EXPECT_NEAR(point_get_y(p), 256, 0.01f);
    EXPECT_NEAR(point_get_radius(p), 51.2f, 0.01f);
    EXPECT_EQ(point_get_number(p), i);
    EXPECT_EQ(point_get_effect(p), 2);
    EXPECT_EQ(point_get_effect_speed(p), 7);
    EXPECT_EQ(point_get_effect_level(p), 13);
    EXPECT_EQ(point_get_time(p), 4);
    EXPECT_EQ(point_get_dialogue_path(p), nullptr) << "a dialogue file found nowhere";
  }
  // SAVE writes each path back as the file stored it all the same.
  const std::string again = dir.path + "/again.sav";
  ASSERT_EQ(save_write_file(again, viewer_build_arrangement()), SAVE_OK);
  const std::string bytes = viewer_test::read_all(again);
  SaveArrangement saved;
  ASSERT_EQ(save_parse(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), saved), SAVE_OK);
  ASSERT_EQ(saved.points.size(), 16u);
  for (const SavePoint& p : saved.points) EXPECT_EQ(p.dialogue_path, "text\\none.txt");
}

TEST_F(ViewerFiles, ZeroRecordsGiveNoPointsAndThePicture) {
  skip_first_update();
  add_point(0, 100, 100, 20);
  SavImage img;
  img.header(0, 0).picture(write_png(sample_pure(8, 16), PngKind::RGBA8));
  load(write("empty.sav", img.bytes));
  EXPECT_EQ(points_count(), 0);
  EXPECT_EQ(viewer_get_order_mode(), 0);
  const PictureFit f = fit();
  EXPECT_FLOAT_EQ(f.height, kH - 16);
  EXPECT_FLOAT_EQ(f.width, (kH - 16) / 2.0f);
}

TEST_F(ViewerFiles, RefusedFilesChangeNothing) {
  frame();  // the sample
  const AssetHandle picture = viewer_state().picture;
  const size_t bytes = viewer_state().picture_bytes.size();
  Task* first = viewer_state().points[0];
  const float x = point_get_x(first);

  SavImage bad_magic;
  bad_magic.bytes = {'K', 'T', 'S', 'Y', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  SavImage truncated;
  truncated.header(3, 0).record(0.5f, 0.5f, 0.1f, 0);
  SavImage bad_picture;
  bad_picture.header(1, 0).record(0.5f, 0.5f, 0.1f, 0).picture({'n', 'o', 'p', 'e'});
  // Decoding stops after the first bands of rows have gone to the texture.
  Bytes cut_jpeg = write_jpeg(sample_gradient(40, 200), false, false);
  cut_jpeg.resize(cut_jpeg.size() / 2);
  SavImage cut_picture;
  cut_picture.header(1, 0).record(0.5f, 0.5f, 0.1f, 0).picture(cut_jpeg);
  // A name of 246 bytes is named over lines that keep the box on the screen.
  for (const auto& [name, img] : {std::pair<std::string, SavImage>{"magic.sav", bad_magic},
                                  {"short.sav", truncated},
                                  {"picture.sav", bad_picture},
                                  {"cut.sav", cut_picture},
                                  {std::string(242, 'm') + ".sav", bad_magic},
                                  {"caf\xC3\xA9.sav", bad_magic}}) {
    ::testing::internal::CaptureStderr();
    const std::string path = write(name, img.bytes);
    load(path);
    const std::string said = ::testing::internal::GetCapturedStderr();
    size_t widest = 0;
    EXPECT_EQ(viewer_test::joined(viewer_test::said_box(said, "ファイルがロードできませんでした。", &widest)), path)
        << name << ": " << said;
    EXPECT_LE(widest, kSysMessageColumns) << said;
    EXPECT_EQ(points_count(), 7) << name;
    EXPECT_EQ(viewer_state().points[0], first) << name;
    EXPECT_FLOAT_EQ(point_get_x(first), x) << name;
    EXPECT_EQ(viewer_state().picture, picture) << name;
    EXPECT_EQ(viewer_state().picture_bytes.size(), bytes) << name;
    EXPECT_EQ(viewer_get_order_mode(), 1) << name;
  }
  load("");  // cancelled
  EXPECT_EQ(points_count(), 7);
}

TEST_F(ViewerFiles, SaveThenLoadRestoresTheArrangement) {
  frame();
  // Change the sample: move a point, reset one's settings, add one.
  Task* p0 = viewer_state().points[0];
  point_set_position(p0, 321.5f, 222.25f);
  point_set_radius(p0, 77);
  point_set_effect(viewer_state().points[1], 5);
  point_set_time(viewer_state().points[1], 99);
  Task* added = add_point(7, 900, 600, 33);
  point_set_number(added, 15);
  viewer_set_order_mode(1);
  const SaveArrangement before = viewer_build_arrangement();

  const std::string saved = dir.path + "/round.sav";
  answer({saved});
  click(190, 8);  // SAVE
  frame();
  ASSERT_GT(get_file_size(saved), 0u);

  points_destroy_all();
  viewer_set_order_mode(0);
  answer({saved});
  click(150, 8);  // LOAD
  frame();
  const SaveArrangement after = viewer_build_arrangement();
  EXPECT_EQ(after.order, 1);
  EXPECT_EQ(after.picture, before.picture);
  ASSERT_EQ(after.points.size(), 8u);
  for (size_t i = 0; i < 8; ++i) {
    const SavePoint& a = before.points[i];
    const SavePoint& b = after.points[i];
    EXPECT_NEAR(a.x, b.x, 1e-5f) << i;
    EXPECT_NEAR(a.y, b.y, 1e-5f) << i;
    EXPECT_NEAR(a.radius, b.radius, 1e-5f) << i;
    EXPECT_EQ(a.number, b.number) << i;
    EXPECT_EQ(a.effect, b.effect) << i;
    EXPECT_EQ(a.effect_speed, b.effect_speed) << i;
    EXPECT_EQ(a.effect_level, b.effect_level) << i;
    EXPECT_EQ(a.time, b.time) << i;
    EXPECT_EQ(a.dialogue_path, b.dialogue_path) << i;
  }
  EXPECT_NEAR(point_get_x(viewer_state().points[0]), 321.5f, 0.01f);
  EXPECT_NEAR(point_get_radius(viewer_state().points[0]), 77, 0.01f);
}

TEST_F(ViewerFiles, LoadStopsPlaying) {
  frame();
  click(980, 8);
  frame();
  g_input.space_pressed = true;
  frame();
  EXPECT_TRUE(viewer_is_playing());
  answer({""});
  click(150, 8);
  frame();
  EXPECT_FALSE(viewer_is_playing());
  EXPECT_EQ(viewer_get_level(), 0);
}

TEST_F(ViewerSceneGl, HugeStoredPositionsAreClamped) {
  skip_first_update();
  // A 1 x 1 BMP: fitted, it is enlarged a thousandfold, so the stored
  // positions overflow to infinity before they are clamped.
  SaveArrangement a;
  const uint8_t bmp[] = {'B', 'M', 58, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0,
                         1, 0, 24, 0, 0, 0, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                         0, 0, 0, 0, 255, 0};
  a.picture.assign(bmp, bmp + sizeof bmp);
  SavePoint p;
  p.x = 3.0e38f;
  p.y = -3.0e38f;
  p.radius = 3.0e38f;
  a.points.push_back(p);
  // Radii of nothing or less would make PLAY's magnification infinite or
  // turn the picture over: they become one pixel. ORDER visits each in turn.
  a.order = 1;
  for (float r : {0.0f, -0.5f}) {
    p.x = p.y = 0.5f;
    p.radius = r;
    a.points.push_back(p);
  }
  ASSERT_TRUE(viewer_apply_arrangement(std::move(a)));
  Task* t = viewer_state().points[0];
  ASSERT_NE(t, nullptr);
  EXPECT_TRUE(std::isfinite(point_get_x(t)));
  EXPECT_LE(std::fabs(point_get_x(t)), 1.0e6f);
  EXPECT_LE(std::fabs(point_get_y(t)), 1.0e6f);
  EXPECT_LE(point_get_radius(t), 1.0e6f);
  EXPECT_EQ(point_get_radius(viewer_state().points[1]), 1.0f);
  EXPECT_EQ(point_get_radius(viewer_state().points[2]), 1.0f);
  click(980, 8);
  for (int i = 0; i < 5; ++i) frame();
  EXPECT_TRUE(std::isfinite(viewer_state().camera_x));
  EXPECT_TRUE(std::isfinite(viewer_state().magnification));
  for (int point = 0; point < 3; ++point) {
    viewer_state().frames_left = 0;
    frame();
    EXPECT_TRUE(std::isfinite(viewer_state().magnification)) << viewer_state().current;
    EXPECT_GT(viewer_state().magnification, 0.0f) << viewer_state().current;
  }
}

// A file that cannot be shown (junk, a JPEG cut short after its first rows)
// leaves the picture shown before; a CMYK JPEG shows its colours.
TEST_F(ViewerFiles, LoadCgShowsPicturesAndKeepsThePictureForBadFiles) {
  frame();
  const std::string png = write("a.png", write_png(sample_gradient(30, 60), PngKind::RGBA8));
  const std::string jpg = write("b.jpg", write_jpeg(sample_gradient(64, 32), false, false));
  const std::string junk = write("c.png", {'j', 'u', 'n', 'k'});
  Bytes cut_jpeg = write_jpeg(sample_gradient(40, 200), false, false);
  cut_jpeg.resize(cut_jpeg.size() / 2);
  const std::string cut = write("d.jpg", cut_jpeg);
  Picture red{24, 16, std::vector<uint32_t>(24 * 16, 0xFFE01020u)};
  const std::string cmyk = write("e.jpg", write_jpeg(red, false, false, JpegCmyk::Adobe));
  answer({png, jpg, junk, cut, cmyk, ""});
  struct {
    int width, height;
    const char* package;
    bool bytes;
  } want[] = {{30, 60, "x", true}, {64, 32, "x", true}, {64, 32, "x", true},
              {64, 32, "x", true}, {24, 16, "x", true}, {24, 16, "x", true}};
  for (const auto& w : want) {
    click(20, 8);  // LOAD CG
    frame();
    const AssetHandle pic = viewer_state().picture;
    ASSERT_NE(pic, 0u);
    EXPECT_STREQ(get_texture_package(pic), w.package);
    EXPECT_STREQ(get_texture_name(pic), "my_tex");
    EXPECT_EQ(get_texture_object(pic)->image_width, w.width);
    EXPECT_EQ(get_texture_object(pic)->image_height, w.height);
    EXPECT_EQ(!viewer_state().picture_bytes.empty(), w.bytes);
  }
  const uint32_t shown = read_texture_texel(viewer_state().picture, 5, 5);
  for (int s = 0; s < 24; s += 8) EXPECT_NEAR(int(shown >> s & 0xFF), int(0xFFE01020u >> s & 0xFF), 3) << s;
  EXPECT_EQ(points_count(), 7) << "LOAD CG keeps the points";
}

// Without any picture, a file that cannot be shown, or none chosen, leaves
// the blank one and says so.
TEST_F(ViewerFiles, LoadCgOfABadFileWithoutAPictureShowsTheBlank) {
  skip_first_update();
  const std::string junk = write("c.png", {'j', 'u', 'n', 'k'});
  // A name of 246 bytes is named over lines that keep the box on the screen.
  const std::string long_junk = write(std::string(242, 'c') + ".png", {'j', 'u', 'n', 'k'});
  // Named as the file system spells it.
  const std::string cafe_junk = write("caf\xC3\xA9.png", {'j', 'u', 'n', 'k'});
  for (const std::string& chosen : {junk, long_junk, cafe_junk, std::string()}) {
    answer({chosen});
    ::testing::internal::CaptureStderr();
    click(20, 8);
    frame();
    const std::string said = ::testing::internal::GetCapturedStderr();
    size_t widest = 0;
    EXPECT_EQ(viewer_test::joined(viewer_test::said_box(said, "ファイルがロードできませんでした。", &widest)), chosen)
        << said;
    EXPECT_NE(said.find("ファイルがロードできませんでした。"), std::string::npos) << said;
    EXPECT_LE(widest, kSysMessageColumns) << said;
    const AssetHandle pic = viewer_state().picture;
    ASSERT_NE(pic, 0u) << chosen;
    EXPECT_STREQ(get_texture_package(pic), "mem");
    EXPECT_TRUE(viewer_state().picture_bytes.empty());
    release_asset_registry_to_mark(&viewer_state().picture_mark);
    viewer_state().picture = 0;
  }
}

// While playing the picture wobbles by (4 sin 1.3t + 2 sin 2.1t, 3 sin 0.9t +
// 2 sin 2.0t) degrees-sines, times H / 768, its scale and the wobble scale;
// t counts frames from PLAY. Its scale does not pulse.
TEST_F(ViewerFiles, PictureWobblesWhilePlaying) {
  frame();
  points_destroy_all();  // the camera stays centred and no effect runs
  frame();
  const SpriteData rest = *sprites(kPictureLayer)[0];
  EXPECT_FLOAT_EQ(rest.x, 0);
  EXPECT_FLOAT_EQ(rest.y, 16);
  for (int i = 0; i < 4; ++i) {
    click(880, 8);  // LAG 5
    frame();
  }
  click(980, 8);
  auto deg = [](double d) { return std::sin(d * M_PI / 180.0); };
  // Where the picture was drawn, newest last; the stopped frames first.
  std::vector<std::pair<float, float>> drawn(5, {rest.x, rest.y});
  for (int t = 0; t < 60; ++t) {
    if (t == 40) viewer_state().wobble_x_scale = 2.0f;
    frame();
    const double f = (kH / 768.0) * rest.scale_x * (t >= 40 ? 2.0 : 1.0);
    const SpriteData* pic = sprites(kPictureLayer)[0];
    SCOPED_TRACE(t);
    EXPECT_NEAR(pic->x, (4 * deg(1.3 * t) + 2 * deg(2.1 * t)) * f, 0.01);
    EXPECT_NEAR(pic->y, 16 + (3 * deg(0.9 * t) + 2 * deg(2.0 * t)) * f, 0.01);
    EXPECT_FLOAT_EQ(pic->scale_x, rest.scale_x);
    EXPECT_FLOAT_EQ(pic->scale_y, rest.scale_y);
    // Afterimage i stands where the picture was i + 1 frames ago.
    for (int i = 0; i < 5; ++i) {
      const SpriteData* after = sprites(26 - i)[0];
      EXPECT_EQ(after->x, drawn[drawn.size() - 1 - i].first) << i;
      EXPECT_EQ(after->y, drawn[drawn.size() - 1 - i].second) << i;
    }
    drawn.emplace_back(pic->x, pic->y);
  }
  click(980, 8);  // STOP: at rest again
  frame();
  EXPECT_FLOAT_EQ(sprites(kPictureLayer)[0]->x, 0);
  EXPECT_FLOAT_EQ(sprites(kPictureLayer)[0]->y, 16);
}

TEST_F(ViewerFiles, AfterimagesFollowLagWithHalvingAlpha) {
  frame();
  frame();
  for (int i = 0; i < 4; ++i) {
    click(880, 8);  // LAG 1 -> 5
    frame();
  }
  ASSERT_EQ(viewer_get_lag(), 5);
  // The placements recorded while stopped serve the first frames of PLAY.
  const PicturePlacement stopped = viewer_state().history[0];
  click(980, 8);
  frame();
  const uint32_t alphas[] = {128, 64, 32, 16, 8};
  for (int i = 0; i < 5; ++i) {
    const auto layer = sprites(26 - i);
    ASSERT_EQ(layer.size(), 1u) << i;
    SCOPED_TRACE(i);
    EXPECT_EQ(layer[0]->colour, (alphas[i] << 24) | 0xFFFFFFu);
    EXPECT_FLOAT_EQ(layer[0]->x, stopped.x);
    EXPECT_FLOAT_EQ(layer[0]->y, stopped.y);
  }
  click(880, 8);  // LAG 0
  frame();
  for (int i = 0; i < 5; ++i) EXPECT_EQ(tasks_on(26 - i), 0);
}

}  // namespace
