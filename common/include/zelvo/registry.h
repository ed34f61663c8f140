#pragma once
// The machine's registry under HKEY_LOCAL_MACHINE, read-only. On Windows the
// real registry (a 32-bit program sees the 32-bit view, as every 32-bit program
// does); on Linux the text files of registry_files.h.
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace zelvo {

// The last component of the key HKEY_LOCAL_MACHINE\keyPath as the registry
// spells it ("vexa" for "VEXA" or "vexa\\"), or none when the key does not exist.
std::optional<std::string> registryKeyName(const std::string& keyPath);
// 64-bit Windows keeps HKEY_LOCAL_MACHINE\SOFTWARE twice: one view for 64-bit
// programs and one for 32-bit programs. `own` is the running program's; `other`
// the one programs of the other word size write to (none on 32-bit Windows and
// on Linux: every read in it fails).
enum class RegistryView { own, other };
// The value buffer of the reads the launcher and the plug-ins make: 1024 bytes,
// terminator included.
inline constexpr size_t kRegistryValueBytes = 1024;
// Reads a string value under HKEY_LOCAL_MACHINE: the text up to the first NUL; an
// empty value is a success; a missing key or value, or data that does not fit in
// `maxBytes` (terminator included), fails. `valueName` "" (or "@") is the key's
// default value.
bool readRegistryString(const std::string& keyPath, const std::string& valueName, std::string& value,
                        RegistryView view = RegistryView::own, size_t maxBytes = kRegistryValueBytes);
// Names of the sub-keys directly below HKEY_LOCAL_MACHINE\keyPath, in the
// registry's order; empty when the key cannot be opened.
std::vector<std::string> listRegistrySubkeys(const std::string& keyPath);

}  // namespace zelvo
