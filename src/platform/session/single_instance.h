// One running program per settings file and user: the first start listens on
// a socket named after the settings file (links resolved); a later start with
// the same file asks that program to show its window and ends. The socket is
// in Linux's abstract namespace, so a crashed program leaves nothing behind
// that could block a start.
#pragma once

#include <functional>
#include <memory>
#include <string>

class QSocketNotifier;

namespace platform {

class SingleInstance {
public:
    explicit SingleInstance(const std::string& settingsPath);
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // True when this start is the one to run; false when a running program of
    // this user with the same settings file was asked to show its window.
    bool Claim();
    // Runs onShowRequest from the event loop at each later start. Needs Claim
    // to have returned true.
    void OnShowRequest(std::function<void()> onShowRequest);

private:
    bool AskRunningToShow() const;
    bool Listen();

    std::string address_;  // abstract socket name, its leading NUL included
    int listenFd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace platform
