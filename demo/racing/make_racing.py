#!/usr/bin/env python3
"""Writes the racing demo's files into this folder.

    python3 demo/racing/make_racing.py

The track, the terrain around it and the project are made from the numbers
below, so the terrain's shape, its colours, the gates, the start grid and the
brains that use them stay in step. The files it writes are committed; run it
again after changing anything here.

    racing.prj    the project: cameras, race control, terrain, four cars, trees,
                  the start gantry, lights, counters, and every brain
    racing.col    its collision file: no pairs, a clip distance of 500 m
    netrace.prj   the same race for four machines in a network session: each
                  owns one computer-driven car (scripts/netplay.sh plays it)
    netrace.col   its collision file, the same as racing.col
    terrain.a3d   the ground shape: 63 x 63 quads of 4 m with a terrain grid
    car.x, tree.x, gantry.x and their visuals (.v3d), props.bmp (their colours)
    digits.pcx    the counters' digits
    racing.input  the scripted input of the demo's headless test: a game
                  controller's stick and button as an autopilot drove the
                  player's car with them:

    python3 demo/racing/make_racing.py --autopilot build/work/projects/autopilot
    (cd build/work && ./zepta --headless --mode 1 --project projects/autopilot/racing.prj --fast --ticks 2000)
    python3 demo/racing/make_racing.py --keys build/work/data/currtrck.i3d
"""
import math
import pathlib
import struct
import sys

HERE = pathlib.Path(__file__).resolve().parent
PROJECT = "./projects/racing/"

LAPS = 3
CELL = 4.0          # metres a terrain quad
CELLS = 63          # quads a side: 64 x 64 vertices, the most a shape holds
HALF = CELL * CELLS / 2  # 126 m
ROAD = 6.5          # half the road's width
KERB = 8.5          # the kerbs' outer edge
GATE = 11.0         # half a gate's length
GATE_STEP = 20.0    # metres between gates

# The track's centre line: a closed Catmull-Rom curve through these points (metres, x and z).
CONTROL = [(0, -84), (45, -88), (84, -70), (98, -30), (82, 4), (90, 44), (66, 86), (20, 92), (-14, 76),
           (-38, 46), (-72, 32), (-98, 0), (-96, -46), (-60, -78)]

# Hills: (x, z, height, spread) in metres.
HILLS = [(8, -4, 16, 26), (96, -40, 7, 16), (-60, 70, 12, 22), (60, 108, 9, 18), (-108, -100, 10, 20),
         (112, 100, 8, 16), (-30, -40, 6, 14), (40, 40, 7, 14)]


def scheme(r, g, b):
    """Index of a colour in the engine's 8-bit colour scheme."""
    r, g, b = (max(0, min(255, c)) for c in (r, g, b))
    if r < 16 and r + g < 32 and r + g + b < 48:
        return 0 if r + g + b < 24 else 1
    if r > 240 and r + g > 480 and r + g + b > 720:
        return 254 if r + g + b <= 744 else 255
    return ((r * 1792) >> 16) * 36 + ((g * 1536) >> 16) * 6 + ((b * 1536) >> 16) + 2


GRASS = scheme(80, 150, 60)
ROAD_GREY = scheme(95, 95, 100)
KERB_RED = scheme(210, 40, 40)
KERB_WHITE = scheme(235, 235, 235)
START_WHITE = scheme(250, 250, 250)
START_DARK = scheme(40, 40, 40)
WALL = scheme(130, 90, 50)
SAND = scheme(210, 190, 120)
ON_TRACK = [ROAD_GREY, KERB_RED, KERB_WHITE, START_WHITE, START_DARK]


# ---- The track ------------------------------------------------------------------------------

def catmull(p0, p1, p2, p3, t):
    return tuple(0.5 * ((2 * b) + (-a + c) * t + (2 * a - 5 * b + 4 * c - d) * t * t + (-a + 3 * b - 3 * c + d) * t ** 3)
                 for a, b, c, d in zip(p0, p1, p2, p3))


def centre_line():
    """Points 1 m apart round the loop, with their unit tangents."""
    dense = []
    n = len(CONTROL)
    for i in range(n):
        for k in range(200):
            dense.append(catmull(CONTROL[i - 1], CONTROL[i], CONTROL[(i + 1) % n], CONTROL[(i + 2) % n], k / 200))
    length = [0.0]
    for a, b in zip(dense, dense[1:] + dense[:1]):
        length.append(length[-1] + math.dist(a, b))
    total = length[-1]
    points, j = [], 0
    steps = int(total)
    for s in range(steps):
        want = s * total / steps
        while length[j + 1] < want:
            j += 1
        a, b = dense[j], dense[(j + 1) % len(dense)]
        f = (want - length[j]) / (length[j + 1] - length[j])
        points.append((a[0] + (b[0] - a[0]) * f, a[1] + (b[1] - a[1]) * f))
    tangents = []
    for i in range(steps):
        a, b = points[i - 1], points[(i + 1) % steps]
        d = math.dist(a, b)
        tangents.append(((b[0] - a[0]) / d, (b[1] - a[1]) / d))
    return points, tangents


LINE, TANGENT = centre_line()
LENGTH = len(LINE)


def hills(x, z):
    h = sum(a * math.exp(-((x - cx) ** 2 + (z - cz) ** 2) / (2 * s * s)) for cx, cz, a, s in HILLS)
    return h + 1.2 * math.sin(x / 17) * math.cos(z / 23)


# The road's height: the hills along the centre line, smoothed over 30 m.
_raw = [hills(x, z) for x, z in LINE]
ROAD_HEIGHT = [sum(_raw[(i + k) % LENGTH] for k in range(-15, 16)) / 31 for i in range(LENGTH)]


def nearest(x, z):
    """Distance to the centre line and the index of the nearest centre point."""
    best, at = 1e9, 0
    for i in range(0, LENGTH, 2):
        px, pz = LINE[i]
        d = (px - x) ** 2 + (pz - z) ** 2
        if d < best:
            best, at = d, i
    for i in (at - 1, at + 1):
        px, pz = LINE[i % LENGTH]
        d = (px - x) ** 2 + (pz - z) ** 2
        if d < best:
            best, at = d, i % LENGTH
    return math.sqrt(best), at


def height(x, z):
    d, i = nearest(x, z)
    w = 1.0 if d < 10 else 0.0 if d > 24 else 0.5 + 0.5 * math.cos(math.pi * (d - 10) / 14)
    h = w * ROAD_HEIGHT[i] + (1 - w) * hills(x, z)
    edge = max(abs(x), abs(z))
    if edge > HALF - 5:
        h += 3.0  # the wall round the terrain
    return h


START = 40  # metres along the loop of the start line (gate 0)


def colour(x, z):
    if max(abs(x), abs(z)) > HALF - 6:
        return WALL
    d, i = nearest(x, z)
    along = (i - START) % LENGTH
    if d < ROAD:
        if along < 3 or along > LENGTH - 2:
            return START_WHITE if (int((x + 200) / CELL) + int((z + 200) / CELL)) % 2 else START_DARK
        return ROAD_GREY
    if d < KERB:
        return KERB_RED if (i // 6) % 2 else KERB_WHITE
    if d < 12 and abs(curvature(i)) > 0.025:
        return SAND
    return GRASS


def curvature(i):
    a, b = TANGENT[(i - 5) % LENGTH], TANGENT[(i + 5) % LENGTH]
    return (a[0] * b[1] - a[1] * b[0]) / 10


# ---- Files ------------------------------------------------------------------------------------

def crlf(lines):
    return "".join(line + "\r\n" for line in lines)


def write(name, data):
    path = HERE / name
    if isinstance(data, str):
        data = data.encode("latin-1")
    path.write_bytes(data)


def terrain():
    """The ground shape: quads from each cell's +x +z corner, coloured faces, grid of CELLS cells."""
    side = CELLS + 1
    lines = [f"16|-|{side * side}|{CELLS * CELLS}|3|{CELLS}"]
    for j in range(side):
        z = HALF - j * CELL
        for i in range(side):
            x = -HALF + i * CELL
            lines.append(f"{round(x * 1000)}|{round(height(x, z) * 1000)}|{round(z * 1000)}")
    for j in range(CELLS):
        for i in range(CELLS):
            tl = j * side + i
            tr, bl, br = tl + 1, tl + side, tl + side + 1
            c = colour(-HALF + (i + 0.5) * CELL, HALF - (j + 0.5) * CELL)
            lines.append(f"{c << 16 | 6}|0|0|{tr}|{br}|{bl}|{tl}")
    return crlf(lines)


# Colour bands of props.bmp, 2 pixels each: what each part of the models shows.
BANDS = [(255, 255, 255), (60, 70, 90), (25, 25, 25), (255, 220, 90), (60, 140, 50), (110, 70, 40),
         (220, 40, 40), (200, 200, 200)]
WHITE, WINDOW, TYRE, LIGHT, LEAF, TRUNK, RED, GREY = range(8)


def bmp(width, height, pixels):
    row = (width * 3 + 3) & ~3
    data = b"".join(bytes(c for p in pixels[y * width:(y + 1) * width] for c in (p[2], p[1], p[0])).ljust(row, b"\0")
                    for y in reversed(range(height)))
    return b"BM" + struct.pack("<IHHI", 54 + len(data), 0, 0, 54) + struct.pack(
        "<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(data), 2835, 2835, 0, 0) + data


class Model:
    def __init__(self):
        self.v, self.faces = [], []

    def quad(self, corners, band):
        """A quad given clockwise from the front."""
        base = len(self.v)
        for p in corners:
            self.v.append((p, band))
        self.faces += [(base, base + 1, base + 2), (base, base + 2, base + 3)]

    def box(self, x0, x1, y0, y1, z0, z1, band, bottom=False):
        q = self.quad
        q([(x0, y1, z0), (x0, y1, z1), (x1, y1, z1), (x1, y1, z0)], band)  # top
        q([(x0, y0, z0), (x0, y1, z0), (x1, y1, z0), (x1, y0, z0)], band)  # -z
        q([(x1, y0, z1), (x1, y1, z1), (x0, y1, z1), (x0, y0, z1)], band)  # +z
        q([(x0, y0, z1), (x0, y1, z1), (x0, y1, z0), (x0, y0, z0)], band)  # -x
        q([(x1, y0, z0), (x1, y1, z0), (x1, y1, z1), (x1, y0, z1)], band)  # +x
        if bottom:
            q([(x0, y0, z1), (x0, y0, z0), (x1, y0, z0), (x1, y0, z1)], band)

    def pyramid(self, x, z, r, y0, y1, band):
        c = [(x - r, y0, z - r), (x - r, y0, z + r), (x + r, y0, z + r), (x + r, y0, z - r)]
        base = len(self.v)
        top = (x, y1, z)
        for k in range(4):
            a, b = c[k], c[(k + 1) % 4]
            self.v += [(a, band), (top, band), (b, band)]
            self.faces.append((base + 3 * k, base + 3 * k + 1, base + 3 * k + 2))

    def text(self, name):
        def num(f):
            return f"{f:.4f}"
        out = ["xof 0303txt 0032", "", f"Mesh {name} {{", f" {len(self.v)};"]
        out += [f" {num(p[0])};{num(p[1])};{num(p[2])};{',' if i + 1 < len(self.v) else ';'}"
                for i, (p, _) in enumerate(self.v)]
        out.append(f" {len(self.faces)};")
        out += [f" 3;{a},{b},{c};{',' if i + 1 < len(self.faces) else ';'}" for i, (a, b, c) in enumerate(self.faces)]
        out += [" MeshTextureCoords {", f" {len(self.v)};"]
        out += [f" 0.5;{(band * 2 + 1) / 16:.4f};{',' if i + 1 < len(self.v) else ';'}" for i, (_, band) in enumerate(self.v)]
        out += [" }", "}"]
        return crlf(out)


def car():
    m = Model()
    m.box(-0.95, 0.95, 0.3, 0.8, -2.1, 2.1, WHITE, bottom=True)   # body, front at +z
    m.box(-0.8, 0.8, 0.8, 1.3, -1.2, 0.5, WINDOW)                 # cabin
    m.box(-0.85, 0.85, 0.8, 0.95, -2.05, -1.75, WHITE)            # spoiler
    for x in (-1.0, 0.75):
        for z in (-1.35, 1.35):
            m.box(x, x + 0.25, 0.0, 0.65, z - 0.35, z + 0.35, TYRE)
    for x in (-0.7, 0.4):
        m.box(x, x + 0.3, 0.5, 0.7, 2.1, 2.15, LIGHT)             # headlights
    return m.text("car")


def tree():
    m = Model()
    m.box(-0.3, 0.3, 0, 2.0, -0.3, 0.3, TRUNK)
    m.pyramid(0, 0, 2.4, 1.6, 5.5, LEAF)
    m.pyramid(0, 0, 1.8, 4.0, 7.5, LEAF)
    return m.text("tree")


def gantry():
    m = Model()
    for x in (-GATE, GATE - 0.6):
        m.box(x, x + 0.6, 0, 6.0, -0.3, 0.3, GREY)
    for k in range(12):  # a chequered banner
        x = -GATE + k * (2 * GATE / 12)
        m.box(x, x + 2 * GATE / 12, 5.0, 6.2, -0.25, 0.25, WHITE if k % 2 else TYRE)
    return m.text("gantry")


def pcx(width, height, pixels, palette):
    """An 8-bit run-length PCX with its 256-colour palette."""
    head = struct.pack("<BBBBHHHHHH", 10, 5, 1, 8, 0, 0, width - 1, height - 1, 72, 72) + bytes(48)
    head += struct.pack("<BBHH", 0, 1, width, 1) + bytes(58)
    body = bytearray()
    for y in range(height):
        row = pixels[y * width:(y + 1) * width]
        x = 0
        while x < width:
            run = 1
            while x + run < width and run < 63 and row[x + run] == row[x]:
                run += 1
            if run > 1 or row[x] >= 0xC0:
                body += bytes((0xC0 | run, row[x]))
            else:
                body.append(row[x])
            x += run
    pal = bytearray(768)
    for i, c in enumerate(palette):
        pal[3 * i:3 * i + 3] = bytes(c)
    return head + bytes(body) + b"\x0c" + bytes(pal)


DIGIT_W, DIGIT_H = 20, 28


def digits():
    """Twelve cells: 0..9, minus and point, yellow with a dark edge on colour 0."""
    glyphs = ["111101101101111", "010110010010111", "111001111100111", "111001111001111", "101101111001001",
              "111100111001111", "111100111101111", "111001001001001", "111101111101111", "111101111001111",
              "000000111000000", "000000000000010"]
    width = DIGIT_W * 12
    px = [0] * (width * DIGIT_H)
    for c, g in enumerate(glyphs):
        ink = set()
        for y in range(5):
            for x in range(3):
                if g[y * 3 + x] == "1":
                    for dy in range(5):
                        for dx in range(5):
                            ink.add((3 + x * 5 + dx, 2 + y * 5 + dy))
        for (x, y) in ink:
            px[y * width + c * DIGIT_W + x] = 1
        for (x, y) in ink:
            for ex, ey in ((x + 1, y), (x, y + 1), (x + 1, y + 1), (x - 1, y), (x, y - 1)):
                if (ex, ey) not in ink and 0 <= ex < DIGIT_W and 0 <= ey < DIGIT_H:
                    px[ey * width + c * DIGIT_W + ex] = 2
    return pcx(width, DIGIT_H, px, [(0, 0, 0), (255, 215, 40), (60, 40, 20)])


# ---- The project ---------------------------------------------------------------------------------

def fmt(v):
    return f"{v:.3f}"


def line(name, aspect, pos=(0, 0, 0), rot=(0, 0, 0), brain_on=True, element_id=0, radius=1, kind=11,
         display="0", params="0", scale=(1, 1, 1), credits=0, network=None):
    f = [name, aspect, "./sounds/null_.wav", "-", *map(fmt, pos), "0", "0", "0", *map(fmt, rot), "0", "0", "0",
         "0", "0", "0", "0", "0", "0", "0", "0", "0", "0", "0", "0", str(credits), "0", str(element_id),
         fmt(radius), "1" if brain_on else "0", "0", params, str(kind), display, "0/1", "4096/2/50/0", "0", "",
         *map(fmt, scale)]
    if network:  # fields 45, 46 (the parameter editor's), 47 sync switches, 48 owner machine
        f += ["0", "0", str(network[0]), str(network[1])]
    return "|".join(f)


def heading(t):
    """rotation y (degrees) whose forward, (-sin y, cos y), is the direction t."""
    return math.degrees(math.atan2(-t[0], t[1])) % 360


def position_units(v):
    return round(v * 512000)


def sample(s):
    return LINE[s % LENGTH], TANGENT[s % LENGTH]


GATES = [START + round(k * LENGTH / round(LENGTH / GATE_STEP)) for k in range(round(LENGTH / GATE_STEP))]


def gate_lines():
    out = []
    for k, s in enumerate(GATES):
        (x, z), (tx, tz) = sample(s)
        nx, nz = -tz, tx
        ends = [position_units(v) for v in (x - nx * GATE, z - nz * GATE, x + nx * GATE, z + nz * GATE)]
        out.append(f"  checkpoint_add({ends[0]}, {ends[1]}, {ends[2]}, {ends[3]})")
        out.append(f"  global_set({100 + 2 * k}, {position_units(x)})")
        out.append(f"  global_set({101 + 2 * k}, {position_units(z)})")
    return out


def grid_slot(row, side):
    """A start position behind the line: row 0 first, side -1 left, +1 right."""
    s = START - 7 - 9 * row
    (x, z), t = sample(s)
    nx, nz = -t[1], t[0]  # to the left of the direction of travel
    x -= side * 3.2 * nx
    z -= side * 3.2 * nz
    return (x, height(x, z), z), heading(t)


CAR_COLOURS = ["E03020", "2050E0", "F0C020", "30B040"]
AI_SPEED = [0, 566000, 580000, 556000]  # top speeds, position units a tick (the player: 589000)

CAMERA = 0
RACE = 2
FIRST_CAR = 4

CAMERA_BRAIN = """\
; The chase camera: behind and above the player's car, looking at it, never
; inside a hill.
var player
var lag
player = element#4
lag = 48
if timer(element) = 0
  lag = 128
endif
follow(element, player, 3mt, -8mt, lag)
if above_ground_level(element) < 2mt
  over_ground(element, 2mt)
endif
track(element, player)
rotation_x_add(element, -4dg)
"""

MAP_BRAIN = """\
; The map camera looks straight down on the whole terrain.
"""

TERRAIN_BRAIN = """\
; The terrain: its shape (terrain.a3d) is the ground of the run, and the
; colours of its faces tell the road, the kerbs, the sand and the grass apart.
"""


def race_brain():
    text = f"""\
; Race control: lays out the gates and the globals the cars read, starts the
; race after a countdown, keeps the finishing order and draws the HUD.
; Globals: 1 the race is on, 5 the number of gates, 10..13 the cars' laps,
; 20..23 their finishing places, 30..33 their places, 40 cars finished,
; 50..53 the ticks at which they finished, 60..63 their next gates,
; 100 + 2k and 101 + 2k the middle of gate k.
var t
var i
var car
var lap
var shown
var kmh
var left
var gate
var after
var ox
var oz
var ahead
t = timer(element)
if t = 0
{chr(10).join(gate_lines())}
  global_set(5, {len(GATES)})
  i = 0
  enter:
  race_on(element_index(first_element(), {FIRST_CAR} + i))
  i = i + 1
  if i < 4
    goto enter
  endif
  background3d_set(1)
  fogeffect_set(1)
  fog_color_set(170, 200, 235)
  fog_set(160mt, 420mt)
  font_set("DejaVu Sans", -20, 700, 1)
  font_set("DejaVu Sans", -72, 800, 2)
  font_set("DejaVu Sans", -30, 700, 3)
  collision_map_set(element#2, element#3, 1)
  collision_map_set(element#2, element#4, 1)
  collision_map_set(element#2, element#5, 1)
  collision_map_set(element#3, element#4, 1)
  collision_map_set(element#3, element#5, 1)
  collision_map_set(element#4, element#5, 1)
endif
if t = 90
  global_set(1, 1)
endif

; Laps, places and the finishing order of the four cars.
i = 0
cars:
car = element_index(first_element(), {FIRST_CAR} + i)
lap = race_lap(car)
global_set(10 + i, lap)
global_set(30 + i, race_position(car))
global_set(60 + i, race_next_checkpoint(car))
if lap >= {LAPS} and global(20 + i) = 0
  global_add(40, 1)
  global_set(20 + i, global(40))
  global_set(50 + i, t)
endif
i = i + 1
if i < 4
  goto cars
endif

; The HUD: lap and place counters with their labels, speed and time.
shown = global(10) + 1
if shown < 1
  shown = 1
endif
if shown > {LAPS}
  shown = {LAPS}
endif
credits_set(element#{10 - RACE}, shown)
if global(20)
  credits_set(element#{11 - RACE}, global(20))
else
  credits_set(element#{11 - RACE}, global(30))
endif
color_set(255, 240, 200)
print("LAP", 18, 20, 1)
print("/{LAPS}", 100, 20, 1)
print("POS", 18, 58, 1)
print("/4", 100, 58, 1)
kmh = [velocity_xz(element#{FIRST_CAR - RACE}) * 108] / 1000
print_num(kmh, 0, 500, 440, 3)
print("km/h", 580, 450, 1)
if global(1) and global(20) = 0
  print_num([[t - 90] * 10] / 30, 1, 530, 142, 3)
endif

; A gate the player went past wide: it must turn back through it. Offsets
; in decimetres keep the products in 32 bits.
car = element#{FIRST_CAR - RACE}
gate = race_next_checkpoint(car)
after = gate + 1
if after >= global(5)
  after = 0
endif
ox = [position_x(car) - global(100 + gate * 2)] / 51200
oz = [position_z(car) - global(101 + gate * 2)] / 51200
ahead = ox * [[global(100 + after * 2) - global(100 + gate * 2)] / 51200]
ahead = ahead + oz * [[global(101 + after * 2) - global(101 + gate * 2)] / 51200]
if global(1) and global(20) = 0 and ahead > 0 and abs(ox) + abs(oz) > 120
  color_set(255, 90, 60)
  print("Missed a gate: turn back through it", 24, 200, 3)
endif

; The countdown, then the result.
color_set(255, 215, 40)
if t < 30
  print("3", 300, 160, 2)
endif
if t >= 30 and t < 60
  print("2", 300, 160, 2)
endif
if t >= 60 and t < 90
  print("1", 300, 160, 2)
endif
if t >= 90 and t < 120
  print("GO!", 250, 160, 2)
endif
if t < 90
  color_set(255, 255, 255)
  print("Arrow keys or game controller: drive. Esc: quit.", 90, 260, 1)
endif
if global(20)
  color_set(255, 255, 255)
  print("FINISHED", 160, 140, 2)
  left = 250
  if global(20) = 1
    print("You won!", left, 240, 3)
  endif
  if global(20) = 2
    print("You came 2nd", left, 240, 3)
  endif
  if global(20) = 3
    print("You came 3rd", left, 240, 3)
  endif
  if global(20) = 4
    print("You came last", left, 240, 3)
  endif
  print("Esc to quit", 262, 290, 1)
endif
"""
    return text


# How a computer-driven car finds its way: `turn`, the angle from its heading
# to the point halfway between its next gate and the one after, or, once it
# is past its next gate's line without having crossed the gate (it went wide),
# to that gate's middle. Distances in decimetres keep the products in 32 bits.
AIM = """\
next = race_next_checkpoint(element)
after = next + 1
if after >= global(5)
  after = 0
endif
mx = global(100 + next * 2) / 51200
mz = global(101 + next * 2) / 51200
ax = global(100 + after * 2) / 51200
az = global(101 + after * 2) / 51200
px = position_x(element) / 51200
pz = position_z(element) / 51200
tx = [mx + ax] / 2
tz = [mz + az] / 2
if [px - mx] * [ax - mx] + [pz - mz] * [az - mz] > 0
  tx = mx
  tz = mz
endif
turn = wrap(angle(tx - px, [tz - pz] * 2) - rotation_y(element), -92160, 92159)
"""

# The player's car driven by the computer as a game controller would drive
# it, one tick late: the stick's x (in steps of 50) steers, button 1
# accelerates, button 2 brakes; what it does goes to the track recorder in the
# last element's position (x: stick x, y: button 1, z: button 2). Only for
# recording the headless test's input (--autopilot).
AUTOPILOT = """\
var wheel
var speed
var target
var kind
var drift
var gas
var brake
var cap
var other
var finished
var next
var after
var mx
var mz
var ax
var az
var px
var pz
var tx
var tz
var turn
var stick
var button
var button2
finished = global(20)
gas = 0
brake = 0
target = 0
if global(1) and finished = 0
  gas = button
  brake = button2
  target = -7dg + [[1000 - stick] * 14dg] / 2000
endif
cap = 589000
""" + AIM + """\
stick = limit([[0 - turn] * 2000] / 7dg, -1000, 1000)
stick = [stick / 50] * 50
button = 0
if timer(element) >= 89
  button = 1
endif
button2 = 0
if abs(turn) > 35dg
  button2 = 1
endif
position_x_set(last_element(), stick)
position_y_set(last_element(), button)
position_z_set(last_element(), button2)
track_record(last_element())
"""


def car_brain(player, autopilot=False):
    driver = AUTOPILOT if autopilot else """\
; The player's car: up accelerates, down brakes and reverses, left and right
; steer; a game controller's stick and buttons 1 and 2 do the same.
var wheel
var speed
var target
var kind
var drift
var gas
var brake
var cap
var other
var finished
finished = global(20)
gas = 0
brake = 0
target = 0
if global(1) and finished = 0
  if keyboard("up") or joy1_b(16) or joy1_y(1000, -1000) < -300
    gas = 1
  endif
  if keyboard("down") or joy1_b(32) or joy1_y(1000, -1000) > 300
    brake = 1
  endif
  target = joy1_x(-7dg, 7dg)
  if keyboard("left")
    target = 7dg
  endif
  if keyboard("right")
    target = -7dg
  endif
endif
cap = 589000
""" if player else """\
; A computer-driven car: it aims at the middle of its next gate (the one after
; when it is close), steers towards it and eases off where the turn is sharp.
; Its top speed is its user parameter.
userint top
var wheel
var speed
var target
var kind
var drift
var gas
var brake
var cap
var other
var next
var after
var mx
var mz
var ax
var az
var px
var pz
var tx
var tz
var turn
""" + AIM + """\
target = limit(turn * 2, -7dg, 7dg)
gas = global(1)
brake = 0
cap = top
if global(20 + {index}) <> 0
  cap = [top * 2] / 3
endif
if abs(turn) > 35dg
  brake = 1
endif
"""
    common = """\
; Steering follows the wheel target a degree a tick.
wheel = wheel + limit(target - wheel, -1dg, 1dg)
kind = ground_color(element)
drift = 40
if kind = {GRASS} or kind = {SAND}
  drift = 110
  cap = cap / 2
endif
velocity_y_set(element, 0)
speed = steer(element, wheel, drift)
if gas
  thrust(element, 9000)
else
  friction_xz(element, 505)
endif
if brake
  if speed > 30000
    friction_xz(element, 480)
  else
    thrust(element, -3000)
    cap = 128000
  endif
endif
speed_xz_limit(element, cap)
if global(1) = 0
  velocity_x_set(element, 0)
  velocity_z_set(element, 0)
endif

; Bumping into the other cars, and off the wall round the terrain.
if collision(element, 15)
  other = nearest_element(element, 15)
  if element < other
    rebound(element, other)
  endif
  attract(element, other, -6000)
endif
boundary_rebound(element, {WALL})
velocity_update(element)
over_ground_slope(element, 0, 2)
"""
    return driver + common.replace("{GRASS}", str(GRASS)).replace("{SAND}", str(SAND)).replace("{WALL}", str(WALL))


def project(autopilot=False):
    lines, brains = [], []

    def add(l, brain):
        lines.append(l)
        brains.append(brain)

    add(line("Chase camera", "./cameras/default_.03d", pos=(0, 5, -10), kind=0,
             display="0/0/639/479/-300/20&40/7"), CAMERA_BRAIN)
    add(line("Map camera", "./cameras/default_.03d", pos=(0, 150, 0), rot=(90, 0, 0), kind=0,
             display="505/10/630/135/-240/20&40/7"), MAP_BRAIN)
    add(line("Race control", "-", kind=4), race_brain())
    add(line("Terrain", PROJECT + "terrain.a3d", radius=0, kind=1), TERRAIN_BRAIN)
    for k in range(4):
        (x, y, z), ry = grid_slot(k // 2, -1 if k % 2 == 0 else 1)
        name = "Player" if k == 0 else f"Rival {k}"
        params = "0" if k == 0 else f"1/2/{AI_SPEED[k]}/1020"
        brain = car_brain(k == 0, autopilot and k == 0).replace("{index}", str(k))
        add(line(name, PROJECT + f"car{k}.v3d", pos=(x, y, z), rot=(0, ry, 0), element_id=1 << k, radius=1.3,
                 params=params), brain)
    add(line("Sun", "-", rot=(50, 30, 0), kind=10, display="3/FFF4E0/0"), "")
    add(line("Sky light", "-", kind=10, display="0/6A6A78/0"), "")
    add(line("Lap counter", PROJECT + "digits.pcx", pos=(66, 16, 0), kind=8, display="1/0/0", credits=1), "")
    add(line("Place counter", PROJECT + "digits.pcx", pos=(66, 54, 0), kind=8, display="1/0/0", credits=1), "")
    (x, z), t = sample(START)
    add(line("Start gantry", PROJECT + "gantry.v3d", pos=(x, height(x, z) - 0.3, z), rot=(0, heading(t), 0),
             radius=0), "")
    trees = 0
    for k in range(400):
        x = -HALF + 12 + (k * 73.37) % (2 * HALF - 24)
        z = -HALF + 12 + (k * 151.21 + 37) % (2 * HALF - 24)
        d, _ = nearest(x, z)
        if d < 16 or any(math.dist((x, z), (cx, cz)) < s * 0.5 for cx, cz, _, s in HILLS[:1]):
            continue
        size = 0.8 + (k * 37 % 10) / 20
        add(line(f"Tree {trees + 1}", PROJECT + "tree.v3d", pos=(x, height(x, z) - 0.2, z), rot=(0, k * 47 % 360, 0),
                 radius=0, scale=(size, size, size)), "")
        trees += 1
        if trees == 24:
            break

    if autopilot:
        add(line("Recorder", "-", kind=4), "")
    # The race control's references: "element#k" counts from its own index.
    assert lines[RACE].startswith("Race control") and lines[10].startswith("Lap counter")
    assert lines[11].startswith("Place counter") and lines[FIRST_CAR].startswith("Player")
    text = [";Zepta racing: three laps round a hilly track against three computer-driven cars; arrow keys or"
            " a game controller drive", str(len(lines))]
    text += lines
    text.append("./bckgrnds/bkgr000_.bmp|1|")
    for k, brain in enumerate(brains):
        text.append(f"@{k}")
        text += [l for l in brain.rstrip("\n").split("\n")] if brain else []
    return crlf(text)


# ---- The networked race (netrace.prj) ----------------------------------------------------------
#
# Four machines in one session, each owning one of the four computer-driven
# cars: car k (k = 1..4, element 3 + k) has owner machine k, and its position
# and rotation are replicated with velocity and spin correction. Machine k
# moves its own car; the others steer their copies after what it sends.

NET_SYNC = 0x33      # position and rotation, their changes, the strongest correction
NET_SPEED = [572000, 566000, 580000, 556000]  # top speeds of cars 1..4
NET_DISTANCE = 400   # globals 401..404: metres car k drove, shared, owned by machine k
NET_SENT = 411       # texts this machine sent
NET_RECEIVED = 412   # texts it received
NET_FROM = 420       # globals 421..424: texts received from machine k
NET_EVERY = 300      # ticks between the progress texts


def net_race_brain():
    return f"""\
; Race control of the networked race. Command values: /MACHINE (1..4, 1 when
; none is given) and /STOP, the tick from which every car brakes to a
; standstill (none: the race goes on for ever). Machine k drives car k; the
; laps keep counting with no end to the race.
; Globals: 1 the race is on, 2 the cars are stopping, 5 the number of gates,
; 6 this machine's car, 7 this machine's number, 10..13 the cars' laps,
; 30..33 their places, 60..63 their next gates, 100 + 2k and 101 + 2k the
; middle of gate k; {NET_DISTANCE + 1}..{NET_DISTANCE + 4} the metres car k drove (shared, each
; written only by its machine), {NET_SENT} texts sent, {NET_RECEIVED} texts received,
; {NET_FROM + 1}..{NET_FROM + 4} texts received from machine k.
var t
var i
var car
var lap
var me
var mine
var stop
var laps
var metres
var rest
var sender
var text
var got
var polls
var shown
var kmh
t = timer(element)
if t = 0
{chr(10).join(gate_lines())}
  global_set(5, {len(GATES)})
  me = par_get(0)
  if par_count() < 1 or me < 1 or me > 4
    me = 1
  endif
  machine_number_set(me)
  global_set(7, me)
  stop = 0
  if par_count() >= 2
    stop = par_get(1)
  endif
  mine = element_index(first_element(), {FIRST_CAR - 1} + me)
  global_set(6, mine)
  laps = -1
  text = str_create(40)
  got = str_create(200)
  i = 0
  enter:
  race_on(element_index(first_element(), {FIRST_CAR} + i))
  i = i + 1
  if i < 4
    goto enter
  endif
  background3d_set(1)
  fogeffect_set(1)
  fog_color_set(170, 200, 235)
  fog_set(160mt, 420mt)
  font_set("DejaVu Sans", -20, 700, 1)
  font_set("DejaVu Sans", -30, 700, 3)
  collision_map_set(element#2, element#3, 1)
  collision_map_set(element#2, element#4, 1)
  collision_map_set(element#2, element#5, 1)
  collision_map_set(element#3, element#4, 1)
  collision_map_set(element#3, element#5, 1)
  collision_map_set(element#4, element#5, 1)
endif
if t = 90
  global_set(1, 1)
endif
; The stop: the cars brake (global 2), and once they are slow they stand.
if stop > 0 and t = stop
  global_set(2, 1)
endif
if stop > 0 and t = stop + 150
  global_set(1, 0)
endif

; Laps, places and next gates of the four cars, as this machine sees them.
i = 0
cars:
car = element_index(first_element(), {FIRST_CAR} + i)
global_set(10 + i, race_lap(car))
global_set(30 + i, race_position(car))
global_set(60 + i, race_next_checkpoint(car))
i = i + 1
if i < 4
  goto cars
endif

; This machine's car: the metres it drove (speeds are in mm a tick) go to its shared global, and a text
; "MACHINE LAP" to the others at each lap and every {NET_EVERY} ticks.
rest = rest + velocity_xz(mine)
if rest >= 1000
  metres = metres + rest / 1000
  rest = rest - [rest / 1000] * 1000
endif
global_set({NET_DISTANCE} + me, metres)
lap = race_lap(mine)
if lap > laps or [t > 0 and t - [t / {NET_EVERY}] * {NET_EVERY} = 0]
  if lap > laps
    laps = lap
  endif
  str_num(text, me * 1000 + laps + 1, 0)
  str_send(text, 1)
  if network_mode()
    global_add({NET_SENT}, 1)
  endif
endif

; The texts of the others: each counted, and by its sender.
polls = 0
poll:
if network_mode() and polls < 64
  str_poll(got, 1)
  if str_len(got) > 0
    global_add({NET_RECEIVED}, 1)
    sender = str_val(got) / 1000
    if sender >= 1 and sender <= 4
      global_add({NET_FROM} + sender, 1)
    endif
    polls = polls + 1
    goto poll
  endif
endif

; The HUD: this machine's car, its lap and speed, and the texts received.
shown = laps + 1
if shown < 1
  shown = 1
endif
credits_set(element#{10 - RACE}, shown)
credits_set(element#{11 - RACE}, race_position(mine))
color_set(255, 240, 200)
print("LAP", 18, 20, 1)
print("POS", 18, 58, 1)
print("/4", 100, 58, 1)
kmh = [velocity_xz(mine) * 108] / 1000
print_num(kmh, 0, 500, 440, 3)
print("km/h", 580, 450, 1)
print("MACHINE", 18, 420, 1)
print_num(me, 0, 120, 420, 1)
print("TEXTS", 18, 445, 1)
print_num(global({NET_RECEIVED}), 0, 120, 445, 1)
if global(2)
  color_set(255, 255, 255)
  print("STOP", 250, 160, 3)
endif
"""


NET_STOP = """\

; From the stop (race control's global 2) the car brakes to a standstill, so
; that every machine ends the run with it in one place.
if global(2)
  friction_xz(element, 440)
  if velocity_xz(element) < 20000
    velocity_x_set(element, 0)
    velocity_z_set(element, 0)
  endif
endif
"""


def net_car_brain(index):
    brain = car_brain(False).replace("{index}", str(index))
    brain = brain.replace("gas = global(1)\n", "gas = global(1)\nif global(2)\n  gas = 0\nendif\n", 1)
    brain = brain.replace("if collision(element, 15)\n", "if collision(element, 15) <> 0 and global(2) = 0\n", 1)
    return brain + NET_STOP


NET_CAMERA_BRAIN = CAMERA_BRAIN.replace("player = element#4\n", """\
player = global(6)
if player = 0
  player = element#4
endif
""").replace("behind and above the player's car", "behind and above this machine's car")


def net_project():
    lines, brains = [], []

    def add(l, brain):
        lines.append(l)
        brains.append(brain)

    add(line("Chase camera", "./cameras/default_.03d", pos=(0, 5, -10), kind=0,
             display="0/0/639/479/-300/20&40/7"), NET_CAMERA_BRAIN)
    add(line("Map camera", "./cameras/default_.03d", pos=(0, 150, 0), rot=(90, 0, 0), kind=0,
             display="505/10/630/135/-240/20&40/7"), MAP_BRAIN)
    add(line("Race control", "-", kind=4), net_race_brain())
    add(line("Terrain", PROJECT + "terrain.a3d", radius=0, kind=1), TERRAIN_BRAIN)
    for k in range(4):
        (x, y, z), ry = grid_slot(k // 2, -1 if k % 2 == 0 else 1)
        add(line(f"Car {k + 1}", PROJECT + f"car{k}.v3d", pos=(x, y, z), rot=(0, ry, 0), element_id=1 << k,
                 radius=1.3, params=f"1/2/{NET_SPEED[k]}/1020", network=(NET_SYNC, k + 1)), net_car_brain(k))
    rest = project().split("\r\n")
    # The lights, counters, gantry and trees are the single-machine race's.
    first, last = 2 + 8, rest.index("./bckgrnds/bkgr000_.bmp|1|")
    lines += rest[first:last]
    brains += [""] * (last - first)
    assert lines[RACE].startswith("Race control") and lines[10].startswith("Lap counter")
    assert lines[11].startswith("Place counter") and lines[FIRST_CAR].startswith("Car 1")
    shared = ",".join(f"{NET_DISTANCE + k}({k})" for k in range(1, 5))
    text = [";Zepta networked racing: four computer-driven cars, one on each of four machines in a session;"
            " the command values /MACHINE /STOP choose this machine's car and the tick the cars stop",
            str(len(lines))]
    text += lines
    text.append(f"./bckgrnds/bkgr000_.bmp|1|{shared}")
    for k, brain in enumerate(brains):
        text.append(f"@{k}")
        text += [l for l in brain.rstrip("\n").split("\n")] if brain else []
    return crlf(text)


def collision_file():
    """The ".col": no pairs (race control declares the cars'), and the engine
    settings of row 254: clip distance 500 m, full-height 3D background, hood 0,
    full field of view."""
    matrix = bytearray(65536)
    for offset, value in ((65036, 500), (65040, 0), (65044, 479), (65048, 0), (65052, 0), (65056, 100)):
        matrix[offset:offset + 4] = struct.pack("<i", value)
    return bytes(matrix)


def input_script(track):
    """The headless test's input: what the autopilot's track recording holds
    (24-byte samples, the first absolute, then changes): the choice made in
    brain pass n is the controller state of tick n + 1, from the start (tick
    90) on."""
    data = pathlib.Path(track).read_bytes()
    values, state = [], [0] * 6
    for k in range(len(data) // 24):
        sample = struct.unpack_from("<6i", data, 24 * k)
        state = list(sample) if k == 0 else [a + b for a, b in zip(state, sample)]
        values.append(state[:3])
    out = ["# Scripted input of the racing demo's headless test: the autopilot's game controller",
           "# (make_racing.py --autopilot), as engine ticks, stick x and buttons 1 and 2.", "90 joy 1 present 1"]
    stick, button, button2 = 0, 0, 0
    for n, (x, b, b2) in enumerate(values):
        if n + 1 < 90:
            continue  # nothing counts before the start
        if x != stick:
            out.append(f"{n + 1} joy 1 axis x {x}")
            stick = x
        if b != button:
            out.append(f"{n + 1} joy 1 button 0 {b}")
            button = b
        if b2 != button2:
            out.append(f"{n + 1} joy 1 button 1 {b2}")
            button2 = b2
    return "\n".join(out) + "\n"


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "--autopilot":
        folder = pathlib.Path(sys.argv[2])
        folder.mkdir(parents=True, exist_ok=True)
        (folder / "racing.prj").write_bytes(project(autopilot=True).encode("latin-1"))
        (folder / "racing.col").write_bytes(collision_file())
        return
    if len(sys.argv) == 3 and sys.argv[1] == "--keys":
        write("racing.input", input_script(sys.argv[2]))
        return
    write("terrain.a3d", terrain())
    write("car.x", car())
    write("tree.x", tree())
    write("gantry.x", gantry())
    write("props.bmp", bmp(16, 16, [BANDS[y // 2] for y in range(16) for _ in range(16)]))
    write("digits.pcx", digits())
    for k, c in enumerate(CAR_COLOURS):
        write(f"car{k}.v3d", crlf([f"1|{PROJECT}props.bmp|{PROJECT}car.x|3|1|{c}|0|0|0"]))
    write("tree.v3d", crlf([f"1|{PROJECT}props.bmp|{PROJECT}tree.x|2|0|FFFFFF|0|0|0"]))
    write("gantry.v3d", crlf([f"1|{PROJECT}props.bmp|{PROJECT}gantry.x|3|0|FFFFFF|0|0|0"]))
    write("racing.prj", project())
    write("racing.col", collision_file())
    write("netrace.prj", net_project())
    write("netrace.col", collision_file())
    print(f"track {LENGTH} m, {len(GATES)} gates")


if __name__ == "__main__":
    main()
