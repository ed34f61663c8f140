// Test page of the bridge: it reads its parameters (Base64 of a JSON object with
// "port", "use_ssl" and "idletimeout") after "?", connects to the launcher on
// this computer through zelvo.js when the user presses "Conectar", and shows
// every answer it gets.
(function () {
  "use strict";

  var conexion = null;
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

  function destino(parametros) {
    return {
      ssl: parametros.use_ssl === "1" || parametros.use_ssl === "true",
      port: /^\d+$/.test(parametros.port || "") ? parametros.port : window.location.port,
      host: window.location.hostname || "localhost",
    };
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

  function abierta() {
    return conexion !== null && conexion.isOpen;
  }

  function conectar() {
    var d = destino(leerParametros());
    $("direccion").textContent = (d.ssl ? "wss://" : "ws://") + d.host + ":" + d.port + "/";
    ponerEstado("conectando", "Conectando…");
    Zelvo.connect(null, d).then(function (c) {
      conexion = c;
      ponerEstado("conectado", "Conectado");
      escuchar(c);
    }, function (e) {
      ponerEstado("desconectado", "Sin conectar");
      anotar("error", e.message);
    });
  }

  // Shows every message until the connection closes.
  function escuchar(c) {
    c.receive().then(function (dato) {
      if (typeof dato === "string") {
        anotar("recibido", dato);
      } else {
        anotar("recibido", "Binario de " + dato.byteLength + " bytes");
      }
      escuchar(c);
    }, function (e) {
      conexion = null;
      ponerEstado("desconectado", "Conexión cerrada");
      anotar("aviso", "Conexión cerrada (código " + e.closeCode + ").");
    });
  }

  $("conectar").addEventListener("click", conectar);
  $("desconectar").addEventListener("click", function () {
    if (conexion) conexion.close();
  });
  $("limpiar").addEventListener("click", function () {
    $("respuestas").textContent = "";
  });

  $("formTexto").addEventListener("submit", function (evento) {
    evento.preventDefault();
    if (!abierta()) return;
    var texto = $("texto").value;
    conexion.send(texto);
    anotar("enviado", "Enviado: " + texto);
  });

  $("formArchivo").addEventListener("submit", function (evento) {
    evento.preventDefault();
    var archivo = $("archivo").files[0];
    if (!archivo) {
      anotar("error", "Elija primero un archivo.");
      return;
    }
    if (!abierta()) return;
    var lector = new FileReader();
    lector.onload = function () {
      if (!abierta()) return;
      conexion.send(lector.result);
      anotar("enviado", "Enviado el archivo " + archivo.name + " (" + archivo.size + " bytes)");
    };
    lector.onerror = function () {
      anotar("error", "No se pudo leer el archivo " + archivo.name + ".");
    };
    lector.readAsArrayBuffer(archivo);
  });

  // Nothing happens before the user presses "Conectar": another site that sends the
  // browser here cannot make this page act.
})();
