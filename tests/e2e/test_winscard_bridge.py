"""A Windows program under wine64 (pcsc_probe.exe, making the card plug-in's WinSCard calls)
reaching the private pcscd and the simulated card through the test-only WinSCard bridge,
and seeing what a Linux client of the same daemon sees: the same readers, the same answers,
the same failures. Needs the x86-64 Windows build (ZELVO_WINDOWS_BUILD)."""
import re
import shutil
import subprocess

import pytest

import pcsc_fixture
import wine_pcsc
from wine_pcsc import (SCARD_E_INSUFFICIENT_BUFFER, SCARD_E_NO_READERS_AVAILABLE, SCARD_E_NO_SMARTCARD,
                       SCARD_W_REMOVED_CARD, ProbeRun)
from wine import WinePrefix
from zelvo_harness import ROOT, WAIT
from zelvo_harness import windows_only

BRIDGE = wine_pcsc.bridge_dir()
MISSING = wine_pcsc.missing(BRIDGE)
pytestmark = [pytest.mark.skipif(MISSING is not None, reason=str(MISSING)),
              windows_only("a Windows program under Wine")]

CLIENT = ROOT / "tools" / "virtual-card" / "pcsc_client.py"
LDS_SELECT = "00A4040C07A0000002471001"
PKI_SELECT = "00A4040010A0000000770100700A1000F100000100"
READ_MRZ = "00B600005D"  # 61 5B 5F 1F 58 + the 88-character MRZ: 95 bytes with the status word
MRZ_ANSWER_LENGTH = 95


@pytest.fixture(scope="module")
def wine(tmp_path_factory):
    prefix = WinePrefix(tmp_path_factory.mktemp("wine") / "prefix").start()
    yield prefix
    prefix.stop()


@pytest.fixture
def probe(wine, tmp_path):
    """probe(reader, *args): pcsc_probe.exe, copied into the test's folder with the bridge
    placed beside it, run against that reader's pcscd."""
    folder = tmp_path / "program"
    folder.mkdir()
    shutil.copy2(BRIDGE / "pcsc_probe.exe", folder)
    wine_pcsc.place_bridge(BRIDGE, folder)

    def run(reader, *args):
        return ProbeRun(wine.run(folder / "pcsc_probe.exe", *args,
                                 env=wine_pcsc.pcsc_env(wine, BRIDGE, reader.socket), timeout=WAIT * 3))
    return run


def linux_client(reader, *args):
    """tools/virtual-card/pcsc_client.py against the same daemon: the Linux side's view."""
    return subprocess.run([pcsc_fixture.PYTHON, str(CLIENT)] + list(args), env=reader.env, capture_output=True,
                          text=True, timeout=WAIT)


def linux_readers(reader):
    listed = linux_client(reader, "list")
    assert listed.returncode == 0, listed.stderr
    return listed.stdout.splitlines()


def linux_connect_error(reader):
    sent = linux_client(reader, "send")
    m = re.search(r"SCardConnect: .* \(0x([0-9A-F]{8})\)", sent.stderr)
    assert sent.returncode == 1 and m, sent.stderr
    return int(m.group(1), 16)


def utf16_multistring_length(names):
    return sum(len(n.encode("utf-16-le")) // 2 + 1 for n in names) + 1


def test_readers_answers_and_protocol_information_as_on_linux(probe, pcscd):
    before = pcscd.trace_position()
    run = probe(pcscd, LDS_SELECT, READ_MRZ, PKI_SELECT)
    assert run.returncode == 0, run
    # The two data exports reach the program through the forwarder (a failed forward leaves
    # the import pointing at a stub: the values would be garbage).
    assert run.pci == {"T0": (1, 8), "T1": (2, 8)}
    assert run.readers == linux_readers(pcscd) and run.readers[0] == pcscd.reader
    assert run.protocol in ("T0", "T1")
    card_saw = pcscd.exchanges(before)
    assert run.answers == card_saw
    assert [c for c, _ in run.answers] == [LDS_SELECT, READ_MRZ, PKI_SELECT]
    assert [a[-4:] for _, a in run.answers] == ["9000", "9000", "9000"]
    assert run.answers[1][1].startswith("615B5F1F58") and len(run.answers[1][1]) == 2 * MRZ_ANSWER_LENGTH
    sent = linux_client(pcscd, "send", LDS_SELECT, READ_MRZ, PKI_SELECT)
    assert sent.stdout.split() == [a for _, a in run.answers], sent.stderr
    assert run.canaries == ["intact"] * 3


@pytest.mark.parametrize("size, fits", [
    (258, True),                      # the plug-in's buffer
    (MRZ_ANSWER_LENGTH, True),        # exactly the answer
    (MRZ_ANSWER_LENGTH - 1, False),   # one short: nothing written, the size needed reported
    (2, False),                       # room for the SELECT's status word only
])
def test_answer_buffer_bounds_what_is_written(probe, pcscd, size, fits):
    run = probe(pcscd, "--recv", str(size), LDS_SELECT, READ_MRZ)
    assert run.canaries == ["intact", "intact"], run
    assert run.answers[0] == (LDS_SELECT, "9000")
    if fits:
        assert run.returncode == 0 and len(run.answers) == 2 and len(run.answers[1][1]) == 2 * MRZ_ANSWER_LENGTH
    else:
        assert run.error == ("SCardTransmit", SCARD_E_INSUFFICIENT_BUFFER), run
        assert run.needed == MRZ_ANSWER_LENGTH and len(run.answers) == 1


def test_reader_names_outside_ascii_both_ways(probe, tmp_path):
    # Outside the Basic Multilingual Plane too: one character, two UTF-16 units.
    with pcsc_fixture.private_pcscd(workdir=tmp_path / "pcscd", friendly_name="Lector ñandú € 𝄞") as reader:
        run = probe(reader, "--sizes", LDS_SELECT)
        linux = linux_readers(reader)
    assert run.returncode == 0, run
    assert run.readers == linux and run.readers[0] == "Lector ñandú € 𝄞 00 00"
    # Without SCARD_AUTOALLOCATE: the size in WCHARs, a buffer one short refused untouched
    # with that size, the exact buffer filled as the allocated one.
    needed = utf16_multistring_length(linux)
    assert run.sizes == (needed, SCARD_E_INSUFFICIENT_BUFFER, needed, "same")
    # The name went back to UTF-8 for the connection.
    assert run.answers == [(LDS_SELECT, "9000")]


def test_no_reader(probe, tmp_path):
    with pcsc_fixture.private_pcscd(mode="noreader", workdir=tmp_path / "pcscd") as reader:
        run = probe(reader)
        linux = linux_client(reader, "list")
    assert linux.returncode == 0 and linux.stdout == ""  # the client reports no readers as an empty list
    assert run.returncode == 1 and run.readers == []
    assert run.error == ("SCardListReadersW", SCARD_E_NO_READERS_AVAILABLE), run


@pytest.mark.parametrize("state", ["empty slot", "card removed"])
def test_absent_card_gives_the_linux_connect_error(probe, tmp_path, state):
    mode = "nocard" if state == "empty slot" else "card"
    with pcsc_fixture.private_pcscd(mode=mode, workdir=tmp_path / "pcscd") as reader:
        if state == "card removed":
            reader.remove_card()
        run = probe(reader, LDS_SELECT)
        linux = linux_connect_error(reader)
        readers = linux_readers(reader)
    assert run.readers == readers and run.readers[0] == reader.reader
    assert run.returncode == 1 and run.answers == []
    assert run.error == ("SCardConnectW", linux), run
    # pcsc-lite reports an empty slot as "no smart card"; Windows may say "removed".
    assert linux in (SCARD_E_NO_SMARTCARD, SCARD_W_REMOVED_CARD)
