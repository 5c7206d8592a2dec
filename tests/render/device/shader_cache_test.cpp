// Translated shaders come back from the cache as the translator made them,
// and a cache entry that does not check out is translated again and
// rewritten. Each test points the cache at a folder of its own.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/shader/shader_internal.h"

namespace {

namespace fs = std::filesystem;

const char kVertex[] = R"(
float4x4 world;
float4 tint[2];
struct VsIn { float4 pos : POSITION; float2 tc : TEXCOORD0; };
struct VsOut { float4 pos : POSITION; float4 col : COLOR0; float2 tc : TEXCOORD0; };
VsOut VsMain(VsIn i) {
  VsOut o;
  o.pos = mul(i.pos, world);
  o.col = tint[0] + tint[1];
  o.tc = i.tc;
  return o;
}
)";

struct Translation {
  std::string glsl;
  std::vector<std::string> varyings;
  std::vector<std::string> constants;  // name:register:elements
};

bool translate(const char* source, const char* profile, Translation* out) {
  ShaderCode* code = nullptr;
  ShaderConstantTable* table = nullptr;
  std::string errors;
  if (!shader_compile(source, std::char_traits<char>::length(source), "test", "VsMain", profile, &code, &table,
                      &errors)) {
    ADD_FAILURE() << errors;
    return false;
  }
  out->glsl = shader_code_glsl(code);
  for (const GpuShaderVarying& v : code->varyings)
    out->varyings.push_back(std::string(v.name) + ":" + std::to_string(v.usage) + ":" + std::to_string(v.components));
  for (const ShaderConstant& k : table->constants)
    out->constants.push_back(k.name + ":" + std::to_string(k.offset) + ":" + std::to_string(k.elements));
  shader_code_release(code);
  shader_table_release(table);
  return true;
}

bool operator==(const Translation& a, const Translation& b) {
  return a.glsl == b.glsl && a.varyings == b.varyings && a.constants == b.constants;
}

std::string read_all(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_all(const fs::path& p, const std::string& bytes) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out << bytes;
}

ino_t inode(const fs::path& p) {
  struct stat st{};
  return ::stat(p.c_str(), &st) == 0 ? st.st_ino : 0;
}

class ShaderCache : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("tl_shader_cache_" + std::to_string(::getpid()) + "_" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_);
    ::setenv("XDG_CACHE_HOME", root_.c_str(), 1);
    shader_cache_forget();
  }
  void TearDown() override {
    shader_cache_forget();
    fs::remove_all(root_);
  }
  fs::path folder() const { return root_ / "tamberlune" / "shaders"; }
  std::vector<fs::path> entries() const {
    std::vector<fs::path> out;
    if (fs::is_directory(folder()))
      for (const auto& e : fs::directory_iterator(folder())) out.push_back(e.path());
    return out;
  }
  fs::path root_;
};

TEST_F(ShaderCache, AHitGivesTheSameProgramWithoutRewriting) {
  Translation fresh;
  ASSERT_TRUE(translate(kVertex, "vs_1_1", &fresh));
  ASSERT_EQ(entries().size(), 1u);
  const fs::path entry = entries()[0];
  const ino_t written = inode(entry);

  Translation from_memory, from_disk;
  ASSERT_TRUE(translate(kVertex, "vs_1_1", &from_memory));
  shader_cache_forget();
  ASSERT_TRUE(translate(kVertex, "vs_1_1", &from_disk));
  EXPECT_TRUE(from_memory == fresh);
  EXPECT_TRUE(from_disk == fresh);
  EXPECT_EQ(inode(entry), written) << "a sound entry is read, not written again";

  // Another profile or another source is another entry.
  Translation other;
  ASSERT_TRUE(translate(kVertex, "vs_3_0", &other));
  std::string edited = std::string(kVertex) + "\n// edited\n";
  ASSERT_TRUE(translate(edited.c_str(), "vs_1_1", &other));
  EXPECT_EQ(entries().size(), 3u);
}

TEST_F(ShaderCache, AnEntryThatDoesNotCheckOutIsTranslatedAgainAndRewritten) {
  Translation fresh;
  ASSERT_TRUE(translate(kVertex, "vs_1_1", &fresh));
  ASSERT_EQ(entries().size(), 1u);
  const fs::path entry = entries()[0];
  const std::string good = read_all(entry);
  ASSERT_GT(good.size(), 24u);

  struct Damage {
    const char* name;
    std::string bytes;
  };
  std::string flipped = good;
  flipped[good.size() / 2] = char(flipped[good.size() / 2] ^ 0x20);
  std::string other_key = good;
  other_key[8] = char(other_key[8] ^ 1);
  std::string huge_size = good;
  huge_size[19] = char(0x7F);
  const Damage damages[] = {
      {"empty", ""},
      {"header cut short", good.substr(0, 12)},
      {"payload cut short", good.substr(0, good.size() - 1)},
      {"byte appended", good + "x"},
      {"payload byte flipped", flipped},
      {"wrong magic", "XXXXXXXX" + good.substr(8)},
      {"key of another source", other_key},
      {"payload size beyond the limit", huge_size},
  };
  for (const Damage& d : damages) {
    SCOPED_TRACE(d.name);
    write_all(entry, d.bytes);
    shader_cache_forget();
    Translation again;
    ASSERT_TRUE(translate(kVertex, "vs_1_1", &again));
    EXPECT_TRUE(again == fresh);
    EXPECT_EQ(read_all(entry), good);
  }
  EXPECT_EQ(entries().size(), 1u) << "no temporary file is left behind";
}

TEST_F(ShaderCache, AFolderThatCannotBeWrittenIsNoError) {
  // The cache home is a plain file, so no folder can be made under it.
  const fs::path blocker = root_ / "file";
  write_all(blocker, "not a folder");
  ::setenv("XDG_CACHE_HOME", blocker.c_str(), 1);
  Translation first, second;
  ASSERT_TRUE(translate(kVertex, "vs_1_1", &first));
  shader_cache_forget();
  ASSERT_TRUE(translate(kVertex, "vs_1_1", &second));
  EXPECT_TRUE(first == second);
  EXPECT_FALSE(first.glsl.empty());
}

}  // namespace
