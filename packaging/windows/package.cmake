# Builds the Windows Installer package of one Windows build with wixl (Debian's
# msitools):
#   cmake -DZELVO_MSI_SETTINGS=<build>/packaging/windows/msi-settings.cmake
#         -DZELVO_MSI_OUT=<file.msi> [-DZELVO_MSI_VERSION=1.2.3] -P package.cmake
# The version defaults to the project's; another one packs the same files as
# another release (the tests make an "older" package so). With ZELVO_SIGN_CERT
# and ZELVO_SIGN_KEY in the environment (ZELVO_SIGN_PASSFILE for an encrypted
# key), every program and DLL is signed with osslsigncode before it goes in,
# and the package after.
cmake_minimum_required(VERSION 3.25)
include(${ZELVO_MSI_SETTINGS})
include(${ZELVO_SOURCE}/cmake/ZelvoApplications.cmake)
set(here ${CMAKE_CURRENT_LIST_DIR})
if(NOT ZELVO_MSI_VERSION)
  set(ZELVO_MSI_VERSION ${ZELVO_VERSION})
endif()
if(NOT ZELVO_MSI_VERSION MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)$")
  message(FATAL_ERROR "A package version is major.minor.patch: ${ZELVO_MSI_VERSION}")
endif()
math(EXPR next_patch "${CMAKE_MATCH_3} + 1")
set(upgrade_below "${CMAKE_MATCH_1}.${CMAKE_MATCH_2}.${next_patch}")

# Runs a command (in the folder `run_in` when set); its output only when it fails.
function(run)
  set(folder)
  if(run_in)
    set(folder WORKING_DIRECTORY "${run_in}")
  endif()
  execute_process(COMMAND ${ARGN} ${folder} RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT code EQUAL 0)
    list(JOIN ARGN " " line)
    message(FATAL_ERROR "${line}\n${out}")
  endif()
endfunction()

# The files as they go in, beside the output, never the build's own.
set(work "${ZELVO_MSI_OUT}.files")
set(files "${work}/files")
file(REMOVE_RECURSE "${work}")
set(stage "${ZELVO_BUILD}/stage")
foreach(entry launcher.exe conlaunch.exe zelvo-dialog.exe plugins/vexa-tools.dll plugins/quillet-wrapper.dll
        plugins/config.ini plugins/quillet-wrapper-1.0.dist.jar java/zelvo-sdk.jar java/zelvo-echo.jar)
  if(NOT EXISTS "${stage}/${entry}")
    message(FATAL_ERROR "${stage}/${entry} is missing: build the tree first (./dev windows)")
  endif()
  get_filename_component(folder "${files}/${entry}" DIRECTORY)
  file(COPY "${stage}/${entry}" DESTINATION "${folder}")
endforeach()
file(COPY "${stage}/html" DESTINATION "${files}")
file(COPY "${ZELVO_APPLICATION_CONFIG}" DESTINATION "${files}")
# wixl takes the files it packs only by names relative to the folder it runs
# in: everything is gathered in `work`.
file(COPY "${ZELVO_MSI_ACTIONS}" "${ZELVO_SOURCE}/launcher/resources/zelvo.ico" DESTINATION "${work}")
get_filename_component(actions_name "${ZELVO_MSI_ACTIONS}" NAME)
set(actions "${work}/${actions_name}")

# The guide, as a page: Windows opens no Markdown.
execute_process(COMMAND cmark --to html "${ZELVO_SOURCE}/docs/ayuda.md" OUTPUT_VARIABLE ZELVO_GUIDE_BODY
                RESULT_VARIABLE code)
if(NOT code EQUAL 0)
  message(FATAL_ERROR "cmark could not read docs/ayuda.md")
endif()
configure_file("${here}/ayuda.html.in" "${files}/ayuda.html" @ONLY)

# Signing: the programs and DLLs now, the package once it is made.
set(sign_cert "$ENV{ZELVO_SIGN_CERT}")
set(sign_key "$ENV{ZELVO_SIGN_KEY}")
if(sign_cert OR sign_key)
  if(NOT EXISTS "${sign_cert}" OR NOT EXISTS "${sign_key}")
    message(FATAL_ERROR "ZELVO_SIGN_CERT and ZELVO_SIGN_KEY must both name existing files")
  endif()
  set(sign_pass)
  if(NOT "$ENV{ZELVO_SIGN_PASSFILE}" STREQUAL "")
    set(sign_pass -readpass "$ENV{ZELVO_SIGN_PASSFILE}")
  endif()
endif()
function(sign path)
  if(NOT sign_cert)
    return()
  endif()
  run(osslsigncode sign -certs "${sign_cert}" -key "${sign_key}" ${sign_pass} -h sha256 -n Zelvo
      -in "${path}" -out "${path}.firmado")
  file(RENAME "${path}.firmado" "${path}")
endfunction()
# The build keeps its debugging information; what is installed goes without.
file(GLOB_RECURSE binaries "${files}/*.exe" "${files}/*.dll")
foreach(binary ${binaries} "${actions}")
  run("${ZELVO_STRIP}" --strip-unneeded "${binary}")
  sign("${binary}")
endforeach()

# The served pages, one component each (wixl-heat, in name order).
file(GLOB pages RELATIVE "${files}" "${files}/html/*")
list(SORT pages)
list(JOIN pages "\n" page_list)
if(ZELVO_MSI_ARCH STREQUAL "x64")
  set(win64 yes)
  set(heat_win64 --win64)
  set(program_files ProgramFiles64Folder)
else()
  set(win64 no)
  set(heat_win64)
  set(program_files ProgramFilesFolder)
endif()
file(WRITE "${work}/pages.txt" "${page_list}\n")
execute_process(COMMAND wixl-heat --prefix html/ --directory-ref HTMLDIR --component-group HtmlFiles
                --var var.Pages ${heat_win64}
                INPUT_FILE "${work}/pages.txt" OUTPUT_FILE "${work}/html.wxs" RESULT_VARIABLE code)
if(NOT code EQUAL 0)
  message(FATAL_ERROR "wixl-heat failed")
endif()

# The applications' keys under the base key, from cmake/ZelvoApplications.cmake.
string(REGEX REPLACE "\\\\+$" "" basekey "${ZELVO_BASEKEY}")
set(keys)
foreach(name ${ZELVO_APPLICATIONS})
  string(APPEND keys "
      <Component Id=\"Application_${name}\" Guid=\"*\" Win64=\"${win64}\">
        <RegistryValue Root=\"HKLM\" Key=\"${basekey}\\${name}\" Name=\"RuntimeLib\" Type=\"string\"
                       Value=\"[PLUGINSDIR]${ZELVO_APPLICATION_PLUGIN_${name}}.dll\" KeyPath=\"yes\"/>
        <RegistryValue Root=\"HKLM\" Key=\"${basekey}\\${name}\" Name=\"Description\" Type=\"string\"
                       Value=\"${ZELVO_APPLICATION_DESCRIPTION_${name}}\"/>
      </Component>")
endforeach()
file(WRITE "${work}/applications.wxs" "<?xml version=\"1.0\" encoding=\"utf-8\"?>
<Wix xmlns=\"http://schemas.microsoft.com/wix/2006/wi\">
  <Fragment>
    <ComponentGroup Id=\"Applications\" Directory=\"INSTALLDIR\">${keys}
    </ComponentGroup>
  </Fragment>
</Wix>
")

set(msi "${work}/zelvo.msi")
set(run_in "${work}")
run(wixl -a ${ZELVO_MSI_ARCH} -o "${msi}"
    -D "Version=${ZELVO_MSI_VERSION}" -D "UpgradeBelow=${upgrade_below}" -D "Arch=${ZELVO_MSI_ARCH}"
    -D "Win64=${win64}" -D "ProgramFiles=${program_files}" -D "Files=files" -D "Pages=files/html"
    -D "Actions=${actions_name}" -D "Icon=zelvo.ico" -D "BaseKey=${basekey}"
    "${here}/zelvo.wxs" "${work}/html.wxs" "${work}/applications.wxs")
set(run_in)

# What wixl cannot say: ZELVO_SITES reaches the installation's elevated part
# (SecureCustomProperties), the value of the sites is written only when there
# are sites (the component's condition), the x64 package looks for the
# installed sites in the 64-bit registry view (msidbLocatorType64bit), and the
# kept configuration's data stays out of the installer's log
# (msidbCustomActionTypeHideTarget).
execute_process(COMMAND msiinfo export "${msi}" Property OUTPUT_VARIABLE properties RESULT_VARIABLE code)
if(NOT code EQUAL 0 OR NOT properties MATCHES "\nSecureCustomProperties\t([^\r\n]*)")
  message(FATAL_ERROR "wixl wrote no SecureCustomProperties")
endif()
set(secure "${CMAKE_MATCH_1};ZELVO_SITES")
execute_process(COMMAND msiinfo export "${msi}" CustomAction OUTPUT_VARIABLE actions_table)
if(NOT actions_table MATCHES "\nRestoreConfiguration\t([0-9]+)\t")
  message(FATAL_ERROR "wixl wrote no RestoreConfiguration action")
endif()
math(EXPR restore_type "${CMAKE_MATCH_1} | 8192")
set(locator_type 2)  # msidbLocatorTypeRawValue
if(win64)
  math(EXPR locator_type "${locator_type} + 16")
endif()
# (Called directly: the property list's ";" would split a forwarded argument.)
execute_process(COMMAND msibuild "${msi}"
    -q "UPDATE `Property` SET `Value` = '${secure}' WHERE `Property` = 'SecureCustomProperties'"
    -q "UPDATE `Component` SET `Condition` = 'ZELVO_SITES' WHERE `Component` = 'Sites'"
    -q "UPDATE `RegLocator` SET `Type` = ${locator_type} WHERE `Signature_` = 'InstalledSites'"
    -q "UPDATE `CustomAction` SET `Type` = ${restore_type} WHERE `Action` = 'RestoreConfiguration'"
    RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT code EQUAL 0)
  message(FATAL_ERROR "msibuild failed\n${out}")
endif()

sign("${msi}")
file(COPY_FILE "${msi}" "${ZELVO_MSI_OUT}")
message(STATUS "${ZELVO_MSI_OUT}")
