#pragma once
// The one application object of a Qt test program, made before its first test and gone after
// its last: registered with GoogleTest, and kept on the test's own thread, where QtDBus, the
// widgets and the waits want it.

#include <gtest/gtest.h>
#include <memory>
#include <string>

namespace testing_support {

// `Application` is QCoreApplication, QGuiApplication or QApplication. `prepare` runs before
// the application is made (to choose its platform), `started` after (to name it).
template <class Application> class QtApplicationEnvironment final : public ::testing::Environment {
public:
    using Step = void (*)();
    explicit QtApplicationEnvironment(std::string programName, Step prepare = nullptr,
                                      Step started = nullptr)
        : programName_(std::move(programName)), prepare_(prepare), started_(started) {}

    void SetUp() override {
        if (prepare_ != nullptr) {
            prepare_();
        }
        application_ = std::make_unique<Application>(argc_, argv_);
        if (started_ != nullptr) {
            started_();
        }
    }
    void TearDown() override { application_.reset(); }

private:
    // The application keeps referring to its arguments while it lives.
    std::string programName_;
    int argc_ = 1;
    char* argv_[2] = {programName_.data(), nullptr};
    Step prepare_;
    Step started_;
    std::unique_ptr<Application> application_;
};

// Registers the application of a test program; call it at namespace scope, once.
template <class Application>
const ::testing::Environment* RegisterQtApplication(std::string programName,
                                                    void (*prepare)() = nullptr,
                                                    void (*started)() = nullptr) {
    return ::testing::AddGlobalTestEnvironment(
        new QtApplicationEnvironment<Application>(std::move(programName), prepare, started));
}

} // namespace testing_support
