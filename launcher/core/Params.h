#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Server parameter set, from application.config (and the additional file).
struct ServerRunnableParams {
    int32_t port = 0;
    int32_t idletimeout = 0;
    std::string basekey;
    bool ssl_enabled = false;
    std::string ssl_certpath;
    std::string ssl_certpass;
    std::string classpath;
    std::vector<std::string> vmoptions;
    std::string loaderclass;
    // Where the server listens; the card and the signer stay off the network.
    std::string bindaddress = "127.0.0.1";
    // Largest accepted WebSocket message in bytes.
    uint64_t maxmessagesize = 134217728;
    // Sites admitted without asking the user ("https://a.gob", "https://*.a.gob", "null").
    std::vector<std::string> allowedorigins;
    // The application as the registry names it (its key's last component, as
    // the registry spells it): the user's remembered answers are per application.
    std::string application;
    // What the consent window says a site wants to use: the registry's
    // "Description" of the application, else `application`. Never a text the
    // page chose.
    std::string description;
};

// Web parameter set, from the request's payload.
struct AppWebParams {
    std::string type;
    std::string name;
    bool use_ssl = false;
    int32_t port = 0;
    int32_t idletimeout = 0;
};

// Java parameters of a "java" request.
struct JavaAppWebParams {
    std::string code;
    std::vector<std::string> archive;
};
