#pragma once
// A private D-Bus session bus with the accessibility bus of at-spi2-core on it, so that a
// program started with `ClientEnvironment()` exposes its accessibility tree, and a reader
// (tests/e2e/atspi-reader.py) reads it as a screen reader would. Everything ends with the
// object.

#include "ProgramFixture.h"

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

class TAccessibilityBus {
public:
    // `folder` is the test's own temporary folder; the buses' sockets go there.
    explicit TAccessibilityBus(const std::filesystem::path& folder);
    ~TAccessibilityBus();
    TAccessibilityBus(const TAccessibilityBus&) = delete;
    TAccessibilityBus& operator=(const TAccessibilityBus&) = delete;

    // Empty when both buses run; otherwise why not.
    const std::string& Failure() const { return failure_; }
    // The variables a program needs to publish its tree on these buses.
    std::vector<std::string> ClientEnvironment() const;

    // One object of the tree as the reader printed it.
    struct TNode {
        int Depth = 0;
        std::string Role, Name, Text, States, Actions;
        bool Has(const std::string& state) const;
    };
    // The tree of the application called `application`; empty when it is not on the bus.
    std::vector<TNode> Tree(const std::string& application) const;
    // Runs the first action of the first object with this role and name, as a screen reader
    // user does; false when there is no such object.
    bool Press(const std::string& application, const std::string& role,
               const std::string& name) const;

    // Records for `seconds` every text change any program announces, one line each (event
    // type, object name, text, role) in `outputFile`, which says "listening" first.
    std::unique_ptr<ChildProcess> WatchTextChanges(int seconds,
                                                   const std::string& outputFile) const;

private:
    std::vector<std::string> ReaderEnvironment() const;

    std::filesystem::path folder_;
    std::string address_;
    std::unique_ptr<ChildProcess> sessionBus_;
    std::unique_ptr<ChildProcess> launcher_;
    std::string failure_;
};

// Why no accessibility bus can run here (empty when it can): what is missing.
std::string AccessibilityBusSkipReason();
