#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets: small valid files of every format.

Run from anywhere; the files land in tests/fuzz/corpus/<target>/. The KGM seeds named
from_<obj seed>.kgm are what `kglmodel convert` writes for the OBJ seeds; with a built
kglmodel, `make_corpus.py path/to/kglmodel` writes them too.
"""
import json
import math
import os
import struct
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "corpus")


def put(target, name, data):
    folder = os.path.join(CORPUS, target)
    os.makedirs(folder, exist_ok=True)
    if isinstance(data, str):
        data = data.encode("latin-1")
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


# ---- OBJ: the accepted dialect, one feature per file, all tiny ----
OBJ = {
    "triangle.obj": "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n",
    "cube.obj": (
        "# cube of side 2\ng cube\n"
        "v -1 -1 -1\nv 1 -1 -1\nv 1 1 -1\nv -1 1 -1\n"
        "v -1 -1 1\nv 1 -1 1\nv 1 1 1\nv -1 1 1\n"
        "f 1 2 3 4\nf 5 8 7 6\nf 1 5 6 2\nf 2 6 7 3\nf 3 7 8 4\nf 5 1 4 8\n"
    ),
    "full.obj": (
        "mtllib x.mtl\no thing\ng default\ng Body Part\n"
        "v 1.5 -2 3e2\nv 0.25 .5 -1E-2\nv +1 2 3\n"
        "vt 0.25 0.75 0.0\nvt 1 0\nvt 0 1\n"
        "vn 0 0 1\nvn 0 1 0\nvn 1 0 0\n"
        "usemtl m\ns 1\nf 1/1/1 2/2/2 3/3/3\nf 1/1 2/2 3/3\nf 1//1 2//2 3//3\n"
        "g second\nf 1/1 2 3\nf -3 -2 -1\nvp 1 2\nl 1 2\n"
    ),
    "crlf_bom.obj": "\xef\xbb\xbfv 0 0 0\r\nv 1 0 0\r\nv 0 1 0\r\nv 1 1 0\r\ng quad\r\nF 1 2 4 3\r\n",
    "groups.obj": (
        "g a\nv 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 1\nf 1 2 3\nf 1 3 4\n"
        "g b\nf 2 3 4\ng empty\ng c\nf 4 3 2 1\nf 1 2\nf 3\n"
    ),
    # what other programs write: tabs and runs of blanks, lone CR, w and r g b, vt
    # without v, numbers with a trailing point
    "tabs_runs.obj": "v\t0 0\t0\nv  1   0 0\t\nv 0 1 0\nvt\t0.5\ng\ttabs\nf\t1/1  2/1\t3/1 \n",
    "lone_cr.obj": "v 0 0 0\rv 1 0 0\rv 0 1 0\r\nvn 0 0 1\rf 1//1 2//1 3//1\r",
    "w_rgb.obj": "v 0 0 0 1\nv 1. 0 0 0.5 0.25 1\nv 0 1 -1.E0 1 0 0\nvn 0 0 1 0\nvt 0 0 0\nf 1/1 2/1 3/1\n",
}
for name, text in OBJ.items():
    put("obj", name, text)
    put("roundtrip", name, text)


# ---- KGM: written field by field after the documented layout ----
def short_string(text, capacity):
    raw = text.encode("latin-1")[:capacity]
    return bytes([len(raw)]) + raw + b"\0" * (capacity - len(raw))


def kgm(model):
    out = bytearray()
    out += short_string("KGL_Model_file", 20) + short_string("0.1", 5)
    for key in ("boxMin", "boxMax", "center", "centroid"):
        out += struct.pack("<3f", *model[key])
    for key in ("diagonal", "minArea", "maxArea", "scale"):
        out += struct.pack("<d", model[key])
    out += short_string(model["name"], 255)
    verts, norms, tcs, edges, groups = (model[k] for k in ("v", "n", "t", "e", "g"))
    counts = [len(verts) - 1, len(norms) - 1, len(tcs) - 1, len(groups) - 1,
              sum(len(g["faces"]) - 1 for g in groups), len(edges) - 1]
    out += struct.pack("<6i", *counts)
    for x, y, z, target, merges in verts:
        out += struct.pack("<3f2i", x, y, z, target, merges)
    for n in norms:
        out += struct.pack("<3f", *n)
    for u, v, target in tcs:
        out += struct.pack("<2fi", u, v, target)
    for c0, c1, face, face2, group, weight, active in edges:
        out += struct.pack("<5i4xdB7x", c0, c1, face, face2, group, weight, active)
    for g in groups:
        out += short_string(g["name"], 50)
        out += struct.pack("<3f3fi", *g["boxMin"], *g["boxMax"], len(g["faces"]) - 1)
        for area, visible, vidx, nidx, tidx in g["faces"]:
            out += struct.pack("<dBi", area, visible, len(vidx))
            out += struct.pack("<%di" % len(vidx), *vidx)
            out += struct.pack("<i", len(nidx) - 1) + struct.pack("<%di" % len(nidx), *nidx)
            out += struct.pack("<i", len(tidx) - 1) + struct.pack("<%di" % len(tidx), *tidx)
    return bytes(out)


SPARE_FACE = (0.0, 0, [], [], [])
tri = {
    "boxMin": (0, 0, 0), "boxMax": (1, 1, 0), "center": (0.5, 0.5, 0),
    "centroid": (1 / 3, 1 / 3, 0), "diagonal": math.sqrt(2), "minArea": 1.0,
    "maxArea": 1.0, "scale": math.sqrt(2), "name": "",
    "v": [(0, 0, 0, -1, 0), (0, 0, 0, -1, 0), (1, 0, 0, -1, 0), (0, 1, 0, -1, 0), ],
    "n": [(0, 0, 0), (0, 0, 1)],
    "t": [(0, 0, -1), (0, 0, -1), (1, 0, -2), (0, 1, -1)],
    "e": [(0, 0, 0, 0, 0, 0.0, 0), (0, 1, 1, -1, 0, 0.0, 1), (1, 2, 1, -1, 0, 0.0, 1),
          (0, 2, 1, -1, 0, 0.0, 1)],
    "g": [{"name": "DEFAULT", "boxMin": (0, 0, 0), "boxMax": (1, 1, 0),
           "faces": [SPARE_FACE, (0.0, 1, [1, 2, 3], [1, 1, 1], [1, 2, 3])]}],
}
put("kgm", "triangle.kgm", kgm(tri))
two = dict(tri)
two["name"] = "SECOND"
two["g"] = tri["g"] + [{"name": "SECOND", "boxMin": (0, 0, 0), "boxMax": (1, 1, 0),
                        "faces": [SPARE_FACE, (0.0, 1, [3, 2, 1], [], [3]),
                                  (1.0, 0, [1, 2], [1], [])]}]
two["e"] = tri["e"] + [(0, 1, 2, -1, 1, 1.0, 1)]
put("kgm", "two_groups.kgm", kgm(two))
freed = {"boxMin": (1e18, 1e18, 1e18), "boxMax": (-1e18, -1e18, -1e18), "center": (0, 0, 0),
         "centroid": (0, 0, 0), "diagonal": 0.0, "minArea": 1e18, "maxArea": -1e18,
         "scale": 0.0, "name": "", "v": [], "n": [], "t": [], "e": [], "g": []}
put("kgm", "freed.kgm", kgm(freed))


# ---- BMP: 24-bit, bottom-up, padded rows ----
def bmp(width, height, pixel, top_down=False):
    row = bytearray()
    stride = (width * 3 + 3) // 4 * 4
    data = bytearray()
    for y in range(height):
        row = bytearray()
        for x in range(width):
            row += bytes(pixel(x, y))  # blue, green, red
        row += b"\0" * (stride - len(row))
        data += row
    info = struct.pack("<IiiHHIIiiII", 40, width, -height if top_down else height, 1, 24, 0,
                       len(data), 2835, 2835, 0, 0)
    head = struct.pack("<2sIHHI", b"BM", 14 + 40 + len(data), 0, 0, 14 + 40)
    return head + info + bytes(data)


put("bmp", "red4x4.bmp", bmp(4, 4, lambda x, y: (0, 0, 255) if (x, y) == (0, 0) else (x * 60, y * 60, 9)))
put("bmp", "padded3x2.bmp", bmp(3, 2, lambda x, y: (x * 80, y * 200, 40)))
put("bmp", "one1x1.bmp", bmp(1, 1, lambda x, y: (1, 2, 3)))


# ---- TGA: type 2, 24 bits ----
def tga(width, height, pixel, image_id=b"", descriptor=0):
    head = struct.pack("<BBBHHBHHHHBB", len(image_id), 0, 2, 0, 0, 0, 0, 0, width, height, 24,
                       descriptor)
    data = bytearray()
    for y in range(height):
        for x in range(width):
            data += bytes(pixel(x, y))  # blue, green, red
    return head + image_id + bytes(data)


put("tga", "two2x2.tga", tga(2, 2, lambda x, y: (10, 20, 30)))
put("tga", "id_topleft3x2.tga", tga(3, 2, lambda x, y: (x * 70, y * 90, 5), b"seed", 0x20))
put("tga", "one1x1.tga", tga(1, 1, lambda x, y: (7, 8, 9)))


# ---- importer hand-over: a child's output, error text and geometry (see fuzz_checks) ----
def geometry(positions, groups, faces, normals=(), tex=()):
    """faces: (corners, tIdx or None, nIdx or None) per face; groups: (name, face count)."""
    vidx, tidx, nidx, words = [], [], [], []
    for corners, t, n in faces:
        word = len(corners) | ((1 << 30) if t else 0) | ((1 << 31) if n else 0)
        words.append(word)
        vidx += corners
        tidx += t or []
        nidx += n or []
    out = b"KGLGEOM1" + struct.pack("<8I", len(positions), len(normals), len(tex), len(groups), len(faces),
                                    len(vidx), len(tidx), len(nidx))
    for p in positions + list(normals):
        out += struct.pack("<3f", *p)
    for t in tex:
        out += struct.pack("<2f", *t)
    for name, count in groups:
        out += struct.pack("<IB", count, len(name)) + name.encode() + b"\0" * (51 - len(name))
    out += struct.pack("<%dI" % len(words), *words)
    out += struct.pack("<%di" % (len(vidx) + len(tidx) + len(nidx)), *(vidx + tidx + nidx))
    return out


def child(exit_byte, status, out, err, geo):
    return bytes([exit_byte, status, 5]) + out + b"\n--\n" + err + b"\n--\n" + geo


CUBE = [(0, 0, 0), (1, 0, 0), (1, 1, 0), (0, 1, 0), (0, 0, 1), (1, 0, 1), (1, 1, 1), (0, 1, 1)]
QUADS = [[1, 2, 3, 4], [5, 8, 7, 6], [1, 5, 6, 2], [2, 6, 7, 3], [3, 7, 8, 4], [4, 8, 5, 1]]
put("import", "written.bin", child(0, 0, b"progress 10 1000\nprogress 1000 1000\nwarning 3 points and 0 lines "
                                   b"were skipped: only polygons are read\ndone", b"",
                                   geometry(CUBE, [("CUBE", 6)], [(q, None, None) for q in QUADS])))
put("import", "written_two_groups.bin", child(0, 0, b"progress 1000 1000", b"", geometry(
    CUBE, [("", 2), ("LID", 4)], [(q, [1, 2, 3, 4], [k % 3 + 1] * 4) for k, q in enumerate(QUADS)],
    normals=[(0, 0, 1), (0, 1, 0), (1, 0, 0)], tex=[(0, 0), (1, 0), (1, 1), (0, 1)])))



def file_set(files):
    """The exporter's files: (name, bytes) pairs."""
    out = b"KGLFILE1" + struct.pack("<I", len(files))
    for name, data in files:
        out += struct.pack("<I", len(name)) + name.encode() + struct.pack("<Q", len(data)) + data
    return out


put("import", "exported.bin", child(4, 0, b"", b"", file_set([("model.glb", b"glTF\2\0\0\0")])))
put("import", "exported_two.bin", child(4, 0, b"", b"", file_set([("a.gltf", b"{}"), ("a.bin", b"")])))


# ---- the importer's own binary readers: binary STL, PLY and GLB ----
def stl(triangles):
    out = b"binary stl seed".ljust(80, b" ") + struct.pack("<I", len(triangles))
    for normal, a, b, c in triangles:
        out += struct.pack("<12fH", *normal, *a, *b, *c, 0)
    return out


put("binary", "tetrahedron.stl", stl([((0, 0, -1), (0, 0, 0), (0, 1, 0), (1, 0, 0)),
                                      ((0, -1, 0), (0, 0, 0), (1, 0, 0), (0, 0, 1)),
                                      ((-1, 0, 0), (0, 0, 0), (0, 0, 1), (0, 1, 0)),
                                      ((1, 1, 1), (1, 0, 0), (0, 1, 0), (0, 0, 1))]))


def ply(properties, vertices, faces, count="uchar", index="int", extra=""):
    header = "ply\nformat binary_little_endian 1.0\ncomment seed\nelement vertex %d\n" % len(vertices)
    header += "".join("property %s %s\n" % p for p in properties)
    header += "element face %d\nproperty list %s %s vertex_indices\n%send_header\n" % (len(faces), count, index, extra)
    fmt = "<" + "".join({"float": "f", "uchar": "B", "double": "d"}[t] for t, _ in properties)
    out = header.encode()
    for v in vertices:
        out += struct.pack(fmt, *v)
    for f in faces:
        out += struct.pack("<" + {"uchar": "B", "ushort": "H"}[count], len(f))
        out += struct.pack("<%d%s" % (len(f), {"int": "i", "uint": "I"}[index]), *f)
    return out


put("binary", "cube.ply", ply([("float", "x"), ("float", "y"), ("float", "z")], CUBE,
                              [[c - 1 for c in q] for q in QUADS]))
put("binary", "cube_normals_uv_colours.ply",
    ply([("float", "x"), ("float", "y"), ("float", "z"), ("float", "nx"), ("float", "ny"), ("float", "nz"),
         ("float", "s"), ("float", "t"), ("uchar", "red"), ("uchar", "green"), ("uchar", "blue")],
        [p + (0, 0, 1) + (p[0], p[1]) + (200, 100, 50) for p in CUBE],
        [[c - 1 for c in q] for q in QUADS] + [[0, 1], [2]], count="ushort", index="uint"))



def glb(document, binary):
    text = json.dumps(document, separators=(",", ":")).encode()
    text += b" " * (-len(text) % 4)
    binary += b"\0" * (-len(binary) % 4)
    out = struct.pack("<I", len(text)) + b"JSON" + text + struct.pack("<I", len(binary)) + b"BIN\0" + binary
    return b"glTF" + struct.pack("<II", 2, 12 + len(out)) + out


# a cube of quads cut in two, moved by a node under an unnamed root: positions and normals
# interleaved, short indices
CUBE_VERTICES = b"".join(struct.pack("<6f", *p, 0, 0, 1) for p in CUBE)
CUBE_INDICES = struct.pack("<36H", *[c - 1 for q in QUADS for c in (q[0], q[1], q[2], q[0], q[2], q[3])])
put("binary", "cube.glb", glb({
    "asset": {"version": "2.0"}, "scene": 0, "scenes": [{"nodes": [0]}],
    "nodes": [{"children": [1]}, {"name": "cube", "mesh": 0, "translation": [1, 0, 0], "scale": [2, 2, 2]}],
    "meshes": [{"primitives": [{"attributes": {"POSITION": 0, "NORMAL": 1}, "indices": 2}]}],
    "buffers": [{"byteLength": len(CUBE_VERTICES) + len(CUBE_INDICES)}],
    "bufferViews": [{"buffer": 0, "byteLength": len(CUBE_VERTICES), "byteStride": 24},
                    {"buffer": 0, "byteOffset": len(CUBE_VERTICES), "byteLength": len(CUBE_INDICES)}],
    "accessors": [{"bufferView": 0, "componentType": 5126, "count": len(CUBE), "type": "VEC3"},
                  {"bufferView": 0, "byteOffset": 12, "componentType": 5126, "count": len(CUBE), "type": "VEC3"},
                  {"bufferView": 1, "componentType": 5123, "count": 36, "type": "SCALAR"}]},
    CUBE_VERTICES + CUBE_INDICES))

# ---- JPEG: made by ImageMagick from tiny pictures ----
def jpeg(name, args):
    folder = os.path.join(CORPUS, "jpeg")
    os.makedirs(folder, exist_ok=True)
    subprocess.run(["convert"] + args + [os.path.join(folder, name)], check=True)


try:
    jpeg("rgb3x2.jpg", ["-size", "3x2", "gradient:red-blue", "-quality", "90"])
    jpeg("grey8x8.jpg", ["-size", "8x8", "gradient:", "-colorspace", "Gray", "-quality", "50"])
    jpeg("progressive16x9.jpg", ["-size", "16x9", "plasma:fractal", "-seed", "1", "-interlace",
                                 "JPEG", "-sampling-factor", "2x2"])
    jpeg("cmyk4x4.jpg", ["-size", "4x4", "xc:orange", "-colorspace", "CMYK"])
except (OSError, subprocess.CalledProcessError) as e:
    sys.exit("convert (ImageMagick) is needed for the JPEG seeds: %s" % e)

if len(sys.argv) > 1:
    for name in OBJ:
        subprocess.run([sys.argv[1], "convert", os.path.join(CORPUS, "obj", name),
                        os.path.join(CORPUS, "kgm", "from_" + name[:-4] + ".kgm")], check=True)
