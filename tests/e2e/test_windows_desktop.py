"""What only the Windows build shows: its message boxes as real windows on the
desktop (found by title with xdotool), and its files in folders whose names
hold accents and blanks. The rest of its behaviour is proved by the same tests
as the Linux build's."""
import os
import re
import shutil

import pytest

from zelvo_harness import (BOX, WAIT, fixture, free_port, host_path, plugin_registry, request, run_request,
                           server_config, talk, wait_for, wait_listening, windows_only)

pytestmark = windows_only("the Windows build's own windows and files")

RECORD = re.compile(r"^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3} (FATAL|ERROR|WARN |INFO |DEBUG|VERB ) \[\d+\] "
                    r"\[[A-Za-z_][A-Za-z0-9_:]*@\d+\] .*$")


def screenshot(display, window, name, tmp_path):
    """The window's picture in the test's folder; also in ZELVO_SCREENSHOT_DIR when set
    (tools that refresh docs/ set it)."""
    path = tmp_path / name
    display.screenshot(path, window, margin=8)
    if os.environ.get("ZELVO_SCREENSHOT_DIR"):
        shutil.copy2(path, os.path.join(os.environ["ZELVO_SCREENSHOT_DIR"], name))
    return path


def test_a_second_instance_shows_its_box_on_the_desktop(serve, launcher_factory, tmp_path):
    import windows_target
    display = windows_target.session().display
    first = serve(run_request(), plugin="echo-plugin.so")
    second = launcher_factory(server_config(free_port()), registry=plugin_registry(tmp_path / "r.reg",
                                                                                      fixture("echo-plugin.so")),
                              name="otro", program="launcher")
    second.start(run_request())
    assert wait_for(lambda: windows_target.session().windows_of(second.proc.pid))
    (box,) = windows_target.session().windows_of(second.proc.pid)
    assert display.xdotool("getwindowname", str(box)).rstrip("\n") == "Error en aplicación"
    assert screenshot(display, box, "windows-second-instance.png", tmp_path).stat().st_size > 0
    code, _, err = second.wait()
    assert code == 1 and BOX + "Ya se está ejecutando la aplicación" in err
    assert second.boxes == ["Error en aplicación"]
    assert talk(first.port, "sigo") == ["sigo"]  # the first is untouched
    first.ended()


def test_the_log_lies_in_a_folder_with_accents_and_blanks(launcher_factory, tmp_path):
    folder = tmp_path / "Registros de Zelvo Ñandú"
    folder.mkdir()
    l = launcher_factory(config={"log": {"level": "6", "directory": host_path(folder)}})
    code, out, _ = l.run(request("check/", {}))
    assert code == 0
    (log,) = folder.glob("*.log")
    assert "en archivo %s\\%s" % (host_path(folder), log.name) in out
    raw = log.read_bytes()
    assert raw.startswith(b"\xef\xbb\xbf")
    lines = raw[3:].decode("utf-8").splitlines()
    assert lines and all(RECORD.match(line) for line in lines), lines
    assert any("¡Launcher iniciado correctamente!" in line for line in lines)


def test_a_plugin_in_a_folder_with_accents_and_blanks_is_loaded(serve, tmp_path):
    folder = tmp_path / "Archivos de programa (x86)" / "Zelvo Ñandú"
    folder.mkdir(parents=True)
    shutil.copy2(fixture("echo-plugin.so"), folder / "echo-plugin.dll")
    l = serve(run_request(), registry=plugin_registry(tmp_path / "r.reg", folder / "echo-plugin.dll"))
    assert talk(l.port, "señal ñ €", "__path")[0] == "señal ñ €"
    l.ended()


@pytest.mark.parametrize("program", ["conlaunch", "launcher"])
def test_taskkill_stops_a_waiting_server_in_order(launcher_factory, program):
    l = launcher_factory(server_config(free_port(), idletimeout=str(int(WAIT * 10000))), program=program)
    l.start(request("test/", {}))
    assert wait_listening(l.port, l.proc)
    l.terminate()
    code, _, _ = l.wait()
    assert code == 0 and "Ejecución del servidor terminada correctamente" in l.log_text()
