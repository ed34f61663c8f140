// Test page of the bridge: it reads its parameters (Base64 of a JSON object with
// "port", "use_ssl" and "idletimeout") after "?", connects to the launcher on
// this computer and shows every answer it gets.
(function () {
  "use strict";

  var ws = null;
  var $ = function (id) { return document.getElementById(id); };

  function leerParametros() {
    var texto = window.location.search.replace(/^\?/, "");
    if (!texto) return {};
    try {
      // Base64 of UTF-8 JSON; a "+" may arrive as a space in some address bars.
      var binario = window.atob(decodeURIComponent(texto).replace(/ /g, "+"));
      var bytes = new Uint8Array(binario.length);
      for (var i = 0; i < binario.length; i++) bytes[i] = binario.charCodeAt(i);
      var valor = JSON.parse(new TextDecoder("utf-8").decode(bytes));
      return valor && typeof valor === "object" ? valor : {};
    } catch (e) {
      anotar("error", "Los parámetros de la página no son válidos.");
      return {};
    }
  }

  function direccion(parametros) {
    var seguro = parametros.use_ssl === "1" || parametros.use_ssl === "true";
    var puerto = /^\d+$/.test(parametros.port || "") ? parametros.port : window.location.port;
    var equipo = window.location.hostname || "localhost";
    return (seguro ? "wss://" : "ws://") + equipo + (puerto ? ":" + puerto : "") + "/";
  }

  function ponerEstado(clase, texto) {
    var estado = $("estado");
    estado.className = "estado " + clase;
    estado.textContent = texto;
    var abierto = clase === "conectado";
    $("enviar").disabled = !abierto;
    $("enviarArchivo").disabled = !abierto;
    $("desconectar").disabled = !abierto;
    $("conectar").disabled = clase === "conectado" || clase === "conectando";
  }

  function anotar(clase, texto) {
    var item = document.createElement("li");
    item.className = clase;
    var hora = document.createElement("span");
    hora.className = "hora";
    hora.textContent = new Date().toLocaleTimeString("es");
    var mensaje = document.createElement("span");
    mensaje.className = "mensaje";
    mensaje.textContent = texto;
    item.appendChild(hora);
    item.appendChild(mensaje);
    $("respuestas").appendChild(item);
  }

  function conectar() {
    var url = direccion(leerParametros());
    $("direccion").textContent = url;
    ponerEstado("conectando", "Conectando…");
    try {
      ws = new WebSocket(url);
    } catch (e) {
      ponerEstado("desconectado", "Sin conectar");
      anotar("error", "No se pudo abrir la conexión: " + e.message);
      return;
    }
    ws.binaryType = "arraybuffer";
    ws.onopen = function () {
      ponerEstado("conectado", "Conectado");
    };
    ws.onmessage = function (evento) {
      if (typeof evento.data === "string") {
        anotar("recibido", evento.data);
      } else {
        anotar("recibido", "Binario de " + evento.data.byteLength + " bytes");
      }
    };
    ws.onerror = function () {
      anotar("error", "Error en la conexión con el componente.");
    };
    ws.onclose = function (evento) {
      ws = null;
      ponerEstado("desconectado", "Conexión cerrada");
      anotar("aviso", "Conexión cerrada (código " + evento.code + ").");
    };
  }

  $("conectar").addEventListener("click", conectar);
  $("desconectar").addEventListener("click", function () {
    if (ws) ws.close();
  });
  $("limpiar").addEventListener("click", function () {
    $("respuestas").textContent = "";
  });

  $("formTexto").addEventListener("submit", function (evento) {
    evento.preventDefault();
    if (!ws || ws.readyState !== WebSocket.OPEN) return;
    var texto = $("texto").value;
    ws.send(texto);
    anotar("enviado", "Enviado: " + texto);
  });

  $("formArchivo").addEventListener("submit", function (evento) {
    evento.preventDefault();
    var archivo = $("archivo").files[0];
    if (!archivo) {
      anotar("error", "Elija primero un archivo.");
      return;
    }
    if (!ws || ws.readyState !== WebSocket.OPEN) return;
    var lector = new FileReader();
    lector.onload = function () {
      if (!ws || ws.readyState !== WebSocket.OPEN) return;
      ws.send(lector.result);
      anotar("enviado", "Enviado el archivo " + archivo.name + " (" + archivo.size + " bytes)");
    };
    lector.onerror = function () {
      anotar("error", "No se pudo leer el archivo " + archivo.name + ".");
    };
    lector.readAsArrayBuffer(archivo);
  });

  // Opened by the launcher with its parameters: connect at once, before its
  // idle time-out ends the wait.
  if (window.location.search.length > 1) conectar();
})();
