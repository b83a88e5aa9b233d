// Two network namespaces joined by a veth pair: the camera's side is named eth0, the
// controller's side carries a name unique to this test run. Both vanish with the object.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "support/udp_endpoint.h"

class NetnsPair {
public:
    static constexpr const char* kIp = "/usr/sbin/ip";

    NetnsPair();
    ~NetnsPair();
    NetnsPair(const NetnsPair&) = delete;
    NetnsPair& operator=(const NetnsPair&) = delete;
    // False with `error` set when the pair could not be built (then nothing is left behind).
    bool ready() const { return error.empty(); }
    // Runs `work` on a thread that has entered the namespace (false when it could not);
    // sockets it opens stay in that namespace.
    static bool inside(const std::string& ns, const std::function<void()>& work);
    // A UDP endpoint whose socket lives in the namespace; null when the namespace could not be entered.
    static std::unique_ptr<UdpEndpoint> udpEndpoint(const std::string& ns, uint16_t port, uint32_t hostOrderAddress);

    std::string camera;      // namespace of the camera
    std::string controller;  // namespace of the controller
    std::string cameraIp = "10.77.5.2";
    std::string error;

private:
    bool ip(const std::vector<std::string>& args);
    void remove();
};
