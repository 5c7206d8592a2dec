// What the movie reader looks at inside an H.264 packet stored with start
// codes, from its bytes alone: whether it holds a picture, and whether that
// picture needs none before it (an instantaneous refresh, or intra slices),
// may begin a decode (a recovery point), or is one that others may refer
// to; and, with the stream's parameter sets, the fields of its first slice's
// header that tell where it is shown (its picture order count). Every read
// is bounded and safe on any bytes. Not part of the interface.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

struct H264PacketLook {
  bool slice = false;      // holds a slice of a picture
  bool idr = false;        // an instantaneous refresh: nothing after it refers to anything before
  bool intra = false;      // its slices are intra
  bool reference = false;  // other pictures may refer to it
  bool recovery = false;   // a recovery point: decoding may begin here
};

H264PacketLook h264_packet_look(const uint8_t* data, size_t size);

// What a sequence parameter set says of the pictures' order.
struct H264Sequence {
  bool valid = false;
  bool separate_planes = false;
  uint8_t chroma_array_type = 1;
  uint8_t bit_depth_luma = 8;
  uint8_t log2_max_frame_num = 4;
  uint8_t poc_type = 0;
  uint8_t log2_max_poc_lsb = 4;
  bool delta_poc_always_zero = false;
  bool frame_mbs_only = true;
  bool gaps_allowed = false;
  int32_t offset_for_non_ref = 0;
  int32_t offset_top_to_bottom = 0;
  std::vector<int32_t> offset_for_ref;  // the picture order cycle
  uint32_t frame_mbs = 0;               // macroblocks in a frame
};

// What a picture parameter set says of its slices' headers.
struct H264PictureSet {
  bool valid = false;
  uint8_t sequence = 0;
  bool cabac = false;
  bool bottom_field_poc = false;  // a frame's slices carry the bottom field's offset
  uint8_t ref_idx_default[2] = {1, 1};
  bool weighted_pred = false;
  uint8_t weighted_bipred = 0;
  int32_t pic_init_qp = 26;
  bool deblocking_control = false;
  bool redundant_pic_cnt = false;
};

// The parameter sets met so far, by their numbers.
struct H264ParameterSets {
  std::array<H264Sequence, 32> sequences;
  std::array<H264PictureSet, 256> pictures;
};

// Takes in the parameter sets the bytes hold: a packet or the stream's
// header data, with start codes.
void h264_parameter_sets_read(H264ParameterSets* sets, const uint8_t* data, size_t size);

// The first slice header of a picture, read with the parameter sets.
struct H264SliceOrder {
  bool found = false;     // a slice whose parameter sets are known, read up to its order fields
  bool whole = false;     // its whole header reads as a decoder takes it (else the decoder refuses the slice)
  bool idr = false;
  bool reference = false;
  bool field = false;
  bool bottom = false;
  bool mmco_reset = false;  // memory management operation 5: the order counts begin again after it
  uint32_t frame_num = 0;
  int64_t poc_lsb = 0;
  int64_t delta_bottom = 0;
  int64_t delta[2] = {0, 0};
  const H264Sequence* sequence = nullptr;  // inside the sets read from
};

H264SliceOrder h264_slice_order(const H264ParameterSets* sets, const uint8_t* data, size_t size);
