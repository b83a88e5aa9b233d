// The simulator's HTTP API on loopback: GET /state answers the models' state as JSON.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace httplib {
class Server;
}

namespace sim {

class StateApi {
public:
    using Reporter = std::function<void(nlohmann::json&)>;

    StateApi();
    ~StateApi();
    StateApi(const StateApi&) = delete;
    StateApi& operator=(const StateApi&) = delete;

    // Each model adds its keys to the state document.
    void addReporter(Reporter reporter);
    nlohmann::json state() const;

    // Serves on 127.0.0.1:port; false when the port cannot be bound.
    bool start(int port);
    void stop();
    int port() const { return boundPort; }

private:
    std::unique_ptr<httplib::Server> server;
    std::thread serving;
    mutable std::mutex mutex;
    std::vector<Reporter> reporters;
    int boundPort = 0;
};

}  // namespace sim
