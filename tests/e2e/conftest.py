import sys

import pytest

from signing_support import Signer
from vexa_bridge import CardRuns
from xdisplay import DIALOG, XDisplay
from zelvo_harness import ROOT, WINDOWS, Launcher, fixture, free_port, plugin_registry, server_config

sys.path.insert(0, str(ROOT / "tools" / "virtual-card"))
import pcsc_fixture  # noqa: E402


@pytest.fixture(scope="session", autouse=True)
def own_cache(tmp_path_factory):
    """The simulated card caches the images it draws: in the run's folder, not the home."""
    with pytest.MonkeyPatch.context() as mp:
        mp.setenv("XDG_CACHE_HOME", str(tmp_path_factory.mktemp("cache")))
        yield


@pytest.fixture(scope="module", autouse=True)
def windows_session(tmp_path_factory):
    """On Windows (ZELVO_TARGET=windows), the module's display and Wine prefix,
    made when its first launcher starts and ended with the module."""
    if not WINDOWS:
        yield None
        return
    import windows_target
    windows_target.begin(lambda: tmp_path_factory.mktemp("windows"))
    yield windows_target
    windows_target.end()


@pytest.fixture
def launcher_factory(tmp_path):
    """Makes Launcher objects in the test's own folder and stops them all after it."""
    made = []

    def make(config=None, registry=None, name="w", **kw):
        l = Launcher(tmp_path / name, config=config, registry=registry, **kw)
        made.append(l)
        return l

    yield make
    for l in made:
        l.stop()


@pytest.fixture
def signer_factory(tmp_path):
    """Makes Signer launchers (signing_support) in the test's folder and stops them after it."""
    made = []

    def make(name="s", **kw):
        made.append(Signer(tmp_path / name, **kw))
        return made[-1]

    yield make
    for s in made:
        s.stop()


@pytest.fixture
def serve(launcher_factory, tmp_path):
    """serve(argument, plugin=None, registry=None, name="w", env=None, program="conlaunch",
    **config): a launcher on a port of its own, listening; `plugin` names a fixture
    plug-in to register as "echo"."""
    def make(argument, plugin=None, registry=None, name="w", env=None, program="conlaunch", **config):
        if plugin is not None:
            registry = plugin_registry(tmp_path / (name + ".reg"), fixture(plugin))
        if "log" in config:  # the test's own folder, never the program's
            config["log"] = dict(config["log"], directory=str(tmp_path / name / "logs"))
        launcher = launcher_factory(server_config(free_port(), **config), registry=registry, name=name, env=env,
                                    program=program)
        return launcher.serve(argument)
    return make


@pytest.fixture(scope="module")
def pcscd(tmp_path_factory):
    """One private pcscd with the simulated card for a module; this process's own
    libpcsclite reaches it too (the library reads PCSCLITE_CSOCK_NAME once)."""
    with pytest.MonkeyPatch.context() as mp, \
            pcsc_fixture.private_pcscd(workdir=tmp_path_factory.mktemp("pcscd")) as p:
        mp.setenv("PCSCLITE_CSOCK_NAME", str(p.socket))
        yield p


@pytest.fixture
def card(pcscd, tmp_path):
    """Commands to the plug-in against the module's card, back at its default settings."""
    pcscd.reset_card_settings()
    return CardRuns(tmp_path, pcscd)


@pytest.fixture(scope="module")
def xdisplay():
    """A private X display for a module."""
    if not DIALOG.exists():
        pytest.skip("zelvo-dialog is not built")
    display = XDisplay()
    yield display
    display.stop()


@pytest.fixture
def dialogs(xdisplay):
    """Starts dialogs on the test display and stops any still running afterwards."""
    started = []

    def start(*args, **kw):
        started.append(xdisplay.dialog(*args, **kw))
        return started[-1]

    yield start
    for d in started:
        d.stop()
