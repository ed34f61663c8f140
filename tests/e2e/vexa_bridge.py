"""The launcher in server mode hosting the card plug-in against the simulated card, for the
card tests, the card demo and the card benchmark: a private working folder (configuration,
registry file, HOME, runtime and state folders), PCSCLITE_CSOCK_NAME of a private pcscd, and
a WebSocket client that sends one command and returns the JSON reply. Stopped by its id."""
import json
from pathlib import Path

from zelvo_harness import BASEKEY, STAGE, WAIT, Launcher, free_port, run_request, session, talk, write_registry

PLUGIN = "vexa-tools.so"
READ_ALL = "read abi dg1 dg2 dg7"


class BridgeError(RuntimeError):
    pass


def missing_parts(stage):
    """What must be built first for the card through the bridge, or an empty list."""
    stage = Path(stage)
    return [str(p) for p in (stage / "conlaunch", stage / "plugins" / PLUGIN,
                             stage / "html" / "card.html") if not p.exists()]


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
                                  {BASEKEY + "vexa": {"RuntimeLib": str(Path(stage) / "plugins" / PLUGIN)}})
        config = {"port": str(free_port()), "idletimeout": str(idletimeout), "basekey": BASEKEY}
        super().__init__(workdir, config=config, registry=registry, program=Path(stage) / "conlaunch",
                         env=dict(env or {}, PCSCLITE_CSOCK_NAME=pcscd_env["PCSCLITE_CSOCK_NAME"]), to_files=True)

    def start(self):
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
        return "".join(p.read_text(encoding="utf-8", errors="replace")
                       for p in sorted((self.workdir / "home" / ".vexatools").glob("*.log")))

    def ask(self, command=READ_ALL):
        """Sends one command; the reply parsed as JSON."""
        return parsed(talk(self.port, command, timeout=WAIT * 3)[0])


class CardRuns:
    """Each call sends one command to the card plug-in, loaded afresh by a launcher
    run of its own, and checks that the run ends well; the JSON reply."""

    def __init__(self, folder, pcscd, env=None):
        self.folder, self.pcscd, self.env, self.runs = folder, pcscd, env, []

    def __call__(self, text):
        bridge = VexaBridge(STAGE, self.folder / ("run%d" % len(self.runs)), self.pcscd.env, env=self.env)
        self.runs.append(bridge)
        try:
            # The plug-in answers once and closes the connection.
            replies, _ = session(bridge.start().port, text, timeout=WAIT * 3)
            code, _, err = bridge.finish()
        finally:
            bridge.stop()
        assert code == 0 and len(replies) == 1, (replies, err)
        return parsed(replies[0])

    @property
    def last(self):
        return self.runs[-1]
