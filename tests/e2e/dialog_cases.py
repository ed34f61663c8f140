"""What the user does in zelvo-dialog and what must come back: the tables that the
GTK program (test_dialog.py, test_dialog_consent.py) and the Windows program
(test_dialog_win32.py) both pass, as they share their arguments and answers.
Only the browser dialog's keyboard paths differ between the two."""

BROWSER = ["browser", "--title", "Probar Componente - Zelvo"]
MESSAGE = ["message", "--icon", "info", "--title", "Aviso", "--text", "Texto"]
AUTH, SIGN = ["pin", "--type", "auth"], ["pin", "--type", "sign"]
CONSENT_SITE = "https://tramites.example.gob:8443"
APPLICATION = "el lector del DNI electrónico"
CONSENT = ["consent", "--origin", CONSENT_SITE, "--application", APPLICATION]
TITLES = {"browser": "^Probar Componente - Zelvo$", "message": "^Aviso", "consent": "^Permiso de acceso$",
          "auth": "^Cambiar PIN de autenticación$", "sign": "^Cambiar PIN de firma$"}
PINS = ["1234", "Tab", "5678", "Tab", "5678"]


def title(args):
    """The title of the window that `args` open."""
    return TITLES[args[2] if args[0] == "pin" else args[0]]


# (arguments, what the user does: keys, digits typed, or "close" from the window frame,
#  exit code, standard output)
MESSAGE_RUNS = [
    # Return, Escape or the frame dismiss a message box.
    (["message", "--icon", "error", "--title", "Aviso", "--text", "No se puede iniciar"], ["Return"], 0, ""),
    (["message", "--icon", "warning", "--title", "Aviso", "--text", "Texto"], ["Escape"], 0, ""),
    (MESSAGE, ["close"], 0, ""),
]
PIN_RUNS = [
    # "Aceptar" is the default button; the fields take at most eight characters.
    (AUTH, ["1234", "Tab", "00987654", "Tab", "00987654", "Return"], 0, "1234\n00987654\n"),
    (SIGN, ["123456789", "Tab", "9876543210", "Tab", "98765432", "Return"], 0, "12345678\n98765432\n"),
    (AUTH, PINS + ["Escape"], 1, ""),
    (AUTH, PINS + ["Tab", "Tab", "space"], 1, ""),  # past "Aceptar" to "Cancelar"
    (SIGN, PINS + ["close"], 2, ""),
]

# The consent window starts on "Rechazar"; its tab order is "Rechazar", "Permitir",
# the site's text, "Recordar mi decisión para este sitio". (keys, (exit code, output))
CONSENT_WAYS = [
    (["Escape"], (1, "0\n")),
    (["Return"], (1, "0\n")),                                   # "Rechazar" is the default
    (["Tab", "space"], (0, "0\n")),                             # "Permitir"
    (["Tab", "Tab", "Tab", "space", "Tab", "Tab", "space"], (0, "1\n")),  # tick the box, then "Permitir"
    (["Tab", "Tab", "Tab", "space", "Escape"], (1, "1\n")),     # refused and remembered
    (["close"], (1, "0\n")),
]

# Typed fields of the PIN dialog, the message box's caption and text, and the
# field the keyboard must be back in after the box (None: where it was, the third).
REQUIRED = "Información incorrecta."  # the caption of the "es requerido" messages
INVALID = "Información incorrecta"
INVALID_PINS = [
    (("", "5678", "5678"), REQUIRED, "El PIN actual es requerido", 0),
    (("12a4", "5678", "5678"), INVALID, "El PIN actual solo debe tener dígitos (0-9).", 0),
    (("1234", "", "5678"), REQUIRED, "El PIN nuevo es requerido", 1),
    (("1234", "5x78", "5678"), INVALID, "El PIN nuevo solo debe tener dígitos (0-9).", 1),
    (("1234", "5678", ""), REQUIRED, "La confirmación del PIN nuevo es requerido", 2),
    (("1234", "5678", "56 8"), INVALID, "La confirmación del PIN nuevo solo debe tener dígitos (0-9).", 2),
    (("1234", "5678", "5679"), INVALID, "El PIN nuevo no es igual a la confirmación del PIN nuevo.", None),
]
INVALID_PIN_IDS = [case[2] for case in INVALID_PINS]

# Arguments refused with exit code 3, and the words on standard error.
BAD_ARGUMENTS = [
    ([], "Falta el diálogo a mostrar"),
    (["pin", "--type", "Auth"], "Tipo de PIN no válido: Auth"),
    (["browser", "Firefox"], "Falta la opción --title"),
    (["message", "--icon", "error", "--title", "T", "--text"], "Falta el valor de la opción --text"),
    (["pin", "--type", "auth", "--display", ":0"], "Opción desconocida: --display"),
    (["consent", "--origin", CONSENT_SITE], "Falta la opción --application"),
]
