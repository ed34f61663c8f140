"""The signing plug-in as installed: `cmake --install` of this build into a
temporary prefix P, then a signing run through P's conlaunch, P's registry file
and P/plugins made read-only, as an installed folder is for its user."""
import base64
import re
import stat
import subprocess
import zipfile
from pathlib import Path

import pytest

from signing_support import (BASEKEY, MARKER, PLUGIN, WRAPPER_JAR, read_only_available, sample_pdf,
                             signer_factory)  # noqa: F401
from zelvo_harness import BUILD

ROOT = Path(__file__).resolve().parents[2]


@pytest.fixture(scope="module")
def prefix(tmp_path_factory):
    p = tmp_path_factory.mktemp("inst") / "zelvo"
    done = subprocess.run(["cmake", "--install", str(BUILD), "--prefix", str(p)], stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, timeout=300)
    assert done.returncode == 0, done.stdout.decode("utf-8", "replace")
    return p


def test_the_plugin_folder_holds_the_plugin_its_settings_and_the_wrapper_jar(prefix):
    plugins = prefix / "plugins"
    assert (plugins / PLUGIN).is_file()
    assert (plugins / "config.ini").read_text(encoding="utf-8") == \
        (ROOT / "plugins" / "signing" / "config.ini").read_text(encoding="utf-8")
    with zipfile.ZipFile(plugins / WRAPPER_JAR) as jar:
        names = set(jar.namelist())
        manifest = jar.read("META-INF/MANIFEST.MF").decode()
    assert {"tavrel/quillet/wrapper/StandaloneMain.class", "tavrel/quillet/QuilletWrapper.class"} <= names
    assert re.search(r"^Main-Class: tavrel.quillet.wrapper.StandaloneMain\r?$", manifest, re.M)
    assert not list(plugins.glob("quillet-jni-probe*")), "the test probe is not installed"
    reg = (prefix / "registry.d" / "zelvo.reg").read_text(encoding="utf-8")
    key = "[HKEY_LOCAL_MACHINE\\%squillet]" % BASEKEY
    assert key in reg
    lib = str(plugins / PLUGIN).replace("\\", "\\\\").replace('"', '\\"')
    assert reg.split(key, 1)[1].lstrip().startswith('"RuntimeLib"="%s"' % lib)


@pytest.mark.skipif(not read_only_available(), reason="no mount namespace for a read-only plug-in folder")
def test_from_the_read_only_installed_folder_the_work_goes_to_the_users_state_folder(prefix, signer_factory):
    plugins = prefix / "plugins"
    before = sorted(p.name for p in plugins.iterdir())
    kw = dict(installed=plugins, registry=prefix / "registry.d" / "zelvo.reg", program=str(prefix / "conlaunch"),
              read_only=True)

    s = signer_factory(name="clean", **kw)
    document = sample_pdf()
    replies = s.sign(document, {"reason": "instalado", "stampImageBase64": base64.b64encode(b"JPEG").decode()})
    assert len(replies) == 1 and isinstance(replies[0], bytes), replies
    signed = replies[0]
    assert signed.startswith(document) and MARKER in signed
    assert ("%% log4jpath=%s/\n" % s.state).encode() in signed
    assert stat.S_IMODE(s.state.stat().st_mode) == 0o700
    assert stat.S_IMODE(s.state.parent.stat().st_mode) == 0o700
    left = sorted(p.name for p in s.state.iterdir() if p.is_file())
    assert len(left) == 1 and left[0].endswith("-firmado.pdf"), left
    assert "cleaning files" in s.log() and "child.exitCode:0" in s.log()
    assert sorted(p.name for p in plugins.iterdir()) == before, "nothing is written beside the plug-in"

    # With the files kept, the document and the stamp are there, for their owner only.
    s = signer_factory(name="keep", config_ini="[config]\ndeleteFilesAfterSigning=0\n", **kw)
    replies = s.sign(document, {"stampImageBase64": base64.b64encode(b"JPEG").decode()}, order="file-first")
    assert len(replies) == 1 and isinstance(replies[0], bytes), replies
    kept = [p for p in s.state.iterdir() if p.suffix in (".pdf", ".jpg") and not p.name.endswith("-firmado.pdf")]
    assert sorted(p.suffix for p in kept) == [".jpg", ".pdf"]
    for f in kept:
        assert stat.S_IMODE(f.stat().st_mode) == 0o600, f
    assert sorted(p.name for p in plugins.iterdir()) == before
