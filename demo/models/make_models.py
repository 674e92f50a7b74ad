#!/usr/bin/env python3
"""Writes the models demo's files into this folder.

    python3 demo/models/make_models.py

The walker is a text ".x" model of rigid parts, each a named frame (body,
head, two arms, two legs) under one top-level frame, with an AnimationSet
that swings the legs and arms in a one-second walk cycle and bobs the body.
The project puts it on a chequered floor under a sun and lets its brain walk
it round a circle while the cycle plays. The files it writes are committed;
run it again after changing anything here.

    walker.x     the walker (its materials name no texture)
    floor.x      the floor: 16 x 16 quads of 1 m, each wearing floor.bmp
    floor.bmp    a 2 x 2 chequer
    models.prj   the project: camera, sun, sky light, floor, walker, and a flag
                 (flag.x, whose brain flag.brn rewrites its cloth vertex by vertex)
"""
import math
import pathlib
import struct

HERE = pathlib.Path(__file__).resolve().parent
PROJECT = "./projects/models/"

TICKS = 4800        # AnimTicksPerSecond
CYCLE = 1.0         # seconds a walk cycle
KEYS = 8            # keys a cycle (and the first again at its end)
LEG_SWING = 28.0    # degrees either way
ARM_SWING = 22.0
HIP = 0.95          # the body frame's height above the feet
BOB = 0.035         # metres up and down, twice a cycle


def crlf(lines):
    return "".join(line + "\r\n" for line in lines)


def write(name, data):
    if isinstance(data, str):
        data = data.encode("latin-1")
    (HERE / name).write_bytes(data)


def num(f):
    return f"{f:.6f}"


# ---- Boxes as ".x" meshes ---------------------------------------------------------------------

def box_mesh(name, x0, x1, y0, y1, z0, z1, material):
    """A box as a Mesh with a normal per face, corners clockwise from outside."""
    faces = [  # corners clockwise seen from outside, and the outward normal
        ([(x0, y1, z0), (x0, y1, z1), (x1, y1, z1), (x1, y1, z0)], (0, 1, 0)),    # top
        ([(x0, y0, z1), (x0, y0, z0), (x1, y0, z0), (x1, y0, z1)], (0, -1, 0)),   # bottom
        ([(x0, y0, z0), (x0, y1, z0), (x1, y1, z0), (x1, y0, z0)], (0, 0, -1)),   # back (-z)
        ([(x1, y0, z1), (x1, y1, z1), (x0, y1, z1), (x0, y0, z1)], (0, 0, 1)),    # front (+z)
        ([(x0, y0, z1), (x0, y1, z1), (x0, y1, z0), (x0, y0, z0)], (-1, 0, 0)),   # left (-x)
        ([(x1, y0, z0), (x1, y1, z0), (x1, y1, z1), (x1, y0, z1)], (1, 0, 0)),    # right (+x)
    ]
    v = [p for corners, _ in faces for p in corners]
    out = [f"  Mesh {name} {{", f"   {len(v)};"]
    out += [f"   {num(x)};{num(y)};{num(z)};{',' if i + 1 < len(v) else ';'}" for i, (x, y, z) in enumerate(v)]
    out.append(f"   {len(faces)};")
    out += [f"   4;{4 * k},{4 * k + 1},{4 * k + 2},{4 * k + 3};{',' if k + 1 < len(faces) else ';'}"
            for k in range(len(faces))]
    out += ["   MeshNormals {", f"    {len(faces)};"]
    out += [f"    {num(n[0])};{num(n[1])};{num(n[2])};{',' if k + 1 < len(faces) else ';'}"
            for k, (_, n) in enumerate(faces)]
    out.append(f"    {len(faces)};")
    out += [f"    4;{k},{k},{k},{k};{',' if k + 1 < len(faces) else ';'}" for k in range(len(faces))]
    out += ["   }", "   MeshMaterialList {", "    1;", "    1;", "    0;;", f"    {{ {material} }}", "   }", "  }"]
    return out


def matrix(tx, ty, tz):
    """A FrameTransformMatrix that only moves (rows for row vectors: translation last)."""
    return ["  FrameTransformMatrix {",
            f"   1.000000,0.000000,0.000000,0.000000,0.000000,1.000000,0.000000,0.000000,"
            f"0.000000,0.000000,1.000000,0.000000,{num(tx)},{num(ty)},{num(tz)},1.000000;;", "  }"]


def material(name, r, g, b, power=0.0, specular=0.0):
    return [f"Material {name} {{", f" {num(r)};{num(g)};{num(b)};1.000000;;", f" {num(power)};",
            f" {num(specular)};{num(specular)};{num(specular)};;", " 0.000000;0.000000;0.000000;;", "}"]


# ---- The walker ---------------------------------------------------------------------------------

# Limbs: frame name, pivot (shoulder or hip, relative to the body frame), the
# box below the pivot, the material, and the swing (degrees, + moves the far
# end forward along +z) a quarter into the cycle. The limbs pass each other at
# its start and half-way, when the body is at its highest.
LIMBS = [
    ("left_leg", (-0.13, 0.0, 0.0), (-0.09, 0.09, -HIP, 0.0, -0.1, 0.1), "trousers", LEG_SWING),
    ("right_leg", (0.13, 0.0, 0.0), (-0.09, 0.09, -HIP, 0.0, -0.1, 0.1), "trousers", -LEG_SWING),
    ("left_arm", (-0.34, 0.62, 0.0), (-0.065, 0.065, -0.62, 0.0, -0.065, 0.065), "skin", -ARM_SWING),
    ("right_arm", (0.34, 0.62, 0.0), (-0.065, 0.065, -0.62, 0.0, -0.065, 0.065), "skin", ARM_SWING),
]


def swing_quat(degrees):
    """The rotation about x that moves a limb hanging along -y forward (+z) by degrees,
    as (w, x, y, z); in this left-handed space a positive turn about +x takes -y to -z."""
    a = math.radians(-degrees) / 2
    return (math.cos(a), math.sin(a), 0.0, 0.0)


def x_key(q):
    """A rotation key as ".x" files store it: w, then the axis part negated."""
    w, x, y, z = q
    return (w, -x, -y, -z)


def walker():
    out = ["xof 0303txt 0032", ""]
    out += material("shirt", 0.20, 0.35, 0.80, 12.0, 0.3)
    out += material("trousers", 0.22, 0.22, 0.26)
    out += material("skin", 0.95, 0.75, 0.60)
    out += material("hair", 0.30, 0.18, 0.08)
    out += ["", "Frame walker {"]
    out += matrix(0, 0, 0)
    out += [" Frame body {"]
    out += [" " + l for l in matrix(0, HIP, 0)]
    out += [" " + l for l in box_mesh("torso", -0.26, 0.26, 0.0, 0.68, -0.14, 0.14, "shirt")]
    out += ["  Frame head {"]
    out += ["  " + l for l in matrix(0, 0.72, 0)]
    out += ["  " + l for l in box_mesh("face", -0.13, 0.13, 0.0, 0.28, -0.13, 0.13, "skin")]
    out += ["  " + l for l in box_mesh("hair", -0.14, 0.14, 0.22, 0.32, -0.14, 0.12, "hair")]
    out += ["  }"]
    for name, (px, py, pz), (x0, x1, y0, y1, z0, z1), mat, _ in LIMBS:
        out += [f"  Frame {name} {{"]
        out += ["  " + l for l in matrix(px, py, pz)]
        out += ["  " + l for l in box_mesh(name, x0, x1, y0, y1, z0, z1, mat)]
        out += ["  }"]
    out += [" }", "}", "", "AnimTicksPerSecond {", f" {TICKS};", "}", "", "AnimationSet walk {"]
    times = [round(k * CYCLE * TICKS / KEYS) for k in range(KEYS + 1)]
    for name, pivot, _, _, swing in LIMBS:
        keys = []
        for k, t in enumerate(times):
            q = x_key(swing_quat(swing * math.sin(2 * math.pi * k / KEYS)))
            keys.append(f"   {t};4;{num(q[0])},{num(q[1])},{num(q[2])},{num(q[3])};;")
        out += [" Animation {", f"  {{ {name} }}", "  AnimationKey {", "   0;", f"   {len(keys)};"]
        out += [key + ("," if i + 1 < len(keys) else ";") for i, key in enumerate(keys)]
        out += ["  }", " }"]
    keys = []
    for k, t in enumerate(times):
        y = HIP + BOB * math.cos(4 * math.pi * k / KEYS)
        keys.append(f"   {t};3;0.000000,{num(y)},0.000000;;")
    out += [" Animation {", "  { body }", "  AnimationKey {", "   2;", f"   {len(keys)};"]
    out += [key + ("," if i + 1 < len(keys) else ";") for i, key in enumerate(keys)]
    out += ["  }", " }", "}"]
    return crlf(out)


# ---- The floor ----------------------------------------------------------------------------------

def floor():
    n, half = 16, 8.0
    v, faces = [], []
    for j in range(n):
        for i in range(n):
            x0, z0 = -half + i, -half + j
            base = len(v)
            v += [((x0, 0, z0), (0, 1)), ((x0, 0, z0 + 1), (0, 0)), ((x0 + 1, 0, z0 + 1), (1, 0)),
                  ((x0 + 1, 0, z0), (1, 1))]
            faces.append((base, base + 1, base + 2, base + 3))
    out = ["xof 0303txt 0032", "", "Material chequer {", " 1.000000;1.000000;1.000000;1.000000;;", " 0.000000;",
           " 0.000000;0.000000;0.000000;;", " 0.000000;0.000000;0.000000;;", " TextureFilename {",
           '  "floor.bmp";', " }", "}", "", "Frame floor {"]
    out += matrix(0, 0, 0)
    out += [" Mesh ground {", f"  {len(v)};"]
    out += [f"  {num(p[0])};{num(p[1])};{num(p[2])};{',' if i + 1 < len(v) else ';'}" for i, (p, _) in enumerate(v)]
    out.append(f"  {len(faces)};")
    out += [f"  4;{a},{b},{c},{d};{',' if k + 1 < len(faces) else ';'}" for k, (a, b, c, d) in enumerate(faces)]
    out += ["  MeshNormals {", "   1;", "   0.000000;1.000000;0.000000;;", f"   {len(faces)};"]
    out += [f"   4;0,0,0,0;{',' if k + 1 < len(faces) else ';'}" for k in range(len(faces))]
    out += ["  }", "  MeshTextureCoords {", f"   {len(v)};"]
    out += [f"   {num(uv[0])};{num(uv[1])};{',' if i + 1 < len(v) else ';'}" for i, (_, uv) in enumerate(v)]
    out += ["  }", "  MeshMaterialList {", "   1;", f"   {len(faces)};"]
    out += ["   " + ",".join("0" for _ in faces) + ";;", "   { chequer }", "  }", " }", "}"]
    return crlf(out)


def bmp(width, height, pixels):
    row = (width * 3 + 3) & ~3
    data = b"".join(bytes(c for p in pixels[y * width:(y + 1) * width] for c in (p[2], p[1], p[0])).ljust(row, b"\0")
                    for y in reversed(range(height)))
    return b"BM" + struct.pack("<IHHI", 54 + len(data), 0, 0, 54) + struct.pack(
        "<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(data), 2835, 2835, 0, 0) + data


def chequer():
    light, dark = (200, 196, 180), (120, 140, 110)
    return bmp(8, 8, [light if (x < 4) == (y < 4) else dark for y in range(8) for x in range(8)])


# ---- The project --------------------------------------------------------------------------------

def fmt(v):
    return f"{v:.3f}"


def line(name, aspect, pos=(0, 0, 0), rot=(0, 0, 0), brain_on=True, radius=1, kind=11, display="0",
         scale=(1, 1, 1)):
    f = [name, aspect, "./sounds/null_.wav", "-", *map(fmt, pos), "0", "0", "0", *map(fmt, rot), "0", "0", "0",
         "0", "0", "0", "0", "0", "0", "0", "0", "0", "0", "0", "0", "0", "0", "0", fmt(radius),
         "1" if brain_on else "0", "0", "0", str(kind), display, "0/1", "4096/2/50/0", "0", "", *map(fmt, scale)]
    return "|".join(f)


RADIUS = 2.9  # metres: the walker's circle round the floor's middle
FLAG = (0, 2.0, 4.5)  # the waving flag (flag.x and its brain flag.brn), behind the circle

CAMERA_BRAIN = """\
; The camera stands back and looks a little down on the floor, under a pale sky.
if timer(element) = 0
  background3d_set(2)
  3dbg_color_set(150, 180, 215)
endif
"""

WALKER_BRAIN = """\
; The walker: its walk cycle (the AnimationSet of walker.x, a second long)
; plays at the speed of time, thirty ticks a second, looping over the whole
; cycle; and it walks round a circle, turning a degree and going 5 cm a tick.
; Global 1 shows where the cycle is, in thousandths of a second.
if timer(element) = 0
  h_animation_speed_set(element, 33)
endif
rotation_y_add(element, -1dg)
speed_xz_set(element, 0.05mt)
velocity_update(element)
global_set(1, h_animation_tick(element))
"""


def project():
    lines = [
        (line("Camera", "./cameras/default_.03d", pos=(0, 2.6, -7.5), rot=(13, 0, 0), kind=0,
              display="0/0/639/479/-400/20&40/7"), CAMERA_BRAIN),
        (line("Sun", "-", rot=(50, 30, 0), kind=10, display="3/FFF4E0/0"), ""),
        (line("Sky light", "-", kind=10, display="0/707888/0"), ""),
        (line("Floor", PROJECT + "floor.x", radius=0, kind=13), ""),
        (line("Walker", PROJECT + "walker.x", pos=(RADIUS, 0, 0), kind=13), WALKER_BRAIN),
        (line("Flag", PROJECT + "flag.x", pos=FLAG, rot=(0, 55, 0), kind=13), (HERE / "flag.brn").read_text()),
    ]
    text = [";Zepta models: a walker of rigid parts plays its walk cycle while it walks round a circle, before a waving flag",
            str(len(lines))]
    text += [l for l, _ in lines]
    text.append("./bckgrnds/bkgr000_.bmp|1|")
    for k, (_, brain) in enumerate(lines):
        text.append(f"@{k}")
        text += brain.rstrip("\n").split("\n") if brain else []
    return crlf(text)


def main():
    write("walker.x", walker())
    write("floor.x", floor())
    write("floor.bmp", chequer())
    write("models.prj", project())


if __name__ == "__main__":
    main()
