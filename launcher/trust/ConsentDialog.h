#pragma once
// The consent window (zelvo-dialog consent) as a child of the server, awaited
// on the server's own loop: the loop goes on serving while the user decides,
// and a stop closes the window at once. A window left unanswered closes after
// its limit and counts as a refusal that is not remembered.
#include <boost/asio/io_context.hpp>
#include <boost/asio/posix/stream_descriptor.hpp>
#include <boost/asio/steady_timer.hpp>

#include <array>
#include <chrono>
#include <functional>
#include <string>

struct ConsentAnswer {
    bool allowed = false;
    bool remember = false;
    bool unanswered = false;  // the window's limit passed

    // Exit 0 allows, 1 refuses; the output "1\n" asks to remember, "0\n" not.
    // Anything else (a crash, a missing program, another answer) refuses.
    static ConsentAnswer interpret(int exitCode, const std::string& output);
};

class ConsentDialog {
public:
    using Handler = std::function<void(ConsentAnswer)>;

    static constexpr std::chrono::seconds defaultLimit{60};

    explicit ConsentDialog(boost::asio::io_context& ioc, std::chrono::milliseconds limit = defaultLimit);
    ~ConsentDialog();
    ConsentDialog(const ConsentDialog&) = delete;
    ConsentDialog& operator=(const ConsentDialog&) = delete;

    // Shows the window for `origin` and `application`; `handler` gets the answer
    // on the loop, once. False (nothing shown, no call) when it cannot be shown.
    bool start(const std::string& origin, const std::string& application, Handler handler);
    // Closes a window still open (the process is killed); its handler is not called.
    void cancel();
    bool open() const { return state_ != State::idle; }

private:
    void readOutput();
    void onOutput(const boost::system::error_code& ec, std::size_t bytes);
    void onExit(const boost::system::error_code& ec);
    void finish();
    void onLimit();
    // Reaps the child, waiting at most about a second after it was killed.
    int reap(bool killed);
    void closeDescriptors();

    boost::asio::io_context& ioc_;
    boost::asio::posix::stream_descriptor output_;
    boost::asio::posix::stream_descriptor exited_;  // a pidfd: readable once the child has ended
    boost::asio::steady_timer limitTimer_;
    std::chrono::milliseconds limit_;
    std::array<char, 64> buffer_{};
    std::string answer_;
    bool overflow_ = false;
    enum class State { idle, showing, ending };  // ending: the child is gone, its output not yet read
    State state_ = State::idle;
    int pid_ = -1;
    int exitCode_ = -1;
    Handler handler_;
};
