#include "frame/SignInTask.h"

#include <QMetaObject>
#include <exception>
#include <utility>

namespace qm {

SignInTask::SignInTask(QObject* window) : QObject(window) {}

SignInTask::~SignInTask() {
  cancel_.Request();
  Join();
}

void SignInTask::Join() {
  if (thread_.joinable()) thread_.join();
}

void SignInTask::Post(std::function<void()> step) {
  QMetaObject::invokeMethod(this, std::move(step), Qt::QueuedConnection);
}

void SignInTask::Start(Work work, Done done, Failed failed) {
  Join();
  cancel_.Reset();
  running_ = true;
  thread_ = std::thread(
      [this, work = std::move(work), done = std::move(done), failed = std::move(failed)] {
        std::shared_ptr<TokenSet> tokens;
        std::shared_ptr<Failure> failure;
        try {
          tokens = std::make_shared<TokenSet>(work(cancel_));
        } catch (const Failure& caught) {
          failure = std::make_shared<Failure>(caught);
        } catch (const std::exception& caught) {
          failure = std::make_shared<Failure>(InternalFailure(caught.what()));
        }
        Post([this, tokens, failure, done, failed] {
          running_ = false;
          if (tokens) {
            done(*tokens);
          } else {
            failed(*failure);
          }
        });
      });
}

}  // namespace qm
