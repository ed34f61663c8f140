#include "ConsentDialog.h"

#include "zelvo/dialog.h"
#include "zelvo/log.h"

#include <boost/asio/post.hpp>

#include <chrono>

namespace asio = boost::asio;

namespace {
// The longest answer there is, "1\n", with room to spare; more is not an answer.
constexpr std::size_t maxAnswer = 16;
}  // namespace

ConsentAnswer ConsentAnswer::interpret(int exitCode, const std::string& output) {
    ConsentAnswer answer;
    if ((exitCode != 0 && exitCode != 1) || (output != "0\n" && output != "1\n")) return answer;
    answer.allowed = exitCode == 0;
    answer.remember = output == "1\n";
    return answer;
}

ConsentDialog::ConsentDialog(asio::io_context& ioc, std::chrono::milliseconds limit)
    : ioc_(ioc), limitTimer_(ioc), limit_(limit) {}

ConsentDialog::~ConsentDialog() { cancel(); }

bool ConsentDialog::start(const std::string& origin, const std::string& application, Handler handler) {
    if (child_) return false;
    std::unique_ptr<zelvo::ChildProcess> child =
        zelvo::startDialog({"consent", "--origin", origin, "--application", application});
    if (!child) {
        LOG_ERROR("ConsentDialog::start") << "No se pudo iniciar el programa de diálogos " << zelvo::dialogProgram();
        return false;
    }
    if (waiter_.joinable()) waiter_.join();  // the last window's waiter has reported already
    child_ = std::move(child);
    handler_ = std::move(handler);
    const unsigned generation = ++generation_;
    zelvo::ChildProcess* shown = child_.get();
    // Ends when the window ends, also when cancel() kills it.
    waiter_ = std::thread([this, shown, generation] {
        std::string output;
        const bool whole = shown->readOutput(output, maxAnswer);
        const int exitCode = shown->wait();
        asio::post(ioc_, [this, generation, exitCode, whole, output] { finish(generation, exitCode, whole, output); });
    });
    limitTimer_.expires_after(limit_);
    limitTimer_.async_wait([this, generation](const boost::system::error_code& ec) {
        if (!ec && generation == generation_) onLimit();
    });
    return true;
}

void ConsentDialog::onLimit() {
    // Once the child has ended its own answer is on its way: that one counts.
    if (!child_ || child_->waitFor(std::chrono::milliseconds(0))) return;
    LOG_WARN("ConsentDialog::onLimit") << "El diálogo de permiso no se respondió en "
                                       << std::chrono::duration_cast<std::chrono::seconds>(limit_).count()
                                       << " segundos, se cierra y se toma como un rechazo";
    Handler handler = std::move(handler_);
    cancel();
    ConsentAnswer answer;
    answer.unanswered = true;
    if (handler) handler(answer);
}

void ConsentDialog::finish(unsigned generation, int exitCode, bool whole, std::string output) {
    if (generation != generation_ || !child_) return;  // cancelled meanwhile
    limitTimer_.cancel();
    child_.reset();
    if (exitCode != 0 && exitCode != 1) {
        LOG_WARN("ConsentDialog::finish") << "El diálogo de permiso terminó con el código " << exitCode
                                          << ", se toma como un rechazo";
    }
    ConsentAnswer answer = ConsentAnswer::interpret(whole ? exitCode : -1, output);
    Handler handler = std::move(handler_);
    handler_ = nullptr;
    if (handler) handler(answer);
}

void ConsentDialog::cancel() {
    limitTimer_.cancel();
    if (child_) {
        LOG_INFO("ConsentDialog::cancel") << "Se cierra el diálogo de permiso";
        child_->kill();
        ++generation_;
    }
    // A killed window ends at once, and with it its waiter's read.
    if (waiter_.joinable()) waiter_.join();
    child_.reset();
    handler_ = nullptr;
}
