// Custom actions of Zelvo's installer package. An upgrade removes the older
// product before it installs the newer one, and the removal would take an
// administrator's application.config with it. KeepConfiguration runs first, in
// the installer's own sequence: it reads the installed file into the data of
// RestoreConfiguration, which runs after the files are installed, with the
// installer's rights, and puts the file back over the new default.
#include "installer_session.h"

#include "zelvo/base64.h"
#include "zelvo/paths.h"
#include "zelvo/utf16.h"
#include "zelvo/win32.h"

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <string>

namespace {

const char kFileName[] = "application.config";
// The deferred action's data: its own name as a property.
const char kRestoreAction[] = "RestoreConfiguration";
// The launcher reads no larger configuration.
constexpr size_t kLargestFile = 1 << 20;
// Between the file's path and its content in the deferred action's data (no
// path holds it).
const char kSeparator = '|';

// Writes `bytes` to a new file beside `path`, then puts it in the place of `path`.
bool replaceFile(const std::string& path, const std::string& bytes) {
    const std::optional<std::wstring> target = zelvo::toUtf16(path);
    const std::optional<std::wstring> temporary = zelvo::toUtf16(path + ".zelvo-nuevo");
    if (!target || !temporary) return false;
    {
        zelvo::win32::FileHandle file(CreateFileW(temporary->c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                                  FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return false;
        DWORD written = 0;
        if (!bytes.empty() && (!WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                                          nullptr) ||
                               written != bytes.size())) {
            file.reset();
            DeleteFileW(temporary->c_str());
            return false;
        }
        FlushFileBuffers(file.get());
    }
    if (!MoveFileExW(temporary->c_str(), target->c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileW(temporary->c_str());
        return false;
    }
    return true;
}

}  // namespace

extern "C" __declspec(dllexport) UINT __stdcall KeepConfiguration(MSIHANDLE install) {
    const InstallerSession session(install);
    const std::optional<std::string> folder = session.property("INSTALLDIR");
    if (!folder || folder->empty()) {
        session.error("No se pudo saber la carpeta de instalación de Zelvo.");
        return ERROR_INSTALL_FAILURE;
    }
    const std::string path = zelvo::withSeparator(*folder) + kFileName;
    if (!zelvo::fileInfo(path).exists) {
        session.log("no hay " + path + " que conservar");
        return ERROR_SUCCESS;
    }
    // Better no upgrade than an administrator's configuration lost.
    std::string bytes;
    if (!zelvo::readRegularFile(path, kLargestFile, bytes)) {
        session.error("No se pudo leer la configuración instalada " + path +
                      " (debe ser un archivo de hasta 1 MiB); la instalación no sigue para no perderla.");
        return ERROR_INSTALL_FAILURE;
    }
    if (!session.setProperty(kRestoreAction, path + kSeparator + zelvo::base64Encode(bytes))) {
        session.error("No se pudo guardar la configuración instalada " + path + " durante la instalación.");
        return ERROR_INSTALL_FAILURE;
    }
    session.log("se conserva " + path + " (" + std::to_string(bytes.size()) + " bytes)");
    return ERROR_SUCCESS;
}

extern "C" __declspec(dllexport) UINT __stdcall RestoreConfiguration(MSIHANDLE install) {
    const InstallerSession session(install);
    const std::optional<std::string> data = session.property("CustomActionData");
    if (!data || data->empty()) return ERROR_SUCCESS;  // nothing was there before
    const size_t separator = data->find(kSeparator);
    const std::string path = data->substr(0, separator);
    const std::string text = separator == std::string::npos ? std::string() : data->substr(separator + 1);
    const std::string bytes = zelvo::base64Decode(text);
    if (separator == std::string::npos || path.empty() || zelvo::base64Encode(bytes) != text) {
        session.error("Los datos de la configuración conservada de Zelvo están dañados.");
        return ERROR_INSTALL_FAILURE;
    }
    if (!replaceFile(path, bytes)) {
        session.error("No se pudo volver a escribir la configuración conservada " + path + ".");
        return ERROR_INSTALL_FAILURE;
    }
    session.log("se repuso " + path);
    return ERROR_SUCCESS;
}
