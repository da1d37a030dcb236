#include "bridge/AddressWorker.h"

#include <cstdlib>
#include <utility>

#include "bridge/PageChannel.h"
#include "net/Geocoding.h"
#include "net/WfsClient.h"

namespace veldra {

using nlohmann::json;

namespace {

// A coordinate the geocoder gives as text (or, tolerated, as a number).
double coordinateOf(const json& item, const char* name) {
  auto it = item.find(name);
  if (it == item.end()) return 0.0;
  if (it->is_number()) return it->get<double>();
  if (it->is_string()) {
    const std::string t = it->get<std::string>();
    char* end = nullptr;
    const double v = std::strtod(t.c_str(), &end);
    return end == t.c_str() ? 0.0 : v;
  }
  return 0.0;
}

const char* const kSearchDown = "Wyszukiwarka adresow nie odpowiada (Nominatim)";

json searchNominatim(const std::string& query) {
  WfsClient client;
  HttpResponse r = client.get(nominatimUrl(query));
  if (r.status != 200) return json{{"type", "error"}, {"msg", kSearchDown}};
  json body = json::parse(r.body, nullptr, false, false);
  if (body.is_discarded() || !body.is_array() || body.empty() || !body[0].is_object())
    return json{{"type", "addressResults"}};
  const json& first = body[0];
  std::string label;
  if (auto it = first.find("display_name"); it != first.end() && it->is_string()) label = it->get<std::string>();
  return json{{"type", "addressResults"},
              {"lat", coordinateOf(first, "lat")},
              {"lon", coordinateOf(first, "lon")},
              {"label", label}};
}

json suggestPhoton(const std::string& query) {
  json items = json::array();
  WfsClient client;
  for (const auto& s : suggestAddresses(client, query))
    items.push_back(json{{"label", s.label}, {"lat", s.lat}, {"lon", s.lon}});
  return json{{"type", "addressSuggestions"}, {"query", query}, {"items", items}};
}

}  // namespace

AddressLookups geocoderLookups() { return AddressLookups{&searchNominatim, &suggestPhoton}; }

AddressWorker::AddressWorker(const PageChannel& page, AddressLookups lookups)
    : page_(page), lookups_(std::move(lookups)) {}

AddressWorker::~AddressWorker() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void AddressWorker::start() {
  if (!thread_.joinable()) thread_ = std::thread([this] { run(); });
}

void AddressWorker::search(const std::string& query) {
  Job job{query, 0, platform::WorkToken()};
  std::lock_guard<std::mutex> lock(mutex_);
  start();
  searches_.push_back(std::move(job));
  wake_.notify_all();
}

void AddressWorker::suggest(const std::string& query) {
  Job job{query, ++*latestSuggestion_, platform::WorkToken()};
  std::lock_guard<std::mutex> lock(mutex_);
  start();
  suggestion_.reset();   // a request still waiting is superseded
  suggestion_.emplace(std::move(job));
  wake_.notify_all();
}

void AddressWorker::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [&] { return stopping_ || !searches_.empty() || suggestion_; });
    if (stopping_) return;
    const bool isSearch = !searches_.empty();
    std::optional<Job> job;
    if (isSearch) {
      job.emplace(std::move(searches_.front()));
      searches_.pop_front();
    } else {
      job.emplace(std::move(*suggestion_));
      suggestion_.reset();
    }
    lock.unlock();
    json message;
    try {
      message = isSearch ? lookups_.search(job->query) : lookups_.suggest(job->query);
    } catch (...) {
      message = isSearch ? json{{"type", "error"}, {"msg", kSearchDown}}
                         : json{{"type", "addressSuggestions"}, {"query", job->query}, {"items", json::array()}};
    }
    platform::runOnMainThread(
        [this, message = std::move(message), generation = job->generation, latest = latestSuggestion_] {
          if (generation != 0 && generation != *latest) return;   // a newer request is on its way
          page_.post(message.value("type", std::string()), message);
        });
    job.reset();   // releases the work token after the answer is queued
    lock.lock();
  }
}

}  // namespace veldra
