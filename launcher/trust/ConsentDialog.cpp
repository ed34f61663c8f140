#include "ConsentDialog.h"

#include "zelvo/dialog.h"
#include "zelvo/log.h"

#include <boost/asio/post.hpp>

#include <cerrno>
#include <csignal>
#include <chrono>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

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
    : ioc_(ioc), output_(ioc), exited_(ioc), limitTimer_(ioc), limit_(limit) {}

ConsentDialog::~ConsentDialog() { cancel(); }

bool ConsentDialog::start(const std::string& origin, const std::string& application, Handler handler) {
    if (state_ != State::idle) return false;
    zelvo::DialogChild child = zelvo::startDialog({"consent", "--origin", origin, "--application", application});
    if (child.pid < 0) {
        LOG_ERROR("ConsentDialog::start") << "No se pudo iniciar el programa de diálogos " << zelvo::dialogProgram();
        return false;
    }
    pid_ = child.pid;
    state_ = State::showing;
    output_.assign(child.output);
    const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
    if (pidfd < 0) {
        LOG_ERROR("ConsentDialog::start") << "No se puede esperar al diálogo de permiso: errno " << errno;
        cancel();
        return false;
    }
    exited_.assign(pidfd);
    answer_.clear();
    overflow_ = false;
    handler_ = std::move(handler);
    readOutput();
    exited_.async_wait(asio::posix::stream_descriptor::wait_read,
                       [this](const boost::system::error_code& ec) { onExit(ec); });
    limitTimer_.expires_after(limit_);
    limitTimer_.async_wait([this](const boost::system::error_code& ec) {
        if (!ec) onLimit();
    });
    return true;
}

void ConsentDialog::onLimit() {
    // Once the child has ended its own answer is on its way: that one counts.
    if (state_ != State::showing) return;
    LOG_WARN("ConsentDialog::onLimit") << "El diálogo de permiso no se respondió en "
                                       << std::chrono::duration_cast<std::chrono::seconds>(limit_).count()
                                       << " segundos, se cierra y se toma como un rechazo";
    Handler handler = std::move(handler_);
    cancel();
    ConsentAnswer answer;
    answer.unanswered = true;
    if (handler) handler(answer);
}

void ConsentDialog::readOutput() {
    output_.async_read_some(asio::buffer(buffer_), [this](const boost::system::error_code& ec, std::size_t bytes) {
        onOutput(ec, bytes);
    });
}

void ConsentDialog::onOutput(const boost::system::error_code& ec, std::size_t bytes) {
    if (ec) return;  // the end of the output, or the read was cancelled
    // Read on past the limit so that a chatty child never blocks on a full pipe.
    if (answer_.size() + bytes > maxAnswer) overflow_ = true;
    if (!overflow_) answer_.append(buffer_.data(), bytes);
    if (state_ == State::showing) readOutput();
}

void ConsentDialog::onExit(const boost::system::error_code& ec) {
    if (ec || state_ != State::showing) return;
    exitCode_ = reap(false);
    state_ = State::ending;
    // A read that already finished runs its handler first; then the rest of
    // the output, written just before the child ended, is taken at once.
    boost::system::error_code ignored;
    output_.cancel(ignored);
    asio::post(ioc_, [this] { finish(); });
}

void ConsentDialog::finish() {
    if (state_ != State::ending) return;
    limitTimer_.cancel();
    boost::system::error_code readError;
    output_.non_blocking(true, readError);
    while (!readError && !overflow_) {
        std::size_t bytes = output_.read_some(asio::buffer(buffer_), readError);
        if (answer_.size() + bytes > maxAnswer) overflow_ = true;
        else answer_.append(buffer_.data(), bytes);
    }
    closeDescriptors();
    state_ = State::idle;
    if (exitCode_ != 0 && exitCode_ != 1) {
        LOG_WARN("ConsentDialog::finish") << "El diálogo de permiso terminó con el código " << exitCode_
                                          << ", se toma como un rechazo";
    }
    ConsentAnswer answer = ConsentAnswer::interpret(overflow_ ? -1 : exitCode_, answer_);
    Handler handler = std::move(handler_);
    handler_ = nullptr;
    if (handler) handler(answer);
}

void ConsentDialog::cancel() {
    if (state_ == State::idle) return;
    limitTimer_.cancel();
    if (state_ == State::showing) {
        LOG_INFO("ConsentDialog::cancel") << "Se cierra el diálogo de permiso";
        ::kill(pid_, SIGKILL);
        reap(true);
    }
    closeDescriptors();
    state_ = State::idle;
    handler_ = nullptr;
}

int ConsentDialog::reap(bool killed) {
    const int pid = pid_;
    pid_ = -1;
    int status = 0;
    // A killed child is gone at once, but a stop must not hang on one that is not.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    for (;;) {
        pid_t done = waitpid(pid, &status, killed ? WNOHANG : 0);
        if (done == pid) break;
        if (done < 0 && errno == EINTR) continue;
        if (done < 0 || std::chrono::steady_clock::now() >= deadline) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void ConsentDialog::closeDescriptors() {
    boost::system::error_code ignored;
    output_.close(ignored);
    exited_.close(ignored);
}
