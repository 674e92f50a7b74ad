// Meshes on the CPU side: the vertex pool that holds every mesh's copy, editing
// and normals, merging face groups, and picking by rays against the copies.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/scene/scene_local.h"

namespace scene {

// ---- The vertex pool -----------------------------------------------------------------

namespace {

// Moves every mesh's run down so the pool has no holes.
void close_up(Renderer& r) {
  static_assert(kMaxMeshes <= kMaxFrames, "the frame stack orders the meshes");
  int n = 0;
  for (int m = 0; m < kMaxMeshes; ++m)
    if (r.meshes[m].used && r.meshes[m].vertex_count > 0) r.stack[n++] = m;
  std::sort(r.stack, r.stack + n, [&r](int a, int b) { return r.meshes[a].first_vertex < r.meshes[b].first_vertex; });
  int top = 0;
  for (int i = 0; i < n; ++i) {
    MeshSlot& m = r.meshes[r.stack[i]];
    if (m.first_vertex != top)
      std::memmove(static_cast<void*>(r.vertex_pool.get() + top), vertices_of(r, m),
                   static_cast<std::size_t>(m.vertex_count) * sizeof(Vertex));
    m.first_vertex = top;
    top += m.vertex_count;
  }
  r.vertices_used = top;
}

}  // namespace

int take_vertices(Renderer& r, int count) {
  if (count > kMaxMeshVertices - r.vertices_used) close_up(r);
  if (count > kMaxMeshVertices - r.vertices_used) {
    fail(r, "full: mesh vertices");
    return kNone;
  }
  int first = r.vertices_used;
  r.vertices_used += count;
  return first;
}

void give_back_vertices(Renderer& r, const MeshSlot& m) {
  if (m.vertex_count > 0 && m.first_vertex + m.vertex_count == r.vertices_used) r.vertices_used = m.first_vertex;
}

// ---- Editing -------------------------------------------------------------------------

namespace {

bool range_ok(const MeshSlot& m, int first, long long count) {
  return first >= 0 && count >= 0 && first + count <= m.vertex_count;
}

// Unit normal of triangle t (cross(b - a, c - a): out of the clockwise front face); zero when degenerate.
Vec3 face_normal(const Vertex* v, int t) {
  const Vec3 a = v[3 * t].position, b = v[3 * t + 1].position, c = v[3 * t + 2].position;
  return normalise(cross(sub(b, a), sub(c, a)));
}

bool same_position(Vec3 a, Vec3 b) { return a.x == b.x && a.y == b.y && a.z == b.z; }
bool position_before(Vec3 a, Vec3 b) {
  if (a.x != b.x) return a.x < b.x;
  if (a.y != b.y) return a.y < b.y;
  return a.z < b.z;
}

constexpr float kSmoothCosine = 0.49999f;  // faces within 60 degrees share a smooth normal

bool same_look(const FaceGroup& a, const FaceGroup& b) {
  return a.material.id == b.material.id && a.texture.id == b.texture.id && a.quality == b.quality;
}

}  // namespace

std::span<const Vertex> mesh_vertices(const Renderer& r, Mesh mesh) {
  if (!mesh_ok(r, mesh)) return {};
  const MeshSlot& m = r.meshes[mesh.id];
  return {vertices_of(r, m), static_cast<std::size_t>(m.vertex_count)};
}

std::span<Vertex> mesh_edit_vertices(Renderer& r, Mesh mesh) {
  if (!mesh_ok(r, mesh)) return {};
  const MeshSlot& m = r.meshes[mesh.id];
  return {vertices_of(r, m), static_cast<std::size_t>(m.vertex_count)};
}

bool mesh_update_vertices(Renderer& r, Mesh mesh, int first, std::span<const Vertex> vertices) {
  if (!mesh_ok(r, mesh) || !range_ok(r.meshes[mesh.id], first, static_cast<long long>(vertices.size()))) return false;
  const MeshSlot& m = r.meshes[mesh.id];
  // memmove: the source may be part of the mesh's own copy.
  std::memmove(static_cast<void*>(vertices_of(r, m) + first), vertices.data(), vertices.size_bytes());
  upload_mesh_range(r, m, first, static_cast<int>(vertices.size()));
  return true;
}

bool mesh_upload_vertices(Renderer& r, Mesh mesh, int first, int count) {
  if (!mesh_ok(r, mesh) || !range_ok(r.meshes[mesh.id], first, count)) return false;
  upload_mesh_range(r, r.meshes[mesh.id], first, count);
  return true;
}

bool mesh_recompute_normals(Renderer& r, Mesh mesh) {
  if (!mesh_ok(r, mesh)) return false;
  const MeshSlot& m = r.meshes[mesh.id];
  Vertex* v = vertices_of(r, m);
  int n = m.vertex_count - m.vertex_count % 3;
  // Vertices sorted by position: each run of equal positions is one corner.
  std::vector<int>& order = r.normal_order;
  if (order.size() < static_cast<std::size_t>(n)) order.resize(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) order[static_cast<std::size_t>(i)] = i;
  std::sort(order.begin(), order.begin() + n,
            [v](int a, int b) { return position_before(v[a].position, v[b].position); });
  for (int start = 0; start < n;) {
    int end = start + 1;
    while (end < n && same_position(v[order[static_cast<std::size_t>(end)]].position,
                                    v[order[static_cast<std::size_t>(start)]].position))
      ++end;
    for (int i = start; i < end; ++i) {
      int vertex = order[static_cast<std::size_t>(i)];
      Vec3 own = face_normal(v, vertex / 3);
      if (modulus(own) == 0) continue;
      Vec3 sum{};
      for (int j = start; j < end; ++j) {
        Vec3 other = face_normal(v, order[static_cast<std::size_t>(j)] / 3);
        if (dot(own, other) >= kSmoothCosine) sum = add(sum, other);
      }
      v[vertex].normal = normalise(sum);
    }
    start = end;
  }
  upload_mesh_range(r, m, 0, m.vertex_count);
  return true;
}

bool mesh_optimize(Renderer& r, Mesh mesh) {
  if (!mesh_ok(r, mesh)) return false;
  MeshSlot& m = r.meshes[mesh.id];
  int kept = 0;
  for (int g = 0; g < m.group_count; ++g) {
    const FaceGroup group = m.groups[g];
    if (group.vertex_count == 0) continue;
    FaceGroup* last = kept > 0 ? &m.groups[kept - 1] : nullptr;
    if (last && same_look(*last, group) && last->first_vertex + last->vertex_count == group.first_vertex)
      last->vertex_count += group.vertex_count;
    else
      m.groups[kept++] = group;
  }
  if (kept == 0) kept = 1;  // every group was empty: keep one, as mesh_create requires
  m.group_count = kept;
  upload_mesh_range(r, m, 0, m.vertex_count);
  return true;
}

// ---- Picking -------------------------------------------------------------------------

namespace {

struct Ray {
  Vec3 origin, direction;  // direction's component along the camera's +z is 1
};

// The clip planes that apply to a frame's meshes, and the map from the frame's
// space into the space of the frame that holds them.
struct Clip {
  const FrameSlot* planes = nullptr;  // null: none
  Mat4 to_planes;
};

bool kept(const Clip& clip, Vec3 frame_point) {
  if (!clip.planes) return true;
  Vec3 p = transform_point(clip.to_planes, frame_point);
  for (int i = 0; i < clip.planes->clip_count; ++i) {
    const float* plane = clip.planes->clip[i];
    if (plane[0] * p.x + plane[1] * p.y + plane[2] * p.z + plane[3] < 0) return false;
  }
  return true;
}

// The nearest front-facing hit of the ray (in the mesh's space) on the mesh's
// groups with t in [near, best) that the clip planes keep; mirrored (det < 0)
// flips which side is front.
bool hit_mesh(const Renderer& r, const MeshSlot& m, const Ray& ray, bool mirrored, const Clip& clip, float near,
              float& best, int& triangle) {
  const Vertex* v = vertices_of(r, m);
  bool found = false;
  for (int g = 0; g < m.group_count; ++g) {
    const FaceGroup& group = m.groups[g];
    for (int i = group.first_vertex; i + 2 < group.first_vertex + group.vertex_count; i += 3) {
      Vec3 a = v[i].position;
      Vec3 e1 = sub(v[i + 1].position, a), e2 = sub(v[i + 2].position, a);
      // A clockwise front face has cross(e1, e2) pointing back at the viewer.
      float facing = dot(cross(e1, e2), ray.direction);
      if (mirrored ? !(facing > 0) : !(facing < 0)) continue;
      // Moller-Trumbore: ray.origin + t d = a + u e1 + w e2.
      Vec3 p = cross(ray.direction, e2);
      float det = dot(e1, p);
      if (det == 0 || !std::isfinite(det)) continue;
      float inverse = 1 / det;
      Vec3 s = sub(ray.origin, a);
      float u = dot(s, p) * inverse;
      if (u < 0 || u > 1) continue;
      Vec3 q = cross(s, e1);
      float w = dot(ray.direction, q) * inverse;
      if (w < 0 || u + w > 1) continue;
      float t = dot(e2, q) * inverse;
      if (t >= near && t < best && kept(clip, add(ray.origin, scale(ray.direction, t)))) {
        best = t;
        triangle = i / 3;
        found = true;
      }
    }
  }
  return found;
}

float determinant3(const Mat4& m) {
  const float* a = m.m;
  return a[0] * (a[5] * a[10] - a[9] * a[6]) - a[4] * (a[1] * a[10] - a[9] * a[2]) + a[8] * (a[1] * a[6] - a[5] * a[2]);
}

// The ray through the pixel's centre, as the projection of render() maps it:
// at camera depth 1 the view spans field / front (times the aspect across).
// The direction's component along the camera's +z is 1.
bool pixel_ray(const Renderer& r, const ViewportSlot& vp, int x, int y, Ray& out) {
  if (vp.camera == kNone || !r.frames[vp.camera].used || vp.width <= 0 || vp.height <= 0) return false;
  if (x < vp.x || y < vp.y || x - vp.x >= vp.width || y - vp.y >= vp.height) return false;
  float ndc_x = (static_cast<float>(x - vp.x) + 0.5f) / static_cast<float>(vp.width) * 2 - 1;
  float ndc_y = 1 - (static_cast<float>(y - vp.y) + 0.5f) / static_cast<float>(vp.height) * 2;
  float aspect = static_cast<float>(vp.width) / static_cast<float>(vp.height);
  float across = ndc_x * vp.field * aspect / vp.front, up = ndc_y * vp.field / vp.front;
  Mat4 camera = frame_world(r, Frame{vp.camera});
  Vec3 axis[3];
  for (int c = 0; c < 3; ++c) axis[c] = normalise(Vec3{camera.m[c * 4], camera.m[c * 4 + 1], camera.m[c * 4 + 2]});
  out = {{camera.m[12], camera.m[13], camera.m[14]}, add(add(scale(axis[0], across), scale(axis[1], up)), axis[2])};
  return true;
}

}  // namespace

bool pick_ray(Renderer& r, Viewport viewport, int x, int y, Vec3& origin, Vec3& direction) {
  Ray ray;
  if (!viewport_ok(r, viewport) || !pixel_ray(r, r.viewports[viewport.id], x, y, ray)) return false;
  origin = ray.origin;
  direction = normalise(ray.direction);
  return true;
}

bool pick(Renderer& r, Viewport viewport, Frame root, int x, int y, PickResult& out) {
  if (!viewport_ok(r, viewport) || !frame_ok(r, root)) return false;
  const ViewportSlot& vp = r.viewports[viewport.id];
  constexpr std::uint32_t kWalked = kRenderEnable | kPickEnable;
  if ((r.frames[root.id].traversal & kWalked) != kWalked) return false;
  Ray world_ray;
  if (!pixel_ray(r, vp, x, y, world_ray)) return false;
  float back = std::max(vp.back, vp.front * 1.001f);

  float best = back;
  bool found = false;
  int top = 0;
  r.stack[top] = root.id;
  r.stack_clip[top] = kNone;
  ++top;
  while (top > 0) {
    --top;
    int f = r.stack[top];
    const FrameSlot& frame = r.frames[f];
    int clip = frame.clip_count > 0 ? f : r.stack_clip[top];
    r.world[f] = f == root.id ? frame_world(r, Frame{f})
                              : multiply(r.world[frame.parent], placement(frame.position, frame.rotation, frame.scale));
    if (frame.first_visual != kNone) {
      Mat4 inverse = affine_inverse(r.world[f]);
      Ray ray{transform_point(inverse, world_ray.origin), transform_direction(inverse, world_ray.direction)};
      bool mirrored = determinant3(r.world[f]) < 0;
      Clip planes;
      if (clip != kNone) {
        planes.planes = &r.frames[clip];
        planes.to_planes = multiply(affine_inverse(r.world[clip]), r.world[f]);
      }
      for (int v = frame.first_visual; v != kNone; v = r.visuals[v].next) {
        if (r.visuals[v].kind != VisualKind::mesh) continue;
        float nearest = best;
        int triangle = -1;
        if (!hit_mesh(r, r.meshes[r.visuals[v].object], ray, mirrored, planes, vp.front, nearest, triangle))
          continue;
        Vec3 point = add(world_ray.origin, scale(world_ray.direction, nearest));
        best = nearest;
        found = true;
        out.frame = Frame{f};
        out.mesh = Mesh{r.visuals[v].object};
        out.triangle = triangle;
        out.point = point;
        out.frame_point = add(ray.origin, scale(ray.direction, nearest));
        out.depth = nearest;
      }
    }
    for (int c = frame.first_child; c != kNone; c = r.frames[c].next_sibling)
      if ((r.frames[c].traversal & kWalked) == kWalked) {
        r.stack[top] = c;
        r.stack_clip[top] = clip;
        ++top;
      }
  }
  return found;
}

}  // namespace scene
