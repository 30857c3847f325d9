"""Runs against a built library: VELA2_LIBRARY names it (default: the Linux
build of this tree) and VELA2_TEST_MODES the mode file its tests use."""

import os
import pathlib

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
BUILD = ROOT / "build" / "linux"

os.environ.setdefault("VELA2_LIBRARY", str(BUILD / "src" / "api" / "libVela2UsbCameraDll.so"))
os.environ.setdefault("VELA2_SIM_TIME_SCALE", "0")  # exposures on simulated time, at once
# Named events are machine-wide: a run of its own beside other runs.
os.environ.setdefault("VELA2_EVENT_NAMESPACE", "vela2-python-tests-%d" % os.getpid())


@pytest.fixture
def modes():
    return os.environ.get("VELA2_TEST_MODES", str(BUILD / "tests" / "config" / "modes.ini"))


@pytest.fixture
def header():
    return (ROOT / "include" / "Vela2UsbCameraDll.h").read_text()
