#!/usr/bin/env python3
"""indi_vela2_ccd under indiserver, driven the way an INDI client drives it.

One server on a free loopback port with the simulated camera (instant
exposures, position-pattern pictures); the cases in main() share it in order.
Commands go through indi_setprop/indi_getprop; states are watched by a
listening client that sees every change in order, so a wait never takes a
state held before the command for its result. Every wait is bounded: the
INDI tools run under a timeout, and so does the whole script (ctest).
"""

import argparse
import contextlib
import glob
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time

import numpy
from astropy.io import fits as astropy_fits

DEVICE = "Vela2 CCD"


class Failure(Exception):
    pass


def check(condition, what):
    if not condition:
        raise Failure(what)


def poll(answer, limit, pause=0.02):
    """answer()'s first true value within limit seconds, or None."""
    deadline = time.monotonic() + limit
    while time.monotonic() < deadline:
        value = answer()
        if value:
            return value
        time.sleep(pause)
    return None


def run(*args, limit=20, env=None):
    """A program's outcome; one that hangs is a failure like any other."""
    try:
        return subprocess.run(args, capture_output=True, text=True, timeout=limit, env=env)
    except subprocess.TimeoutExpired:
        raise Failure("%s did not finish in %d s" % (" ".join(args), limit))


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


TAG = re.compile(r"<(message|setNumberVector|setSwitchVector|setTextVector|defNumberVector"
                 r"|defSwitchVector|defTextVector)\b([^>]*)>")
ATTRIBUTE = re.compile(r'(\w+)="([^"]*)"')


class Indi:
    """Commands through the INDI tools; states and the driver's messages
    through a client that only listens, in the order the server sends."""

    def __init__(self, port):
        self.port, self.since = port, 0
        self.events, self.texts = [], []
        self.lock = threading.Lock()

    def listen(self):
        sock = socket.create_connection(("127.0.0.1", self.port), timeout=5)
        sock.sendall(b"<getProperties version='1.7'/>\n")
        sock.settimeout(None)
        threading.Thread(target=self.receive, args=(sock,), daemon=True).start()

    def receive(self, sock):
        pending = ""
        with contextlib.suppress(OSError):
            for data in iter(lambda: sock.recv(65536), b""):
                pending += data.decode("utf-8", "replace")
                end = 0
                for tag in TAG.finditer(pending):
                    attributes = dict(ATTRIBUTE.findall(tag.group(2)))
                    with self.lock:
                        if tag.group(1) == "message":
                            self.texts.append(attributes.get("message", ""))
                        elif "state" in attributes:
                            self.events.append((attributes.get("name"), attributes["state"]))
                    end = tag.end()
                pending = pending[max(end, pending.rfind("<")):]

    def messages(self):
        with self.lock:
            return list(self.texts)

    def set(self, prop, values):
        assignment = "%s.%s.%s" % (DEVICE, prop, ";".join("%s=%s" % kv for kv in values.items()))
        self.since = len(self.events)
        done = run("indi_setprop", "-p", str(self.port), "-t", "5", assignment)
        check(done.returncode == 0, "indi_setprop %s: %s" % (assignment, done.stderr.strip()))

    def get(self, prop, *elements):
        # Named elements come back at once; a wildcard waits out the timeout.
        names = ["%s.%s.%s" % (DEVICE, prop, e) for e in elements or ["*"]]
        done = run("indi_getprop", "-p", str(self.port), "-t", "2", *names)
        pairs = (line.partition("=") for line in done.stdout.splitlines())
        return {key.split(".")[-1]: value for key, _, value in pairs}

    def wait_state(self, prop, state, limit=15, via_busy=False):
        """The property reaches state after the last set (going Busy first):
        a state already held before the set does not count."""
        def reached():
            with self.lock:
                seen = [s for name, s in self.events[self.since:] if name == prop]
            if via_busy and "Busy" in seen:
                seen = seen[seen.index("Busy"):]
            return state in seen and (not via_busy or seen[0] == "Busy")
        check(poll(reached, limit), "%s never became %s" % (prop, state))

    def wait_for(self, pattern, limit=10):
        found = poll(lambda: [m for m in self.messages() if re.search(pattern, m)], limit)
        check(found, "no message matching %r; last: %s" % (pattern, self.messages()[-5:]))


def fits(path):
    """Header and pixels of a one-image FITS file."""
    with astropy_fits.open(path) as hdus:
        return hdus[0].header, hdus[0].data.copy()


def driver_status(server_pid):
    """Threads and resident kilobytes of indiserver's driver process."""
    with open("/proc/%d/task/%d/children" % (server_pid, server_pid)) as f:
        children = f.read().split()
    check(len(children) == 1, "indiserver runs %d drivers" % len(children))
    with open("/proc/%s/status" % children[0]) as f:
        fields = dict(line.split(":", 1) for line in f)
    return int(fields["Threads"]), int(fields["VmRSS"].split()[0])


def expose(indi, seconds, state="Ok", limit=15):
    indi.set("CCD_EXPOSURE", {"CCD_EXPOSURE_VALUE": seconds})
    indi.wait_state("CCD_EXPOSURE", state, limit, via_busy=seconds <= 65.535)


def connect(indi):
    indi.set("CONNECTION", {"CONNECT": "On"})
    indi.wait_state("CONNECTION", "Ok", via_busy=True)


def disconnect(indi):
    indi.set("CONNECTION", {"DISCONNECT": "On"})
    indi.wait_state("CONNECTION", "Idle")


def frame_matches_library(indi, args, work, env):
    frames = os.path.join(work, "frames")
    os.makedirs(frames)
    indi.set("UPLOAD_MODE", {"UPLOAD_LOCAL": "On"})
    indi.set("UPLOAD_SETTINGS", {"UPLOAD_DIR": frames, "UPLOAD_PREFIX": "frame_XXX"})
    expose(indi, 1)
    path = indi.get("CCD_FILE_PATH", "FILE_PATH").get("FILE_PATH", "")
    check(path.startswith(frames) and os.path.exists(path), "no local frame: %r" % path)
    verify = run("fitsverify", "-q", "-e", path, limit=60)
    check(verify.returncode == 0, "fitsverify: " + verify.stdout + verify.stderr)
    cards, pixels = fits(path)
    info = indi.get("CCD_INFO", "CCD_MAX_X", "CCD_BITSPERPIXEL")
    # Mode 1 bins 2x2: INDI counts the sensor in unbinned pixels.
    check((info["CCD_MAX_X"], info["CCD_BITSPERPIXEL"]) == ("4096", "16"), "info %s" % info)
    expected = {"NAXIS1": 2048, "NAXIS2": 2048, "XBINNING": 2, "READMODE": 1, "QUADCOLS": 2,
                "QUADROWS": 2, "IMAGETYP": "Light Frame", "EXPTIME": 1.0}
    header = {key: cards.get(key) for key in expected}
    check(header == expected and "CCD-TEMP" in cards, "header %s" % header)
    # vela2cam's mosaic of the same mode and exposure, from the library.
    out = os.path.join(work, "vela2cam")
    done = run(args.vela2cam, "capture", "--simulated", "--mode", "1", "--mode-file",
               args.mode_file, "--exposure", "1000", "--mosaic", "-o", out, limit=60, env=env)
    check(done.returncode == 0, "vela2cam: " + done.stderr)
    files = glob.glob(os.path.join(out, "*.fits"))
    check(len(files) == 1, "vela2cam wrote %s" % files)
    check(numpy.array_equal(pixels, fits(files[0])[1]),
          "the driver's frame differs from the library's picture")


def failures_then_good_exposures(indi):
    # The simulated camera loses its second frame (VELA2_SIM_LOSE_FRAME).
    expose(indi, 0.001, "Alert", limit=20)
    indi.wait_for(r"exposure failed: [A-Z_]+")
    # Longer than the camera's 16-bit milliseconds: refused, not wrapped.
    expose(indi, 70, "Alert")
    indi.wait_for(r"70.*out of bounds|longer than")
    indi.set("CCD_FRAME_TYPE", {"FRAME_BIAS": "On"})
    expose(indi, 5)
    cards, _ = fits(indi.get("CCD_FILE_PATH", "FILE_PATH")["FILE_PATH"])
    check((cards["IMAGETYP"], cards["EXPTIME"]) == ("Bias Frame", 0.0), "bias frame %s" % cards)
    indi.wait_for(r"no shutter")
    indi.set("CCD_FRAME_TYPE", {"FRAME_LIGHT": "On"})


def abort_during_exposure(indi):
    # A hardware-triggered capture waits for its trigger: it is certainly
    # still running when the abort comes.
    indi.set("VELA2_TRIGGER", {"HARDWARE": "On"})
    expose(indi, 30, "Busy")
    indi.set("CCD_ABORT_EXPOSURE", {"ABORT": "On"})
    indi.wait_state("CCD_EXPOSURE", "Idle", limit=5)
    indi.set("VELA2_TRIGGER", {"SOFTWARE": "On"})
    expose(indi, 0.1)


def mode_change_reinitializes(indi):
    indi.set("VELA2_MODE", {"MODE_2": "On"})
    indi.wait_state("VELA2_MODE", "Ok", via_busy=True)
    geometry = indi.get("VELA2_GEOMETRY", "QUADRANTS", "QUADRANT_WIDTH", "QUADRANT_HEIGHT")
    check(geometry == {"QUADRANTS": "2", "QUADRANT_WIDTH": "2048", "QUADRANT_HEIGHT": "4096"},
          "mode 2: %s" % geometry)
    indi.set("VELA2_MODE", {"MODE_1": "On"})
    indi.wait_state("VELA2_MODE", "Ok", via_busy=True)
    expose(indi, 0.1)


def cooler_reaches_setpoint(indi):
    indi.set("CCD_TEMPERATURE", {"CCD_TEMPERATURE_VALUE": -5})
    indi.wait_state("CCD_TEMPERATURE", "Ok", limit=30, via_busy=True)
    celsius = float(indi.get("CCD_TEMPERATURE", "CCD_TEMPERATURE_VALUE")["CCD_TEMPERATURE_VALUE"])
    check(abs(celsius + 5) < 0.5, "the sensor is at %.2f C" % celsius)
    cooler = indi.get("VELA2_COOLER", "HEAT_SINK", "TOP_TEC", "BOTTOM_TEC")
    check(len(cooler) == 3 and float(cooler["TOP_TEC"]) > 0, "cooler %s" % cooler)


def cycles_leave_no_trace(indi, server_pid, cycles):
    figures = []
    for cycle in range(cycles):
        connect(indi)
        expose(indi, 0.1)
        abort_during_exposure(indi)
        disconnect(indi)
        figures.append(driver_status(server_pid))
    print("driver threads and VmRSS (kB) after each cycle:", figures)
    threads = [t for t, _ in figures]
    check(max(threads) == min(threads), "threads changed: %s" % threads)
    # The first cycles warm the allocator; later growth would be a leak.
    growth = figures[-1][1] - figures[min(4, cycles - 1)][1]
    check(growth < 16 * 1024, "memory grew by %d kB" % growth)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--driver", required=True)
    parser.add_argument("--vela2cam", required=True)
    parser.add_argument("--mode-file", required=True)
    parser.add_argument("--cycles", type=int, default=20)
    args = parser.parse_args()

    work = tempfile.mkdtemp(prefix="indi-vela2-")
    env = dict(os.environ)
    env.update({
        "HOME": work,  # INDI keeps its per-user configuration there
        "VELA2_MODE_FILE": args.mode_file,
        "VELA2_SIM_TIME_SCALE": "0",
        "VELA2_SIM_PICTURE": "pattern",
        "VELA2_SIM_LOSE_FRAME": "2",
        "VELA2_EVENT_NAMESPACE": env.get("VELA2_EVENT_NAMESPACE", "indi") + "-%d" % os.getpid(),
    })
    env.pop("VELA2_USB_BACKEND", None)  # the Simulation switch chooses it
    port = free_port()
    log = open(os.path.join(work, "indiserver.log"), "w")
    # Its own local socket too: the default one admits one server per machine.
    server = subprocess.Popen(["indiserver", "-p", str(port), "-u", os.path.join(work, "local"),
                               "-r", "0", args.driver],
                              env=env, stdout=log, stderr=subprocess.STDOUT)
    indi = Indi(port)
    try:
        up = lambda: server.poll() is not None or "ENABLE" in indi.get("SIMULATION", "ENABLE")
        check(poll(up, 15, 0.1) and server.poll() is None, "no driver")
        indi.listen()
        indi.set("SIMULATION", {"ENABLE": "On"})
        indi.set("VELA2_MODE", {"MODE_1": "On"})
        connect(indi)
        frame_matches_library(indi, args, work, env)
        failures_then_good_exposures(indi)
        mode_change_reinitializes(indi)
        cooler_reaches_setpoint(indi)
        disconnect(indi)
        cycles_leave_no_trace(indi, server.pid, args.cycles)
        return 0
    except Failure as failure:
        print("FAILED:", failure, file=sys.stderr)
        print("driver messages:", *indi.messages()[-12:], sep="\n  ", file=sys.stderr)
        log.flush()
        with open(os.path.join(work, "indiserver.log")) as f:
            sys.stderr.write(f.read()[-3000:])
        return 1
    finally:
        server.terminate()
        try:
            server.wait(timeout=10)
        except subprocess.TimeoutExpired:
            server.kill()
            server.wait()
        log.close()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
