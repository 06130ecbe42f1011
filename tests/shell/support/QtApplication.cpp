// One QApplication for the whole test program, on the offscreen platform unless the test
// command chose another. Compiled into each GUI test program.

#include <QApplication>
#include <gtest/gtest.h>
#include <memory>

namespace {

class QtApplicationEnvironment final : public ::testing::Environment {
public:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
        }
        application_ = std::make_unique<QApplication>(argc_, argv_);
        QApplication::setApplicationName(QStringLiteral("Corvale"));
        QApplication::setApplicationDisplayName(QStringLiteral("Corvale"));
    }
    void TearDown() override { application_.reset(); }

private:
    int argc_ = 1;
    char name_[16] = "corvale-tests";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> application_;
};

const auto* const registered = ::testing::AddGlobalTestEnvironment(new QtApplicationEnvironment);

} // namespace
