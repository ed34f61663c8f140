#pragma once
// The consent window (zelvo-dialog consent) as a child of the server, awaited
// by a thread of its own whose answer comes back on the server's loop: the loop
// goes on serving while the user decides, and a stop closes the window at once.
// A window left unanswered closes after its limit and counts as a refusal that
// is not remembered.
#include "zelvo/child_process.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

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
    bool open() const { return static_cast<bool>(child_); }

private:
    // Server thread: the waiter's report.
    void finish(unsigned generation, int exitCode, bool whole, std::string output);
    void onLimit();

    boost::asio::io_context& ioc_;
    boost::asio::steady_timer limitTimer_;
    std::chrono::milliseconds limit_;
    std::unique_ptr<zelvo::ChildProcess> child_;  // the window shown now; null when none
    std::thread waiter_;                          // reads its answer and waits for its end
    unsigned generation_ = 0;                     // which window an answer belongs to
    Handler handler_;
};
