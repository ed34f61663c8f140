"""The launcher's entry through the real conlaunch and launcher programs: the
configuration file, the request argument and its payload, the factory's
records, exit codes, the closing prompt and the log file."""
import datetime
import re
import shutil

import pytest

from launcher_support import day_log_name
from zelvo_harness import STAGE, Launcher, b64json, request

PROMPT = "Presione una tecla para terminar ..."
NO_MATCH = "Petición no encontrada para los parámetros dados"
STARTED = "¡Launcher iniciado correctamente!"
LINE = re.compile(r"^(\d{4})-(\d{2})-(\d{2}) (\d{2}):(\d{2}):(\d{2})\.(\d{3}) "
                  r"(FATAL|ERROR|WARN |INFO |DEBUG|VERB ) \[(\d+)\] \[([A-Za-z_][A-Za-z0-9_:]*)@(\d+)\] (.*)$")


def check(**payload):
    return request("check/", payload)


# ---- application.config ----

def test_a_missing_configuration_ends_with_its_box_and_no_prompt(launcher_factory):
    l = launcher_factory()  # no application.config in its working directory
    code, out, err = l.run(check())
    assert code == 1
    assert "Error en aplicación: No se puede obtener la información de configuración del aplicativo." in err
    assert PROMPT not in out and "Iniciando aplicativo" not in out


@pytest.mark.parametrize("text", ["{\"port\": ", "[1, 2]", "\"texto\"", "{} {}", ""])
def test_a_configuration_that_is_not_an_object_ends_with_its_box(launcher_factory, text):
    l = launcher_factory()
    (l.workdir / "application.config").write_text(text, encoding="utf-8")
    code, out, err = l.run(check())
    assert code == 1
    assert "Error en aplicación: La información de configuración del aplicativo tiene errores." in err
    assert PROMPT not in out


def test_the_configuration_is_read_from_the_working_directory_not_the_program_folder(launcher_factory, tmp_path):
    # A configuration beside a copy of the program does not count.
    prog = tmp_path / "prog"
    prog.mkdir()
    shutil.copy2(STAGE / "conlaunch", prog / "conlaunch")
    (prog / "application.config").write_text("{}", encoding="utf-8")
    l = launcher_factory()
    l.program = prog / "conlaunch"
    code, _, err = l.run(check())
    assert code == 1 and "No se puede obtener la información de configuración" in err


# ---- request argument ----

@pytest.mark.parametrize("argument", [
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
])
def test_arguments_that_are_no_request_end_with_1_and_the_factory_records(launcher_factory, argument):
    l = launcher_factory(config={})
    code, out, err = l.run(argument)
    assert code == 1, (out, err)
    assert out.rstrip().endswith(PROMPT)
    log = l.log_text()
    assert NO_MATCH in log
    assert "[RunnableFactory::create@" in log
    assert "argc=2" in log and ("argv[1]=" + argument) in log
    assert 'reader={"allowedorigins":' in log  # the harness's default, then "log"


def test_no_argument_and_two_arguments_are_refused(launcher_factory):
    l = launcher_factory(config={})
    code, out, _ = l.run_argv()
    assert code == 1 and PROMPT in out
    assert "argc=1" in l.log_text()

    l2 = launcher_factory(config={}, name="two")
    code, _, err = l2.run(check(), "otro")
    assert code == 1, err
    log = l2.log_text()
    assert "argc=3" in log and "argv[2]=otro" in log and STARTED not in err


def test_the_factory_masks_the_certificate_password(launcher_factory):
    l = launcher_factory(config={"ssl": {"enabled": "1", "certpath": "/c.pem", "certpass": "secreto-123"}})
    assert l.run("nada")[0] == 1
    log = l.log_text()
    assert NO_MATCH in log and "secreto-123" not in log


@pytest.mark.parametrize("argument", [
    check(),
    check() + "/",                                  # one trailing slash is dropped
    "x://check/" + b64json({}),                     # any scheme
    "zelvo://check/" + b64json({"a": "b"}) + "=Zm9v/basura",  # decoding stops at "="
    "zelvo://check/" + b64json({"a": "b"}).rstrip("=") + "!xyz",  # ...and at a foreign character
])
def test_check_requests_are_accepted_by_their_rules(launcher_factory, argument):
    l = launcher_factory(config={})
    code, out, err = l.run(argument)
    assert code == 0, (out, err)
    assert " Zelvo: " + STARTED in err
    assert out.rstrip().endswith(PROMPT)
    assert "Petición para realizar verificación de componentes" in l.log_text()


def test_the_windowed_build_has_no_prompt(launcher_factory):
    l = launcher_factory(config={}, program="launcher")
    code, out, err = l.run(check())
    assert code == 0 and STARTED in err
    assert PROMPT not in out
    code, out, _ = l.run("nada")
    assert code == 1 and PROMPT not in out


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
    assert "Iniciando aplicativo con nivel 6 en archivo %s\n" % path in out
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


@pytest.mark.parametrize("level,present,absent", [
    ("2", [], ["INFO ", "VERB "]),        # errors only: a self-check that passes writes nothing
    ("4", ["INFO "], ["VERB "]),
    ("6", ["INFO ", "VERB "], []),
])
def test_the_level_filters_records(launcher_factory, level, present, absent):
    l = launcher_factory()
    l.write_config({"log": {"level": level, "directory": str(l.logdir)}})
    code, out, _ = l.run(check())
    assert code == 0 and ("con nivel %s " % level) in out
    path = l.logdir / day_log_name()
    text = path.read_text(encoding="utf-8-sig") if path.exists() else ""
    for sev in present:
        assert (" " + sev + " [") in text
    for sev in absent:
        assert (" " + sev + " [") not in text


@pytest.mark.parametrize("level,shown", [("7", 0), ("-1", 0), (6, 4), ("x", 4), (None, 4)])
def test_out_of_range_and_unreadable_levels(launcher_factory, level, shown):
    l = launcher_factory()
    log = {"directory": str(l.logdir)}
    if level is not None:
        log["level"] = level
    l.write_config({"log": log})
    code, out, _ = l.run(check())
    assert code == 0
    assert "Iniciando aplicativo con nivel %d en archivo " % shown in out
    path = l.logdir / day_log_name()
    text = path.read_text(encoding="utf-8-sig") if path.exists() else ""
    if shown == 0:
        assert text == ""
    else:
        assert "verificación de componentes" in text and " VERB  [" not in text


def test_a_log_directory_without_separator_gets_one_and_a_missing_one_loses_records(launcher_factory):
    l = launcher_factory()
    l.write_config({"log": {"level": "4", "directory": str(l.logdir)}})
    code, out, _ = l.run(check())
    assert code == 0 and ("en archivo %s/%s" % (l.logdir, day_log_name())) in out
    assert (l.logdir / day_log_name()).exists()

    # A folder that cannot exist (below a plain file): the records are lost.
    (l.workdir / "archivo").write_text("x")
    unusable = l.workdir / "archivo" / "logs"
    l.write_config({"log": {"directory": str(unusable) + "/"}})
    code, out, err = l.run(check())
    assert code == 0 and STARTED in err, "the program runs on without its log"
    assert ("en archivo %s/%s" % (unusable, day_log_name())) in out


def test_without_log_settings_the_log_lies_beside_the_program(tmp_path):
    prog = tmp_path / "prog"
    prog.mkdir()
    shutil.copy2(STAGE / "conlaunch", prog / "conlaunch")
    l = Launcher(tmp_path / "w")
    (l.workdir / "application.config").write_text("{}", encoding="utf-8")
    l.program = prog / "conlaunch"
    try:
        code, out, _ = l.run(check())
    finally:
        l.stop()
    assert code == 0
    path = prog / day_log_name()
    assert "Iniciando aplicativo con nivel 4 en archivo %s\n" % path in out
    text = "\n".join(log_lines(path))
    assert "Petición para realizar verificación de componentes" in text and " VERB  [" not in text
