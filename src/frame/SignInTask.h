#pragma once
// A sign-in in the browser or with a code, run on a thread of its own so that
// the window stays responsive while the provider waits for the user. What it
// gives, or how it failed, is handed to the window's thread; the window can
// cancel it at any time, and closing the window cancels it and waits for the
// thread to end.

#include <QObject>
#include <functional>
#include <memory>
#include <thread>

#include "base/Cancellation.h"
#include "base/Failure.h"
#include "oauth/TokenSet.h"

namespace qm {

class SignInTask : public QObject {
 public:
  // Runs on the task's thread; throws Failure.
  using Work = std::function<TokenSet(const Cancellation& cancel)>;
  // Run on the window's thread when the work ends.
  using Done = std::function<void(const TokenSet& tokens)>;
  using Failed = std::function<void(const Failure& failure)>;

  explicit SignInTask(QObject* window);
  ~SignInTask() override;
  SignInTask(const SignInTask&) = delete;
  SignInTask& operator=(const SignInTask&) = delete;

  // Starts `work`; an earlier run must have ended.
  void Start(Work work, Done done, Failed failed);
  bool Running() const { return running_; }
  void Cancel() { cancel_.Request(); }

  // Runs `step` on the window's thread, without waiting for it: for the task
  // to show something or to open the browser.
  void Post(std::function<void()> step);

 private:
  void Join();

  Cancellation cancel_;
  std::thread thread_;
  bool running_ = false;
};

}  // namespace qm
