#include "QuilletPlugin.h"

#include "Config.h"
#include "log/AsyncLog.h"
#include "process/Child.h"
#include "process/Log.h"
#include "process/StreamWorkers.h"

#include "zelvo/paths.h"

#include <chrono>
#include <climits>
#include <memory>
#include <optional>
#include <stdexcept>
#include <thread>

namespace quillet {
namespace {

const char* const kLoggerName = "quillet.plugin";
// How long a wrapper asked to end may take before it is killed: 5 s after its
// time limit; 3 s after a stop (the page's close, the launcher's stop), so that
// the whole plug-in has ended well inside the launcher's own wait for it.
constexpr process::KillGrace kKillGrace{std::chrono::seconds(5), std::chrono::seconds(3)};

// The child-process library's records go to the plug-in's log.
void logProcessRecord(process::LogLevel level, const std::string& text, const char* file, int line) {
    int severity = level == process::LogLevel::trace     ? log::kTrace
                   : level == process::LogLevel::info    ? log::kInfo
                   : level == process::LogLevel::warning ? log::kWarn
                                                         : log::kError;
    if (log::pluginLog().levelCheck(0, severity)) log::pluginLog().push(0, severity, text, file, line);
}

void startLog(const std::string& folder) {
    log::startPluginLog(kLoggerName, folder);
    process::setLogSink(&logProcessRecord);
}

// Length of the UTF-8 sequence that starts at s[i], or 0 when it is broken.
size_t utf8Length(const std::string& s, size_t i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t n;
    unsigned min;
    if (c < 0x80) return 1;
    if (c >= 0xC2 && c <= 0xDF) n = 2, min = 0x80;
    else if (c >= 0xE0 && c <= 0xEF) n = 3, min = 0x800;
    else if (c >= 0xF0 && c <= 0xF4) n = 4, min = 0x10000;
    else return 0;
    if (i + n > s.size()) return 0;
    unsigned cp = c & (0xFF >> (n + 1));
    for (size_t k = 1; k < n; ++k) {
        unsigned char cc = static_cast<unsigned char>(s[i + k]);
        if ((cc & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (cc & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return n;
}

}  // namespace

QuilletPlugin& plugin() {
    static QuilletPlugin instance;
    return instance;
}

std::string pluginLogFolder() {
    try {
        return zelvo::withSeparator(workDirectory(libraryDirectory()) + "logs");
    } catch (const std::exception&) {
        return "";
    }
}

std::string QuilletPlugin::errorReply(const std::string& message) {
    std::string out = "{\"message\":\"";
    for (size_t i = 0; i < message.size();) {
        unsigned char c = static_cast<unsigned char>(message[i]);
        size_t n = utf8Length(message, i);
        if (n == 0) {
            out += "\xEF\xBF\xBD";  // U+FFFD for a broken byte
            ++i;
            continue;
        }
        if (c == '"') out += '\'';
        else if (c == '\\') out += "\\\\";
        else if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else if (c == '\t') out += "\\t";
        else if (c < 0x20 || c == 0x7F) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else {
            out.append(message, i, n);
        }
        i += n;
    }
    return out + "\"}";
}

std::string QuilletPlugin::shortened(const std::string& text) {
    size_t i = 0, chars = 0;
    while (i < text.size() && chars < 80) {
        size_t n = utf8Length(text, i);
        i += n ? n : 1;
        ++chars;
    }
    return i < text.size() ? text.substr(0, i) + "..." : text;
}

void QuilletPlugin::registerSendMessageFunction(ZelvoTextSender text, ZelvoBinarySender binary) {
    textSender_ = text;
    binarySender_ = binary;
    // Messages may come before onConnect runs; their records should not be lost.
    if (std::string folder = pluginLogFolder(); !folder.empty()) startLog(folder);
    QLOG_INFO << "<< registerSendMessageFunction";
}

void QuilletPlugin::onConnect() {
    std::string folder = pluginLogFolder();
    if (!folder.empty()) startLog(folder);
    QLOG_INFO << "<< onConnect";
    try {
        QLOG_DEBUG << "dllDirectory:" << libraryDirectory();
    } catch (const std::exception& e) {
        QLOG_ERROR << e.what();
    }
    int expected = kLoaded;
    state_.compare_exchange_strong(expected, kRunning);
    while (state_ != kEnded) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    joinRun();
    log::stopPluginLog();
}

QuilletPlugin::~QuilletPlugin() {
    stop_.request();
    joinRun();
}

void QuilletPlugin::onClose() {
    QLOG_INFO << "<< onClose";
    end();
    stop_.request();
}

void QuilletPlugin::startRun() {
    runStarted_ = true;
    std::lock_guard<std::mutex> lock(runMutex_);
    run_ = std::thread([this, input = std::move(input_)]() mutable {
        // Nothing escapes the thread: a failure becomes the error reply.
        std::string failure;
        try {
            runSigning(input);
        } catch (const std::exception& e) {
            failure = e.what();
        } catch (...) {
            failure = "error desconocido";
        }
        if (!failure.empty()) {
            try {
                QLOG_ERROR << failure;
                postErrorMessage(failure);
            } catch (...) {
            }
        }
        end();
    });
}

void QuilletPlugin::joinRun() {
    std::thread run;
    {
        std::lock_guard<std::mutex> lock(runMutex_);
        run.swap(run_);
    }
    if (run.joinable()) run.join();
}

void QuilletPlugin::onTextMessage(const char* message) {
    std::string text = message ? message : "";
    QLOG_INFO << "<< onTextMessage << " << text.size() << " bytes";
    if (ignoresMessages()) return;
    try {
        takeTextPart(input_, text);
    } catch (const std::exception& e) {
        QLOG_ERROR << e.what();
        postErrorMessage(e.what());
        end();
        return;
    }
    if (input_.complete())
        startRun();
    else
        QLOG_INFO << "waiting for the file part of the message";
}

void QuilletPlugin::onBinaryMessage(const char* data, int length) {
    QLOG_INFO << "<< onBinaryMessage << " << length << " bytes";
    if (ignoresMessages()) return;
    if (data && length > 0)
        input_.document.assign(data, static_cast<size_t>(length));
    else
        input_.document.clear();
    input_.parts |= QuilletInput::kFilePart;
    if (input_.complete())
        startRun();
    else
        QLOG_INFO << "waiting for the text part of the message";
}

bool QuilletPlugin::ignoresMessages() const {
    if (ended())
        QLOG_WARN << "mensaje ignorado: la petición ya terminó";
    else if (runStarted_)
        QLOG_WARN << "mensaje ignorado: la firma ya está en curso";
    return ended() || runStarted_;
}

void QuilletPlugin::failRequest(const std::string& message) {
    end();
    postErrorMessage(message);
}

void QuilletPlugin::postTextMessage(const std::string& text) {
    ZelvoTextSender send = textSender_;
    if (!send) {
        QLOG_INFO << ">> [binary] postTextMessageToWebapp is null!";
        return;
    }
    std::string shown = shortened(text);
    QLOG_INFO << ">> [text] sending:\"" << shown << "\"";
    send(text.c_str());
    QLOG_INFO << ">> [text] \"" << shown << "\" sent";
}

void QuilletPlugin::postBinaryMessage(const std::string& bytes) {
    ZelvoBinarySender send = binarySender_;
    if (!send) {
        QLOG_INFO << ">> [binary] sendBinaryMessageFunction is null!";
        return;
    }
    if (bytes.size() > static_cast<size_t>(INT_MAX))
        throw std::runtime_error("El archivo firmado es demasiado grande para enviarlo (" +
                                 std::to_string(bytes.size()) + " bytes)");
    QLOG_INFO << ">> [binary] sending:" << bytes.size() << " bytes";
    send(bytes.data(), static_cast<int>(bytes.size()));
    QLOG_INFO << ">> [binary] " << bytes.size() << " bytes sent";
}

void QuilletPlugin::postErrorMessage(const std::string& message) {
    QLOG_ERROR << "postErrorMessage: " << message;
    postTextMessage(errorReply(message));
}

bool QuilletPlugin::postSignedFile(const std::string& path) {
    QLOG_INFO << "postSignedFile: " << path;
    std::string bytes;
    try {
        // The binary sender takes an int length: nothing larger can be sent.
        bytes = readWholeFile(path, static_cast<size_t>(INT_MAX));
    } catch (const std::exception& e) {
        QLOG_ERROR << "ERROR: " << e.what();
        postErrorMessage("signed file was modified from another process");
        return false;
    }
    postBinaryMessage(bytes);
    return true;
}

void QuilletPlugin::runSigning(QuilletInput& input) {
    if (!input.complete()) {
        postErrorMessage("Mensage recibido incompleto");
        log::stopPluginLog();
        return;
    }
    QLOG_INFO << "quilletInput:" << describe(input);

    std::unique_ptr<Config> config;
    std::string java, quilletJar;
    try {
        std::string libraryDir = libraryDirectory();
        QLOG_DEBUG << "dllDirectory:" << libraryDir;
        config = std::make_unique<Config>(libraryDir, workDirectory(libraryDir));
        std::string javaPath = javaCheck();  // not inside the record: it must run at every level
        QLOG_DEBUG << "javaPath:" << javaPath;
        java = javaProgram(javaPath);
        quilletJar = quilletJarPath();
        QLOG_DEBUG << "quilletJarPath:" << quilletJar;
        QLOG_DEBUG << "wrapperJarPath:" << config->wrapperJarPath();
        QLOG_DEBUG << "wrapperClass:" << config->wrapperClass();
        QLOG_DEBUG << "deleteFilesAfterSigning:" << config->deleteFilesAfterSigning();
    } catch (const std::exception& e) {
        QLOG_ERROR << e.what();
        postErrorMessage(e.what());
        log::stopPluginLog();
        return;
    }

    bool whole = true;
    try {
        QLOG_INFO << "writing files";
        writeFiles(input, config->workDir());
        process::CommandLine commandLine = config->commandLine(java, quilletJar);
        QLOG_INFO << commandLine.text();
        whole = runWrapper(*config, commandLine, input);
    } catch (const std::exception& e) {
        QLOG_ERROR << e.what();
        std::string text = e.what();
        postErrorMessage(text.rfind("CreateProcess", 0) == 0 ? "Verifique su instalación de Java (7 o superior)" : text);
    }

    // The files of a run cut short are of no use to anyone: removed whatever the switch says.
    if (config->deleteFilesAfterSigning() != 0 || !whole) {
        QLOG_INFO << "cleaning files";
        cleanFiles(input);
    }
}

bool QuilletPlugin::runWrapper(const Config& config, const process::CommandLine& commandLine,
                               const QuilletInput& input) {
    process::Child child(commandLine);
    child.start(5, 1, true, true, true);
    QLOG_DEBUG << "process started";
    std::string job = jsonInput(input);
    QLOG_INFO << "sending:" << job;

    std::string out, outFailure;
    process::RunEnd end;
    {
        std::optional<process::JoiningThread> writer, collector, logger;
        try {
            writer.emplace([&child, &job] { process::writeStdinWorker(child, job); });
            collector.emplace([&child, &out, &outFailure] { outFailure = process::collectStdoutWorker(child, out); });
            logger.emplace([&child] { process::logStderrWorker(child); });
        } catch (...) {
            // A worker that could not start: the child goes first, so that the
            // workers already running see their streams end and can be joined.
            child.terminate();
            throw;
        }
        end = process::waitWithin(child, std::chrono::seconds(config.signingTimeoutSeconds()), stop_, kKillGrace);
    }
    QLOG_DEBUG << "process ended";
    QLOG_INFO << "child.exitCode:" << child.exitCode();
    if (end != process::RunEnd::exited) {
        postErrorMessage(end == process::RunEnd::timedOut ? kTimedOut : kCancelled);
        return false;
    }
    // A cut-off answer could name the wrong file: the run fails instead.
    if (!outFailure.empty()) throw std::runtime_error(outFailure);

    if (child.exitCode() != 0) {
        postErrorMessage("Ha ocurrido un error al ejecutar Quillet");
        return true;
    }
    SignerAnswer answer = parseAnswer(out);
    if (!answer.error.empty()) {
        postErrorMessage(answer.error);
    } else if (postSignedFile(answer.signedFile) && config.deleteFilesAfterSigning() != 0) {
        cleanSignedFile(answer.signedFile, config.workDir());
    }
    return true;
}

}  // namespace quillet
