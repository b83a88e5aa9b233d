#include "sim/http/state_api.h"

#include <httplib.h>

#include <nlohmann/json.hpp>

#include "platform/thread_name.h"

namespace sim {

StateApi::StateApi() : server(std::make_unique<httplib::Server>()) {
    server->Get("/state", [this](const httplib::Request&, httplib::Response& response) {
        response.set_content(state().dump(2) + "\n", "application/json");
    });
}

StateApi::~StateApi() { stop(); }

void StateApi::addReporter(Reporter reporter) {
    std::lock_guard lock(mutex);
    reporters.push_back(std::move(reporter));
}

nlohmann::json StateApi::state() const {
    nlohmann::json document = nlohmann::json::object();
    std::lock_guard lock(mutex);
    for (const auto& report : reporters) report(document);
    return document;
}

void StateApi::addPost(const std::string& path, PostHandler handler) {
    server->Post(path, [handler = std::move(handler)](const httplib::Request& request, httplib::Response& response) {
        Params params;
        for (const auto& [key, value] : request.params) params[key] = value;
        std::string reply;
        response.status = handler(params, request.body, reply);
        response.set_content(reply, "text/plain");
    });
}

void StateApi::addGet(const std::string& path, std::function<Reply()> handler) {
    server->Get(path, [handler = std::move(handler)](const httplib::Request&, httplib::Response& response) {
        Reply reply = handler();
        response.status = reply.status;
        for (const auto& [name, value] : reply.headers) response.set_header(name, value);
        response.set_content(std::move(reply.body), reply.contentType);
    });
}

bool StateApi::start(int port) {
    if (!server->bind_to_port("127.0.0.1", port)) return false;
    boundPort = port;
    serving = std::thread([this] {
        set_thread_name("sim:http");
        server->listen_after_bind();
    });
    return true;
}

void StateApi::stop() {
    if (!serving.joinable()) return;
    server->stop();
    serving.join();
}

}  // namespace sim
