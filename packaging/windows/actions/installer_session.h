#pragma once
// The Windows Installer session a custom action runs in: its properties, its log
// and its error messages, in UTF-8 text. The handle belongs to the installer.
#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <optional>
#include <string>

class InstallerSession {
public:
    explicit InstallerSession(MSIHANDLE install) : install_(install) {}

    // A property's value ("" when not set); none when it cannot be read.
    std::optional<std::string> property(const std::string& name) const;
    bool setProperty(const std::string& name, const std::string& value) const;
    // A line in the installer's log.
    void log(const std::string& text) const;
    // An error the installer shows (or logs, without a user interface) before it
    // ends the installation.
    void error(const std::string& text) const;

private:
    void message(INSTALLMESSAGE kind, const std::string& text) const;

    MSIHANDLE install_;
};
