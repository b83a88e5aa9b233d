// The simulator's HTTP API on loopback: GET /state answers the models' state as JSON.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
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

    // A POST route (added before start): the handler gets the query parameters and the body,
    // fills the reply text and returns the HTTP status.
    using Params = std::map<std::string, std::string>;
    using PostHandler = std::function<int(const Params& params, const std::string& body, std::string& reply)>;
    void addPost(const std::string& path, PostHandler handler);

    // A GET route (added before start) whose answer carries its own type and headers.
    struct Reply {
        int status = 200;
        std::string body;
        std::string contentType = "text/plain";
        std::map<std::string, std::string> headers;
    };
    void addGet(const std::string& path, std::function<Reply()> handler);

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
