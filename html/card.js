// The card page: one connection to the launcher (zelvo.js), one command, one JSON reply,
// each time the user presses "Leer tarjeta" and never otherwise.
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
    // This page's own server is reached under the name the page came from.
    const host = port === location.port && location.hostname ? location.hostname : "localhost";
    return { port: port, ssl: ssl, host: host };
  }

  function describe(where) {
    return (where.ssl ? "wss" : "ws") + "://" + where.host + ":" + where.port + "/";
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

  function showReply(data) {
    let reply;
    try {
      reply = JSON.parse(data);
    } catch (e) {
      reply = null;
    }
    if (!reply || typeof reply !== "object" || typeof reply.body !== "object" || reply.body === null) {
      setStatus("error", "El lanzador envió una respuesta que no se entiende.");
      document.body.dataset.read = "error";
    } else if (reply.status === "0") {
      show(reply.body);
      setStatus("ok", "Lectura completada.");
      document.body.dataset.read = "ok";
    } else {
      const msg = typeof reply.body.message === "string" ? reply.body.message : "";
      setStatus("error", "No se pudo leer la tarjeta: " + (msg || "error sin descripción") + ".");
      document.body.dataset.read = "error";
    }
  }

  async function read() {
    const where = endpoint();
    const button = $("read");
    if (!where) {
      setStatus("error", "No se sabe en qué puerto escucha el lanzador: abra la página " +
                "desde el lanzador o añada ?port=NÚMERO a la dirección.");
      return;
    }
    button.disabled = true;
    setStatus("busy", "Conectando con el lanzador…");
    let connection = null;
    try {
      connection = await Zelvo.connect(null, where);
      setStatus("busy", "Leyendo la tarjeta… no la retire del lector.");
      connection.send(COMMAND);
      showReply(await connection.receive());
    } catch (e) {
      setStatus("error", e instanceof Zelvo.ZelvoError ? e.message : "Error inesperado: " + e);
      document.body.dataset.read = "error";
    } finally {
      if (connection) connection.close();
      button.disabled = false;
      button.textContent = "Leer de nuevo";
    }
  }

  document.addEventListener("DOMContentLoaded", () => {
    const where = endpoint();
    $("endpoint").textContent = where ? "Lanzador: " + describe(where) : "";
    // Only the user's click reads the card: no address, however it was reached, does.
    $("read").addEventListener("click", read);
  });
})();
