# Runs at install time (cmake --install): writes the registry file of the
# installed plug-ins and the desktop entry of the zelvo: URL scheme, both with
# the absolute paths of the prefix being installed.
#   ZELVO_BASEKEY      registry key prefix, e.g. SOFTWARE\Zelvo\
#   ZELVO_PLUGINS_DIR  plug-in folder below the prefix
set(prefix "${CMAKE_INSTALL_PREFIX}")
set(stage "$ENV{DESTDIR}${prefix}")

# .reg strings escape backslashes and quotes.
function(reg_quote out text)
  string(REPLACE "\\" "\\\\" text "${text}")
  string(REPLACE "\"" "\\\"" text "${text}")
  set(${out} "\"${text}\"" PARENT_SCOPE)
endfunction()

# Application name -> plug-in file.
set(plugin_names vexa quillet)
set(plugin_file_vexa vexa-tools.so)
set(plugin_file_quillet quillet-wrapper.so)

set(reg "Windows Registry Editor Version 5.00\n\n")
string(APPEND reg "; Written by the Zelvo installer. Each application is a key below the\n")
string(APPEND reg "; configured \"basekey\"; \"RuntimeLib\" names its plug-in library.\n")
foreach(name ${plugin_names})
  set(file "${ZELVO_PLUGINS_DIR}/${plugin_file_${name}}")
  if(EXISTS "${stage}/${file}")
    reg_quote(lib "${prefix}/${file}")
    string(APPEND reg "\n[HKEY_LOCAL_MACHINE\\${ZELVO_BASEKEY}${name}]\n\"RuntimeLib\"=${lib}\n")
  endif()
endforeach()
message(STATUS "Installing: ${stage}/registry.d/zelvo.reg")
file(WRITE "${stage}/registry.d/zelvo.reg" "${reg}")

# Desktop entry: Exec arguments are quoted, and inside quotes ", `, $ and \ are
# escaped; the file format then doubles every backslash again.
string(REGEX REPLACE "([\"`$\\\\])" "\\\\\\1" exec_path "${prefix}/launcher")
string(REPLACE "\\" "\\\\" exec_path "${exec_path}")
string(REPLACE "\\" "\\\\" work_path "${prefix}")
set(desktop "[Desktop Entry]
Type=Application
Name=Zelvo
Comment=Puente entre las páginas web y el equipo del usuario
Exec=\"${exec_path}\" %u
Path=${work_path}
MimeType=x-scheme-handler/zelvo;
NoDisplay=true
Terminal=false
")
message(STATUS "Installing: ${stage}/zelvo-launcher.desktop")
file(WRITE "${stage}/zelvo-launcher.desktop" "${desktop}")
