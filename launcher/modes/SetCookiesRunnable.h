#pragma once
// Publish mode ("set/"): opens the request's page with the launcher's port and
// TLS switch appended as Base64 JSON, in the browser the user picks.
#include "core/Runnable.h"

#include <memory>
#include <string>

class JsonReader;

class SetCookiesRunnable : public Runnable {
public:
    static std::unique_ptr<SetCookiesRunnable> create(int argc, char** argv, const JsonReader* config);
    SetCookiesRunnable(const std::string& url, const std::string& properties) : url_(url), properties_(properties) {}

    // The browser dialog; 0 once it has ended. 1 without it when the URL is not
    // one a browser may be given (BrowserLauncher::checkUrl).
    int run() override;

    // Base64 of {"zelvo_port":"N"[,"zelvo_ssl_enabled":"1"]}.
    static std::string encodeProperties(int port, bool sslEnabled);
    // url + "?" + the encoded properties, nothing escaped.
    std::string target() const { return url_ + "?" + properties_; }
    const std::string& url() const { return url_; }

private:
    std::string url_;
    std::string properties_;  // already Base64
};
