// Address search and suggestions off the main thread. One worker serves a
// controller: searches are answered in order, and of the suggestion requests
// only the newest counts (one waiting at most; an answer that is no longer the
// newest request's is dropped). Answers reach the page through the main loop.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

#include "bridge/PageChannel.h"

#include "platform/MainLoop.h"

namespace veldra {

// Each gives the whole page message ("type" and its fields) for a query; runs
// on the worker.
struct AddressLookups {
  std::function<nlohmann::json(const std::string& query)> search;
  std::function<nlohmann::json(const std::string& query)> suggest;
};

// The geocoders: best match for a search, at most five suggestions. Each call
// uses a client of its own; the per-host spacing is kept process-wide.
AddressLookups geocoderLookups();

class AddressWorker {
 public:
  // Answers go to `page`, which must outlive the worker.
  explicit AddressWorker(const PageChannel& page, AddressLookups lookups = geocoderLookups());
  // Waits for the lookup in progress; requests still waiting are dropped.
  ~AddressWorker();
  AddressWorker(const AddressWorker&) = delete;
  AddressWorker& operator=(const AddressWorker&) = delete;

  // Main thread. The worker starts with the first request.
  void search(const std::string& query);
  void suggest(const std::string& query);

 private:
  struct Job {
    std::string query;
    std::uint64_t generation = 0;   // suggestions only
    platform::WorkToken token;      // held until the answer is posted
  };
  void run();
  void start();

  const PageChannel& page_;
  AddressLookups lookups_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Job> searches_;
  std::optional<Job> suggestion_;
  bool stopping_ = false;
  // The newest suggestion request; read where answers are posted.
  std::shared_ptr<std::uint64_t> latestSuggestion_ = std::make_shared<std::uint64_t>(0);
  std::thread thread_;
};

}  // namespace veldra
