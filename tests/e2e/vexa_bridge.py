"""A launcher hosting the card plug-in against a private pcscd (Windows: through the
test-only WinSCard bridge), for the card tests, demo and benchmark. As a program,
`vexa_bridge.py SOCKET FOLDER COMMAND` prints one raw reply of the build that
ZELVO_TARGET and ZELVO_STAGE choose (the other system's, for comparisons)."""
import contextlib
import json
import sys
from pathlib import Path

from zelvo_harness import (BASEKEY, BUILD, EXE, LIBRARY, STAGE, WAIT, WINDOWS, Launcher, free_port, run_request,
                           session, talk, write_registry)

PLUGIN = "vexa-tools" + LIBRARY
READ_ALL = "read abi dg1 dg2 dg7"


class BridgeError(RuntimeError):
    pass


def missing_parts(stage):
    """What must be built first for the card through the bridge, or an empty list."""
    stage = Path(stage)
    return [str(p) for p in (stage / ("conlaunch" + EXE), stage / "plugins" / PLUGIN,
                             stage / "html" / "card.html") if not p.exists()]


def card_environment(socket):
    """A launcher's environment to reach the pcscd on `socket` (Windows: the bridge, installed
    in the session's prefix; skipped without it)."""
    if not WINDOWS:
        return {"PCSCLITE_CSOCK_NAME": str(socket)}
    import pytest
    import windows_target
    import wine_pcsc
    folder = wine_pcsc.bridge_dir(BUILD)
    if wine_pcsc.missing(folder):
        pytest.skip(wine_pcsc.missing(folder))
    prefix = windows_target.session().prefix
    wine_pcsc.install_bridge(prefix, folder)
    env = wine_pcsc.pcsc_env(prefix, folder, socket)
    return {name: env[name] for name in ("WINEDLLOVERRIDES", "WINEDLLPATH", "PCSCLITE_CSOCK_NAME")}


def parsed(reply):
    try:
        return json.loads(reply)
    except ValueError:
        raise BridgeError("respuesta que no es JSON: %r" % reply[:200])


class VexaBridge(Launcher):
    # The console build logs every message it relays, photos included: its output goes to
    # files, since a pipe nobody reads while the page waits would fill and stall it.
    def __init__(self, stage, workdir, pcscd_env, idletimeout=60000, env=None):
        workdir = Path(workdir)
        workdir.mkdir(parents=True, exist_ok=True)
        registry = write_registry(workdir / "zelvo.reg",
                                  {BASEKEY + "vexa": {"RuntimeLib": Path(stage) / "plugins" / PLUGIN}})
        config = {"port": str(free_port()), "idletimeout": str(idletimeout), "basekey": BASEKEY}
        super().__init__(workdir, config=config, registry=registry, program=Path(stage) / ("conlaunch" + EXE),
                         env=dict(env or {}, **card_environment(pcscd_env["PCSCLITE_CSOCK_NAME"])), to_files=True)

    def serve_card(self):
        """Starts it hosting the card plug-in, once it listens."""
        try:
            return self.serve(run_request("vexa"))
        except AssertionError as e:
            raise BridgeError("el lanzador no abrió el puerto %d: %s" % (self.port, e))

    def page_url(self, page="card.html"):
        return "http://localhost:%d/%s" % (self.port, page)

    def finish(self, timeout=WAIT):
        """Answers the console build's closing prompt; (exit code, stdout, stderr) at the end."""
        try:
            return self.wait(timeout)
        except Exception:
            self.stop()
            return self.proc.returncode, self.output("stdout.txt"), self.output("stderr.txt")

    def output(self, name="stderr.txt"):
        path = self.workdir / name
        return path.read_text(encoding="utf-8", errors="replace") if path.exists() else ""

    def plugin_log(self):
        if WINDOWS:
            import windows_target
            folder = windows_target.session().profile() / ".vexatools"
        else:
            folder = self.workdir / "home" / ".vexatools"
        return "".join(p.read_text(encoding="utf-8", errors="replace") for p in sorted(folder.glob("*.log")))

    def boxes_closed(self):
        """On Windows, closes the launcher's message boxes while the block runs."""
        if not WINDOWS:
            return contextlib.nullcontext()
        import windows_target
        return windows_target.closing_boxes(self)

    def ask(self, command=READ_ALL):
        """Sends one command; the reply parsed as JSON."""
        return parsed(talk(self.port, command, timeout=WAIT * 3)[0])


class CardRuns:
    """Each call: one command in a launcher run of its own, which must end well; the JSON reply."""

    def __init__(self, folder, pcscd, env=None):
        self.folder, self.pcscd, self.env, self.runs = folder, pcscd, env, []

    def __call__(self, text):
        return parsed(self.raw(text))

    def raw(self, text):
        """The reply's text as it came."""
        bridge = VexaBridge(STAGE, self.folder / ("run%d" % len(self.runs)), self.pcscd.env, env=self.env)
        self.runs.append(bridge)
        try:
            # The plug-in answers once and closes the connection.
            bridge.serve_card()
            with bridge.boxes_closed():
                replies, _ = session(bridge.port, text, timeout=WAIT * 3)
            code, _, err = bridge.finish()
        finally:
            bridge.stop()
        # A fault while the process ends (Wine says so on standard error) leaves the exit code as it was.
        assert code == 0 and len(replies) == 1 and "wine: Unhandled" not in err, (replies, err)
        return replies[0]

    @property
    def last(self):
        return self.runs[-1]


class Socket:
    """A pcscd as CardRuns needs it, known only by its socket."""

    def __init__(self, socket):
        self.env = {"PCSCLITE_CSOCK_NAME": socket}


if __name__ == "__main__":
    socket, folder, command = sys.argv[1:4]
    sys.stdout.buffer.write(CardRuns(Path(folder), Socket(socket)).raw(command).encode("utf-8"))
