// zelvo.js: lets a web page use the Zelvo bridge on the user's computer.
//
//   <script src="zelvo.js"></script>
//   const conexion = await Zelvo.connect({ type: "windows", name: "vexa", port: "8765" });
//   conexion.send("read abi dg1");
//   const respuesta = await conexion.receive();
//   conexion.close();
//
// connect() opens zelvo://run/<Base64 of the request as compact JSON> in a hidden frame
// (the browser hands it to the launcher; verb "test" for the test application), waits until
// the launcher listens on localhost:PORT or the time limit passes, then connects
// ws://localhost:PORT/ (wss:// with TLS). While the launcher listens but refuses the socket
// (its user is still deciding whether this site may use it) it tries again, so that an
// answer that takes a minute still connects the page. Without a request it only connects
// (the launcher's own pages). Every failure is a ZelvoError whose message is Spanish text a
// page may show as it is, and whose code says which failure it was.
(function (global) {
  "use strict";

  const MESSAGES = {
    "bad-request": "La página pidió algo que el componente Zelvo no entiende",
    "not-started": "No se pudo iniciar el componente Zelvo en este equipo. Compruebe que está " +
                   "instalado y, si el navegador pregunta si desea abrir Zelvo o si este sitio " +
                   "puede acceder a otras aplicaciones y servicios de este dispositivo, acepte.",
    "refused": "El componente Zelvo no aceptó la conexión de esta página: no se autorizó a este " +
               "sitio, o el componente está atendiendo a otra página.",
    "closed": "Se cerró la conexión con el componente Zelvo.",
  };

  const DEFAULT_PORT = "8765";
  const DEFAULT_TIMEOUT_MS = 30000;
  // Longer than the launcher's consent window stays open (60 s).
  const DEFAULT_BUSY_TIMEOUT_MS = 90000;
  const RETRY_MS = 500;
  const REFUSED_RETRY_MS = 1000;
  const WAITING_MS = 2000;
  const VERBS = ["run", "test"];

  class ZelvoError extends Error {
    constructor(code, detail, closeCode) {
      super(MESSAGES[code] + (detail ? ": " + detail : ""));
      this.name = "ZelvoError";
      this.code = code;
      if (closeCode !== undefined) this.closeCode = closeCode;
    }
  }

  // Request values travel as JSON strings: numbers as digits, switches as "1"/"0", lists
  // (the Java host's "archive") as lists of strings.
  function requestValue(key, value) {
    if (typeof value === "string") return value;
    if (typeof value === "number" && Number.isFinite(value)) return String(value);
    if (typeof value === "boolean") return value ? "1" : "0";
    if (Array.isArray(value)) return value.map((v) => requestValue(key, v));
    throw new ZelvoError("bad-request", "el valor de «" + key + "» no es un texto");
  }

  function base64Utf8(text) {
    const bytes = new TextEncoder().encode(text);
    let binary = "";
    for (let i = 0; i < bytes.length; i++) binary += String.fromCharCode(bytes[i]);
    return btoa(binary);
  }

  // The URL that starts the launcher: zelvo://VERB/BASE64(compact JSON).
  function requestUrl(request, verb) {
    if (!request || typeof request !== "object" || Array.isArray(request)) {
      throw new ZelvoError("bad-request", "falta la petición");
    }
    const strings = {};
    for (const key of Object.keys(request)) {
      if (request[key] !== undefined && request[key] !== null) strings[key] = requestValue(key, request[key]);
    }
    return "zelvo://" + (verb || "run") + "/" + base64Utf8(JSON.stringify(strings));
  }

  function isTrue(value) {
    return value === true || value === 1 || value === "1" || value === "true";
  }

  function settings(request, options) {
    const o = options || {};
    const asked = request && request.port !== undefined && String(request.port) !== "0" ? request.port : undefined;
    const port = String(o.port !== undefined ? o.port : asked !== undefined ? asked : DEFAULT_PORT);
    if (!/^\d{1,5}$/.test(port) || Number(port) < 1 || Number(port) > 65535) {
      throw new ZelvoError("bad-request", "el puerto «" + port + "» no es válido");
    }
    const ssl = o.ssl !== undefined ? isTrue(o.ssl) : isTrue(request && request.use_ssl);
    const host = o.host || "localhost";
    const timeout = Number(o.timeout !== undefined ? o.timeout : DEFAULT_TIMEOUT_MS);
    const busyTimeout = Number(o.busyTimeout !== undefined ? o.busyTimeout : DEFAULT_BUSY_TIMEOUT_MS);
    if (!(timeout > 0) || !(busyTimeout > 0)) throw new ZelvoError("bad-request", "el tiempo de espera no es válido");
    const verb = o.verb !== undefined ? o.verb : "run";
    if (VERBS.indexOf(verb) < 0) throw new ZelvoError("bad-request", "la orden «" + verb + "» no existe");
    if (o.onWaiting !== undefined && typeof o.onWaiting !== "function") {
      throw new ZelvoError("bad-request", "onWaiting no es una función");
    }
    const authority = (host.indexOf(":") >= 0 && host[0] !== "[" ? "[" + host + "]" : host) + ":" + port;
    return {
      socketUrl: (ssl ? "wss://" : "ws://") + authority + "/",
      pageUrl: (ssl ? "https://" : "http://") + authority + "/",
      timeout: timeout,
      busyTimeout: busyTimeout,
      verb: verb,
      onWaiting: o.onWaiting,
    };
  }

  // A hidden frame navigated to the zelvo: URL makes the browser hand it to the desktop
  // while this page stays where it is.
  function launch(url) {
    const frame = document.createElement("iframe");
    frame.hidden = true;
    frame.style.display = "none";
    frame.setAttribute("aria-hidden", "true");
    (document.body || document.documentElement).appendChild(frame);
    frame.src = url;
    setTimeout(() => frame.remove(), 10000);
  }

  const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

  // Resolves with the open socket, or with null when it closed before opening.
  function openSocket(url) {
    return new Promise((resolve) => {
      let ws;
      try {
        ws = new WebSocket(url);
      } catch (e) {
        resolve(null);
        return;
      }
      ws.binaryType = "arraybuffer";
      ws.onopen = () => resolve(ws);
      ws.onclose = () => resolve(null);
    });
  }

  // Whether the launcher listens: any HTTP answer from its port, opaque to this page. The
  // WebSocket itself is opened only then, so a failed upgrade means the launcher refused
  // it (a WebSocket error says no more), and no browser slows down repeated WebSocket
  // attempts while the launcher is still starting.
  async function listening(pageUrl) {
    try {
      await fetch(pageUrl, { mode: "no-cors", cache: "no-store", credentials: "omit" });
      return true;
    } catch (e) {
      return false;
    }
  }

  class ZelvoConnection {
    constructor(ws) {
      this._ws = ws;
      this._queue = [];
      this._waiting = [];
      this._closeCode = undefined;
      ws.onmessage = (event) => {
        const waiter = this._waiting.shift();
        if (waiter) waiter.resolve(event.data);
        else this._queue.push(event.data);
      };
      ws.onclose = (event) => {
        this._closeCode = event.code;
        for (const waiter of this._waiting.splice(0)) waiter.reject(this._closedError());
      };
    }

    _closedError() {
      return new ZelvoError("closed", "", this._closeCode);
    }

    get isOpen() {
      return this._ws.readyState === WebSocket.OPEN;
    }

    // A text (string) or binary message (ArrayBuffer, typed array or Blob).
    send(data) {
      if (!this.isOpen) throw this._closedError();
      this._ws.send(data);
    }

    // The next message: a string for text, an ArrayBuffer for binary. Rejects with the
    // "closed" error once the connection has closed and nothing is left to read.
    receive() {
      if (this._queue.length) return Promise.resolve(this._queue.shift());
      if (this._closeCode !== undefined) return Promise.reject(this._closedError());
      return new Promise((resolve, reject) => this._waiting.push({ resolve, reject }));
    }

    // Closes the connection; resolves once it is closed.
    close() {
      if (this._closeCode !== undefined) return Promise.resolve();
      return new Promise((resolve) => {
        this._ws.addEventListener("close", () => resolve());
        this._ws.close();
      });
    }
  }

  // Starts the launcher with `request` (unless it is null) and connects to it.
  // options: verb ("run", or "test" for the test application), port (default the
  // request's port, else 8765), ssl (default the request's use_ssl), host ("localhost"),
  // timeout (milliseconds to wait for the launcher to listen, default 30000), busyTimeout
  // (milliseconds to go on trying while it listens but refuses the page, default 90000),
  // onWaiting (called once when the launcher does not listen 2 s after the launch: the
  // browser may be asking the user whether to open Zelvo).
  async function connect(request, options) {
    const s = settings(request, options);
    const launched = request !== null && request !== undefined;
    if (launched) launch(requestUrl(request, s.verb));
    const deadline = Date.now() + s.timeout;
    let waiting = launched && s.onWaiting ? setTimeout(() => {
      waiting = null;
      try {
        s.onWaiting();
      } catch (e) {
        // The page's own mistake must not stop the connection.
      }
    }, WAITING_MS) : null;
    const answered = () => {
      if (waiting) clearTimeout(waiting);
      waiting = null;
    };
    let refusedSince = null;
    try {
      for (;;) {
        if (await listening(s.pageUrl)) {
          answered();
          const ws = await openSocket(s.socketUrl);
          if (ws) return new ZelvoConnection(ws);
          // Refused while it listens: its user may still be deciding (the try after the
          // answer is admitted), or it serves another page.
          if (refusedSince === null) refusedSince = Date.now();
          if (Date.now() - refusedSince >= s.busyTimeout) throw new ZelvoError("refused");
          await sleep(REFUSED_RETRY_MS);
          continue;
        }
        // It refused this page and ended: the user said no.
        if (refusedSince !== null) throw new ZelvoError("refused");
        if (Date.now() + RETRY_MS > deadline) throw new ZelvoError("not-started");
        await sleep(RETRY_MS);
      }
    } finally {
      answered();
    }
  }

  global.Zelvo = { connect, requestUrl, ZelvoError, ZelvoConnection, MESSAGES };
})(typeof window !== "undefined" ? window : globalThis);
