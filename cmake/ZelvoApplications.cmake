# What every installation registers (the one-folder install and the Debian
# package through launcher/install_registry.cmake, the Windows package through
# packaging/windows/package.cmake): the base key of the example configuration,
# and below it one key per application with its plug-in (the file name without
# the system's suffix) and what the consent window calls it ("... quiere usar
# <description> en este equipo").
set(ZELVO_BASEKEY "SOFTWARE\\Zelvo\\")
set(ZELVO_APPLICATIONS vexa quillet)
set(ZELVO_APPLICATION_PLUGIN_vexa vexa-tools)
set(ZELVO_APPLICATION_PLUGIN_quillet quillet-wrapper)
set(ZELVO_APPLICATION_DESCRIPTION_vexa "la tarjeta de identidad Vexa (lectura de datos y cambio de PIN)")
set(ZELVO_APPLICATION_DESCRIPTION_quillet "la firma de documentos con Quillet")
