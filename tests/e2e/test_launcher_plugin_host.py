"""The native plug-in host through the real conlaunch, the fixture plug-ins of
tests/fixtures and a real WebSocket client: the registry lookup, the five
exports, the library search, the one-instance lock and every start failure."""
import hashlib
import os
import shutil
import stat

import pytest

from zelvo_harness import (BASEKEY, BOX, FIXTURES, LIBRARY, WINDOWS, escaped, fixture, free_port, host_path,
                           linux_only, plugin_registry, raw_upgrade, run_request, server_config, talk,
                           write_registry)

EXPORTS = ["onConnect", "onTextMessage", "onBinaryMessage", "onClose", "registerSendMessageFunction"]


def test_texts_and_binaries_are_relayed_both_ways_intact_and_whole(serve):
    l = serve(run_request(), plugin="echo-plugin.so")
    blobs = [os.urandom(size) for size in (0, 1, 125, 126, 65535, 65536, 1 << 20, 50 << 20)]
    back = talk(l.port, "hola", "señal ñ €", "ab\x00cd", *blobs, timeout=180)
    # The host keeps a text's length; the plug-in sees a C string.
    assert back[:3] == ["hola", "señal ñ €", "ab"]
    assert [hashlib.sha256(b).digest() for b in back[3:]] == [hashlib.sha256(b).digest() for b in blobs]
    log = l.ended()
    for record in ["Petición para ejecutar el aplicativo", "leendo valor RuntimeLib de clave " + escaped(BASEKEY + "echo"),
                   "Enviando mensaje en texto de 5 bytes"] + ["Obteniendo referencia a función " + e for e in EXPORTS]:
        assert record in log


@pytest.mark.parametrize("bare", [False, True], ids=["folder", "bare-name"])
def test_the_plugin_is_found_and_its_folder_joins_the_search_path(serve, launcher_factory, tmp_path, bare):
    """The plug-in's folder joins the search path of its process; a bare file name
    is found through the system's library search (Linux: LD_LIBRARY_PATH; Windows:
    among others the working folder) and the path stays as it was."""
    name = "echo-plugin" + LIBRARY
    env = {"PATH": "/usr/bin:/bin"}
    if bare and WINDOWS:
        (tmp_path / "w").mkdir()
        shutil.copy2(fixture(name), tmp_path / "w" / name)
    elif bare:
        env["LD_LIBRARY_PATH"] = str(FIXTURES)
    l = serve(run_request(), registry=plugin_registry(tmp_path / "r.reg", name if bare else fixture(name)), env=env)
    path = talk(l.port, "__path")[0]
    if WINDOWS:  # the system's own PATH, not the Linux one Wine was started with
        assert path.endswith(";" + host_path(FIXTURES)) != bare and "/usr/bin" not in path
    else:
        assert path == "/usr/bin:/bin" + ("" if bare else ":" + str(FIXTURES))
    log = l.ended()
    assert ("No se agregó el directorio actual a la variable path" in log) == bare


def test_the_basekey_is_joined_to_the_name_as_it_stands(serve, tmp_path):
    reg = write_registry(tmp_path / "r.reg", {"SOFTWARE\\Zelvoecho": {"RuntimeLib": fixture("echo-plugin.so")}})
    l = serve(run_request(), registry=reg, basekey="SOFTWARE\\Zelvo")
    assert talk(l.port, "junto") == ["junto"]
    assert "de clave " + escaped("SOFTWARE\\Zelvoecho") in l.ended()


def test_a_second_server_is_refused_while_one_runs(serve, launcher_factory):
    l = serve(run_request(), plugin="echo-plugin.so")
    # Same user session (lock folder), another working directory and port.
    other = launcher_factory(server_config(free_port(), idletimeout="300"), registry=l.env["ZELVO_REGISTRY"],
                             name="otro", env={"XDG_RUNTIME_DIR": l.env["XDG_RUNTIME_DIR"]})
    code, _, err = other.run(run_request())
    assert code == 1 and BOX + "Ya se está ejecutando la aplicación" in err
    assert "Ya se está ejecutando otra instancia de la la aplicación" in other.log_text()
    assert talk(l.port, "sigo") == ["sigo"]  # the first is untouched
    l.ended()
    # Free again once the first ended: this one runs until its idle time-out.
    code, _, err = other.run(run_request())
    assert code == 0 and "Ya se está ejecutando" not in err


@linux_only("the lock file; on Windows one user's session has the named mutex")
@pytest.mark.parametrize("folder", ["made", "own", "others may write", "another user's"])
def test_without_a_runtime_folder_the_lock_lies_in_the_users_own_folder(launcher_factory, tmp_path, folder):
    l = launcher_factory(server_config(free_port(), idletimeout="300"), env={"TMPDIR": str(tmp_path)})
    del l.env["XDG_RUNTIME_DIR"]
    own = tmp_path / ("zelvo-%d" % os.geteuid())
    if folder != "made":
        own.mkdir()
        own.chmod(0o777 if folder == "others may write" else 0o700)
    if folder == "another user's" and (os.geteuid() != 0 or os.chown(own, 65534, 65534)):
        pytest.skip("only root can give a folder to another user")
    code, _, err = l.run(run_request())
    if folder in ("made", "own"):
        assert code == 0 and stat.S_IMODE(own.stat().st_mode) == 0o700 and (own / "parlox_service.lock").is_file()
    else:
        assert code == 1 and BOX + "No se puede comprobar si la aplicación ya se está ejecutando: la carpeta %s " \
            "no es una carpeta propia del usuario." % own in err and list(own.iterdir()) == []


NO_PATH = "No se pueden obtener la ruta de la aplicación."
NOT_LOADED = "No se cargó la aplicación del usuario."
START_FAILURES = [  # (id, registry keys or just the RuntimeLib, box, record in the output or the log)
    ("no key", {}, NO_PATH, "No se obtuvo el valor de appDllPath"),
    ("no value", {BASEKEY + "echo": {"Other": "x"}}, NO_PATH, "No se obtuvo el valor de appDllPath"),
    ("other name", {BASEKEY + "otro": {"RuntimeLib": fixture("echo-plugin.so")}}, NO_PATH,
     "No se obtuvo el valor de appDllPath"),
    ("too long", "/" + "a" * 1100 + ".so", NO_PATH, "No se obtuvo el valor de appDllPath"),
    ("no file", "{tmp}/no-existe.so", NOT_LOADED, "No se puede cargar la libreria {lib}, error "),
    ("not a library", "{tmp}/no-es-biblioteca.so", NOT_LOADED, "No se puede cargar la libreria {lib}, error "),
] + [("lacks " + e, fixture("missing-%s.so" % e), "No cargaron los componentes para ejecutar la aplicación "
      "del usuario.", "No se encontró el método " + e) for e in EXPORTS]


@pytest.mark.parametrize("case, registry, box, record", START_FAILURES, ids=[c[0] for c in START_FAILURES])
def test_a_plugin_that_cannot_start_gets_the_page_refused(serve, tmp_path, case, registry, box, record):
    """The WebSocket is refused, the box tells why, and the run ends with 1."""
    (tmp_path / "no-es-biblioteca.so").write_text("esto no es una biblioteca")
    if not isinstance(registry, dict):
        lib = host_path(registry) if not isinstance(registry, str) else registry.format(tmp=host_path(tmp_path))
        record, registry = record.format(lib=lib), {BASEKEY + "echo": {"RuntimeLib": lib}}
    l = serve(run_request(), registry=write_registry(tmp_path / "r.reg", registry))
    status, headers, body = raw_upgrade(l.port)
    assert (status, headers["connection"], body) == (403, "forbidden", b"")
    code, out, err = l.wait()
    assert code == 1 and BOX + box in err
    assert record in out + l.log_text()
    if case.startswith("lacks"):  # the look-up stops at the first missing export
        for later in EXPORTS[EXPORTS.index(case[6:]) + 1:]:
            assert "Obteniendo referencia a función " + later not in l.log_text()
