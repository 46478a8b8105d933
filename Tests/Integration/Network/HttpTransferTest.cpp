// Evented transfers against a real HTTPS server: the order of events on the
// caller's queue, broken and failed transfers, cancellation, and a receiver
// slower than the network.
#include "Network/HttpClient.h"

#include "TestHttpsServer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>

namespace orvex {
namespace {

using test::kFiles;
using test::TestHttpsServer;
using ::testing::ElementsAre;
using ::testing::StartsWith;

// Collects a transfer's events as text ("response 200", "data 5", "finish",
// "failure ...") on the delivery queue, and whether each ran there.
class EventLog {
 public:
  explicit EventLog(SerialQueue& queue) : queue_(queue) {}

  HttpEvents events() {
    HttpEvents events;
    events.response = [this](const HttpResponse& response) { add("response " + std::to_string(response.status)); };
    events.data = [this](std::string data) {
      body += data;
      add("data");
    };
    events.failure = [this](const HttpError& error) {
      add("failure " + error.message);
      ended_.set_value();
    };
    events.finish = [this] {
      add("finish");
      ended_.set_value();
    };
    return events;
  }

  // The events, consecutive data events counted as one.
  std::vector<std::string> summary() {
    queue_.sync([] {});
    std::vector<std::string> merged;
    for (const auto& event : events_) {
      if (event != "data" || merged.empty() || merged.back() != "data")
        merged.push_back(event);
    }
    return merged;
  }

  std::vector<std::string> all() {
    queue_.sync([] {});
    return events_;
  }

  bool waitForEnd() { return ended_.get_future().wait_for(std::chrono::seconds(30)) == std::future_status::ready; }

  std::string body;
  bool allOnQueue = true;

 private:
  void add(std::string event) {
    allOnQueue = allOnQueue && queue_.isCurrent();
    events_.push_back(std::move(event));
  }

  SerialQueue& queue_;
  std::vector<std::string> events_; // the queue's thread only
  std::promise<void> ended_;
};

HttpRequest get(std::string path) {
  HttpRequest request;
  request.url = std::string(kFiles) + path;
  return request;
}

class HttpTransferTest : public ::testing::Test {
 protected:
  TestHttpsServer server;
  SerialQueue queue{"test.delivery"};
};

TEST_F(HttpTransferTest, EventsArriveInOrderOnTheCallersQueue) {
  server.server().Get("/chunks", [](const httplib::Request&, httplib::Response& response) {
    response.set_chunked_content_provider("application/octet-stream", [](size_t, httplib::DataSink& sink) {
      for (const char* piece : {"first-", "second-", "third"})
        sink.write(piece, std::strlen(piece));
      sink.done();
      return true;
    });
  });
  server.start();
  HttpClient client(server.clientOptions());
  EventLog log(queue);
  client.start(get("/chunks"), queue, log.events());
  ASSERT_TRUE(log.waitForEnd());
  EXPECT_THAT(log.summary(), ElementsAre("response 200", "data", "finish"));
  EXPECT_EQ(log.body, "first-second-third");
  EXPECT_TRUE(log.allOnQueue);

  // An empty body still gets its response before the finish.
  server.received();
  EventLog empty(queue);
  HttpRequest head = get("/chunks");
  head.method = "HEAD";
  client.start(head, queue, empty.events());
  ASSERT_TRUE(empty.waitForEnd());
  EXPECT_THAT(empty.summary(), ElementsAre("response 200", "finish"));
}

TEST_F(HttpTransferTest, ABrokenTransferFailsAfterTheDataThatCame) {
  server.server().Get("/short", [](const httplib::Request&, httplib::Response& response) {
    // Promises 1000 bytes, sends 100, then drops the connection.
    response.set_content_provider(1000, "application/octet-stream", [](size_t offset, size_t, httplib::DataSink& sink) {
      if (offset > 0)
        return false;
      sink.write(std::string(100, 'x').data(), 100);
      return true;
    });
  });
  server.start();
  HttpClient client(server.clientOptions());
  EventLog log(queue);
  client.start(get("/short"), queue, log.events());
  ASSERT_TRUE(log.waitForEnd());
  auto events = log.summary();
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0], "response 200");
  EXPECT_EQ(events[1], "data");
  EXPECT_THAT(events[2], StartsWith("failure "));
  EXPECT_EQ(log.body, std::string(100, 'x'));
}

TEST_F(HttpTransferTest, NoConnectionMeansAFailureAlone) {
  server.start();
  HttpClientOptions options = server.clientOptions();
  options.connectTo = {"files.orvex.example:443:127.0.0.1:1"}; // nothing listens there
  HttpClient client(options);
  EventLog log(queue);
  client.start(get("/x"), queue, log.events());
  ASSERT_TRUE(log.waitForEnd());
  auto events = log.summary();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_THAT(events[0], StartsWith("failure "));
}

TEST_F(HttpTransferTest, CancelledFromAnEventNothingMoreIsHeard) {
  std::promise<void> disconnected;
  bool clientLetGo = false;
  std::promise<void> cancelled;
  std::shared_future<void> cancelDone = cancelled.get_future().share();
  server.server().Get("/endless", [&](const httplib::Request&, httplib::Response& response) {
    response.set_chunked_content_provider("application/octet-stream",
                                          [&, cancelDone](size_t offset, httplib::DataSink& sink) {
                                            const std::string block(16 * 1024, 'y');
                                            if (offset == 0) {
                                              sink.write(block.data(), block.size());
                                              cancelDone.wait(); // more comes only once the client has cancelled
                                              return true;
                                            }
                                            // Writes fail once the client has closed the connection; a client
                                            // still reading after 4 MiB never let go.
                                            const bool written = sink.write(block.data(), block.size());
                                            if (!written || offset > (4u << 20)) {
                                              clientLetGo = !written;
                                              disconnected.set_value();
                                              return false;
                                            }
                                            return true;
                                          });
  });
  server.start();
  HttpClient client(server.clientOptions());
  EventLog log(queue);
  std::shared_ptr<HttpTransfer> transfer;
  HttpEvents events = log.events();
  auto onData = events.data;
  std::promise<void> firstData;
  events.data = [&](std::string data) {
    onData(std::move(data));
    if (!transfer->isCancelled()) {
      transfer->cancel();
      cancelled.set_value();
      firstData.set_value();
    }
  };
  transfer = client.start(get("/endless"), queue, events);
  firstData.get_future().wait();
  disconnected.get_future().wait();
  EXPECT_TRUE(clientLetGo) << "the client kept reading after the cancel";
  // Data already posted behind the first piece is dropped as well.
  EXPECT_THAT(log.all(), ElementsAre("response 200", "data"));
  EXPECT_TRUE(transfer->isCancelled());
}

TEST_F(HttpTransferTest, ADeliveryQueueMayGoAsSoonAsItsTransferIsCancelled) {
  // An owner cancels its transfers and then destroys the queue they report
  // on, while the network thread is busy handing that queue the next piece.
  // Under the address sanitizer a hand-over that outlives cancel() is a
  // use after free; many rounds make it likely to be caught.
  server.server().Get("/stream", [](const httplib::Request&, httplib::Response& response) {
    response.set_chunked_content_provider("application/octet-stream", [](size_t, httplib::DataSink& sink) {
      const std::string block(512, 'z');
      return sink.write(block.data(), block.size()); // until the client lets go
    });
  });
  server.start();
  HttpClient client(server.clientOptions());
  for (int round = 0; round < 40; ++round) {
    auto delivery = std::make_unique<SerialQueue>("test.delivery.round");
    std::promise<void> flowing;
    std::atomic<bool> told{false};
    HttpEvents events;
    events.data = [&](std::string) {
      if (!told.exchange(true))
        flowing.set_value();
    };
    auto transfer = client.start(get("/stream"), *delivery, events);
    ASSERT_EQ(flowing.get_future().wait_for(std::chrono::seconds(30)), std::future_status::ready);
    transfer->cancel();
    delivery.reset();
  }
}

TEST_F(HttpTransferTest, ASlowReceiverPausesTheTransferWithoutLosingBytes) {
  constexpr size_t kBody = 8 << 20;
  server.server().Get("/big", [](const httplib::Request&, httplib::Response& response) {
    std::string body(kBody, '\0');
    for (size_t i = 0; i < kBody; ++i)
      body[i] = static_cast<char>('a' + (i * 7 + i / 4096) % 26);
    response.set_content(body, "application/octet-stream");
  });
  server.start();
  HttpClientOptions options = server.clientOptions();
  options.maxPendingBytes = 64 * 1024;
  HttpClient client(options);
  EventLog log(queue);

  // Hold the delivery queue until the client has stopped reading (or long
  // enough to know it never will).
  std::promise<std::shared_ptr<HttpTransfer>> started;
  auto transferFuture = started.get_future().share();
  std::atomic<bool> sawPause{false};
  queue.async([transferFuture, &sawPause] {
    auto transfer = transferFuture.get();
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!transfer->isPaused() && std::chrono::steady_clock::now() < giveUp)
      std::this_thread::yield();
    sawPause = transfer->isPaused();
  });
  started.set_value(client.start(get("/big"), queue, log.events()));
  ASSERT_TRUE(log.waitForEnd());
  EXPECT_TRUE(sawPause);
  EXPECT_EQ(log.summary().back(), "finish");
  ASSERT_EQ(log.body.size(), kBody);
  for (size_t i = 0; i < kBody; ++i) {
    if (log.body[i] != static_cast<char>('a' + (i * 7 + i / 4096) % 26)) {
      ADD_FAILURE() << "byte " << i << " differs";
      break;
    }
  }
}

} // namespace
} // namespace orvex
