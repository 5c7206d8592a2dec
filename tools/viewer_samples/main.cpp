// Makes the viewer's sample data in a working folder:
//   text/traveler.txt, text/girl.txt, text/hutkeeper.txt, text/boatman.txt
//   sav/sample01.sav  (the drawn lakeside picture with seven points)
// Usage: viewer_samples <data folder> [picture.jpg]
// The dialogue texts are written here in UTF-8 and stored as CP932 with
// CRLF line ends, as a user's editor on the original system would.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "landscape.h"
#include "platform/sys/sys.h"
#include "viewer/save_file.h"

namespace {

struct Speaker {
  const char* file;
  const char* name;
  const char* type;
  const char* part;
  std::vector<const char*> lines[3];
};

const Speaker kSpeakers[] = {
    {"traveler.txt",
     "旅人",
     "男",
     "案内役",
     {{"やっと湖が見えてきた。今日はここで休もう。", "山の向こうに日が沈んでいく。きれいなものだな。",
       "歩き続けて三日目、足が棒のようだ。"},
      {"あの山小屋、明かりがついている。誰か住んでいるのか？", "湖に夕日が映って、まるで金色の道みたいだ。"},
      {"この景色を見るために、ここまで来たのかもしれない。", "明日の朝は、あの頂を目指してみよう。"}}},
    {"girl.txt",
     "ミナ",
     "少女",
     "村の娘",
     {{"ねえ見て、お月さまがもう出てるよ！", "花がいっぱい咲いてる。摘んで帰ろうかな。"},
      {"一番星みーつけた！願いごと、何にしよう。", "風が冷たくなってきたね。そろそろ帰らなきゃ。"},
      {"夜になったら、湖に星がうつるんだよ。", "お父さんの舟、まだ帰ってこないのかな……"}}},
    {"hutkeeper.txt",
     "山小屋の主人",
     "老人",
     "山小屋",
     {{"よう、旅のお方。今夜は冷えるぞ。", "暖炉に火を入れたところだ。あたっていきなされ。"},
      {"あの雪山は、夏でも雪が消えんのじゃ。", "煙がまっすぐ昇る日は、明日も晴れる。"},
      {"わしはこの小屋で四十年、湖を見てきた。", "山をなめてはいかん。だが、恐れすぎてもいかん。"}}},
    {"boatman.txt",
     "渡し守",
     "男",
     "湖",
     {{"向こう岸まで乗っていくかい？", "今日は波が穏やかだ。"},
      {"日が落ちる前に網を上げちまおう。", "この湖の底には、古い村が沈んでいるって話だ。"},
      {"灯りをともしておけば、迷わず帰れるさ。"}}},
};

// A point on the picture, in picture pixels, with its settings.
struct SamplePoint {
  float x, y, radius;
  uint8_t number, effect, speed, level, time;
  const char* dialogue;  // file in text/, or null
};

const SamplePoint kPoints[] = {
    {540, 340, 40, 0, 4, 8, 6, 5, "traveler.txt"},    // the setting sun
    {300, 180, 55, 1, 1, 10, 4, 0, "hutkeeper.txt"},  // the snowy peak
    {660, 468, 50, 2, 0, 10, 10, 6, "hutkeeper.txt"}, // the cabin
    {402, 432, 32, 3, 2, 12, 5, 4, "boatman.txt"},    // the boat
    {130, 80, 30, 4, 5, 6, 8, 5, "girl.txt"},         // the young moon
    {420, 558, 45, 5, 3, 15, 3, 0, "girl.txt"},       // the flowers
    {120, 440, 60, 6, 0, 10, 10, 7, nullptr},         // the pine wood
};

// Layout the fractions are measured against: the default 1024x768 client,
// the picture fitted below the 16-pixel menu bar.
constexpr float kLayoutW = 1024, kLayoutH = 768, kBar = 16;

std::string dialogue_text(const Speaker& s) {
  std::string t = std::string("#NAME\r\n[") + s.name + "]\r\n#TYPE\r\n[" + s.type + "]\r\n#PART\r\n[" + s.part + "]\r\n";
  for (int pool = 0; pool < 3; ++pool)
    for (const char* line : s.lines[pool]) t += "#TEXT" + std::to_string(pool + 1) + "\r\n[" + line + "]\r\n";
  return t;
}

bool write_file(const std::string& path, const std::string& body) {
  if (sys_write_file(path, body.data(), body.size())) return true;
  std::fprintf(stderr, "viewer_samples: cannot write %s\n", path.c_str());
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: viewer_samples <data folder> [picture.jpg]\n");
    return 2;
  }
  const std::string data = argv[1];
  for (const Speaker& s : kSpeakers) {
    std::string utf8 = dialogue_text(s);
    std::string cp932 = sys_utf8_to_cp932(utf8);
    if (sys_cp932_to_utf8(cp932) != utf8) {
      std::fprintf(stderr, "viewer_samples: %s does not convert to CP932\n", s.file);
      return 1;
    }
    if (!write_file(data + "/text/" + s.file, cp932)) return 1;
  }

  std::vector<uint8_t> rgb = landscape_draw();
  SaveArrangement a;
  a.order = 1;
  a.picture = landscape_encode_jpeg(rgb, 90);
  if (argc > 2 && !write_file(argv[2], std::string(a.picture.begin(), a.picture.end()))) return 1;

  const float fit = std::min(kLayoutW / kLandscapeWidth, (kLayoutH - kBar) / kLandscapeHeight);
  const float pw = fit * kLandscapeWidth, ph = fit * kLandscapeHeight;
  for (const SamplePoint& p : kPoints) {
    SavePoint sp;
    sp.x = fit * p.x / pw;
    sp.y = (kBar + fit * p.y) / ph;
    sp.radius = fit * p.radius / ph;
    sp.number = p.number;
    sp.effect = p.effect;
    sp.effect_speed = p.speed;
    sp.effect_level = p.level;
    sp.time = p.time;
    if (p.dialogue) sp.dialogue_path = std::string(".\\text\\") + p.dialogue;
    a.points.push_back(sp);
  }
  return save_write_file(data + "/sav/sample01.sav", a) == SAVE_OK ? 0 : 1;
}
