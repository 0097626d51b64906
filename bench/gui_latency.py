#!/usr/bin/env python3
"""How quickly the window answers, and what it costs while nothing happens. Starts the program
under a private Xvfb in a folder holding bun000.vrt and bun045.vrt, loads both, then prints:

- the share of one core the program (and Xvfb) use while idle, over --idle-seconds;
- the time from an input sent with xdotool to the first changed pixels on the screen, for a
  click on a step button of the overlap field, a click on "Random position", a character typed
  into the delta field and a mouse-wheel step over the 3D view (median, min, max per kind, and
  the median over all of them). The time includes starting xdotool (printed too).

The machine's load is printed beside the figures: on a shared machine they are provisional.

usage: bench/gui_latency.py KESTREL [--rounds N] [--idle-seconds S]
"""
import argparse, ctypes, os, random, re, shutil, statistics, subprocess, sys, tempfile, time

HERE = os.path.dirname(os.path.abspath(__file__))
EXAMPLES = os.path.join(HERE, "..", "examples")
VIEW = (50, 50, 620, 620)  # the 3D window on the screen: x, y, width, height
NO_ANSWER_S = 2.0          # an input that changes nothing in this time counts as unanswered


# ---- screen pixels through Xlib -------------------------------------------------------------
class XImage(ctypes.Structure):
    _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int), ("xoffset", ctypes.c_int),
                ("format", ctypes.c_int), ("data", ctypes.c_void_p),
                ("byte_order", ctypes.c_int), ("bitmap_unit", ctypes.c_int),
                ("bitmap_bit_order", ctypes.c_int), ("bitmap_pad", ctypes.c_int),
                ("depth", ctypes.c_int), ("bytes_per_line", ctypes.c_int),
                ("bits_per_pixel", ctypes.c_int)]


class Screen:
    def __init__(self, display):
        self.x11 = ctypes.CDLL("libX11.so.6")
        self.x11.XOpenDisplay.restype = ctypes.c_void_p
        self.x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.x11.XDefaultRootWindow.restype = ctypes.c_ulong
        self.x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        self.x11.XGetImage.restype = ctypes.POINTER(XImage)
        self.x11.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
                                       ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
        self.x11.XFree.argtypes = [ctypes.c_void_p]
        self.d = self.x11.XOpenDisplay(display.encode())
        self.root = self.x11.XDefaultRootWindow(self.d) if self.d else 0

    def grab(self, box):
        x, y, w, h = box
        img = self.x11.XGetImage(self.d, self.root, x, y, w, h, 0xFFFFFFFF, 2)  # ZPixmap
        if not img:
            return b""
        data = ctypes.string_at(img.contents.data, img.contents.bytes_per_line * h)
        self.x11.XFree(img.contents.data)
        self.x11.XFree(img)
        return data


# ---- the program under Xvfb -----------------------------------------------------------------
class Session:
    def __init__(self, kestrel, work):
        self.work = work
        # A display number far above the ones other sessions on this machine pick first (Xvfb's
        # -displayfd starts at 0); a number another server takes meanwhile is tried again.
        xvfb_log = os.path.join(work, "xvfb.log")
        rng = random.Random(os.getpid())
        for _ in range(10):
            number = rng.randrange(200, 900)
            if os.path.exists("/tmp/.X%d-lock" % number):
                continue
            self.display = ":%d" % number
            with open(xvfb_log, "w") as log:
                self.xvfb = subprocess.Popen(["Xvfb", self.display, "-screen", "0", "1280x1024x24",
                                              "-nolisten", "tcp"], stdout=log, stderr=log)
            end = time.monotonic() + 10
            while self.xvfb.poll() is None and time.monotonic() < end:
                self.screen = Screen(self.display)
                if self.screen.d:
                    break
                time.sleep(0.1)
            if self.xvfb.poll() is None and self.screen.d:
                break
            self.xvfb.terminate()
            self.xvfb.wait()
        else:
            log = open(xvfb_log).read()[-2000:] if os.path.exists(xvfb_log) else ""
            sys.exit("Xvfb did not start:\n" + log)
        self.env = dict(os.environ, DISPLAY=self.display, KESTREL_WIDGET_RECTS="1")
        scans = os.path.join(work, "scans")
        os.makedirs(scans)
        for f in ("bun000.vrt", "bun045.vrt"):
            shutil.copy(os.path.join(EXAMPLES, f), scans)
        self.out_path = os.path.join(work, "stdout.txt")
        self.out = open(self.out_path, "w")
        self.err_path = os.path.join(work, "stderr.txt")
        self.err = open(self.err_path, "w")
        self.app = subprocess.Popen([kestrel], cwd=scans, env=self.env, stdout=self.out,
                                    stderr=self.err)
        self.wait_for(r"^widgets-end", 1, 30, "the panel did not appear")

    def close(self):
        for p in (self.app, self.xvfb):
            if p.poll() is None:
                p.terminate()
                p.wait()
        self.out.close()
        self.err.close()

    def lines(self):
        with open(self.out_path) as f:
            return f.read().replace("\r", "\n").splitlines()

    def wait_for(self, pattern, count, limit, message):
        end = time.monotonic() + limit
        while time.monotonic() < end:
            if sum(1 for l in self.lines() if re.search(pattern, l)) >= count:
                return
            if self.app.poll() is not None:
                with open(self.err_path) as f:
                    sys.exit("the program ended (%s): %s\n%s" % (self.app.returncode, message,
                                                                  f.read()[-2000:]))
            time.sleep(0.05)
        sys.exit(message)

    def widget(self, name):
        rect = None
        for l in self.lines():
            f = l.split("\t")
            if len(f) == 6 and f[0] == "widget" and f[1] == name:
                rect = tuple(int(v) for v in f[2:])
        if rect is None:
            sys.exit("no control named " + name)
        return rect

    def xdotool(self, *args, wait=True):
        p = subprocess.Popen(["xdotool"] + [str(a) for a in args], env=self.env,
                             stdout=subprocess.DEVNULL)
        if wait:
            p.wait()
        return p

    def run_action(self, name, limit):
        done = sum(1 for l in self.lines() if l.startswith("action-done"))
        x, y, w, h = self.widget(name)
        self.xdotool("mousemove", x + w // 2, y + h // 2, "click", 1)
        self.wait_for(r"^action-done", done + 1, limit, name + " did not finish")


# ---- CPU shares from /proc ------------------------------------------------------------------
def process_ticks(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])  # utime + stime


def machine_ticks():
    with open("/proc/stat") as f:
        v = [int(x) for x in f.readline().split()[1:]]
    idle = v[3] + v[4]
    return sum(v) - idle, sum(v)


def idle_cpu(session, seconds):
    hz = os.sysconf("SC_CLK_TCK")
    pids = (session.app.pid, session.xvfb.pid)
    before = [process_ticks(p) for p in pids]
    busy0, total0 = machine_ticks()
    t0 = time.monotonic()
    time.sleep(seconds)
    elapsed = time.monotonic() - t0
    after = [process_ticks(p) for p in pids]
    busy1, total1 = machine_ticks()
    shares = [100.0 * (a - b) / hz / elapsed for a, b in zip(after, before)]
    machine = 100.0 * (busy1 - busy0) / max(1, total1 - total0) * os.cpu_count()
    return shares[0], shares[1], machine


# ---- latency --------------------------------------------------------------------------------
def latency(session, box, *args):
    """Seconds from sending the input to the first change inside `box`; None if none came."""
    base = session.screen.grab(box)
    t0 = time.monotonic()
    p = session.xdotool(*args, wait=False)
    answer = None
    while time.monotonic() - t0 < NO_ANSWER_S:
        if session.screen.grab(box) != base:
            answer = time.monotonic() - t0
            break
        time.sleep(0.001)
    p.wait()
    return answer


def settle(session, box, quiet=0.3, limit=3.0):
    """Waits until `box` has not changed for `quiet` seconds (the last answer fully drawn)."""
    end = time.monotonic() + limit
    last, since = session.screen.grab(box), time.monotonic()
    while time.monotonic() < end and time.monotonic() - since < quiet:
        time.sleep(0.02)
        now = session.screen.grab(box)
        if now != last:
            last, since = now, time.monotonic()


def measure(session, rounds):
    results = {}
    fx, fy, fw, fh = session.widget("overlap")
    # The step buttons are square, frame-high, at the right end of the field; the text is left.
    plus = (fx + fw - fh // 2, fy + fh // 2)
    minus = (fx + fw - fh - fh // 2 - 4, fy + fh // 2)
    overlap_text = (fx, fy, fw - 2 * fh - 8, fh)
    steps = []
    for i in range(rounds):
        x, y = plus if i % 2 == 0 else minus
        session.xdotool("mousemove", x, y)
        settle(session, overlap_text)
        steps.append(latency(session, overlap_text, "click", 1))
        settle(session, overlap_text)
    results["click step button -> panel"] = steps

    x, y, w, h = session.widget("Random position")
    turns = []
    for _ in range(rounds):
        session.xdotool("mousemove", x + w // 2, y + h // 2)
        settle(session, VIEW)
        turns.append(latency(session, VIEW, "click", 1))
        settle(session, VIEW)
    results["click Random position -> 3D view"] = turns

    # The text cursor sits at the start of the field and its blinking stays out of the watched
    # part, which the inserted character shifts.
    dx, dy, dw, dh = session.widget("delta")
    session.xdotool("mousemove", dx + 10, dy + dh // 2, "click", 1)
    time.sleep(0.5)
    session.xdotool("key", "Home")
    time.sleep(0.5)
    text_tail = (dx + 24, dy + 2, 40, dh - 4)
    keys = []
    for i in range(rounds):
        settle(session, text_tail)
        keys.append(latency(session, text_tail, "key", "1" if i % 2 == 0 else "BackSpace"))
    settle(session, text_tail)
    results["key typed in delta field -> panel"] = keys
    session.xdotool("mousemove", fx + 10, fy + fh // 2, "click", 1)  # leave the field

    wheel = []
    session.xdotool("mousemove", VIEW[0] + 300, VIEW[1] + 300)
    for i in range(rounds):
        settle(session, VIEW)
        wheel.append(latency(session, VIEW, "click", 4 if i % 2 == 0 else 5))
    results["wheel step -> 3D view"] = wheel
    return results


def ms(v):
    return "%6.1f ms" % (1000 * v)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("kestrel", help="the window program (build/app/kestrel)")
    ap.add_argument("--rounds", type=int, default=12, help="inputs per kind")
    ap.add_argument("--idle-seconds", type=float, default=10.0)
    args = ap.parse_args()

    print("load average at start: %.2f %.2f %.2f (%d cores)" % (os.getloadavg() + (os.cpu_count(),)))
    work = tempfile.mkdtemp(prefix="kestrel-latency-")
    session = Session(os.path.abspath(args.kestrel), work)
    try:
        session.run_action("P:bun000.vrt", 60)
        session.run_action("Q:bun045.vrt", 60)
        session.xdotool("mousemove", 1200, 1000)  # the pointer rests outside both windows
        time.sleep(2)
        app, xvfb, machine = idle_cpu(session, args.idle_seconds)
        print("idle CPU over %.0f s, both scans loaded: program %.2f %% of a core, Xvfb %.2f %%"
              " (whole machine busy %.0f %% of a core meanwhile)"
              % (args.idle_seconds, app, xvfb, machine))

        t0 = time.monotonic()
        for _ in range(5):
            session.xdotool("getmouselocation")
        print("starting xdotool (included below): %s" % ms((time.monotonic() - t0) / 5))
        every = []
        for kind, samples in measure(session, args.rounds).items():
            answered = [s for s in samples if s is not None]
            every += answered
            missed = len(samples) - len(answered)
            note = "  (%d of %d unanswered after %.0f s)" % (missed, len(samples), NO_ANSWER_S) \
                if missed else ""
            if answered:
                print("%-36s median %s  min %s  max %s%s" % (kind, ms(statistics.median(answered)),
                      ms(min(answered)), ms(max(answered)), note))
            else:
                print("%-36s no answer%s" % (kind, note))
        if every:
            print("median over every answered input: %s (%d inputs)"
                  % (ms(statistics.median(every)), len(every)))
    finally:
        session.close()
        shutil.rmtree(work, ignore_errors=True)
    print("load average at end: %.2f %.2f %.2f" % os.getloadavg())


if __name__ == "__main__":
    main()
