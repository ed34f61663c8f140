import pytest

from zelvo_harness import Launcher


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
