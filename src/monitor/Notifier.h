#pragma once

#include <functional>
#include <string>

namespace quillon::monitor {

// A desktop alert: a summary line and a body.
struct Alert {
    std::string title;
    std::string body;

    friend bool operator==(const Alert&, const Alert&) = default;
};

// The desktop's notification service. Called on the main thread; `onActivated` runs there too,
// when the user clicks the alert (services that cannot tell never call it).
class Notifier {
  public:
    virtual ~Notifier() = default;
    virtual void notify(const Alert& alert, std::function<void()> onActivated) = 0;
};

}  // namespace quillon::monitor
