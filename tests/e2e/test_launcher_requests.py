"""The launcher's entry through the real conlaunch and launcher programs: the
configuration file, the request argument and its payload, the factory's
records, exit codes, the closing prompt and the log file."""
import base64
import datetime
import json
import os
import re
import shutil

import pytest

from zelvo_harness import EXE, STAGE, WINDOWS, b64json, escaped, host_path, linux_only, request

PROMPT = "Presione una tecla para terminar ..."
NO_MATCH = "Petición no encontrada para los parámetros dados"
STARTED = "¡Launcher iniciado correctamente!"
SEP = "\\" if WINDOWS else "/"  # what the launcher appends to a log folder without one
LINE = re.compile(r"^(\d{4})-(\d{2})-(\d{2}) (\d{2}):(\d{2}):(\d{2})\.(\d{3}) "
                  r"(FATAL|ERROR|WARN |INFO |DEBUG|VERB ) \[(\d+)\] \[([A-Za-z_][A-Za-z0-9_:]*)@(\d+)\] (.*)$")


def check(**payload):
    return request("check/", payload)


def day_log_name():
    return datetime.date.today().strftime("%Y%m%d") + ".log"


def program_copy(tmp_path):
    """A copy of conlaunch in a folder of its own, with a configuration beside it."""
    (tmp_path / "prog").mkdir()
    shutil.copy2(STAGE / ("conlaunch" + EXE), tmp_path / "prog" / ("conlaunch" + EXE))
    (tmp_path / "prog" / "application.config").write_text("{}", encoding="utf-8")
    return tmp_path / "prog" / ("conlaunch" + EXE)


# ---- application.config ----

UNREADABLE = "No se puede obtener la información de configuración del aplicativo."


def nested(levels):
    """A JSON object `levels` deep."""
    return '{"a":' * (levels - 1) + "{}" + "}" * (levels - 1)


@pytest.mark.parametrize("text, box", [
    (None, UNREADABLE),
    ("a folder", UNREADABLE), ("a FIFO", UNREADABLE), ("over 1 MiB", UNREADABLE),  # never waited on
] + [(text, "La información de configuración del aplicativo tiene errores.")
     for text in ("{\"port\": ", "[1, 2]", "\"texto\"", "{} {}", "")])
def test_a_configuration_missing_or_not_an_object_ends_with_its_box_and_no_prompt(launcher_factory, tmp_path,
                                                                                  text, box):
    l = launcher_factory()
    config = l.workdir / "application.config"
    if text == "a folder":
        config.mkdir()
    elif text == "a FIFO":
        os.mkfifo(config)
    elif text == "over 1 MiB":
        l.write_config('{"a":"%s"}' % ("x" * (1 << 20)))
    elif text is not None:
        l.write_config(text)
    code, out, err = l.run(check())
    assert code == 1 and "Error en aplicación: " + box in err
    assert PROMPT not in out and "Iniciando aplicativo" not in out
    if WINDOWS:  # the box itself, on the desktop
        assert l.boxes == ["Error en aplicación"]


def test_the_configuration_beside_the_program_counts_on_windows_when_the_working_folder_has_none(
        launcher_factory, tmp_path):
    """A browser starts a protocol's program in its own folder: on Windows the
    installed configuration beside the program is read then; on Linux the
    desktop entry starts the program in its configuration folder, the only place."""
    l = launcher_factory()
    l.program = program_copy(tmp_path)
    beside = tmp_path / "prog" / "application.config"
    beside.write_text(json.dumps({"log": {"level": "6", "directory": host_path(l.logdir)}}), encoding="utf-8")
    code, out, err = l.run(check())
    if not WINDOWS:
        assert code == 1 and "Error en aplicación: " + UNREADABLE in err
        return
    assert code == 0 and STARTED in err
    assert "Archivo de configuración: " + escaped(host_path(beside)) in l.log_text()
    # The working folder's own configuration comes first.
    l.write_config({"log": {"level": "6", "directory": host_path(l.workdir / "aqui")}})
    (l.workdir / "aqui").mkdir()
    code, out, err = l.run(check())
    assert code == 0 and STARTED in err
    text = "".join(p.read_text(encoding="utf-8") for p in (l.workdir / "aqui").glob("*.log"))
    assert "Archivo de configuración: application.config" in text


# ---- request argument ----

@pytest.mark.parametrize("words", [(argument,) for argument in (
    "",
    "zelvo",
    "://check/" + b64json({}),          # empty scheme
    "zelvo:// check/" + b64json({}),    # a blank before the verb
    "zelvo://Check/" + b64json({}),     # verbs are exact
    "zelvo://bogus/" + b64json({}),
    "zelvo:/check/" + b64json({}),
    "zelvo://check/",                   # empty payload is no JSON object
    "zelvo://check/" + b64json([1]),    # JSON, but not an object
    "zelvo://check/%7B%7D",             # nothing is percent-decoded
    "zelvo://run/" + b64json({"type": "Windows", "name": "echo"}),  # types are exact
    "zelvo://run/" + b64json({"type": "otro"}),
    "zelvo://test/!!!",                 # not Base64 JSON: on to the check kind, which refuses too
)] + [(), (check(), "otro")])          # no argument, two arguments
def test_arguments_that_are_no_request_end_with_1_and_the_factory_records(launcher_factory, words):
    l = launcher_factory(config={"ssl": {"enabled": "1", "certpath": "/c.pem", "certpass": "secreto-123"}})
    code, out, err = l.run(*words)
    assert code == 1 and out.rstrip().endswith(PROMPT) and STARTED not in err, (out, err)
    log = l.log_text()
    assert NO_MATCH in log and "[RunnableFactory::create@" in log and 'reader={"allowedorigins":' in log
    assert "argc=%d" % (len(words) + 1) in log
    assert all("argv[%d]=%s" % (i + 1, word) in log for i, word in enumerate(words))
    assert "secreto-123" not in log  # the certificate password is masked


@pytest.mark.parametrize("program, argument, code", [
    *[("conlaunch", argument, 0) for argument in (
        check(),
        check() + "/",                                  # one trailing slash is dropped
        "x://check/" + b64json({}),                     # any scheme
        "zelvo://check/" + b64json({"a": "b"}) + "=Zm9v/basura",  # decoding stops at "="
        "zelvo://check/" + b64json({"a": "b"}).rstrip("=") + "!xyz",  # ...and at a foreign character
    )],
    ("launcher", check(), 0), ("launcher", "nada", 1),  # the windowed build has no prompt
])
def test_check_requests_are_accepted_by_their_rules(launcher_factory, program, argument, code):
    l = launcher_factory(config={}, program=program)
    got, out, err = l.run(argument)
    assert got == code, (out, err)
    assert (" Zelvo: " + STARTED in err) == (code == 0)
    assert out.rstrip().endswith(PROMPT) == (program == "conlaunch")
    assert ("Petición para realizar verificación de componentes" in l.log_text()) == (code == 0)


SMALL_STACK = ["sh", "-c", 'ulimit -s 1024 && exec "$0" "$@"']


@pytest.mark.parametrize("prefix", [(), pytest.param(SMALL_STACK, marks=linux_only("ulimit"))],
                         ids=["stack", "1-MiB-stack"])
def test_json_nested_too_deep_is_refused_without_a_crash(launcher_factory, prefix):
    """100,000 nested objects in the configuration, and about as many as one
    argument can hold in a request (Linux takes up to 128 KiB, Windows a command
    line of 32,767 characters)."""
    l = launcher_factory(prefix=prefix)
    l.write_config(nested(100000))
    code, _, err = l.run(check())
    assert code == 1 and "Error en aplicación: La información de configuración del aplicativo tiene errores." in err
    l.write_config({"log": {"level": "4", "directory": host_path(l.logdir)}})
    code, _, err = l.run("zelvo://run/" + base64.b64encode(nested(3000 if WINDOWS else 16000).encode()).decode())
    assert code == 1, err
    log = l.log_text()
    assert "no tiene un formato json válido. tiene más de 64 niveles de anidamiento" in log
    assert "No se pudo obtener la información de los parámetros web" in log and NO_MATCH in log


# ---- the log ----

def log_lines(path):
    raw = path.read_bytes()
    assert raw.startswith(b"\xef\xbb\xbf"), "a new log file starts with the byte-order mark"
    assert raw.count(b"\xef\xbb\xbf") == 1
    return raw[3:].decode("utf-8").splitlines()


def test_every_log_line_has_the_record_format_and_runs_append_to_the_day_file(launcher_factory):
    l = launcher_factory(config={})
    before = datetime.datetime.now()
    code, out, _ = l.run(check())
    assert code == 0
    path = l.logdir / day_log_name()
    assert "Iniciando aplicativo con nivel 6 en archivo %s\n" % host_path(path) in out.replace("\r\n", "\n")
    lines = log_lines(path)
    assert lines
    for line in lines:
        m = LINE.match(line)
        assert m, "bad log line: %r" % line
        stamp = datetime.datetime(*[int(g) for g in m.groups()[:6]])
        assert abs((stamp - before).total_seconds()) < 3600
    first = LINE.match(next(x for x in lines if "verificación de componentes" in x))
    assert first.group(8) == "INFO " and first.group(10) == "RunnableFactory::create"
    assert any(LINE.match(x).group(8) == "VERB " for x in lines)
    assert any(LINE.match(x).group(10) == "SelfCheckRunnable::run" and LINE.match(x).group(12) == STARTED
               for x in lines)

    count = len(lines)
    assert l.run(check())[0] == 0
    again = log_lines(path)
    assert len(again) > count and again[:count] == lines, "the second run appends"
    assert list(l.logdir.iterdir()) == [path]


FORGED = "\n2026-01-01 00:00:00.000 INFO  [1] [Forjado::registro@1] forjado\r"


@pytest.mark.parametrize("argument, quoted, record", [
    # The request argument as it stands, and a JSON value of its payload.
    (request("run/", {"type": "otro"}) + FORGED, request("run/", {"type": "otro"}) + FORGED,
     "Parámetros web codificados "),
    (request("run/", {"type": "otro", "name": "vexa" + FORGED}), "vexa" + FORGED, "appWebParams.name "),
], ids=["argument", "json-value"])
def test_outside_text_with_a_line_break_makes_one_record(launcher_factory, argument, quoted, record):
    l = launcher_factory(config={})
    assert l.run(argument)[0] == 1
    lines = log_lines(l.logdir / day_log_name())
    assert all(LINE.match(x) and not x.startswith("2026-01-01") for x in lines), lines
    assert [x.split("] ", 2)[2] for x in lines if "forjado" in x and record in x] == [record + escaped(quoted)]


@pytest.mark.parametrize("level, shown, present, absent", [
    ("2", 2, [], ["INFO ", "VERB "]),        # errors only: a self-check that passes writes nothing
    ("4", 4, ["INFO "], ["VERB "]),
    ("6", 6, ["INFO ", "VERB "], []),
    ("7", 0, [], ["INFO ", "VERB "]),
    ("-1", 0, [], ["INFO ", "VERB "]),
    (6, 4, ["INFO "], ["VERB "]),             # not a string: the default
    ("x", 4, ["INFO "], ["VERB "]),
    (None, 4, ["INFO "], ["VERB "]),
])
def test_the_level_filters_records(launcher_factory, level, shown, present, absent):
    l = launcher_factory()
    l.write_config({"log": dict({"directory": host_path(l.logdir)}, **({} if level is None else {"level": level}))})
    code, out, _ = l.run(check())
    assert code == 0 and ("Iniciando aplicativo con nivel %d en archivo " % shown) in out
    path = l.logdir / day_log_name()
    text = path.read_text(encoding="utf-8-sig") if path.exists() else ""
    assert all((" %s [" % sev) in text for sev in present) and not any((" %s [" % sev) in text for sev in absent)
    assert ("verificación de componentes" in text) == ("INFO " in present)
    assert (text == "") == (shown in (0, 2))


def test_a_log_directory_without_separator_gets_one_and_a_missing_one_is_not_created(launcher_factory):
    l = launcher_factory()
    l.write_config({"log": {"level": "4", "directory": host_path(l.logdir)}})
    code, out, _ = l.run(check())
    assert code == 0 and ("en archivo %s%s%s" % (host_path(l.logdir), SEP, day_log_name())) in out
    assert (l.logdir / day_log_name()).exists()

    # A folder that does not exist is not created: the records are lost.
    missing = l.workdir / "no-existe" / "logs"
    l.write_config({"log": {"directory": host_path(missing) + "/"}})
    code, out, err = l.run(check())
    assert code == 0 and STARTED in err, "the program runs on without its log"
    assert ("en archivo %s/%s" % (host_path(missing), day_log_name())) in out
    assert not (l.workdir / "no-existe").exists()


def test_without_log_settings_the_log_lies_beside_the_program(launcher_factory, tmp_path):
    """Beside the program on Linux when it may write there; on Windows in the
    user's %LOCALAPPDATA%\\Zelvo (an installed program's folder is not the user's)."""
    l = launcher_factory(config={})
    l.write_config("{}")
    l.program = program_copy(tmp_path)
    code, out, _ = l.run(check())
    assert code == 0
    if WINDOWS:
        import windows_target
        path = windows_target.session().user_folder("Local") / "Zelvo" / day_log_name()
        shown = "C:\\users\\%s\\AppData\\Local\\Zelvo\\%s" % (windows_target.session().user, day_log_name())
    else:
        path = shown = tmp_path / "prog" / day_log_name()
    assert "Iniciando aplicativo con nivel 4 en archivo %s\n" % shown in out.replace("\r\n", "\n")
    text = "\n".join(log_lines(path))
    assert "Petición para realizar verificación de componentes" in text and " VERB  [" not in text
