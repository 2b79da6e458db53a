"""Start of a packed slideshow with a large settings store against an empty one.

The slideshow has no photos, so it starts (block 0, the registry settings, the window), shows
"No photos found!" at its first tick and ends: one run is the whole start and end of the
program. Each run is a fresh process; the two cases alternate, and the ratio is taken pair by
pair so drifting machine speed cancels out.
"""
import os
import statistics
import subprocess
import sys
import tempfile
import time

build, runs, mb = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
work = tempfile.mkdtemp(prefix="gdbench")
show = os.path.join(work, "Bench.exe")
# gdpack writes no show without a photo: one goes in, and PhotoCount 0 hides it from the player.
photo = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "imagelib",
                     "fixtures", "detect", "tiny.bmp")
subprocess.run([os.path.join(build, "tools", "gdpack"), "build", "-o", show,
                "--base", os.path.join(build, "saver", "GlimmerdeckScreenSaver"), photo,
                "--set", "PhotoCount=0"], check=True, stdout=subprocess.DEVNULL)


def make_store(home, size):
    store = os.path.join(home, "glimmerdeck", "registry")
    os.makedirs(store, exist_ok=True)
    lines = ["GlimmerdeckRegistry 1"]
    # The player's own section, and many other players' sections around it.
    lines.append("[Software\\Vantorel\\Glimmerdeck\\Slideshow\\Bench]")
    for name, value in [("Duration", "3"), ("Effect", "2"), ("EffectDuration", "1"),
                        ("Showname", "1"), ("Loop", "1"), ("NameSize", "14")]:
        lines.append(f"S\t{name}\t{value}")
    text_len = sum(len(line) + 1 for line in lines)
    n = 0
    while text_len < size:
        lines.append(f"[Software\\Vantorel\\Glimmerdeck\\Screensaver\\Show{n:06d}]")
        text_len += len(lines[-1]) + 1
        for v in range(10):
            line = f"S\tValue{v}\tsome text of a hand-kept setting, number {n * 10 + v:08d}"
            lines.append(line)
            text_len += len(line) + 1
        n += 1
    with open(os.path.join(store, "HKEY_CURRENT_USER"), "w") as f:
        f.write("\n".join(lines) + "\n")
    return os.path.getsize(os.path.join(store, "HKEY_CURRENT_USER"))


homes = {"empty": os.path.join(work, "empty"), "large": os.path.join(work, "large")}
os.makedirs(homes["empty"])
size = make_store(homes["large"], mb * 1000 * 1000)
runtime = os.path.join(work, "run")
os.makedirs(runtime, mode=0o700)


def one(home):
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", XDG_CONFIG_HOME=home,
               XDG_RUNTIME_DIR=runtime, TMPDIR=work)
    t0 = time.perf_counter()
    subprocess.run([show, "x"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   check=True)
    return time.perf_counter() - t0


one(homes["empty"])   # warm-up: the program and Qt's libraries in the page cache
one(homes["large"])
times = {"empty": [], "large": []}
for _ in range(runs):
    for case in ("empty", "large"):
        times[case].append(one(homes[case]))
ratios = [a / b for a, b in zip(times["large"], times["empty"])]


def row(name, values, unit):
    print(f"{name:<34} {min(values):8.3f} {statistics.median(values):8.3f} {max(values):8.3f} {unit}")


print(f"slideshow start to end, {runs} runs each, offscreen (min / median / max)")
row("empty settings store", times["empty"], "s")
row(f"settings store of {size / 1e6:.1f} MB", times["large"], "s")
row("ratio large / empty", ratios, "x")
subprocess.run(["rm", "-rf", work])
