# Runs at install time (cmake --install): writes the registry file of the
# installed plug-ins and the desktop entry of the zelvo: URL scheme, both with
# the absolute paths of the prefix being installed.
#   ZELVO_APP_DIR         folder of the programs, below the prefix ("." or lib/zelvo)
#   ZELVO_PLUGINS_DIR     plug-in folder below the prefix
#   ZELVO_CONFIG_DIR      folder of application.config and registry.d: below the
#                         prefix, or absolute (/etc/zelvo)
#   ZELVO_DESKTOP_DIR     folder of the desktop entry, below the prefix
#   ZELVO_PACKAGE_LAYOUT  ON for the Debian package's layout
set(prefix "${CMAKE_INSTALL_PREFIX}")

# An absolute folder as the installed system will see it, and where to write it now.
function(installed_dir out dir)
  if(IS_ABSOLUTE "${dir}")
    set(path "${dir}")
  elseif(dir STREQUAL ".")
    set(path "${prefix}")
  else()
    set(path "${prefix}/${dir}")
  endif()
  set(${out} "${path}" PARENT_SCOPE)
  set(${out}_stage "$ENV{DESTDIR}${path}" PARENT_SCOPE)
endfunction()
installed_dir(app "${ZELVO_APP_DIR}")
installed_dir(plugins "${ZELVO_PLUGINS_DIR}")
installed_dir(config "${ZELVO_CONFIG_DIR}")
installed_dir(desktop "${ZELVO_DESKTOP_DIR}")

# .reg strings escape backslashes and quotes.
function(reg_quote out text)
  string(REPLACE "\\" "\\\\" text "${text}")
  string(REPLACE "\"" "\\\"" text "${text}")
  set(${out} "\"${text}\"" PARENT_SCOPE)
endfunction()

# The base key, the applications, their plug-ins and descriptions.
include(${CMAKE_CURRENT_LIST_DIR}/../cmake/ZelvoApplications.cmake)

set(reg "Windows Registry Editor Version 5.00\n\n")
string(APPEND reg "; Written by the Zelvo installer. Each application is a key below the\n")
string(APPEND reg "; configured \"basekey\"; \"RuntimeLib\" names its plug-in library, \"Description\"\n")
string(APPEND reg "; what the consent window calls it.\n")
foreach(name ${ZELVO_APPLICATIONS})
  set(file "${ZELVO_APPLICATION_PLUGIN_${name}}.so")
  if(EXISTS "${plugins_stage}/${file}")
    reg_quote(lib "${plugins}/${file}")
    reg_quote(description "${ZELVO_APPLICATION_DESCRIPTION_${name}}")
    string(APPEND reg "\n[HKEY_LOCAL_MACHINE\\${ZELVO_BASEKEY}${name}]\n\"RuntimeLib\"=${lib}\n")
    string(APPEND reg "\"Description\"=${description}\n")
  endif()
endforeach()
message(STATUS "Installing: ${config_stage}/registry.d/zelvo.reg")
file(WRITE "${config_stage}/registry.d/zelvo.reg" "${reg}")

# Desktop entry. xdg-open without a desktop session neither honours Path= nor reads
# quotes: plain folders go unquoted, and env -C sets the working folder itself. Only
# a one-folder install under a folder with blanks or quotes needs the quoted form
# (inside quotes ", `, $ and \ are escaped) and Path=. The file format then
# doubles every backslash again.
if(NOT "${app}${config}" MATCHES "[ \t\"'`$\\\\]")
  set(exec "env -C ${config} ${app}/launcher %u")
elseif(ZELVO_PACKAGE_LAYOUT)
  message(FATAL_ERROR "The package layout needs folders without blanks or quotes: ${app}, ${config}")
else()
  string(REGEX REPLACE "([\"`$\\\\])" "\\\\\\1" exec_path "${app}/launcher")
  set(exec "\"${exec_path}\" %u")
endif()
string(REPLACE "\\" "\\\\" exec "${exec}")
string(REPLACE "\\" "\\\\" work_path "${config}")
set(entry "[Desktop Entry]
Type=Application
Name=Zelvo
Comment=Puente entre las páginas web y el equipo del usuario
Exec=${exec}
Path=${work_path}
MimeType=x-scheme-handler/zelvo;
NoDisplay=true
Terminal=false
")
message(STATUS "Installing: ${desktop_stage}/zelvo-launcher.desktop")
file(WRITE "${desktop_stage}/zelvo-launcher.desktop" "${entry}")
