#include "platform/movie/movie_h264_packet.h"

#include <algorithm>

#include "platform/movie/movie_bit_reader.h"

namespace {

constexpr int kSlice = 1;
constexpr int kIdrSlice = 5;
constexpr int kSei = 6;
constexpr int kSequenceSet = 7;
constexpr int kPictureSet = 8;
constexpr uint32_t kRecoveryPoint = 6;
// Bytes of a unit's start enough for the fields the look reads, before its
// escapes are taken out.
constexpr size_t kHead = 16;
// Bytes of a unit read for a parameter set or a slice header: more than the
// longest of them (scaling lists, weight tables) takes.
constexpr size_t kUnit = 1024;
// The largest picture a level allows, in macroblocks.
constexpr uint32_t kMaxFrameMbs = 139264;
// Memory management operations a slice header may hold.
constexpr int kMaxOperations = 66;

// The bytes of a unit without the escape bytes (00 00 03) that keep start
// codes out of it, up to `limit` of them or the next start code.
size_t unescape(const uint8_t* d, size_t n, uint8_t* out, size_t limit) {
  size_t got = 0;
  int zeros = 0;
  for (size_t i = 0; i < n && got < limit; ++i) {
    if (zeros >= 2 && d[i] <= 3) {
      if (d[i] != 3) break;
      zeros = 0;
      continue;
    }
    zeros = d[i] == 0 ? zeros + 1 : 0;
    out[got++] = d[i];
  }
  return got;
}

bool high_profile(uint32_t profile) {
  switch (profile) {
    case 100: case 110: case 122: case 244: case 44: case 83: case 86: case 118: case 128: case 138: case 139:
    case 134: case 135: return true;
    default: return false;
  }
}

void skip_scaling_list(BitReader& r, int count) {
  int64_t last = 8, next = 8;
  for (int j = 0; j < count && !r.overran(); ++j) {
    if (next != 0) next = (last + r.se() + 256) % 256;
    if (next != 0) last = next;
  }
}

bool in_range(int64_t v, int64_t low, int64_t high) { return v >= low && v <= high; }

void read_sequence(BitReader& r, H264ParameterSets* sets) {
  const uint32_t profile = r.bits(8);
  r.bits(16);  // constraint flags, level
  const uint32_t id = r.ue();
  if (id >= sets->sequences.size()) return;
  H264Sequence s;
  uint32_t chroma_format = 1;
  if (high_profile(profile)) {
    chroma_format = r.ue();
    if (chroma_format > 3) return;
    if (chroma_format == 3) s.separate_planes = r.bit() != 0;
    const uint32_t depth = r.ue();
    if (depth > 6) return;
    s.bit_depth_luma = static_cast<uint8_t>(8 + depth);
    r.ue();   // chroma bit depth
    r.bit();  // lossless bypass
    if (r.bit() != 0)
      for (int i = 0; i < (chroma_format != 3 ? 8 : 12); ++i)
        if (r.bit() != 0) skip_scaling_list(r, i < 6 ? 16 : 64);
  }
  const uint32_t frame_num_bits = r.ue();
  s.poc_type = static_cast<uint8_t>(std::min<uint32_t>(r.ue(), 3));
  if (frame_num_bits > 12 || s.poc_type > 2) return;
  s.log2_max_frame_num = static_cast<uint8_t>(frame_num_bits + 4);
  if (s.poc_type == 0) {
    const uint32_t lsb_bits = r.ue();
    if (lsb_bits > 12) return;
    s.log2_max_poc_lsb = static_cast<uint8_t>(lsb_bits + 4);
  } else if (s.poc_type == 1) {
    s.delta_poc_always_zero = r.bit() != 0;
    const int64_t non_ref = r.se();
    const int64_t top_to_bottom = r.se();
    const uint32_t cycle = r.ue();
    if (cycle > 255 || !in_range(non_ref, INT32_MIN, INT32_MAX) || !in_range(top_to_bottom, INT32_MIN, INT32_MAX))
      return;
    s.offset_for_non_ref = static_cast<int32_t>(non_ref);
    s.offset_top_to_bottom = static_cast<int32_t>(top_to_bottom);
    for (uint32_t i = 0; i < cycle; ++i) {
      const int64_t offset = r.se();
      if (!in_range(offset, INT32_MIN, INT32_MAX)) return;
      s.offset_for_ref.push_back(static_cast<int32_t>(offset));
    }
  }
  r.ue();  // reference frames
  s.gaps_allowed = r.bit() != 0;
  const uint64_t width = uint64_t{r.ue()} + 1;
  const uint64_t height = uint64_t{r.ue()} + 1;
  s.frame_mbs_only = r.bit() != 0;
  if (!s.frame_mbs_only) r.bit();  // adaptive frame and field
  const uint64_t mbs = width * height * (s.frame_mbs_only ? 1 : 2);
  if (r.overran() || mbs > kMaxFrameMbs) return;
  s.frame_mbs = static_cast<uint32_t>(mbs);
  s.chroma_array_type = static_cast<uint8_t>(s.separate_planes ? 0 : chroma_format);
  s.valid = true;
  sets->sequences[id] = std::move(s);
}

void read_picture_set(BitReader& r, H264ParameterSets* sets) {
  const uint32_t id = r.ue();
  const uint32_t sequence = r.ue();
  if (id >= sets->pictures.size() || sequence >= sets->sequences.size()) return;
  H264PictureSet p;
  p.sequence = static_cast<uint8_t>(sequence);
  p.cabac = r.bit() != 0;
  p.bottom_field_poc = r.bit() != 0;
  const uint32_t groups = r.ue() + 1;
  if (groups > 8) return;
  if (groups > 1) {
    const uint32_t map = r.ue();
    if (map == 0) {
      for (uint32_t i = 0; i < groups; ++i) r.ue();
    } else if (map == 2) {
      for (uint32_t i = 0; i + 1 < groups; ++i) r.ue(), r.ue();
    } else if (map >= 3 && map <= 5) {
      r.bit();
      r.ue();
    } else if (map == 6) {
      const uint32_t units = r.ue() + 1;
      if (units > kMaxFrameMbs) return;
      int bits = 0;
      while ((1u << bits) < groups) ++bits;
      for (uint32_t i = 0; i < units && !r.overran(); ++i) r.bits(bits);
    } else if (map != 1) {
      return;
    }
  }
  const uint32_t l0 = r.ue() + 1;
  const uint32_t l1 = r.ue() + 1;
  if (l0 > 32 || l1 > 32) return;
  p.ref_idx_default[0] = static_cast<uint8_t>(l0);
  p.ref_idx_default[1] = static_cast<uint8_t>(l1);
  p.weighted_pred = r.bit() != 0;
  p.weighted_bipred = static_cast<uint8_t>(r.bits(2));
  const int64_t qp = r.se();
  r.se();  // switching qp
  r.se();  // chroma offset
  p.deblocking_control = r.bit() != 0;
  r.bit();  // constrained intra
  p.redundant_pic_cnt = r.bit() != 0;
  if (r.overran() || p.weighted_bipred > 2 || !in_range(qp, -26 - 6 * 6, 25)) return;
  p.pic_init_qp = static_cast<int32_t>(26 + qp);
  p.valid = true;
  sets->pictures[id] = p;
}

void read_unit(H264ParameterSets* sets, const uint8_t* d, size_t n) {
  if (n == 0) return;
  const int type = d[0] & 0x1F;
  if (type != kSequenceSet && type != kPictureSet) return;
  uint8_t unit[kUnit];
  BitReader r{unit, unescape(d + 1, n - 1, unit, kUnit)};
  if (type == kSequenceSet)
    read_sequence(r, sets);
  else
    read_picture_set(r, sets);
}

// The rest of a slice header after its order fields, with the checks a
// decoder makes of it: false where it would refuse the slice.
bool rest_reads(BitReader& r, const H264Sequence& s, const H264PictureSet& p, uint32_t slice_type, bool reference,
                bool idr, bool field, H264SliceOrder* out) {
  enum { P, B, I, SP, SI };
  const uint32_t type = slice_type % 5;
  if (p.redundant_pic_cnt && r.ue() > 127) return false;
  if (type == B) r.bit();  // direct prediction
  uint32_t refs[2] = {p.ref_idx_default[0], p.ref_idx_default[1]};
  const uint32_t max_refs = field ? 32 : 16;
  if ((type == P || type == SP || type == B) && r.bit() != 0) {
    refs[0] = r.ue() + 1;
    if (type == B) refs[1] = r.ue() + 1;
  }
  const int lists = type == P || type == SP ? 1 : type == B ? 2 : 0;
  for (int l = 0; l < lists; ++l)
    if (refs[l] > max_refs) return false;
  for (int l = 0; l < lists; ++l) {
    if (r.bit() == 0) continue;
    for (uint32_t k = 0;; ++k) {
      const uint32_t op = r.ue();
      if (op == 3) break;
      if (op > 2 || k >= refs[l] || r.overran()) return false;
      r.ue();
    }
  }
  if ((p.weighted_pred && (type == P || type == SP)) || (p.weighted_bipred == 1 && type == B)) {
    if (r.ue() > 7) return false;
    if (s.chroma_array_type != 0 && r.ue() > 7) return false;
    for (int l = 0; l < lists; ++l)
      for (uint32_t i = 0; i < refs[l]; ++i) {
        const int planes = s.chroma_array_type != 0 ? 2 : 1;
        for (int plane = 0; plane < planes; ++plane) {
          if (r.bit() == 0) continue;
          for (int c = 0; c < (plane == 0 ? 1 : 2); ++c)
            if (!in_range(r.se(), -128, 127) || !in_range(r.se(), -128, 127)) return false;
        }
      }
  }
  if (reference) {
    if (idr) {
      r.bits(2);  // no output of prior pictures, long term
    } else if (r.bit() != 0) {
      for (int k = 0;; ++k) {
        const uint32_t op = r.ue();
        if (op == 0) break;
        if (op > 6 || k >= kMaxOperations || r.overran()) return false;
        if (op == 5) out->mmco_reset = true;
        if (op == 1 || op == 2 || op == 3 || op == 4 || op == 6) r.ue();
        if (op == 3) r.ue();
      }
    }
  }
  if (p.cabac && type != I && type != SI && r.ue() > 2) return false;
  const int64_t qp = p.pic_init_qp + r.se();
  if (!in_range(qp, -6 * (s.bit_depth_luma - 8), 51)) return false;
  if (type == SP || type == SI) {
    if (type == SP) r.bit();
    r.se();
  }
  if (p.deblocking_control) {
    const uint32_t filter = r.ue();
    if (filter > 2) return false;
    if (filter != 1 && (!in_range(r.se(), -6, 6) || !in_range(r.se(), -6, 6))) return false;
  }
  return !r.overran();
}

}  // namespace

H264PacketLook h264_packet_look(const uint8_t* d, size_t n) {
  H264PacketLook look;
  for (size_t i = 0; i + 3 < n; ++i) {
    if (d[i] != 0 || d[i + 1] != 0 || d[i + 2] != 1) continue;
    const uint8_t header = d[i + 3];
    const int type = header & 0x1F;
    uint8_t unit[kHead];
    const size_t got = unescape(d + i + 4, n - i - 4, unit, kHead);
    BitReader r{unit, got};
    if (type == kSlice || type == kIdrSlice) {
      // The first slice tells of its picture: the others share its kind.
      look.slice = true;
      look.idr = type == kIdrSlice;
      look.reference = (header >> 5) != 0;
      r.ue();  // first macroblock
      // A type past the last is damage, which says nothing of the picture.
      const uint32_t slice_type = r.ue();
      look.intra = slice_type <= 9 && (slice_type % 5 == 2 || slice_type % 5 == 4);
      break;
    }
    if (type == kSei) {
      uint32_t payload = 0;
      for (uint32_t byte = 255; byte == 255 && !r.ended();) payload += byte = r.bits(8);
      look.recovery = look.recovery || payload == kRecoveryPoint;
    }
    i += 3;
  }
  return look;
}

void h264_parameter_sets_read(H264ParameterSets* sets, const uint8_t* d, size_t n) {
  for (size_t i = 0; i + 3 < n; ++i) {
    if (d[i] != 0 || d[i + 1] != 0 || d[i + 2] != 1) continue;
    const int type = d[i + 3] & 0x1F;
    // Parameter sets come before the picture's slices.
    if (type == kSlice || type == kIdrSlice) return;
    read_unit(sets, d + i + 3, n - i - 3);
    i += 3;
  }
}

H264SliceOrder h264_slice_order(const H264ParameterSets* sets, const uint8_t* d, size_t n) {
  H264SliceOrder out;
  for (size_t i = 0; i + 3 < n; ++i) {
    if (d[i] != 0 || d[i + 1] != 0 || d[i + 2] != 1) continue;
    const uint8_t header = d[i + 3];
    const int type = header & 0x1F;
    if (type != kSlice && type != kIdrSlice) {
      i += 3;
      continue;
    }
    uint8_t unit[kUnit];
    BitReader r{unit, unescape(d + i + 4, n - i - 4, unit, kUnit)};
    const uint32_t first_mb = r.ue();
    const uint32_t slice_type = r.ue();
    const uint32_t set = r.ue();
    if (slice_type > 9 || set >= sets->pictures.size() || !sets->pictures[set].valid) return out;
    const H264PictureSet& p = sets->pictures[set];
    const H264Sequence& s = sets->sequences[p.sequence];
    if (!s.valid) return out;
    out.idr = type == kIdrSlice;
    out.reference = (header >> 5) != 0;
    if (s.separate_planes) r.bits(2);
    out.frame_num = r.bits(s.log2_max_frame_num);
    if (!s.frame_mbs_only) {
      out.field = r.bit() != 0;
      if (out.field) out.bottom = r.bit() != 0;
    }
    // A first macroblock past the picture, or an IDR numbered past its
    // range, says the header is not what was written.
    if (first_mb >= (out.field ? s.frame_mbs / 2 : s.frame_mbs)) return out;
    if (out.idr && (out.frame_num != 0 || r.ue() > 65535)) return out;
    if (s.poc_type == 0) {
      out.poc_lsb = r.bits(s.log2_max_poc_lsb);
      if (p.bottom_field_poc && !out.field) out.delta_bottom = r.se();
    } else if (s.poc_type == 1 && !s.delta_poc_always_zero) {
      out.delta[0] = r.se();
      if (p.bottom_field_poc && !out.field) out.delta[1] = r.se();
    }
    if (r.overran() || !in_range(out.delta_bottom, INT32_MIN, INT32_MAX) ||
        !in_range(out.delta[0], INT32_MIN, INT32_MAX) || !in_range(out.delta[1], INT32_MIN, INT32_MAX))
      return out;
    out.found = true;
    out.sequence = &s;
    out.whole = rest_reads(r, s, p, slice_type, out.reference, out.idr, out.field, &out);
    if (!out.whole) out.mmco_reset = false;
    return out;
  }
  return out;
}
