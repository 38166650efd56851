// Shared pieces of the window tests: the application object, a driver for
// modal dialogs, and a communication thread body that behaves like the
// real one towards the window.
#pragma once

#include <gtest/gtest.h>

#include <QDialog>
#include <atomic>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "temp_dir.h"

class QWidget;

namespace window_testing {

// Creates the application object once for the whole test program.
void ensure_application();

// Runs the event loop until pred holds or timeout_ms passed; returns pred().
bool wait_until(const std::function<bool()>& pred, int timeout_ms = 15000);

// Runs the event loop for a little while (lets queued calls land).
void settle(int ms = 20);

// Clicks the child button with the object name; false when there is none
// or it is disabled.
bool click(QWidget& parent, const char* object_name);

// One dialog or message box seen by the driver.
struct SeenDialog {
    std::string object_name;  // "Connect", "CRADLECHECK", "messageBox", ...
    std::string title;
    std::string text;  // message boxes: their text
};

// Drives every modal dialog through the window's modal hook: an action per
// object name; without one, message boxes are answered with their first
// button and other dialogs are cancelled.
class DialogDriver {
  public:
    DialogDriver();
    ~DialogDriver();

    void on(const std::string& object_name, std::function<void(QDialog&)> action);
    std::vector<SeenDialog> seen;
    bool saw(const std::string& object_name) const;
    // The text of the last message box, "" when none was shown.
    std::string last_box_text() const;

  private:
    std::map<std::string, std::function<void(QDialog&)>> actions_;
};

// A communication thread body with the real one's manners: it shows the
// line, disables SETTINGS and LOAD, captions START/STOP, waits until the
// stop request (or end_now, like a LINESTOP), then shows OFFLINE, posts the
// end command unless no_exit is set, and resets the buttons.
struct FakeCommunication {
    std::atomic<int> starts{0};
    std::atomic<bool> end_now{false};
    std::atomic<bool> running{false};
    bool fail_open = false;  // like a port that cannot be opened
    int log_lines = 0;       // lines to log while running
    std::function<void()> body();
};

// Clean process-wide state and a settings folder per test.
// Whether the port search reads a device tree that a test can build (the
// kernel's sysfs on Linux). The Windows build reads the registry instead,
// which discovery_registry_tests fills; window tests that need a fake
// bridge skip there.
bool device_tree_can_be_faked();
inline constexpr const char* kNoFakeDeviceTree =
    "the port search reads the registry here; discovery_registry_tests covers it";

class WindowTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Writes the settings file.
    void write_settings(const std::string& content);
    std::string settings_text() const;

    testing_support::TempDir dir;
};

}  // namespace window_testing
