#include "graph/GraphConnection.h"

#include <curl/curl.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <utility>

#include "base/Cancellation.h"
#include "base/CurlGlobal.h"
#include "base/Failure.h"
#include "base/WipeSecret.h"
#include "graph/GraphRetryWait.h"
#include "graph/GraphTransfer.h"

namespace qm {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// libcurl's own time-outs shorten a poll further when they are nearer.
constexpr milliseconds kLongestPoll{1000};

struct MultiCleanup {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};

// Answers that ask the client to come back later.
bool IsRetriedStatus(long status) {
  return status == 429 || status == 502 || status == 503 || status == 504;
}

std::string Described(const GraphRequest& request) {
  return request.method + " " + request.url.substr(0, request.url.find('?'));
}

void SetMultiOption(CURLM* multi, CURLMoption option, long value) {
  if (curl_multi_setopt(multi, option, value) != CURLM_OK) {
    throw InternalFailure("libcurl refused a Microsoft Graph connection option");
  }
}

Failure GaveUp(const GraphRequest& request, const GraphAttempt& attempt, int attempts) {
  const std::string times = " after " + std::to_string(attempts) + " attempts";
  if (!attempt.answered) {
    return Failure(FailureKind::MailStore, Cause::kMailServer,
                   "the connection to Microsoft Graph broke off during " + Described(request) +
                       times + ": " + attempt.lost_why);
  }
  const std::string text = "Microsoft Graph still answered " + Described(request) + " with " +
                           std::to_string(attempt.status) + times;
  return Failure(FailureKind::MailStore,
                 attempt.status == 429 ? Cause::kServerThrottled : Cause::kMailServer, text);
}

}  // namespace

struct GraphConnection::State {
  struct Job {
    std::uint64_t tag = 0;
    GraphRequest request;
    int attempts = 0;
    int failed_attempts = 0;  // answers retried later, and connections lost
    bool renewed = false;     // sent again with a fresh token after a 401
    std::unique_ptr<GraphTransfer> transfer;
  };

  State(GraphConnectionOptions options, TokenSource token, const Cancellation* cancel);
  ~State() { WipeSecret(current_token); }

  void Run(const std::function<bool()>& done);
  void Step();
  void ThrowIfCancelled() const;
  void MoveDueRetries(Clock::time_point now);
  void StartReady();
  void Send(Job& job);
  bool CollectEnded();
  void Ended(Job& job, CURLcode code);
  bool RenewFor(Job& job, const std::string& used_token);
  void RetryLater(Job& job, const GraphAttempt& attempt);
  void Finish(Job& job, GraphAttempt attempt);
  void Poll();
  void Break(const Failure& failure);

  GraphConnectionOptions options;
  TokenSource token_source;
  const Cancellation* cancel;
  // Declared before the handles that use it, so that it outlives them.
  std::string ca_bundle;
  std::unique_ptr<CURLM, MultiCleanup> multi;
  GraphRetryWait waits;
  std::string current_token;  // the token source's latest
  std::uint64_t next_tag = 1;
  // Declared after `multi`: their transfers leave it before it is cleaned up.
  std::map<std::uint64_t, Job> jobs;                        // started and not yet ended
  std::deque<std::uint64_t> ready;                          // to be sent as soon as a place is free
  std::multimap<Clock::time_point, std::uint64_t> waiting;  // retries, by when they are due
  std::deque<GraphReply> ended;                             // not yet returned
  int in_flight = 0;
  Stats stats;
  std::optional<Failure> broken;
};

GraphConnection::State::State(GraphConnectionOptions connection_options, TokenSource token,
                              const Cancellation* cancellation)
    : options(std::move(connection_options)),
      token_source(std::move(token)),
      cancel(cancellation),
      ca_bundle((InitCurlOnce(), options.ca_pem)),
      multi(curl_multi_init()),
      waits(options.longest_wait, options.total_wait) {
  if (!multi) throw InternalFailure("libcurl out of memory");
  options.max_in_flight = std::max(1, options.max_in_flight);
  options.max_attempts = std::max(1, options.max_attempts);
  // One connection carries every request where HTTP/2 is offered; with
  // HTTP/1.1 each request in flight has its connection, kept for the next.
  SetMultiOption(multi.get(), CURLMOPT_PIPELINING, CURLPIPE_MULTIPLEX);
  SetMultiOption(multi.get(), CURLMOPT_MAX_HOST_CONNECTIONS, options.max_in_flight);
  SetMultiOption(multi.get(), CURLMOPT_MAXCONNECTS, options.max_in_flight);
}

// Runs the requests until `done`. A failure ends every request, and the
// connection stays failed.
void GraphConnection::State::Run(const std::function<bool()>& done) {
  if (broken) throw *broken;
  try {
    while (!done()) Step();
  } catch (const Failure& failure) {
    Break(failure);
    throw;
  } catch (const std::exception& exception) {
    Break(InternalFailure(exception.what()));
    throw;
  }
}

void GraphConnection::State::Break(const Failure& failure) {
  broken = failure;
  ready.clear();
  waiting.clear();
  jobs.clear();  // their transfers leave the multi handle, their connections close
  in_flight = 0;
}

void GraphConnection::State::Step() {
  ThrowIfCancelled();
  MoveDueRetries(Clock::now());
  StartReady();
  int running = 0;
  if (curl_multi_perform(multi.get(), &running) != CURLM_OK) {
    throw InternalFailure("libcurl failed to run the Microsoft Graph requests");
  }
  if (!CollectEnded()) Poll();
}

void GraphConnection::State::ThrowIfCancelled() const {
  if (cancel != nullptr && cancel->Requested()) {
    throw CancelledWhile("waiting for Microsoft Graph");
  }
}

void GraphConnection::State::MoveDueRetries(Clock::time_point now) {
  while (!waiting.empty() && waiting.begin()->first <= now) {
    ready.push_back(waiting.begin()->second);
    waiting.erase(waiting.begin());
  }
}

void GraphConnection::State::StartReady() {
  while (in_flight < options.max_in_flight && !ready.empty()) {
    Job& job = jobs.at(ready.front());
    ready.pop_front();
    Send(job);
  }
}

void GraphConnection::State::Send(Job& job) {
  // An earlier attempt may have written part of the answer.
  if (job.attempts > 0 && job.request.body_file >= 0) EmptyBodyFile(job.request.body_file);
  WipeSecret(current_token);
  current_token = token_source(false);
  job.transfer = std::make_unique<GraphTransfer>(multi.get(), job.request, options.timeouts,
                                                 ca_bundle, current_token, &job);
  ++in_flight;
  ++job.attempts;
  ++stats.requests;
}

// Handles the transfers libcurl has finished; whether there were any.
bool GraphConnection::State::CollectEnded() {
  bool any = false;
  int left = 0;
  while (CURLMsg* message = curl_multi_info_read(multi.get(), &left)) {
    if (message->msg != CURLMSG_DONE) continue;
    any = true;
    Ended(*static_cast<Job*>(GraphTransfer::OwnerOf(message->easy_handle)), message->data.result);
  }
  return any;
}

void GraphConnection::State::Ended(Job& job, CURLcode code) {
  const std::unique_ptr<GraphTransfer> transfer = std::move(job.transfer);
  --in_flight;
  GraphAttempt attempt = transfer->End(code);
  stats.connections += static_cast<std::uint64_t>(std::max(0L, attempt.connects));
  if (attempt.answered && attempt.status == 401) {
    if (RenewFor(job, transfer->token())) {
      ready.push_back(job.tag);
      ++stats.retries;
      return;
    }
  } else {
    job.renewed = false;
  }
  if (!attempt.answered || IsRetriedStatus(attempt.status)) {
    RetryLater(job, attempt);
    return;
  }
  Finish(job, std::move(attempt));
}

// After a 401: whether to send the request again. The token is renewed
// once for all the requests refused with it; a request refused again with
// the token it was sent with after a renewal gets its 401 as the reply.
bool GraphConnection::State::RenewFor(Job& job, const std::string& used_token) {
  if (job.renewed) return false;
  if (used_token == current_token) {
    WipeSecret(current_token);
    current_token = token_source(true);
    ++stats.renewals;
  }
  job.renewed = true;
  return true;
}

void GraphConnection::State::RetryLater(Job& job, const GraphAttempt& attempt) {
  ++job.failed_attempts;
  if (job.failed_attempts >= options.max_attempts) {
    throw GaveUp(job.request, attempt, job.attempts);
  }
  const Clock::time_point now = Clock::now();
  const std::chrono::seconds wait = waits.Next(attempt.retry_after, job.failed_attempts, now);
  waiting.emplace(now + wait, job.tag);
  ++stats.retries;
}

void GraphConnection::State::Finish(Job& job, GraphAttempt attempt) {
  ended.push_back(
      GraphReply{job.tag, attempt.status, std::move(attempt.body), attempt.retry_after});
  jobs.erase(job.tag);
}

// Waits for libcurl's sockets, its own time-outs, the next retry that falls
// due, or a cancel, whichever comes first.
void GraphConnection::State::Poll() {
  milliseconds timeout = kLongestPoll;
  if (!waiting.empty()) {
    const auto due = std::chrono::ceil<milliseconds>(waiting.begin()->first - Clock::now());
    timeout = std::clamp(due, milliseconds{0}, kLongestPoll);
  }
  // Where the cancellation has no descriptor, it is looked at this often.
  const int cancel_fd = PollableCancelFd(cancel);
  if (cancel != nullptr && cancel_fd < 0) {
    timeout = std::min(timeout, milliseconds{kCancelLookIntervalMs});
  }
  curl_waitfd watch{static_cast<curl_socket_t>(cancel_fd), CURL_WAIT_POLLIN, 0};
  const CURLMcode result =
      curl_multi_poll(multi.get(), cancel_fd >= 0 ? &watch : nullptr, cancel_fd >= 0 ? 1u : 0u,
                      static_cast<int>(timeout.count()), nullptr);
  if (result != CURLM_OK) throw InternalFailure("waiting for Microsoft Graph failed");
}

GraphConnection::GraphConnection(GraphConnectionOptions options, TokenSource token,
                                 const Cancellation* cancel)
    : state_(std::make_unique<State>(std::move(options), std::move(token), cancel)) {}

GraphConnection::~GraphConnection() = default;

std::uint64_t GraphConnection::Start(GraphRequest request) {
  if (state_->broken) throw *state_->broken;
  if (request.method != "GET" && request.method != "PATCH" && request.method != "POST") {
    throw InternalFailure("Microsoft Graph request with the method " + request.method);
  }
  GraphUrlHost(request.url);  // refuses an address that is not https
  const std::uint64_t tag = state_->next_tag++;
  State::Job job;
  job.tag = tag;
  job.request = std::move(request);
  state_->jobs.emplace(tag, std::move(job));
  state_->ready.push_back(tag);
  return tag;
}

GraphReply GraphConnection::WaitForAny() {
  if (state_->ended.empty() && state_->jobs.empty()) {
    throw InternalFailure("waiting for a Microsoft Graph request when none was started");
  }
  state_->Run([this] { return !state_->ended.empty(); });
  GraphReply reply = std::move(state_->ended.front());
  state_->ended.pop_front();
  return reply;
}

GraphReply GraphConnection::WaitFor(std::uint64_t tag) {
  const auto it_ended = [this, tag] {
    return std::find_if(state_->ended.begin(), state_->ended.end(),
                        [tag](const GraphReply& reply) { return reply.tag == tag; });
  };
  if (it_ended() == state_->ended.end() && !state_->jobs.contains(tag)) {
    throw InternalFailure("waiting for a Microsoft Graph request that was not started");
  }
  state_->Run([&] { return it_ended() != state_->ended.end(); });
  const auto found = it_ended();
  GraphReply reply = std::move(*found);
  state_->ended.erase(found);
  return reply;
}

std::size_t GraphConnection::Pending() const { return state_->jobs.size() + state_->ended.size(); }

GraphConnection::Stats GraphConnection::stats() const { return state_->stats; }

}  // namespace qm
