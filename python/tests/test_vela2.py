import re

import numpy
import pytest

import vela2
from vela2._exports import EXPORTS


def test_every_export_is_declared_as_the_header_declares_it(header):
    text = re.sub(r"/\*.*?\*/", "", header, flags=re.S)
    declared = {}
    for result, name, arguments in re.findall(
            r"^VELA2_API\s+(.+?)\s*VELA2_CALL\s+(\w+)\s*\((.*?)\)\s*;", text, flags=re.S | re.M):
        arguments = " ".join(arguments.split())
        # Each argument's type without its name, "*" joined to the type.
        types = [] if arguments == "void" else [
            re.sub(r"\s*\w+$", "", argument.strip()).replace(" *", "*")
            for argument in arguments.split(",")]
        declared[name] = (" ".join(result.split()).replace(" *", "*"), types)
    assert declared == EXPORTS


def test_a_simulated_picture_with_its_readings_blocks_and_file(modes, tmp_path):
    with vela2.Camera(mode=0, mode_file=modes, simulated=True) as camera:
        picture = camera.take_picture(exposure_ms=20, overscan=True)
        assert len(picture.quadrants) == 4
        height, width = picture.quadrants[0].shape
        assert picture.quadrants[0].dtype == numpy.uint16 and width > 0 and height > 0
        assert picture.overscans is not None and picture.overscans[0].size > 0
        mosaic = picture.mosaic()
        assert mosaic.shape == (2 * height, 2 * width)
        numpy.testing.assert_array_equal(mosaic[height:, width:], picture.quadrants[3])
        again = camera.take_picture(exposure_ms=20, into=picture)
        assert again.quadrants[0] is picture.quadrants[0]
        assert -100 < camera.temperature < 60
        assert len(camera.tec_currents) == 2
        camera.setpoint = -10.0
        assert camera.setpoint == pytest.approx(-10.0, abs=0.01)
        image = camera.download()
        assert len(image) == 192
        camera.upload(image)
        assert "ProductVersion" in camera.version
        fits = pytest.importorskip("astropy.io.fits")
        picture.save_fits(tmp_path / "picture.fits")
        with fits.open(tmp_path / "picture.fits") as hdus:
            numpy.testing.assert_array_equal(hdus[0].data, picture.mosaic())
            assert hdus[0].header["READMODE"] == 0


def test_refusals_raise_with_the_status_and_leave_the_camera_closed(modes, tmp_path):
    with pytest.raises(vela2.InitializationError) as failure:
        vela2.Camera(mode=0, mode_file=str(tmp_path / "missing.ini"), simulated=True)
    assert failure.value.name == "ERROR_INI_FILENAME" and failure.value.code == -21
    assert vela2.library().LD_IsInitialized() == 0
    with pytest.raises(RuntimeError):
        with vela2.Camera(mode=0, mode_file=modes, simulated=True) as camera:
            with pytest.raises(ValueError):
                camera.take_picture(exposure_ms=65536)
            with pytest.raises(vela2.CaptureTimeoutError) as timeout:
                camera.take_picture(exposure_ms=0, trigger="hardware", timeout=0.05)
            assert timeout.value.name == "ERROR_CAMERA_TIMEOUT"
            camera.take_picture(exposure_ms=0)  # the camera goes on after the abandoned one
            raise RuntimeError("the application's own failure")
    assert vela2.library().LD_IsInitialized() == 0


def test_every_mode_gives_the_librarys_own_picture_while_another_thread_reads(modes, monkeypatch):
    import configparser
    import threading

    # The position pattern: the same in every frame, unlike the sky's noise.
    monkeypatch.setenv("VELA2_SIM_PICTURE", "pattern")
    sections = configparser.ConfigParser()
    sections.read(modes)
    for mode in sorted(int(name[4:]) for name in sections.sections() if name.startswith("Mode")):
        with vela2.Camera(mode=mode, mode_file=modes, simulated=True) as camera:
            readings, stop = [], threading.Event()
            reader = threading.Thread(
                target=lambda: [readings.append(camera.temperature) for _ in iter(stop.is_set, True)])
            reader.start()
            try:
                picture = camera.take_picture(exposure_ms=0)
            finally:
                stop.set()
                reader.join(timeout=30)
            assert readings and not reader.is_alive()
            lib = vela2.library()
            height, width = picture.quadrants[0].shape
            own = [numpy.zeros((height, width), dtype=numpy.uint16) for _ in range(4)]
            assert lib.LD_StartPicture(*[q.ctypes.data for q in own], width, height,
                                       None, None, None, None, 0, 0) == 0
            assert lib.LD_WaitForCapture(0) == 23 and lib.LD_GetStatus() == 0
            for mine, theirs in zip(picture.quadrants, own):
                numpy.testing.assert_array_equal(mine, theirs)
