"""Pieces the Java host's end-to-end tests share: the jars built in stage/java,
the JVM of this machine, registry files with the Java runtime keys, a launcher
configured for a loader class, and the sanitizer options the JVM needs."""
import os
import re
import shutil
from pathlib import Path

from zelvo_harness import BUILD, SANITIZE, STAGE, free_port, request, write_registry

JAVA = STAGE / "java"
SDK = JAVA / "zelvo-sdk.jar"
ECHO = JAVA / "zelvo-echo.jar"
TESTS = JAVA / "zelvo-java-tests.jar"
NONATIVES = JAVA / "zelvo-java-tests-nonatives.jar"
JRE_KEY = "SOFTWARE\\JavaSoft\\Java Runtime Environment"
BASEKEY = "SOFTWARE\\Zelvo\\"
ECHO_LOADER = "tavrel/zelvo/sample/EchoLoader"
TEST_PACKAGE = "tavrel/zelvo/tests/"

# The JVM handles SIGSEGV itself (null checks, safepoints) and keeps memory the
# leak checker would report; the sanitizers must leave both to it.
JVM_ENV = {"ASAN_OPTIONS": "handle_segv=0:allow_user_segv_handler=1:detect_leaks=0:abort_on_error=0",
           "LSAN_OPTIONS": "detect_leaks=0"} if SANITIZE else {}


def classpath(*jars):
    for jar in jars:
        assert Path(jar).exists(), "jar missing: %s (build java)" % jar
    return ":".join(str(j) for j in jars)


def jvm_library():
    """The libjvm.so CMake found for this build, else the one of `java` on PATH."""
    cache = BUILD / "CMakeCache.txt"
    if cache.exists():
        m = re.search(r"^JAVA_JVM_LIBRARY:FILEPATH=(.+)$", cache.read_text(), re.M)
        if m and Path(m.group(1)).exists():
            return Path(m.group(1))
    java = Path(os.path.realpath(shutil.which("java")))
    return java.parent.parent / "lib" / "server" / "libjvm.so"


def java_registry(path, runtime_lib=None, version="17", extra=None):
    """A registry file whose Java runtime entry names `runtime_lib` (default: this machine's JVM)."""
    keys = {JRE_KEY: {"CurrentVersion": version},
            JRE_KEY + "\\" + version: {"RuntimeLib": str(runtime_lib or jvm_library())}}
    keys.update(extra or {})
    return write_registry(path, keys)


def java_config(port, loader, cp, vmoptions=None, idletimeout="0"):
    java = {"classpath": cp, "loaderclass": loader}
    if vmoptions is not None:
        java["vmoptions"] = vmoptions
    return {"port": str(port), "idletimeout": str(idletimeout), "basekey": BASEKEY, "java": java}


def java_request(archive=("zelvo-echo.jar",), code="demo", name="javatest"):
    return request("run/", {"type": "java", "name": name, "archive": list(archive), "code": code})


def java_launcher(factory, tmp_path, loader, cp, vmoptions=None, registry=None, env=None, name="j"):
    """A launcher with its own port, configured for `loader`; the registry names this machine's JVM."""
    port = free_port()
    reg = registry if registry is not None else java_registry(tmp_path / (name + ".reg"))
    merged = dict(JVM_ENV)
    merged.update(env or {})
    launcher = factory(java_config(port, loader, cp, vmoptions), registry=reg, name=name, env=merged)
    return launcher, port


JDK17 = Path("/usr/lib/jvm/java-17-openjdk-amd64")
BOX = "Error en aplicación: "


def used_jvm(launcher):
    """The libjvm.so path the launcher logged it would load, or None."""
    m = re.search(r"Se usará la JVM (\S+)", launcher.log_text())
    return m.group(1) if m else None


def refused_start(launcher, argument, port):
    """Starts `launcher`, asks for the WebSocket and returns (HTTP status, exit code, stderr, log)
    once the launcher has ended."""
    from launcher_support import raw_upgrade, start_listening, status_of
    start_listening(launcher, argument, port)
    status = status_of(raw_upgrade(port))
    code, _, err = launcher.wait()
    return status, code, err, launcher.log_text()
