"""Headless Chromium on a page of another site (a small local HTTP server): it cannot
make the launcher's own pages act, neither by sending the browser to them nor by framing
them. (Its WebSocket, admitted or refused: test_page_client.py and test_site_permission.py.)"""
import pytest

from zelvo_harness import Chromium, chromium_missing, echo_request, linux_only, site

pytestmark = [pytest.mark.skipif(chromium_missing() is not None, reason=str(chromium_missing())), linux_only("the browser runs start the Linux launcher")]


SENDS = '<!doctype html><title>Ajeno</title><script>location = "http://localhost:%d/card.html?auto=1";</script>'
FRAMES = '<!doctype html><title>Ajeno</title><iframe src="http://localhost:%d/card.html?auto=1"></iframe>'


@pytest.mark.parametrize("foreign, shown", [
    (SENDS, "card.html?auto=1"),   # the card page opens, and does nothing until the user clicks
    (FRAMES, "/index.html"),       # the card page is not shown inside another site
], ids=["sends-the-browser", "frames-the-page"])
def test_another_site_cannot_make_the_launchers_pages_act(serve, tmp_path, foreign, shown):
    launcher = serve(echo_request())
    with site(tmp_path / "site", {"index.html": foreign % launcher.port}) as origin:
        result = Chromium(tmp_path / "browser", "visit").show(origin + "/index.html")
    assert "error" not in result, result
    assert result["url"].endswith(shown)
    if foreign is FRAMES:
        assert all(not url.startswith("http://localhost") for url in result["frames"]), result
    log = launcher.log_text()
    assert "Petición HTTP GET /card.html?auto=1" in log  # the browser did ask for it
    assert "Página del propio lanzador" not in log and "Se aceptará la petición de conexión" not in log
    # (The headers of every kind of answer: test_server_http.)
