#include "scene3d/preset_models.h"

#include "assets/model_records.h"
#include "assets/presets.h"
#include "scene3d/animation.h"
#include "scene3d/part_api.h"
#include "scene3d/part_classes.h"

Task* create_preset_model(uint32_t owner, const Mat4* matrix, const char* preset, uint8_t layer) {
  const ModelPreset* p = find_model_preset(preset);
  PresetModelAssets assets;
  if (p == nullptr || !find_preset_model_assets(preset, &assets)) return nullptr;
  Task* part = create_model_part(owner, matrix, assets.mesh, layer);
  if (part == nullptr) return nullptr;
  model_part_set_motion(part, static_cast<int32_t>(assets.bone_tree), static_cast<int32_t>(assets.animation));
  model_part_set_colour_c3_w(part, p->colour, p->value);
  model_part_set_flag_5(part, 1);
  for (int32_t i = 0; i < p->slot_count && i < 4; ++i) {
    const ModelPresetSlot& s = p->slots[i];
    if (s.package == nullptr || s.mesh == nullptr) continue;
    model_part_set_slot(part, i, assets.slot_meshes[i], s.third);
    part_slot_set_colour_c3_w(part, i, s.colour, s.value);
    part_slot_set_flag_0(part, i, s.flags[0]);
    part_slot_set_flag_3(part, i, s.flags[1]);
    part_slot_set_flags_12_14(part, i, s.flags[2]);
    part_slot_set_flag2_bit2(part, i, s.flags[3]);
  }
  return part;
}

bool set_part_motion_by_name(Task* part, const char* animation) {
  const MotionPlayer* player = model_part_player(part);
  if (player == nullptr || animation == nullptr) return false;
  const char* package = get_animation_package(player->animation);
  const AssetHandle found = package != nullptr ? find_animation(package, animation) : 0;
  if (found == 0) return false;
  model_part_set_motion(part, -1, static_cast<int32_t>(found));
  return true;
}
