"""The signing plug-in through the real launcher, the real plug-in and a real
java child running the stand-in wrapper, with a real WebSocket client."""
import base64
import hashlib
import json
import os
import re
import stat
from pathlib import Path

import pytest

from signing_support import (MARKER, error_of, read_only_available, sample_pdf, signer_factory,  # noqa: F401
                             write_properties)

KEEP_FILES = "[config]\ndeleteFilesAfterSigning=0\n"


def signed_parts(replies, document):
    """The one binary reply split into the original document and the stand-in's marker."""
    assert len(replies) == 1 and isinstance(replies[0], bytes), replies
    signed = replies[0]
    assert signed[:len(document)] == document
    marker = signed[len(document):].decode("utf-8")
    assert MARKER.decode() in marker
    return dict(re.findall(r"^% (\w+)=(.*)$", marker, re.M))


@pytest.mark.parametrize("order", ["text-first", "file-first"])
def test_both_orders_bring_back_the_signed_file_and_clean_up(signer_factory, order):
    s = signer_factory()
    stamp = b"\xff\xd8\xff\xe0stamp-image" * 10
    document = sample_pdf()
    replies = s.sign(document, {"reason": "Conforme", "stampImageBase64": base64.b64encode(stamp).decode(),
                                "pageNumber": 1}, order)
    fields = signed_parts(replies, document)
    assert fields["reason"] == "Conforme"
    assert fields["stampImageBytes"] == str(len(stamp))
    # The document and stamp files are gone; only the wrapper's own output remains.
    left = sorted(p.name for p in s.plugins.iterdir() if p.suffix in (".pdf", ".jpg"))
    assert len(left) == 1 and left[0].endswith("-firmado.pdf"), left
    log = s.log()
    for line in ("<< registerSendMessageFunction", "<< onConnect", "quilletInput:{\"inputFile\":\"%d bytes\"" % len(document),
                 "writing files", "child.exitCode:0", "cleaning files", ">> [binary] %d bytes sent" % len(replies[0])):
        assert line in log, line
    waiting = "waiting for the file part" if order == "text-first" else "waiting for the text part"
    assert waiting in log
    assert "dllDirectory:" not in log, "debug records stay out at the plug-in's level"
    assert re.search(r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d \d{6,} INFO << onConnect\r$", log, re.M)


def test_files_are_kept_with_delete_0_and_readable_by_their_owner_only(signer_factory):
    s = signer_factory(config_ini=KEEP_FILES)
    document = sample_pdf()
    stamp = b"JPEGDATA"
    replies = s.sign(document, {"stampImageBase64": base64.b64encode(stamp).decode()})
    signed_parts(replies, document)
    pdfs = [p for p in s.plugins.glob("*.pdf") if not p.name.endswith("-firmado.pdf")]
    jpgs = list(s.plugins.glob("*.jpg"))
    assert len(pdfs) == 1 and len(jpgs) == 1
    assert re.fullmatch(r"[0-9A-Za-z]{9}\.pdf", pdfs[0].name) and re.fullmatch(r"[0-9A-Za-z]{8}\.jpg", jpgs[0].name)
    assert pdfs[0].read_bytes() == document and jpgs[0].read_bytes() == stamp
    for f in pdfs + jpgs:
        assert stat.S_IMODE(f.stat().st_mode) == 0o600
    assert "cleaning files" not in s.log()


def test_a_20_mib_document_comes_back_intact(signer_factory):
    s = signer_factory()
    document = sample_pdf(padding=os.urandom(20 * 1024 * 1024))
    replies = s.sign(document, {"reason": "grande"})
    assert len(replies) == 1 and isinstance(replies[0], bytes)
    assert hashlib.sha256(replies[0][:len(document)]).digest() == hashlib.sha256(document).digest()
    assert signed_parts(replies, document)["reason"] == "grande"


def test_a_stamp_split_over_lines_with_padding_decodes_as_without(signer_factory):
    stamp = bytes(range(256)) * 3 + b"ab"  # length not a multiple of 3: padding
    encoded = base64.b64encode(stamp).decode()
    assert encoded.endswith("=")
    wrapped = "\r\n".join(encoded[i:i + 76] for i in range(0, len(encoded), 76)) + "\n"
    s = signer_factory(config_ini=KEEP_FILES)
    signed_parts(s.sign(sample_pdf(), {"stampImageBase64": wrapped}), sample_pdf())
    assert [p.read_bytes() for p in s.plugins.glob("*.jpg")] == [stamp]


def test_a_folder_with_blanks_reaches_the_child_as_one_argument(signer_factory, tmp_path):
    folder = tmp_path / "mis plugins" / "firma"
    s = signer_factory(plugin_dir=folder)
    fields = signed_parts(s.sign(sample_pdf(), {"reason": "x"}), sample_pdf())
    assert fields["log4jpath"] == str(folder) + "/"
    assert '"-Dlog4jpath=%s/" -cp "' % folder in s.log()


def test_the_childs_standard_error_is_logged_line_by_line(signer_factory):
    s = signer_factory()
    signed_parts(s.sign(sample_pdf(), {"reason": "stderr:primera línea\r\nsegunda línea\nsin salto"}), sample_pdf())
    log = s.log()
    for line in ("primera línea", "segunda línea", "sin salto"):
        assert " INFO [stderr] %s\r\n" % line in log, line


def fake_path(tmp_path, java_script=None):
    """A PATH holding `which` and, when given, a `java` of our own."""
    bin_dir = tmp_path / "bin"
    bin_dir.mkdir()
    os.symlink("/usr/bin/which", bin_dir / "which")
    if java_script is not None:
        java = bin_dir / "java"
        java.write_text(java_script)
        java.chmod(0o755)
    return {"PATH": str(bin_dir)}


QUILLET = "Verifique la instalación del software Quillet. "


@pytest.mark.parametrize("case, messages, expected", [
    ("not JSON", ["{esto no es JSON"], "message is not a valid JSON string"),
    ("a JSON array", ['["reason"]'], "message is not a JSON object"),
    ("missing properties", None, QUILLET + "No se encuentra archivo de propiedades"),
    ("corrupt properties", None, QUILLET + "El archivo de propiedades está corrupto"),
    ("jar path that does not open", None, QUILLET + "Path no válido para QUILLET_JAR"),
    ("no java on PATH", None, "Verifique la instalación de Java"),
    ("child cannot be created", None, "Verifique su instalación de Java (7 o superior)"),
    ("exit code not 0", ["salir:3"], "Ha ocurrido un error al ejecutar Quillet"),
    ("error text", ['error:Certificado "caducado" en C:\\firmas\nintente de nuevo'],
     "Certificado 'caducado' en C:\\firmas\nintente de nuevo"),
    ("signed file gone", ["desaparecer"], "signed file was modified from another process"),
    ("no answer", ["silencio"], "Quillet terminó sin indicar el archivo firmado"),
])
def test_each_failure_gets_its_reply_and_ends_the_connection(signer_factory, tmp_path, case, messages, expected):
    kw = {}
    if case == "missing properties":
        kw["properties"] = False
    if case == "no java on PATH":
        kw["env"] = fake_path(tmp_path)
    if case == "child cannot be created":
        kw["env"] = fake_path(tmp_path, "#!/nonexistent/interpreter\n")
    s = signer_factory(**kw)
    if case == "corrupt properties":
        write_properties(s.home, "QUILLET_JAR\nOTRA=1\n")
    if case == "jar path that does not open":
        write_properties(s.home, "QUILLET_JAR=%s\n" % (s.tmp / "no-existe.jar"))
    s.start()
    document = sample_pdf()
    if messages and not messages[0].startswith(("{", "[")):
        sent = [json.dumps({"reason": messages[0]}), document]
    elif messages:
        sent = messages
    else:
        sent = [document, json.dumps({"reason": "x"})]
    replies, closed = s.exchange(*sent)
    assert closed
    assert error_of(replies) == expected
    assert s.finish() == 0
    assert "postErrorMessage: " in s.log()
    if messages is None and case != "child cannot be created":
        assert not list(s.plugins.glob("*.pdf")), "discovery failures write no file"
    else:
        assert not [p for p in s.plugins.glob("*.pdf") if not p.name.endswith("-firmado.pdf")]


@pytest.mark.skipif(not read_only_available(), reason="no mount namespace for a read-only plug-in folder")
def test_with_nowhere_to_write_the_page_is_told_and_nothing_is_left(signer_factory):
    s = signer_factory(read_only=True, env={"XDG_STATE_HOME": "/dev/null/state"})
    before = sorted(p.name for p in s.plugins.iterdir())
    s.start()
    replies, closed = s.exchange(json.dumps({"reason": "x"}), sample_pdf())
    assert closed
    assert error_of(replies) == "No se puede crear la carpeta de trabajo del usuario (/dev/null/state/zelvo/signing)"
    assert s.finish() == 0
    assert sorted(p.name for p in s.plugins.iterdir()) == before


def test_an_end_before_onconnect_never_hangs_the_connection(signer_factory):
    """Answers that are complete before the plug-in's onConnect has begun to wait."""
    for round_ in range(12):
        s = signer_factory(name="r%d" % round_)
        s.start()
        sent = ["no JSON"] if round_ % 2 == 0 else ["[]", "[]"]
        replies, closed = s.exchange(*sent)
        assert closed, round_
        assert len(replies) == 1 and json.loads(replies[0])["message"].startswith("message is not")
        assert s.finish() == 0
        s.stop()
