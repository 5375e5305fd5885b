// Force-included into GoogleTest and the test programs when GoogleTest is
// built with mingw-w64's win32 thread model (cmake/gtest-cross.cmake). Its
// own Notification rests on std::mutex and std::condition_variable, which
// that model lacks; this one waits on a Win32 event. GoogleTest skips its
// definition when GTEST_HAS_NOTIFICATION_ is set.
#pragma once

namespace testing {
namespace internal {

class Notification {
public:
    Notification();
    ~Notification();
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;

    void Notify();
    void WaitForNotification();

private:
    void* event_;  // a manual-reset event (HANDLE)
};

}  // namespace internal
}  // namespace testing

#define GTEST_HAS_NOTIFICATION_ 1
