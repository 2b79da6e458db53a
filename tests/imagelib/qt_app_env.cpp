// The views are widgets: one application object for the whole test program, on the
// offscreen platform unless the environment names another.
#include <QApplication>

#include <cstdlib>
#include <memory>

#include <gtest/gtest.h>

namespace {

class QtAppEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        if (QApplication::instance()) return;
        if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
        app_ = std::make_unique<QApplication>(argc_, argv_);
    }
    void TearDown() override { app_.reset(); }

private:
    int argc_ = 1;
    char name_[16] = "imagelib_tests";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> app_;
};

[[maybe_unused]] ::testing::Environment* const kQtEnv =
    ::testing::AddGlobalTestEnvironment(new QtAppEnvironment);

}  // namespace
