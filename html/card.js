// The card page: one WebSocket to the launcher, one command, one JSON reply.
"use strict";

(function () {
  const COMMAND = "read abi dg1 dg2 dg7";
  const $ = (id) => document.getElementById(id);

  // Where the launcher listens: ?port=N[&ssl=1], the test page's Base64 JSON query
  // ({"port": "...", "use_ssl": "..."}), or the server this page came from.
  function endpoint() {
    const query = location.search.slice(1);
    let port = "";
    let ssl = location.protocol === "https:";
    const params = new URLSearchParams(query);
    if (params.has("port")) {
      port = params.get("port");
      ssl = params.get("ssl") === "1" || params.get("ssl") === "true";
    } else if (/^[A-Za-z0-9+/%]+=*$/.test(query)) {
      try {
        const obj = JSON.parse(atob(decodeURIComponent(query)));
        if (obj && typeof obj === "object") {
          port = String(obj.port || "");
          ssl = obj.use_ssl === "1" || obj.use_ssl === "true";
        }
      } catch (e) {
        // Not a Base64 JSON query: fall back to this page's own server.
      }
    }
    if (!/^\d{1,5}$/.test(port) || Number(port) < 1 || Number(port) > 65535) {
      port = location.port;
    }
    if (!port) return null;
    return (ssl ? "wss" : "ws") + "://localhost:" + port + "/";
  }

  function setStatus(kind, text) {
    const el = $("status");
    el.className = "status " + kind;
    el.textContent = text;
  }

  function setText(id, value) {
    $(id).textContent = value && value.length ? value : "—";
  }

  const BASE64 = /^[A-Za-z0-9+/]*={0,2}$/;

  function setImage(imgId, missingId, base64) {
    const img = $(imgId);
    const missing = $(missingId);
    if (typeof base64 === "string" && base64.length > 0 && base64.length % 4 === 0 &&
        BASE64.test(base64)) {
      img.onerror = () => { img.hidden = true; missing.hidden = false; };
      img.src = "data:image/png;base64," + base64;
      img.hidden = false;
      missing.hidden = true;
    } else {
      img.removeAttribute("src");
      img.hidden = true;
      missing.hidden = false;
    }
  }

  const SEXO = { F: "Femenino", M: "Masculino" };

  function show(body) {
    const str = (k) => (typeof body[k] === "string" ? body[k] : "");
    setText("apellidos", [str("primerAp"), str("segundoAp")].filter(Boolean).join(" "));
    setText("preNombres", str("preNombres"));
    const cui = str("cui") + (str("digito") ? " - " + str("digito") : "");
    setText("cui", cui);
    $("cuiBand").textContent = cui;
    setText("genero", SEXO[str("genero")] || str("genero"));
    setText("fechaNac", str("fechaNac"));
    setText("fechaExp", str("fechaExp"));
    setText("ubigeo", str("ubigeo"));
    setText("grupoVotacion", str("grupoVotacion"));
    const mrz = str("mrz");
    $("mrz").textContent = mrz.length > 44 ? mrz.slice(0, 44) + "\n" + mrz.slice(44) : mrz;
    $("mrz").hidden = mrz.length === 0;
    setImage("photo", "photoMissing", body.dg2);
    setImage("signature", "signatureMissing", body.dg7);
    $("card").hidden = false;
  }

  function read() {
    const url = endpoint();
    const button = $("read");
    if (!url) {
      setStatus("error", "No se sabe en qué puerto escucha el lanzador: abra la página " +
                "desde el lanzador o añada ?port=NÚMERO a la dirección.");
      return;
    }
    button.disabled = true;
    setStatus("busy", "Conectando con el lanzador…");
    let answered = false;
    let ws;
    try {
      ws = new WebSocket(url);
    } catch (e) {
      setStatus("error", "No se pudo abrir la conexión con el lanzador (" + url + ").");
      button.disabled = false;
      return;
    }
    ws.onopen = () => {
      setStatus("busy", "Leyendo la tarjeta… no la retire del lector.");
      ws.send(COMMAND);
    };
    ws.onmessage = (event) => {
      if (answered) return;
      answered = true;
      let reply;
      try {
        reply = JSON.parse(event.data);
      } catch (e) {
        reply = null;
      }
      if (!reply || typeof reply !== "object" || typeof reply.body !== "object" ||
          reply.body === null) {
        setStatus("error", "El lanzador envió una respuesta que no se entiende.");
      } else if (reply.status === "0") {
        show(reply.body);
        setStatus("ok", "Lectura completada.");
        document.body.dataset.read = "ok";
      } else {
        const msg = typeof reply.body.message === "string" ? reply.body.message : "";
        setStatus("error", "No se pudo leer la tarjeta: " + (msg || "error sin descripción") + ".");
        document.body.dataset.read = "error";
      }
      try { ws.close(); } catch (e) { /* already closing */ }
    };
    ws.onerror = () => {
      if (!answered) {
        setStatus("error", "No se pudo conectar con el lanzador en " + url +
                  ". Compruebe que está en marcha.");
      }
    };
    ws.onclose = () => {
      button.disabled = false;
      button.textContent = "Leer de nuevo";
      if (!answered && !$("status").classList.contains("error")) {
        setStatus("error", "El lanzador cerró la conexión sin responder.");
      }
    };
  }

  document.addEventListener("DOMContentLoaded", () => {
    const url = endpoint();
    $("endpoint").textContent = url ? "Lanzador: " + url : "";
    $("read").addEventListener("click", read);
    if (new URLSearchParams(location.search).get("auto") === "1") read();
  });
})();
