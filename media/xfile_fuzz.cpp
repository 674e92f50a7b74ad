// libFuzzer entry: any bytes through the text ".x" reader, flat and as a tree;
// every corner it gives is whole, and every index of the tree points inside it.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "media/media.h"

namespace {

void check_tree(const media::XTree& t, media::XStatus status) {
  if ((status == media::XStatus::ok) == t.frames.empty()) __builtin_trap();
  if (status != media::XStatus::ok) {
    if (!t.meshes.empty() || !t.materials.empty() || !t.animations.empty()) __builtin_trap();
    return;
  }
  if (t.frames.size() > static_cast<std::size_t>(media::kMaxXFrames) + 1 || t.frames[0].parent != -1 ||
      t.ticks_per_second == 0)
    __builtin_trap();
  std::size_t corners = 0;
  for (std::size_t f = 0; f < t.frames.size(); ++f) {
    if (f > 0 && (t.frames[f].parent < 0 || static_cast<std::size_t>(t.frames[f].parent) >= f)) __builtin_trap();
    for (int m : t.frames[f].meshes) {
      if (m < 0 || static_cast<std::size_t>(m) >= t.meshes.size()) __builtin_trap();
      const media::XMesh& mesh = t.meshes[static_cast<std::size_t>(m)];
      if (mesh.corners.empty() || mesh.corners.size() % 3 != 0) __builtin_trap();
      corners += mesh.corners.size();
      std::uint32_t next = 0;
      for (const media::XGroup& g : mesh.groups) {
        if (g.first != next || g.count == 0 || g.count % 3 != 0) __builtin_trap();
        if (g.material < -1 || g.material >= static_cast<int>(t.materials.size())) __builtin_trap();
        next += g.count;
      }
      if (next != mesh.corners.size()) __builtin_trap();
    }
  }
  if (corners > static_cast<std::size_t>(media::kMaxXCorners)) __builtin_trap();
  std::size_t keys = 0;
  for (const media::XAnimationSet& set : t.animations)
    for (const media::XTrack& track : set.tracks) {
      if (track.frame <= 0 || static_cast<std::size_t>(track.frame) >= t.frames.size()) __builtin_trap();
      if (track.values.size() != track.times.size() * static_cast<std::size_t>(media::x_key_width(track.kind)))
        __builtin_trap();
      keys += track.times.size();
    }
  if (keys > static_cast<std::size_t>(media::kMaxXKeys)) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<media::XPart> parts;
  media::XStatus status = media::parse_text_x({data, size}, parts);
  if ((status == media::XStatus::ok) == parts.empty()) __builtin_trap();
  std::size_t corners = 0;
  for (const media::XPart& p : parts) {
    if (p.corners.empty() || p.corners.size() % 3 != 0) __builtin_trap();
    corners += p.corners.size();
  }
  if (corners > static_cast<std::size_t>(media::kMaxXCorners)) __builtin_trap();
  media::XTree tree;
  check_tree(tree, media::parse_text_x_tree({data, size}, tree));
  return 0;
}
