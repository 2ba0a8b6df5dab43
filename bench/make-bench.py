#!/usr/bin/python3
"""wad3 --make measured: its quantizer beside pngquant and Pillow's, its mips beside the real
packages' own, and its time beside the extraction's.

  bench/make-bench.py [--program build/wad3] [--images DIR] [--packages DIR] [--maps DIR]
                      [--runs 5] [--parts 12345]

Needs Debian's python3-pil (Pillow) and pngquant (GPL: only measured here, never linked).
  1. Quantizer: every truecolour image in --images (../shared/image-samples) as an RGB PNG, to
     256 colours by `wad3 --make` (read back through the PCX file the extraction writes), by
     `pngquant --nofs 256`, and by Pillow's median cut, median cut with k-means and fast
     octree. PSNR of the full-size picture; the time of wad3 and of pngquant, each given every
     image in one process, median of --runs.
  2. Mips: every texture of the packages in --packages (../shared/wad3-samples) whose sides
     are multiples of 8, its levels 1 to 3 against the true mean of each 2x2, 4x4 and 8x8 block
     of the full-size picture: the package's own, and those --make makes from the PCX file.
  3. Time: the extraction of each package into a fresh folder, and --make of the PCX files it
     wrote, user and wall time summed over the packages, median of --runs.
  4. Maps: each map of version 30 in --maps (../shared/map-samples) that carries textures,
     stripped of them (only their names left) and given them back from a package of them by
     `wad3 --make OUT.bsp MAP.bsp PACKAGE`, beside `cp` of the map; and the largest with its
     lighting lump grown to 256 MB, to show that memory holds the texture lump, not the map.
     Wall and user time, median of --runs, and peak memory (resident set) of each.
  5. Sprite: every truecolour image in --images as a frame of one sprite, one palette for all:
     `wad3 --make` (read back through the PCX files the extraction writes) beside pngquant
     --nofs given the frames in one picture, each frame's rows widened by its last column, which
     adds no colour. PSNR over the frames' own pixels.
"""
import argparse
import math
import os
import resource
import shutil
import struct
import subprocess
import sys
import tempfile
import time

from PIL import Image


def psnr(error, samples):
    return 99.0 if error == 0 else 10 * math.log10(255 * 255 * samples / error)


def squared_error(a, b):
    return sum((x - y) * (x - y) for x, y in zip(a, b))


def timed(command, cwd=None):
    """Wall and user time of one run of command, its output dropped."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    subprocess.run(command, cwd=cwd, stdout=subprocess.DEVNULL, check=True)
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return wall, after.ru_utime - before.ru_utime


def median(values):
    values = sorted(values)
    return values[len(values) // 2]


def textures(path):
    """Each texture of a WAD3 package: name, width, height, its four levels and palette."""
    data = open(path, 'rb').read()
    if data[:4] != b'WAD3':
        return
    count, directory = struct.unpack_from('<II', data, 4)
    for k in range(count):
        filepos, = struct.unpack_from('<I', data, directory + 32 * k)
        if data[directory + 32 * k + 12] != 0x43:
            continue
        name = data[filepos:filepos + 16].split(b'\0')[0]
        width, height = struct.unpack_from('<II', data, filepos + 16)
        offsets = struct.unpack_from('<4I', data, filepos + 24)
        p = width * height
        levels = [data[filepos + offsets[l]:filepos + offsets[l] + (p >> (2 * l))] for l in range(4)]
        palette = filepos + 40 + p + p // 4 + p // 16 + p // 64
        entries, = struct.unpack_from('<H', data, palette)
        yield name, width, height, levels, data[palette + 2:palette + 2 + 3 * entries]


def block_means(rgb, width, height, level):
    """The rounded mean colour of each 2^level square block of an RGB picture."""
    side = 1 << level
    out = []
    for by in range(height >> level):
        for bx in range(width >> level):
            sums = [0, 0, 0]
            for y in range(by * side, by * side + side):
                row = (y * width + bx * side) * 3
                for x in range(side):
                    for c in range(3):
                        sums[c] += rgb[row + 3 * x + c]
            out.extend((s + side * side // 2) // (side * side) for s in sums)
    return out


def colours(indices, palette):
    out = []
    for i in indices:
        out.extend(palette[3 * i:3 * i + 3])
    return out


def quantizer(args, work):
    names = sorted(n for n in os.listdir(args.images) if n.lower().endswith(('.png', '.tga', '.jpg', '.jpeg', '.bmp')))
    sources = []
    for k, name in enumerate(names):
        path = os.path.join(work, 'q%02d.png' % k)
        Image.open(os.path.join(args.images, name)).convert('RGB').save(path)
        sources.append(path)
    print('1. Quantizer: %d truecolour images of %s, to 256 colours, PSNR of the full-size picture' % (len(names), args.images))
    print('| image | size | wad3 --make | pngquant --nofs | Pillow median cut | median cut + k-means | fast octree |')
    print('|---|---|---|---|---|---|---|')
    package = os.path.join(work, 'q.wad')
    subprocess.run([args.program, '--make', package] + sources, stdout=subprocess.DEVNULL, check=True)
    back = os.path.join(work, 'q')
    os.mkdir(back)
    subprocess.run([args.program, package], cwd=back, stdout=subprocess.DEVNULL, check=True)
    subprocess.run(['pngquant', '--nofs', '--force', '--ext', '.pq.png', '256'] + sources, check=True)
    totals = [0.0] * 5
    for k, (name, path) in enumerate(zip(names, sources)):
        picture = Image.open(path)
        rgb = picture.tobytes()
        made = [
            Image.open(os.path.join(back, 'q%02d.pcx' % k)),
            Image.open(path[:-4] + '.pq.png'),
            picture.quantize(256, method=Image.Quantize.MEDIANCUT),
            picture.quantize(256, method=Image.Quantize.MEDIANCUT, kmeans=8),
            picture.quantize(256, method=Image.Quantize.FASTOCTREE),
        ]
        figures = [psnr(squared_error(rgb, m.convert('RGB').tobytes()), len(rgb)) for m in made]
        totals = [t + f for t, f in zip(totals, figures)]
        print('| %s | %dx%d | %s |' % (name, picture.width, picture.height, ' | '.join('%.2f dB' % f for f in figures)))
    print('| mean | | %s |' % ' | '.join('%.2f dB' % (t / len(names)) for t in totals))
    ours = [timed([args.program, '--make', package] + sources) for _ in range(args.runs)]
    theirs = [timed(['pngquant', '--nofs', '--force', '--ext', '.pq.png', '256'] + sources) for _ in range(args.runs)]
    print('\nTime for the %d in one process, median of %d: wad3 --make %.3f s wall, %.3f s user;'
          ' pngquant --nofs %.3f s wall, %.3f s user\n' % (
              len(names), args.runs, median(w for w, _ in ours), median(u for _, u in ours),
              median(w for w, _ in theirs), median(u for _, u in theirs)))


def mips(args, work):
    own = [[] for _ in range(3)]
    ours = [[] for _ in range(3)]
    for wad in sorted(os.listdir(args.packages)):
        # Decals' mips are mean opacities, and a { texture's are masked: colours are compared
        # where every pixel is a colour.
        if not wad.endswith('.wad') or wad.lower() == 'decals.wad':
            continue
        folder = os.path.join(work, 'm-' + wad)
        os.mkdir(folder)
        subprocess.run([args.program, os.path.join(args.packages, wad)], cwd=folder, stdout=subprocess.DEVNULL)
        package = os.path.join(work, 'm-' + wad + '.back')
        if subprocess.run([args.program, '--make', package, folder], stdout=subprocess.DEVNULL).returncode != 0:
            continue
        made = {t[0].lower(): t for t in textures(package)}
        for name, width, height, levels, palette in textures(os.path.join(args.packages, wad)):
            if width % 8 or height % 8 or len(palette) < 768 or name.startswith(b'{') or name.lower() not in made:
                continue
            full = colours(levels[0], palette)
            for level in range(1, 4):
                means = block_means(full, width, height, level)
                for figures, texture in ((own, levels), (ours, made[name.lower()][3])):
                    error = squared_error(means, colours(texture[level], palette))
                    figures[level - 1].append(psnr(error, len(means)))
    print('2. Mips: %d textures of %s (not decals, not { textures), each level against the true'
          ' block means, mean PSNR' % (len(own[0]), args.packages))
    print('| level | the packages\' own | wad3 --make |')
    print('|---|---|---|')
    for level in range(3):
        print('| %d (%dx%d blocks) | %.1f dB | %.1f dB |' % (
            level + 1, 2 << level, 2 << level, sum(own[level]) / len(own[level]),
            sum(ours[level]) / len(ours[level])))
    print()


def speed(args, work):
    wads = sorted(os.path.join(args.packages, n) for n in os.listdir(args.packages) if n.endswith('.wad'))
    extraction, making = [], []
    for run in range(args.runs):
        walls = [0.0, 0.0]
        users = [0.0, 0.0]
        for wad in wads:
            folder = os.path.join(work, 's%d-%s' % (run, os.path.basename(wad)))
            os.mkdir(folder)
            subprocess.run(['sync'])
            wall, user = timed([args.program, wad], cwd=folder)
            walls[0] += wall
            users[0] += user
            if not os.listdir(folder):
                continue
            subprocess.run(['sync'])
            wall, user = timed([args.program, '--make', folder + '.wad', '.'], cwd=folder)
            walls[1] += wall
            users[1] += user
        extraction.append((walls[0], users[0]))
        making.append((walls[1], users[1]))
    print('3. Time: the %d packages of %s, summed, median of %d runs' % (len(wads), args.packages, args.runs))
    print('| run | wall | user |')
    print('|---|---|---|')
    for name, runs in (('extraction', extraction), ('--make of its PCX files', making)):
        print('| %s | %.3f s | %.3f s |' % (name, median(w for w, _ in runs), median(u for _, u in runs)))
    print('| ratio | %.2f | %.2f |' % (
        median(m[0] / e[0] for m, e in zip(making, extraction)),
        median(m[1] / e[1] for m, e in zip(making, extraction))))


def measured(command, work):
    """Wall and user time and peak resident memory (KiB) of one run of command, after a sync.
    The peak is GNU time's: a child's peak counts that of the process it was forked from, and
    this one's holds the maps."""
    subprocess.run(['sync'])
    peak = os.path.join(work, 'peak')
    start = time.perf_counter()
    child = subprocess.Popen(['/usr/bin/time', '-f', '%M', '-o', peak] + command, stdout=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.perf_counter() - start
    if status != 0:
        sys.exit('failed: %s' % ' '.join(command))
    return wall, usage.ru_utime, int(open(peak).read().split()[-1])


def lumps(data):
    return [list(struct.unpack_from('<II', data, 4 + 8 * k)) for k in range(15)]


def stripped(data):
    """The map with only the names of its textures: its texture lump laid anew at its end, of
    headers whose level offsets are 0, the old one zeroed."""
    data = bytearray(data)
    directory = lumps(data)
    at, length = directory[2]
    count, = struct.unpack_from('<I', data, at)
    lump = bytearray(struct.pack('<I', count) + bytes(4 * count))
    for k in range(count):
        offset, = struct.unpack_from('<I', data, at + 4 + 4 * k)
        if offset != 0xFFFFFFFF:
            offset, header = len(lump), data[at + offset:at + offset + 24]
            lump += header + bytes(16)
        struct.pack_into('<I', lump, 4 + 4 * k, offset)
    data[at:at + length] = bytes(length)
    data += bytes(-len(data) % 4)
    struct.pack_into('<II', data, 20, len(data), len(lump))
    return bytes(data + lump)


def grown(data, size):
    """The map with its lighting lump (8) grown to `size` bytes at its end, the old one zeroed."""
    data = bytearray(data)
    at, length = lumps(data)[8]
    light = bytes(data[at:at + length]) or b'\x80'
    data[at:at + length] = bytes(length)
    data += bytes(-len(data) % 4)
    struct.pack_into('<II', data, 4 + 8 * 8, len(data), size)
    return bytes(data + (light * (size // len(light) + 1))[:size])


def maps(args, work):
    cases = []
    for name in sorted(os.listdir(args.maps)):
        data = open(os.path.join(args.maps, name), 'rb').read()
        if not name.endswith('.bsp') or struct.unpack_from('<I', data)[0] != 30:
            continue
        package = os.path.join(work, name + '.wad')
        if subprocess.run([args.program, '--make', package, os.path.join(args.maps, name)],
                          stdout=subprocess.DEVNULL).returncode != 0:
            continue  # it carries no texture
        bare = os.path.join(work, name)
        open(bare, 'wb').write(stripped(data))
        cases.append((name, bare, package))
    name, bare, package = max(cases, key=lambda case: os.path.getsize(case[1]))
    big = os.path.join(work, 'grown-' + name)
    open(big, 'wb').write(grown(open(bare, 'rb').read(), 256 << 20))
    cases.append((name + ', lighting grown to 256 MB', big, package))
    print('4. Maps: each given back its textures from a package of them, beside cp; median of %d'
          % args.runs)
    print('| map | size | wad3 --make: wall | user | memory | cp: wall | user | memory | wall ratio |')
    print('|---|---|---|---|---|---|---|---|---|')
    for name, path, package in cases:
        out, copy = os.path.join(work, 'out.bsp'), os.path.join(work, 'copy.bsp')
        ours = [measured([args.program, '--make', out, path, package], work) for _ in range(args.runs)]
        theirs = [measured(['cp', path, copy], work) for _ in range(args.runs)]
        figures = [median(run[k] for run in ours) for k in range(3)] + [median(run[k] for run in theirs) for k in range(3)]
        print('| %s | %.1f MB | %.3f s | %.3f s | %.1f MiB | %.3f s | %.3f s | %.1f MiB | %.2f |' % (
            name, os.path.getsize(path) / 1e6, figures[0], figures[1], figures[2] / 1024, figures[3],
            figures[4], figures[5] / 1024, figures[0] / figures[3]))
    print()


def sprite(args, work):
    names = sorted(n for n in os.listdir(args.images) if n.lower().endswith(('.png', '.tga', '.jpg', '.jpeg', '.bmp')))
    frames = [Image.open(os.path.join(args.images, n)).convert('RGB') for n in names]
    paths = []
    for k, frame in enumerate(frames):
        paths.append(os.path.join(work, 'frame%02d.png' % k))
        frame.save(paths[-1])
    out = os.path.join(work, 'frames.spr')
    subprocess.run([args.program, '--make', out] + paths, stdout=subprocess.DEVNULL, check=True)
    back = os.path.join(work, 'frames')
    os.mkdir(back)
    subprocess.run([args.program, out], cwd=back, stdout=subprocess.DEVNULL, check=True)
    width = max(f.width for f in frames)
    strip = Image.new('RGB', (width, sum(f.height for f in frames)))
    y = 0
    for frame in frames:
        widened = frame.crop((0, 0, width, frame.height))  # past the right edge: black, then mended
        widened.paste(frame, (0, 0))
        for x in range(frame.width, width):
            widened.paste(frame.crop((frame.width - 1, 0, frame.width, frame.height)), (x, 0))
        strip.paste(widened, (0, y))
        y += frame.height
    together = os.path.join(work, 'strip.png')
    strip.save(together)
    subprocess.run(['pngquant', '--nofs', '--force', '--ext', '.pq.png', '256', together], check=True)
    quantized = Image.open(together[:-4] + '.pq.png').convert('RGB')
    errors = [0, 0]
    samples = 0
    y = 0
    for k, frame in enumerate(frames):
        rgb = frame.tobytes()
        ours = Image.open(os.path.join(back, 'frames_%d.pcx' % k)).convert('RGB').tobytes()
        theirs = quantized.crop((0, y, frame.width, y + frame.height)).tobytes()
        errors[0] += squared_error(rgb, ours)
        errors[1] += squared_error(rgb, theirs)
        samples += len(rgb)
        y += frame.height
    print('5. Sprite: the %d images of %s as the frames of one sprite, one palette of 256, PSNR over'
          ' every frame: wad3 --make %.2f dB, pngquant --nofs %.2f dB\n' % (
              len(frames), args.images, psnr(errors[0], samples), psnr(errors[1], samples)))


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    parser.add_argument('--program', default=os.path.join(here, '..', 'build', 'wad3'))
    parser.add_argument('--images', default=os.path.join(here, '..', '..', 'shared', 'image-samples'))
    parser.add_argument('--packages', default=os.path.join(here, '..', '..', 'shared', 'wad3-samples'))
    parser.add_argument('--maps', default=os.path.join(here, '..', '..', 'shared', 'map-samples'))
    parser.add_argument('--runs', type=int, default=5)
    parser.add_argument('--parts', default='12345', help='which of the parts to measure')
    args = parser.parse_args()
    args.program = os.path.abspath(args.program)
    if ('1' in args.parts or '5' in args.parts) and shutil.which('pngquant') is None:
        sys.exit('needs pngquant (apt-get install pngquant)')
    if '4' in args.parts and not os.path.exists('/usr/bin/time'):
        sys.exit('needs GNU time (apt-get install time)')
    with tempfile.TemporaryDirectory(prefix='wad3-make-bench-') as work:
        for part, measure in (('1', quantizer), ('2', mips), ('3', speed), ('4', maps), ('5', sprite)):
            if part in args.parts:
                measure(args, work)


if __name__ == '__main__':
    main()
