"""Changing the authentication PIN the way a user does: the page sends
"changepin auth" to the launcher hosting vexa-tools.so, the real zelvo-dialog
opens on a private X display and is typed by xdotool, and the simulated card
behind a private pcscd ends with the new PIN in its state file."""
import threading

import pytest

from card_support import PLUGIN, CardBridge, ok_body, pcsc_fixture
from xdisplay import xdisplay  # noqa: F401  (fixture)
from zelvo_harness import STAGE

TITLE = "^Cambiar PIN de autenticación$"
NEW_PIN = "24681357"


@pytest.fixture
def pcscd():
    if not (STAGE / "conlaunch").exists() or not PLUGIN.exists():
        pytest.skip("the launcher or the card plug-in is not built")
    with pcsc_fixture.private_pcscd() as p:
        yield p


class Typist(threading.Thread):
    """Waits for the PIN dialog and fills it in as a user would; what went wrong,
    if anything, is kept for the test to raise."""

    def __init__(self, display, current, new):
        super().__init__(daemon=True)
        self.display, self.current, self.new = display, current, new
        self.failure = None

    def run(self):
        try:
            window = self.display.wait_window(TITLE)
            self.display.wait_focus(window)
            self.display.type(self.current)
            self.display.key("Tab")
            self.display.type(self.new)
            self.display.key("Tab")
            self.display.type(self.new)
            self.display.key("Return")
            self.display.wait_no_window(TITLE)
        except BaseException as e:  # noqa: B902  (reported by the test)
            self.failure = e


def test_changepin_auth_typed_into_the_real_dialog(tmp_path, xdisplay, pcscd):
    old = pcscd.holder()["pins"]["1"]
    # The launcher's children see the test display; no ZELVO_DIALOG, so the
    # plug-in finds the zelvo-dialog staged beside the launcher.
    env = {k: xdisplay.env[k] for k in ("DISPLAY", "NO_AT_BRIDGE", "GSETTINGS_BACKEND", "GTK_THEME", "LANG")}
    env["ZELVO_DIALOG"] = ""
    bridge = CardBridge(tmp_path, pcscd, env=env)

    typist = Typist(xdisplay, old, NEW_PIN)
    typist.start()
    try:
        reply, closed, code, err = bridge.command("changepin auth")
    finally:
        typist.join(timeout=60)
    if typist.failure:
        raise typist.failure

    assert ok_body(reply) == {"message": "PIN actualizado correctamente", "code": "0"}, err
    assert (closed, code) == (True, 0), err
    assert pcscd.state()["credentials"]["1"] == {"pin": NEW_PIN, "tries": 3}
    # The signature PIN is left alone, and the PINs appear in no log.
    assert pcscd.state()["credentials"]["4"]["pin"] == pcscd.holder()["pins"]["4"]
    logs = bridge.plugin_log() + bridge.launcher.log_text()
    assert NEW_PIN not in logs and NEW_PIN not in err
